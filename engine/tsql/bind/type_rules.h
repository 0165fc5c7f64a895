#pragma once
// SQL Server's rules for the types of expressions: data type precedence, the
// result types of arithmetic and concatenation (decimal precision and scale
// included), and the types of literals.

#include <optional>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::tsql::bind {

enum class TypeClass { kInteger, kExactDecimal, kApproximate, kDateTime, kCharacter, kOther };

TypeClass ClassOf(SqlType type);
bool IsNumeric(SqlType type);   // integers (bit included), decimal, money, float, real
bool IsNational(SqlType type);  // nchar, nvarchar, ntext

// Characters an integer type's values may take as text, sign included.
int IntegerTextWidth(SqlType type);

// Rank in SQL Server's data type precedence; higher wins a conversion.
int Precedence(SqlType type);

// The type an operand of the other type converts to: the one with higher precedence.
ColumnType Higher(const ColumnType& a, const ColumnType& b);

// The precision and scale a type has as a decimal operand (int: 10,0; money: 19,4).
ColumnType AsDecimal(const ColumnType& type);

// The type of a op b for numeric operands, op one of + - * / %; nullopt when
// SQL Server refuses the operands (bit arithmetic, % of floats ...).
std::optional<ColumnType> ArithmeticType(char op, const ColumnType& a, const ColumnType& b);

// The type of a + b for character operands: lengths added, up to 8000 bytes.
ColumnType ConcatenationType(const ColumnType& a, const ColumnType& b);

// The common type of CASE branches, COALESCE and UNION columns of one class:
// the higher precedence, the longer length, decimals widened to hold both.
ColumnType CommonType(const ColumnType& a, const ColumnType& b);

// Literal types: 12 is int (numeric(p,0) beyond int), 1.50 numeric(3,2),
// 1e3 float, 'ab' varchar(2), N'ab' nvarchar(2), 0x0A0B varbinary(2).
ColumnType IntegerLiteralType(std::string_view digits);
ColumnType DecimalLiteralType(std::string_view text);
// `value` is the string's text without quotes (UTF-8).
ColumnType StringLiteralType(std::string_view value, bool national);

// The name SQL Server gives the type in messages ("int", "varchar").
std::string_view NameOf(SqlType type);

}  // namespace sqlengine::tsql::bind
