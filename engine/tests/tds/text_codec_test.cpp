// UTF-8 and UCS-2 conversions: surrogate pairs, invalid input both ways.
#include "engine/tds/text_codec.h"

#include <gtest/gtest.h>

#include "engine/tds/decode_error.h"
#include "engine/tests/tds/hex.h"

namespace sqlengine::testing {
namespace {

using namespace sqlengine::tds;

TEST(TextCodec, RoundTripsTheWholeUnicodeRange) {
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  std::vector<std::uint8_t> ucs2;
  AppendUcs2(text, ucs2);
  EXPECT_EQ(ucs2, Hex("61 00 E9 00 AC 20 3D D8 00 DE"));
  EXPECT_EQ(Ucs2ToUtf8(ucs2), text);
}

TEST(TextCodec, InvalidUtf16IsRejected) {
  EXPECT_THROW(Ucs2ToUtf8(Hex("3D D8")), DecodeError);        // high surrogate at the end
  EXPECT_THROW(Ucs2ToUtf8(Hex("3D D8 41 00")), DecodeError);  // high surrogate, no low
  EXPECT_THROW(Ucs2ToUtf8(Hex("00 DE 41 00")), DecodeError);  // lone low surrogate
  EXPECT_THROW(Ucs2ToUtf8(Hex("41 00 42")), DecodeError);     // odd length
}

TEST(TextCodec, InvalidUtf8BecomesReplacementCharacters) {
  for (std::string bad : {std::string("\xFF"), std::string("\xC3"), std::string("\xE2\x82"),
                          std::string("\xC0\xAF"), std::string("\xED\xA0\x80")}) {
    std::vector<std::uint8_t> ucs2;
    AppendUcs2("x" + bad + "y", ucs2);
    ASSERT_GE(ucs2.size(), 6u);
    EXPECT_EQ(ucs2.front(), 'x');
    EXPECT_EQ(std::vector<std::uint8_t>(ucs2.begin() + 2, ucs2.begin() + 4), Hex("FD FF"));
    EXPECT_EQ(ucs2[ucs2.size() - 2], 'y');
    EXPECT_NO_THROW(Ucs2ToUtf8(ucs2));
  }
}

TEST(TextCodec, Windows1252BothWays) {
  std::string text = "\xE2\x82\xAC\xC3\xA9\xC5\x93z";  // € é œ z
  EXPECT_EQ(Utf8ToCp1252(text), "\x80\xE9\x9Cz");
  std::vector<std::uint8_t> bytes = Hex("80 E9 9C 7A 81");
  EXPECT_EQ(Cp1252ToUtf8(bytes), text + "\xC2\x81");
}

}  // namespace
}  // namespace sqlengine::testing
