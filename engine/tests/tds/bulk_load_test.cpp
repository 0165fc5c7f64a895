// The BULKLOAD decoder against the protocol documentation's example, streams
// of several types at 7.4 and 7.1 layouts, and damaged copies of them.
#include "engine/tds/bulk_load.h"

#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/tests/tds/hex.h"

namespace sqlengine::testing {
namespace {

using tds::BulkLoadReader;
using tds::TdsVersion;

// The documentation's BulkLoadBCP packet without its header: one BIT column
// "c1", one row holding 0, DONE.
const std::vector<std::uint8_t> kExample = Hex(
    "81 01 00 00 00 00 00 05 00 32 02 63 00 31 00 D1 00 FD 00 00 00 00 00 00 00 00 00 00 00 00");

// id int, v varchar(10), x text (table "t"): (1, 'abc', 'hi'), (NULL, NULL, NULL).
const std::vector<std::uint8_t> kStream74 =
    Hex("81 03 00"
        " 00 00 00 00 09 00 26 04 02 69 00 64 00"
        " 00 00 00 00 09 00 A7 0A 00 09 04 D0 00 34 01 76 00"
        " 00 00 00 00 09 00 23 FF FF FF 7F 09 04 D0 00 34 01 01 00 74 00 01 78 00"
        " D1 04 01 00 00 00 03 00 61 62 63"
        "    10 AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA 00 00 00 00 00 00 00 00"
        "    02 00 00 00 68 69"
        " D1 00 FF FF 00"
        " FD 00 00 00 00 00 00 00 00 00 00 00 00");

// The same at 7.1: two-byte UserType, the text's table name one US_VARCHAR,
// a four-byte DONE count.
const std::vector<std::uint8_t> kStream71 =
    Hex("81 03 00"
        " 00 00 09 00 26 04 02 69 00 64 00"
        " 00 00 09 00 A7 0A 00 09 04 D0 00 34 01 76 00"
        " 00 00 09 00 23 FF FF FF 7F 09 04 D0 00 34 01 00 74 00 01 78 00"
        " D1 04 01 00 00 00 03 00 61 62 63"
        "    10 AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA 00 00 00 00 00 00 00 00"
        "    02 00 00 00 68 69"
        " D1 00 FF FF 00"
        " FD 00 00 00 00 00 00 00 00");

std::vector<Row> ReadAll(BulkRowSource& source) {
  std::vector<Row> rows;
  Row row;
  while (source.Next(row)) rows.push_back(row);
  return rows;
}

// The number of the SqlError reading `bytes` ends in; 0 when none.
int FailureOf(const std::vector<std::uint8_t>& bytes, TdsVersion version) {
  try {
    BulkLoadReader reader(bytes, version);
    ReadAll(reader);
  } catch (const SqlError& error) {
    return error.message().number;
  }
  return 0;
}

TEST(BulkLoadDecoding, DocumentationExample) {
  BulkLoadReader reader(kExample, TdsVersion::k74);
  ASSERT_EQ(reader.Columns().size(), 1u);
  EXPECT_EQ(reader.Columns()[0].name, "c1");
  EXPECT_EQ(reader.Columns()[0].type.type, SqlType::kBit);
  EXPECT_TRUE(reader.Columns()[0].type.nullable);
  std::vector<Row> rows = ReadAll(reader);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Value(std::int64_t{0}));
  Row row;
  EXPECT_FALSE(reader.Next(row)) << "nothing after DONE";
}

TEST(BulkLoadDecoding, TypesAndNullsInBothLayouts) {
  for (auto [bytes, version] :
       {std::pair{&kStream74, TdsVersion::k74}, std::pair{&kStream71, TdsVersion::k71}}) {
    BulkLoadReader reader(*bytes, version);
    ASSERT_EQ(reader.Columns().size(), 3u);
    EXPECT_EQ(reader.Columns()[0].type.type, SqlType::kInt);
    EXPECT_EQ(reader.Columns()[1].type.type, SqlType::kVarChar);
    EXPECT_EQ(reader.Columns()[1].type.length, 10);
    EXPECT_EQ(reader.Columns()[2].type.type, SqlType::kText);
    EXPECT_EQ(reader.Columns()[2].name, "x");
    std::vector<Row> rows = ReadAll(reader);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Row{std::int64_t{1}, std::string("abc"), std::string("hi")}));
    EXPECT_EQ(rows[1], (Row{std::monostate{}, std::monostate{}, std::monostate{}}));
  }
}

// A body handed over in parts of `size` bytes, as packets arrive.
class PartedBody final : public tds::BodySource {
 public:
  PartedBody(const std::vector<std::uint8_t>& body, std::size_t size) : body_(body), size_(size) {}
  bool Append(std::vector<std::uint8_t>& body) override {
    if (at_ == body_.size()) return false;
    std::size_t end = std::min(body_.size(), at_ + size_);
    body.insert(body.end(), body_.begin() + at_, body_.begin() + end);
    at_ = end;
    ++parts_;
    return true;
  }
  std::size_t parts() const { return parts_; }

 private:
  const std::vector<std::uint8_t>& body_;
  std::size_t size_;
  std::size_t at_ = 0;
  std::size_t parts_ = 0;
};

TEST(BulkLoadDecoding, PartsSplitAnywhereReadAsTheWholeBody) {
  BulkLoadReader whole(kStream74, TdsVersion::k74);
  const std::vector<Row> expected = ReadAll(whole);
  for (std::size_t size : {1u, 2u, 7u, 56u, 58u, 1000u}) {
    SCOPED_TRACE(size);
    PartedBody parts(kStream74, size);
    BulkLoadReader reader(parts, TdsVersion::k74);
    ASSERT_EQ(reader.Columns().size(), 3u);
    EXPECT_EQ(ReadAll(reader), expected);
  }
  // A part is taken only when the next token needs it: after the metadata
  // of a body in 57-byte parts, only the first part has been read.
  PartedBody lazy(kStream74, 57);
  BulkLoadReader reader(lazy, TdsVersion::k74);
  EXPECT_EQ(lazy.parts(), 1u);
  Row row;
  ASSERT_TRUE(reader.Next(row));
  EXPECT_EQ(lazy.parts(), 2u);
  // A body cut inside a row still ends in 4002, whatever its parts.
  std::vector<std::uint8_t> cut(kStream74.begin(), kStream74.begin() + 80);
  PartedBody cut_parts(cut, 3);
  BulkLoadReader cut_reader(cut_parts, TdsVersion::k74);
  try {
    ReadAll(cut_reader);
    ADD_FAILURE() << "a cut row was read";
  } catch (const SqlError& error) {
    EXPECT_EQ(error.message().number, 4002);
  }
}

TEST(BulkLoadDecoding, TruncationEndsInStreamErrorUnlessBetweenRows) {
  // The message may end after the metadata or after a whole row, as FreeTDS
  // ends it (without DONE); anywhere else it was cut short.
  const std::size_t metadata_end = 57, row_ends[] = {99, 104};
  for (std::size_t length = 0; length < kStream74.size(); ++length) {
    std::vector<std::uint8_t> cut(kStream74.begin(), kStream74.begin() + length);
    bool boundary = length == metadata_end || length == row_ends[0] || length == row_ends[1];
    EXPECT_EQ(FailureOf(cut, TdsVersion::k74), boundary ? 0 : 4002) << "cut at " << length;
  }
  std::vector<std::uint8_t> first_row(kStream74.begin(), kStream74.begin() + row_ends[0]);
  BulkLoadReader reader(first_row, TdsVersion::k74);
  EXPECT_EQ(ReadAll(reader).size(), 1u);
  EXPECT_EQ(FailureOf(kStream74, TdsVersion::k74), 0);
}

TEST(BulkLoadDecoding, ShortDecimalsAsFreeTdsSendsThem) {
  // decimal(10,2) described with size 6, 12.50 and -3.25 in 5-byte magnitudes.
  const std::vector<std::uint8_t> stream =
      Hex("81 01 00 00 00 00 00 09 00 6A 06 0A 02 01 61 00"
          " D1 06 01 E2 04 00 00 00 D1 06 00 45 01 00 00 00 D1 00");
  BulkLoadReader reader(stream, TdsVersion::k74);
  std::vector<Row> rows = ReadAll(reader);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], Value(Decimal{1250, 2}));
  EXPECT_EQ(rows[1][0], Value(Decimal{-325, 2}));
  EXPECT_TRUE(IsNull(rows[2][0]));
}

TEST(BulkLoadDecoding, DamageIsNamedByColumn) {
  // An undefined type code for column 2.
  std::vector<std::uint8_t> bad_type = kStream74;
  bad_type[22] = 0x99;
  ASSERT_EQ(kStream74[22], 0xA7);
  EXPECT_EQ(FailureOf(bad_type, TdsVersion::k74), 4816);
  // A sql_variant value whose base type a variant cannot hold (text).
  const std::vector<std::uint8_t> variant =
      Hex("81 01 00 00 00 00 00 09 00 62 50 1F 00 00 01 76 00"
          " D1 06 00 00 00 23 00 01 00 00 00 FD 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(FailureOf(variant, TdsVersion::k74), 4815);

  // Row 1's varchar claims 11 bytes of a varchar(10); the stream still frames.
  std::vector<std::uint8_t> too_long =
      Hex("81 01 00 00 00 00 00 09 00 A7 0A 00 09 04 D0 00 34 01 76 00"
          " D1 0B 00 61 61 61 61 61 61 61 61 61 61 61"
          " FD 00 00 00 00 00 00 00 00 00 00 00 00");
  try {
    BulkLoadReader reader(too_long, TdsVersion::k74);
    ReadAll(reader);
    FAIL() << "no error";
  } catch (const SqlError& error) {
    EXPECT_EQ(error.message().number, 4815);
    EXPECT_NE(error.message().text.find("colid 1"), std::string::npos) << error.message().text;
  }
  // An INTN of 3 bytes.
  std::vector<std::uint8_t> odd_int =
      Hex("81 01 00 00 00 00 00 09 00 26 04 02 69 00 64 00 D1 03 01 02 03"
          " FD 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(FailureOf(odd_int, TdsVersion::k74), 4815);
}

TEST(BulkLoadDecoding, StreamOutOfOrder) {
  // A token that is neither ROW nor DONE where a row may start.
  std::vector<std::uint8_t> stray = kExample;
  stray[15] = 0xAA;
  EXPECT_EQ(FailureOf(stray, TdsVersion::k74), 4002);
  // Bytes after the DONE.
  std::vector<std::uint8_t> trailing = kExample;
  trailing.push_back(0xD1);
  EXPECT_EQ(FailureOf(trailing, TdsVersion::k74), 4002);
  // No COLMETADATA first: no columns, and the first row read fails.
  std::vector<std::uint8_t> rows_only(kExample.begin() + 15, kExample.end());
  BulkLoadReader reader(rows_only, TdsVersion::k74);
  EXPECT_TRUE(reader.Columns().empty());
  Row row;
  EXPECT_THROW(reader.Next(row), SqlError);
  EXPECT_FALSE(reader.Next(row)) << "the error ends the stream";
}

}  // namespace
}  // namespace sqlengine::testing
