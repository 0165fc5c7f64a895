#pragma once
// T-SQL type names: parsing "nvarchar(50)", "decimal(10,2)", "varchar(max)"
// into a ColumnType and writing the canonical declaration that the engine
// stores in a table's schema (where it serves as the column-type catalog).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::tsql {

// Names that are no built-in type: the user-defined types of the database
// a request works in. Installed per thread for a request's lifetime.
class UserTypeResolver {
 public:
  virtual ~UserTypeResolver() = default;
  // The base type of user type `name` (nullable false for a NOT NULL type);
  // nullopt when there is none.
  virtual std::optional<ColumnType> Resolve(std::string_view name) = 0;
};

// Makes `resolver` answer ColumnTypeFromName on this thread while it lives;
// the one before comes back afterwards.
class UserTypeScope {
 public:
  explicit UserTypeScope(UserTypeResolver* resolver);
  ~UserTypeScope();
  UserTypeScope(const UserTypeScope&) = delete;
  UserTypeScope& operator=(const UserTypeScope&) = delete;

 private:
  UserTypeResolver* previous_;
};

// name: the type word (any case); arguments: the texts between the
// parentheses ("50", "max", "10" and "2"). Empty optional for an unknown name
// or arguments that do not fit the type. A name without arguments that is no
// built-in type is asked of the thread's UserTypeResolver.
std::optional<ColumnType> ColumnTypeFromName(std::string_view name,
                                             const std::vector<std::string>& arguments);

// Parses a declaration as stored in the schema ("nvarchar(50)", "INTEGER").
// Empty optional when it is not a type this engine knows.
std::optional<ColumnType> ParseDeclaredType(std::string_view declaration);

// "int", "nvarchar", "decimal" ...
std::string_view TypeName(SqlType type);

// The name the catalog shows for a column of `type`: "timestamp" for a row
// version, "numeric" for a column declared so, else TypeName(type.type).
std::string_view DeclaredTypeName(const ColumnType& type);

// The canonical declaration: "nvarchar(50)", "decimal(10,2)", "varchar(max)".
std::string TypeDeclaration(const ColumnType& type);

bool IsCharacterType(SqlType type);

}  // namespace sqlengine::tsql
