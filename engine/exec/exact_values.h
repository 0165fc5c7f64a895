#pragma once
// Exact numbers in their stored form (values/exact_storage.h) as SQLite
// values: what the engine's exact functions and aggregates, the readers of
// result rows and the binders of parameters share.

#include <sqlite3.h>

#include <optional>

#include "engine/common/error.h"
#include "engine/common/types.h"

namespace sqlengine::exec {

// Argument `index` of a function call as an exact type declaration
// ('decimal(10,2)', 'money'), parsed once per statement while the argument
// is a constant. nullopt, with the call's error set, for anything else.
std::optional<ColumnType> ExactTypeArgument(sqlite3_context* context, sqlite3_value** args,
                                            int index);

// The exact type a declaration names (money's scale 4 filled in); nullopt
// for other types.
std::optional<ColumnType> ExactType(std::string_view declaration);

// The number a stored form stands for, at `type`'s scale: an integer, or a
// 16-byte key. Any other value is no stored form: nullopt.
std::optional<Decimal> RawValue(sqlite3_value* value, const ColumnType& type);

// The value of result column `column` of a statement the front end
// generated in the stored form, converted to `type` as ColumnValue does; an
// exact type's value arrives in its stored form. Throws std::runtime_error
// when it does not.
Value GeneratedColumnValue(sqlite3_stmt* statement, int column, const ColumnType& type);

// RawValue for a function's argument; sets the call's error when it is none.
std::optional<Decimal> RawArgument(sqlite3_context* context, sqlite3_value* value,
                                   const ColumnType& type);

// The function's result: `value` in `type`'s stored form, or 8115.
void ResultRaw(sqlite3_context* context, const Decimal& value, const ColumnType& type);

// Binds `value` in `type`'s stored form to parameter `index` (1-based).
// Throws SqlError 8115 past the type's range.
void BindRaw(sqlite3_stmt* statement, int index, const Decimal& value, const ColumnType& type);

// 8115 "Arithmetic overflow error converting expression to data type <type>."
SqlError OverflowError(const ColumnType& type);

// Why `value` may not be stored in a column of `type`: 8115 past its range,
// 8114 when it is not in the stored form (a float or text would be an
// inexact or unconverted number). nullopt for NULL and proper values.
std::optional<SqlError> StoredFormError(sqlite3_value* value, const ColumnType& type);

}  // namespace sqlengine::exec
