#pragma once
// The engine's SQLite functions behind T-SQL's arithmetic where SQLite's
// operators answer differently: T-SQL's binary '+' adds numbers and
// concatenates character or binary data, decided by the operands' types
// (exec/addition_function.cpp), and a division by zero is error 8134 where
// SQLite gives NULL.

#include <string_view>

namespace sqlengine::tsql {

inline constexpr std::string_view kAdditionFunction = "sqlengine_add";
// kDivisorFunction(x) is x, or error 8134 when x is zero.
inline constexpr std::string_view kDivisorFunction = "sqlengine_divisor";

}  // namespace sqlengine::tsql
