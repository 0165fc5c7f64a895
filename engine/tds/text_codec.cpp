#include "engine/tds/text_codec.h"

#include <array>

#include "engine/tds/decode_error.h"

namespace sqlengine::tds {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point starting at utf8[i] and advances i; malformed input
// yields U+FFFD and consumes one byte.
char32_t NextCodePoint(std::string_view utf8, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = lead >= 0xF0 && lead <= 0xF4   ? 3
              : lead >= 0xE0 && lead <= 0xEF ? 2
              : lead >= 0xC2 && lead <= 0xDF ? 1
                                             : -1;
  if (extra < 0 || utf8.size() - i <= static_cast<std::size_t>(extra)) {
    ++i;
    return kReplacement;
  }
  char32_t c = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return c;
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string Ucs2ToUtf8(std::span<const std::uint8_t> ucs2) {
  if (ucs2.size() % 2 != 0) throw DecodeError("UCS-2 text with an odd number of bytes");
  std::string out;
  out.reserve(ucs2.size() / 2);
  for (std::size_t i = 0; i < ucs2.size(); i += 2) {
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
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char mapped = '?';
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
      if (kCp1252High[k] != 0 && kCp1252High[k] == c) mapped = static_cast<char>(0x80 + k);
    }
    out.push_back(mapped);
  }
  return out;
}

std::string Cp1252ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    char32_t c = b;
    if (b >= 0x80 && b <= 0x9F) c = kCp1252High[b - 0x80] != 0 ? kCp1252High[b - 0x80] : b;
    AppendUtf8(c, out);
  }
  return out;
}

}  // namespace sqlengine::tds
