#include "engine/exec/constraint_changes.h"

#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

struct ConstraintChange {
  std::string database;  // "" when not named
  std::string table;
  std::string constraint;
  bool add = false;
  std::vector<std::string> columns;  // adding only
};

// nullopt when `alter` is not a change ChangeConstraint runs; throws 170 for
// a malformed column list.
std::optional<ConstraintChange> ReadChange(const tsql::Tokens& alter) {
  if (alter.size() < 6 || !alter[2].IsName()) return std::nullopt;
  tsql::DottedName name = tsql::ReadDottedName(alter, 2);
  size_t i = name.end;
  if (i + 2 >= alter.size() || !alter[i + 1].IsWord("constraint") || !alter[i + 2].IsName()) {
    return std::nullopt;
  }
  ConstraintChange change{
      name.Database(), name.Last(), alter[i + 2].value, alter[i].IsWord("add"), {}};
  if (!change.add) {
    if (!alter[i].IsWord("drop") || i + 3 != alter.size()) return std::nullopt;
    return change;
  }
  size_t k = i + 3;
  if (k < alter.size() && alter[k].IsWord("primary") && k + 1 < alter.size() &&
      alter[k + 1].IsWord("key")) {
    k += 2;
  } else if (k < alter.size() && alter[k].IsWord("unique")) {
    k += 1;
  } else {
    return std::nullopt;
  }
  if (k < alter.size() && (alter[k].IsWord("clustered") || alter[k].IsWord("nonclustered"))) ++k;
  if (k >= alter.size() || !alter[k].IsSymbol("(")) return std::nullopt;
  for (++k; k < alter.size() && !alter[k].IsSymbol(")"); ++k) {
    if (!alter[k].IsName()) throw tsql::SyntaxError(alter[k], &alter[k - 1]);
    change.columns.push_back(alter[k].value);
    if (k + 1 < alter.size() && alter[k + 1].IsSymbol(",")) ++k;
  }
  if (k + 1 != alter.size() || change.columns.empty()) return std::nullopt;
  return change;
}

// The first key that existing rows repeat, as SQL Server shows it
// ("a, b"); empty when every key is unique.
std::string RepeatedKey(sqlite3* db, const std::string& qualified_table,
                        const std::string& column_list) {
  auto repeated =
      catalog::Prepare(db, "SELECT " + column_list + " FROM " + qualified_table + " GROUP BY " +
                               column_list + " HAVING count(*) > 1 LIMIT 1");
  if (sqlite3_step(repeated.get()) != SQLITE_ROW) return {};
  std::string key;
  for (int c = 0; c < sqlite3_column_count(repeated.get()); ++c) {
    if (c > 0) key += ", ";
    key += sqlite3_column_type(repeated.get(), c) == SQLITE_NULL
               ? "NULL"
               : catalog::ColumnText(repeated.get(), c);
  }
  return key;
}

void Add(sqlite3* db, const std::string& schema, const ConstraintChange& change) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto exists = catalog::Prepare(
      db, "SELECT 1 FROM " + quoted_schema + ".sqlite_master WHERE name = ? COLLATE NOCASE");
  sqlite3_bind_text(exists.get(), 1, change.constraint.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(exists.get()) == SQLITE_ROW) throw MakeError(2714, {change.constraint});
  std::string column_list;
  for (const std::string& column : change.columns) {
    if (!column_list.empty()) column_list += ", ";
    column_list += tsql::QuoteSqliteName(column);
  }
  std::string key =
      RepeatedKey(db, quoted_schema + "." + tsql::QuoteSqliteName(change.table), column_list);
  if (!key.empty()) throw MakeError(1505, {"2", key});
  catalog::Exec(db, "CREATE UNIQUE INDEX " + quoted_schema + "." +
                        tsql::QuoteSqliteName(change.constraint) + " ON " +
                        tsql::QuoteSqliteName(change.table) + " (" + column_list + ")");
}

// Whether the table's own definition declares a constraint named `constraint`.
bool DeclaredInTable(sqlite3* db, const std::string& quoted_schema,
                     const ConstraintChange& change) {
  auto definition = catalog::Prepare(db, "SELECT sql FROM " + quoted_schema +
                                             ".sqlite_master WHERE type = 'table' AND name = ? "
                                             "COLLATE NOCASE");
  sqlite3_bind_text(definition.get(), 1, change.table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(definition.get()) != SQLITE_ROW) return false;
  tsql::Tokens tokens = tsql::Lex(catalog::ColumnText(definition.get(), 0));
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (tokens[i].IsWord("constraint") && tokens[i + 1].IsName() &&
        tsql::EqualsIgnoreCase(tokens[i + 1].value, change.constraint)) {
      return true;
    }
  }
  return false;
}

void Drop(sqlite3* db, const std::string& schema, const ConstraintChange& change) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto index = catalog::Prepare(db, "SELECT name FROM " + quoted_schema +
                                        ".sqlite_master WHERE type = 'index' AND name = ? "
                                        "COLLATE NOCASE AND tbl_name = ? COLLATE NOCASE AND "
                                        "sql LIKE 'CREATE UNIQUE INDEX%'");
  sqlite3_bind_text(index.get(), 1, change.constraint.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(index.get(), 2, change.table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(index.get()) != SQLITE_ROW) {
    // SQLite cannot take a declared constraint out of a table in place.
    if (DeclaredInTable(db, quoted_schema, change)) throw MakeError(156, {"CONSTRAINT"});
    throw MakeError(3728, {change.constraint});
  }
  std::string stored = catalog::ColumnText(index.get(), 0);
  index.reset();  // an open read keeps the schema locked against DROP INDEX
  catalog::Exec(db, "DROP INDEX " + quoted_schema + "." + tsql::QuoteSqliteName(stored));
}

}  // namespace

bool IsConstraintChange(const tsql::Tokens& alter) { return ReadChange(alter).has_value(); }

void ChangeConstraint(sqlite3* db, const tsql::Tokens& alter,
                      const std::function<std::string(std::string_view)>& schema_for) {
  std::optional<ConstraintChange> change = ReadChange(alter);
  if (!change) throw tsql::SyntaxError(alter.back(), nullptr);
  std::string schema = schema_for(change->database);
  if (change->add) {
    Add(db, schema, *change);
  } else {
    Drop(db, schema, *change);
  }
}

}  // namespace sqlengine::exec
