#pragma once
// User-defined data types (sp_addtype, sp_droptype): a name for a base type
// and a nullability, kept in the database's own sqlengine_types table (so
// they travel with its file through detach, attach, backup and restore).
// Columns, variables and parameters declared with one get its base type;
// a rule or default bound to the type binds to the columns created with it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/statement.h"
#include "engine/tsql/type_name.h"

struct sqlite3;

namespace sqlengine::exec {

class Session;

inline constexpr const char* kUserTypesTable = "sqlengine_types";

struct UserType {
  std::string name;
  std::string base;  // the declaration: "varchar(11)", "decimal(10,2)"
  bool nullable = true;
  std::string rule;          // bound rule, empty for none
  std::string default_name;  // bound default, empty for none
};

// Whether SQLite schema `schema` holds the user types table.
bool HasUserTypes(sqlite3* db, const std::string& schema);

// The current database's user type `name`; nullopt when there is none.
// Runs engine SQL on the session's connection.
std::optional<UserType> FindUserType(sqlite3* db, std::string_view name);
std::vector<UserType> UserTypes(sqlite3* db);

// Records `object` as the rule ('R') or default ('D') of `type` (empty: none).
void SetTypeBinding(sqlite3* db, const std::string& type, char kind, const std::string& object);
// The (table, column) pairs created with `type` that still exist.
std::vector<std::pair<std::string, std::string>> ColumnsOfType(sqlite3* db,
                                                               const std::string& type);

// The user type column `column` of `table` was declared with; empty for none.
std::string UserTypeOfColumn(sqlite3* db, const std::string& table, const std::string& column);

// Resolves type names through the session's current database.
class DatabaseUserTypes final : public tsql::UserTypeResolver {
 public:
  explicit DatabaseUserTypes(Session& session) : session_(session) {}
  std::optional<ColumnType> Resolve(std::string_view name) override;

 private:
  Session& session_;
};

// sp_addtype, sp_droptype; false for another name.
bool RunUserTypeProcedure(Session& session, std::string_view name,
                          const std::vector<CallArgument>& arguments, ResultSink& sink);

// After CREATE TABLE: the columns the statement declared with a user type
// take the rules and defaults bound to that type, and the type counts as
// used. `statement` is the CREATE TABLE as written.
void BindUserTypesOfNewTable(Session& session, const tsql::Statement& statement);

}  // namespace sqlengine::exec
