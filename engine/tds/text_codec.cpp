#include "engine/tds/text_codec.h"

#include "engine/tds/decode_error.h"
#include "engine/values/code_page_1252.h"
#include "engine/values/utf8.h"

namespace sqlengine::tds {
using values::AppendUtf8;
using values::NextCodePoint;

std::string Ucs2ToUtf8(std::span<const std::uint8_t> ucs2) {
  if (ucs2.size() % 2 != 0) throw DecodeError("UCS-2 text with an odd number of bytes");
  // Most text is ASCII: its units become one byte each, written in place.
  std::string out(ucs2.size() / 2, '\0');
  std::size_t i = 0;
  for (; i < ucs2.size() && ucs2[i + 1] == 0 && ucs2[i] < 0x80; i += 2) {
    out[i / 2] = static_cast<char>(ucs2[i]);
  }
  out.resize(i / 2);
  for (; i < ucs2.size(); i += 2) {
    char32_t unit = static_cast<char32_t>(ucs2[i] | (ucs2[i + 1] << 8));
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= ucs2.size()) throw DecodeError("invalid UTF-16: unpaired high surrogate");
      char32_t low = static_cast<char32_t>(ucs2[i + 2] | (ucs2[i + 3] << 8));
      if (low < 0xDC00 || low > 0xDFFF)
        throw DecodeError("invalid UTF-16: unpaired high surrogate");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      throw DecodeError("invalid UTF-16: unpaired low surrogate");
    }
    AppendUtf8(unit, out);
  }
  return out;
}

void AppendUcs2(std::string_view utf8, std::vector<std::uint8_t>& out) {
  // Most text is ASCII: its units are written in one pass into space reserved once.
  std::size_t ascii = 0;
  while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) ++ascii;
  std::size_t at = out.size();
  out.resize(at + 2 * ascii);
  for (std::size_t i = 0; i < ascii; ++i) {
    out[at + 2 * i] = static_cast<std::uint8_t>(utf8[i]);
    out[at + 2 * i + 1] = 0;
  }
  utf8.remove_prefix(ascii);
  auto unit = [&](char32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = NextCodePoint(utf8, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 + (c >> 10));
      unit(0xDC00 + (c & 0x3FF));
    } else {
      unit(c);
    }
  }
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = NextCodePoint(utf8, i);
    out.push_back(static_cast<char>(values::CodePointToCp1252(c).value_or('?')));
  }
  return out;
}

std::string Cp1252ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) AppendUtf8(values::Cp1252ToCodePoint(b), out);
  return out;
}

}  // namespace sqlengine::tds
