#include "engine/exec/number_styles.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_value_text.h"

namespace sqlengine::exec {
namespace {

// printf's fixed notation after rounding half away from zero at `places`.
std::string Fixed(double value, int places) {
  double unit = std::pow(10.0, places);
  double rounded = std::round(value * unit) / unit;
  if (rounded == 0) rounded = 0;  // no "-0.00"
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", places, rounded);
  return buffer;
}

std::string WithThousands(const std::string& fixed) {
  size_t point = fixed.find('.');
  size_t end = point == std::string::npos ? fixed.size() : point;
  size_t begin = fixed.starts_with('-') ? 1 : 0;
  std::string grouped = fixed.substr(0, begin);
  for (size_t at = begin; at < end; ++at) {
    if (at > begin && (end - at) % 3 == 0) grouped.push_back(',');
    grouped.push_back(fixed[at]);
  }
  return grouped + fixed.substr(end);
}

// printf's %g (or %e) with SQL Server's exponent of at least three digits.
std::string Scientific(double value, int digits, bool always) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, always ? "%.*e" : "%.*g", always ? digits - 1 : digits,
                value);
  std::string text = buffer;
  size_t e = text.find('e');
  if (e != std::string::npos) {
    std::string exponent = text.substr(e + 2);
    while (exponent.size() < 3) exponent.insert(0, "0");
    text = text.substr(0, e + 2) + exponent;
  }
  return text;
}

void NumberStyle(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  // Character data is already text (a value the conversion did not touch).
  if (sqlite3_value_type(args[0]) == SQLITE_TEXT) return sqlite3_result_value(context, args[0]);
  std::string kind = SqliteValueText(args[1]);
  SqliteResultText(context, NumberStyled(sqlite3_value_double(args[0]), kind,
                                         sqlite3_value_int(args[2]), sqlite3_value_int(args[3])));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_number_style", 4, NumberStyle, true},
};

}  // namespace

std::string NumberStyled(double value, std::string_view kind, int scale, int style) {
  if (kind == "money") {
    if (style == 2) return Fixed(value, 4);
    std::string fixed = Fixed(value, 2);
    return style == 1 ? WithThousands(fixed) : fixed;
  }
  if (kind == "decimal") return Fixed(value, scale);
  if (style == 1) return Scientific(value, 8, true);
  if (style == 2) return Scientific(value, 16, true);
  return Scientific(value, 6, false);
}

void RegisterNumberStyles(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
