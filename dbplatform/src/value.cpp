#include "dbplatform/value.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace dbplatform {
namespace {

// Shortest digits that read back as the same double, laid out the way the
// original data access library shows a floating value: plain decimals for
// ordinary magnitudes, "1.5E+20" / "1E-07" style outside them.
std::string DoubleText(double value) {
  char scientific[64];
  auto result = std::to_chars(scientific, scientific + sizeof scientific, value,
                              std::chars_format::scientific);
  std::string text(scientific, result.ptr);
  if (text == "inf" || text == "-inf" || text == "nan" || text == "-nan") return text;

  bool negative = text[0] == '-';
  std::string body = negative ? text.substr(1) : text;
  std::size_t e = body.find('e');
  int exponent = std::atoi(body.c_str() + e + 1);
  std::string digits;
  for (char c : body.substr(0, e)) {
    if (c != '.') digits += c;
  }
  if (digits == "0") return "0";

  std::string out;
  if (exponent >= 15 || exponent < -5) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exp_text[16];
    std::snprintf(exp_text, sizeof exp_text, "E%c%02d", exponent < 0 ? '-' : '+',
                  exponent < 0 ? -exponent : exponent);
    out += exp_text;
  } else if (exponent < 0) {
    out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    std::size_t integer_digits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integer_digits) {
      out = digits + std::string(integer_digits - digits.size(), '0');
    } else {
      out = digits.substr(0, integer_digits) + "." + digits.substr(integer_digits);
    }
  }
  return negative ? "-" + out : out;
}

std::string DateTimeText(const DateTime& t) {
  char text[48];
  if (t.millisecond != 0) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
  }
  return text;
}

std::string BytesText(const Bytes& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "0x";
  out.reserve(2 + bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
}

struct TextVisitor {
  std::string operator()(const Null&) const { return {}; }
  std::string operator()(bool b) const { return b ? "True" : "False"; }
  std::string operator()(std::int16_t v) const { return std::to_string(v); }
  std::string operator()(std::int32_t v) const { return std::to_string(v); }
  std::string operator()(std::int64_t v) const { return std::to_string(v); }
  std::string operator()(double v) const { return DoubleText(v); }
  std::string operator()(const DecimalText& v) const { return v.text; }
  std::string operator()(const std::string& v) const { return v; }
  std::string operator()(const Bytes& v) const { return BytesText(v); }
  std::string operator()(const DateTime& v) const { return DateTimeText(v); }
};

}  // namespace

std::string ToText(const Value& value) { return std::visit(TextVisitor{}, value); }

}  // namespace dbplatform
