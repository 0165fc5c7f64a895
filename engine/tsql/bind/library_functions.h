#pragma once
// The types of T-SQL's string, mathematical and text-testing functions, by
// SQL Server 2000's rules, and the engine function each one runs as. The
// binder binds the arguments, asks here, and builds the call.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::tsql::bind {

// What the rules look at in an argument.
struct ArgumentShape {
  ColumnType type;
  bool null_literal = false;
  std::optional<std::int64_t> integer;  // the value of an integer literal
};

struct LibraryCall {
  std::string sql;  // the SQLite function
  ColumnType type;  // the result's type; its nullability is the binder's
  // SQLite literals passed after the arguments (DATALENGTH's byte counts,
  // REPLICATE's length limit).
  std::vector<std::string> extra_arguments;
  // The function never returns NULL (ISNUMERIC, ISDATE, RAND, PI).
  bool never_null = false;
  // The function may return NULL for arguments that are not (CHAR(300),
  // SPACE(-1), PARSENAME('a.b', 3), IDENT_SEED of no table).
  bool null_for_some = false;
  // The engine function answers a float that SQL Server gives in `type`
  // (POWER, FLOOR, DEGREES ... of an integer or decimal).
  bool convert_result = false;
  // The first argument is taken as a sql_variant (of its own type as base).
  bool variant_argument = false;
};

// nullopt: not one of these functions, or arguments it does not take (the
// binder leaves the statement to the older path, which reports them).
std::optional<LibraryCall> BindLibraryFunction(std::string_view name,
                                               const std::vector<ArgumentShape>& args);

// Whether SQL Server 2000 has a built-in function of this (lower-case) name.
// Any other name called without an owner is 195, as there: a user-defined
// scalar function needs its owner's name.
bool IsBuiltInFunctionName(std::string_view name);

}  // namespace sqlengine::tsql::bind
