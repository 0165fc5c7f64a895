#pragma once
// Rules and defaults as SQL Server 2000 keeps them apart from tables:
// CREATE RULE r AS <condition on one @variable>, CREATE DEFAULT d AS
// <constant>, DROP RULE / DROP DEFAULT (3716 while bound), and
// sp_bindrule / sp_unbindrule / sp_bindefault / sp_unbindefault on a
// 'table.column' or a user type. They live in the database's own tables
// (sqlengine_rules, sqlengine_bindings), so they travel with its file.
//
// A rule bound to a column is enforced by SQLite triggers the engine owns:
// an INSERT or UPDATE writing a value the condition calls false fails with
// 513 (NULL and unknown pass, as in SQL Server). A default bound to a column
// is the column's default in the table's definition.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/statement.h"

struct sqlite3;

namespace sqlengine::exec {

class Session;

// The database's table of rules and defaults (name, kind 'R' or 'D', the
// CREATE text as written, the expression); made with the first of them.
inline constexpr const char* kRulesTable = "sqlengine_rules";

// Whether the database reached under SQLite schema `schema` has that table.
bool HasRulesTable(sqlite3* db, const std::string& schema);

// CREATE RULE, CREATE DEFAULT, DROP RULE, DROP DEFAULT; false for other statements.
bool RunRuleOrDefaultStatement(Session& session, const tsql::Statement& statement,
                               ResultSink& sink);

// sp_bindrule, sp_unbindrule, sp_bindefault, sp_unbindefault; false for another name.
bool RunBindingProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments);

// Binds rule (kind 'R') or default ('D') `object` to table.column inside a
// CatalogWrite the caller holds, replacing what was bound there before.
void BindToColumn(Session& session, sqlite3* db, char kind, const std::string& object,
                  const std::string& table, const std::string& column);

// A table of that name was just created: bindings left from a dropped one
// of the same name are forgotten. Inside the caller's CatalogWrite.
void ForgetColumnBindings(sqlite3* db, const std::string& table);

// While one lives on this thread, the rule triggers pass every value: the
// engine rewrites rows as they are (a column stored in full when its default
// changes), which no rule checks in SQL Server. Nested scopes are fine.
class RulesUnchecked {
 public:
  RulesUnchecked();
  ~RulesUnchecked();
  RulesUnchecked(const RulesUnchecked&) = delete;
  RulesUnchecked& operator=(const RulesUnchecked&) = delete;
};

class FunctionHost;
// The function the rule triggers call. Throws std::runtime_error when SQLite
// refuses the registration.
void RegisterRuleFunctions(sqlite3* db, FunctionHost& host);

// The rule ('R') or default ('D') bound to table.column; nullopt for none.
std::optional<std::string> ColumnBinding(sqlite3* db, char kind, const std::string& table,
                                         const std::string& column);

}  // namespace sqlengine::exec
