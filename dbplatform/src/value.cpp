#include "dbplatform/value.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

namespace dbplatform {
namespace {

// Shortest digits that read back as the same double, laid out the way the
// original data access library shows a floating value: plain decimals for
// ordinary magnitudes, "1.5E+20" / "1E-07" style outside them. Appends to
// `out` without building temporaries: a result listing formats one per row.
void AppendDouble(double value, std::string& out) {
  char scientific[64];
  const auto result = std::to_chars(scientific, scientific + sizeof scientific, value,
                                    std::chars_format::scientific);
  const std::string_view text(scientific, static_cast<std::size_t>(result.ptr - scientific));
  if (text == "inf" || text == "-inf" || text == "nan" || text == "-nan") {
    out += text;
    return;
  }

  // text is [-]d[.ddd]e(+|-)xx
  const bool negative = text.front() == '-';
  const std::string_view body = negative ? text.substr(1) : text;
  const std::size_t e = body.find('e');
  // The exponent's sign is always written; from_chars takes no '+'.
  int exponent = 0;
  std::from_chars(body.data() + e + 2, body.data() + body.size(), exponent);
  if (body[e + 1] == '-') exponent = -exponent;
  char digits[32];
  std::size_t digit_count = 0;
  for (char c : body.substr(0, e)) {
    if (c != '.') digits[digit_count++] = c;
  }
  if (digit_count == 1 && digits[0] == '0') {
    out += '0';
    return;
  }

  const std::string_view all(digits, digit_count);
  if (negative) out += '-';
  if (exponent >= 15 || exponent < -5) {
    out += all.front();
    if (digit_count > 1) {
      out += '.';
      out += all.substr(1);
    }
    char exp_text[16];
    const int written =
        std::snprintf(exp_text, sizeof exp_text, "E%c%02d", exponent < 0 ? '-' : '+',
                      exponent < 0 ? -exponent : exponent);
    out.append(exp_text, static_cast<std::size_t>(written));
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += all;
  } else {
    const std::size_t integer_digits = static_cast<std::size_t>(exponent) + 1;
    if (digit_count <= integer_digits) {
      out += all;
      out.append(integer_digits - digit_count, '0');
    } else {
      out += all.substr(0, integer_digits);
      out += '.';
      out += all.substr(integer_digits);
    }
  }
}

// Writes `value` (0 <= value < 10^width) as exactly `width` digits.
char* PutDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return at + width;
}

bool InDigitRange(int value, int limit) { return value >= 0 && value < limit; }

void AppendDateTime(const DateTime& t, std::string& out) {
  const bool ordinary = InDigitRange(t.year, 10000) && InDigitRange(t.month, 100) &&
                        InDigitRange(t.day, 100) && InDigitRange(t.hour, 100) &&
                        InDigitRange(t.minute, 100) && InDigitRange(t.second, 100) &&
                        InDigitRange(t.millisecond, 1000);
  char text[48];
  if (!ordinary) {
    // Only a driver's odd values land here; printf's widths handle them.
    const int written =
        t.millisecond != 0
            ? std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                            t.month, t.day, t.hour, t.minute, t.second, t.millisecond)
            : std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
                            t.day, t.hour, t.minute, t.second);
    out.append(text, static_cast<std::size_t>(written));
    return;
  }
  char* at = PutDigits(text, t.year, 4);
  *at++ = '-';
  at = PutDigits(at, t.month, 2);
  *at++ = '-';
  at = PutDigits(at, t.day, 2);
  *at++ = ' ';
  at = PutDigits(at, t.hour, 2);
  *at++ = ':';
  at = PutDigits(at, t.minute, 2);
  *at++ = ':';
  at = PutDigits(at, t.second, 2);
  if (t.millisecond != 0) {
    *at++ = '.';
    at = PutDigits(at, t.millisecond, 3);
  }
  out.append(text, static_cast<std::size_t>(at - text));
}

template <class Integer>
void AppendInteger(Integer value, std::string& out) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, static_cast<std::size_t>(result.ptr - text));
}

void AppendBytes(const Bytes& bytes, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + 2 + bytes.size() * 2);
  out += "0x";
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
}

struct TextAppender {
  std::string& out;
  void operator()(const Null&) const {}
  void operator()(bool b) const { out += b ? "True" : "False"; }
  void operator()(std::int16_t v) const { AppendInteger(v, out); }
  void operator()(std::int32_t v) const { AppendInteger(v, out); }
  void operator()(std::int64_t v) const { AppendInteger(v, out); }
  void operator()(double v) const { AppendDouble(v, out); }
  void operator()(const DecimalText& v) const { out += v.text; }
  void operator()(const std::string& v) const { out += v; }
  void operator()(const Bytes& v) const { AppendBytes(v, out); }
  void operator()(const DateTime& v) const { AppendDateTime(v, out); }
};

}  // namespace

void AppendText(const Value& value, std::string& out) { std::visit(TextAppender{out}, value); }

std::string ToText(const Value& value) {
  std::string text;
  AppendText(value, text);
  return text;
}

}  // namespace dbplatform
