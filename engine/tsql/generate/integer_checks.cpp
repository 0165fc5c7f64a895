#include "engine/tsql/generate/integer_checks.h"

#include "engine/tsql/bind/type_rules.h"
#include "engine/values/binary_integer.h"

namespace sqlengine::tsql::generate {
namespace {

std::string Width(const ColumnType& type) {
  return std::to_string(values::IntegerWidth(type.type));
}

std::string_view FunctionFor(std::string_view op) {
  if (op == "+") return "sqlengine_int_add";
  if (op == "-") return "sqlengine_int_subtract";
  if (op == "*") return "sqlengine_int_multiply";
  if (op == "/") return "sqlengine_int_divide";
  return "sqlengine_int_modulo";
}

}  // namespace

bool CheckedInteger(const ColumnType& type) {
  return bind::ClassOf(type.type) == bind::TypeClass::kInteger && type.type != SqlType::kBit;
}

std::string CheckedArithmetic(std::string_view op, const std::string& left,
                              const std::string& right, const ColumnType& type) {
  return std::string(FunctionFor(op)) + "(" + left + ", " + right + ", " + Width(type) + ")";
}

std::string CheckedNegation(const std::string& operand, const ColumnType& type) {
  return "sqlengine_int_subtract(0, " + operand + ", " + Width(type) + ")";
}

std::string CheckedRange(const std::string& value, const ColumnType& type) {
  return "sqlengine_int_range(" + value + ", " + Width(type) + ")";
}

std::string CheckedNarrowing(const std::string& value, const ColumnType& from,
                             const ColumnType& to) {
  if (!CheckedInteger(to) || !CheckedInteger(from) ||
      values::IntegerWidth(to.type) >= values::IntegerWidth(from.type)) {
    return value;
  }
  return "sqlengine_int_narrowed(" + value + ", " + Width(to) + ")";
}

std::string CheckedFromFloat(const std::string& value, const ColumnType& to) {
  return "sqlengine_float_integer(" + value + ", " + Width(to) + ")";
}

}  // namespace sqlengine::tsql::generate
