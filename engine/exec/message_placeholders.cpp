#include "engine/exec/message_placeholders.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {
namespace {

// A message is cut at 2,047 characters anyway.
constexpr int kMaxWidth = 2047;

// One argument as its placeholder ("%5d", "%-10s", "%.3s", "%o" ...) asks,
// the width and precision already read (-1: none): the width pads it (to the
// left with '-', with zeros with '0' for numbers), a precision cuts a string,
// NULL is "(null)".
std::string FormattedArgument(std::string_view flags, int width, int precision, char conversion,
                              const Value& value) {
  const auto* number = std::get_if<std::int64_t>(&value);
  if (number != nullptr && conversion != 's') {
    std::string format = "%" + std::string(flags) + "*";
    if (precision >= 0) format += ".*";
    format += conversion == 'x' || conversion == 'X' || conversion == 'o'
                  ? std::string("ll") + conversion
              : conversion == 'u' ? "llu"
                                  : "lld";
    char buffer[kMaxWidth + 64];
    if (precision >= 0) {
      std::snprintf(buffer, sizeof buffer, format.c_str(), width, precision,
                    static_cast<long long>(*number));
    } else {
      std::snprintf(buffer, sizeof buffer, format.c_str(), width, static_cast<long long>(*number));
    }
    return buffer;
  }
  std::string text = IsNull(value) ? "(null)" : ValueText(value);
  if (precision >= 0 && conversion == 's') text = text.substr(0, static_cast<size_t>(precision));
  if (static_cast<int>(text.size()) < width) {
    std::string padding(static_cast<size_t>(width) - text.size(), ' ');
    text = flags.find('-') != std::string_view::npos ? text + padding : padding + text;
  }
  return text;
}

// A width or precision: digits, or '*' taking the next argument. Advances k.
int ReadCount(std::string_view text, size_t& k, const std::vector<Value>& arguments, size_t& next) {
  if (k < text.size() && text[k] == '*') {
    ++k;
    if (next >= arguments.size()) return 0;
    const auto* number = std::get_if<std::int64_t>(&arguments[next++]);
    return number ? static_cast<int>(std::clamp<std::int64_t>(*number, 0, kMaxWidth)) : 0;
  }
  int count = 0;
  while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
    count = std::min(count * 10 + (text[k] - '0'), kMaxWidth);
    ++k;
  }
  return count;
}

}  // namespace

std::string FillPlaceholders(std::string_view text, const std::vector<Value>& arguments) {
  std::string out;
  size_t next = 0;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '%' || k + 1 >= text.size()) {
      out.push_back(text[k]);
      continue;
    }
    if (text[k + 1] == '%') {
      out.push_back('%');
      ++k;
      continue;
    }
    size_t end = k + 1;
    std::string flags;
    while (end < text.size() && std::string_view("-+ #0").find(text[end]) != std::string_view::npos)
      flags.push_back(text[end++]);
    size_t before_width = end;
    int width = ReadCount(text, end, arguments, next);
    bool has_width = end > before_width;
    int precision = -1;
    if (end < text.size() && text[end] == '.') {
      ++end;
      precision = ReadCount(text, end, arguments, next);
    }
    while (end < text.size() && (text[end] == 'l' || text[end] == 'h')) ++end;
    if (end >= text.size() ||
        std::string_view("diosuxX").find(text[end]) == std::string_view::npos) {
      out.push_back('%');
      continue;
    }
    if (next < arguments.size()) {
      out +=
          FormattedArgument(flags, has_width ? width : 0, precision, text[end], arguments[next++]);
    }
    k = end;
  }
  return out;
}

namespace {

void FormatMessageFunction(sqlite3_context* context, int count, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::vector<Value> arguments;
  for (int k = 1; k < count; ++k) {
    switch (sqlite3_value_type(args[k])) {
      case SQLITE_NULL:
        arguments.emplace_back();
        break;
      case SQLITE_INTEGER:
        arguments.emplace_back(static_cast<std::int64_t>(sqlite3_value_int64(args[k])));
        break;
      default:
        arguments.emplace_back(SqliteValueText(args[k]));
    }
  }
  SqliteResultText(context, FillPlaceholders(SqliteValueText(args[0]), arguments));
}

}  // namespace

void RegisterMessageFormatting(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "sqlengine_formatmessage", -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, FormatMessageFunction,
                                 nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_formatmessage");
}

}  // namespace sqlengine::exec
