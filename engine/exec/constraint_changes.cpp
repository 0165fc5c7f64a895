#include "engine/exec/constraint_changes.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/check_condition.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/constraint_state.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_column_texts.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/table_definition_sql.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/table_rebuild.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/constraint_change_syntax.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::exec {
namespace {

// What applying a change needs besides the change itself.
struct Target {
  sqlite3* db;
  tsql::NameResolver& resolver;
  tsql::bind::Catalog& catalog;
  std::vector<std::string> written_name;  // the table's name as the statement gives it
  std::string schema;    // SQLite's name of the table's database
  std::string database;  // its T-SQL name, for messages
  std::string table;
  bool check_existing;

  std::string QualifiedTable() const {
    return tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  }
  TableDefinition Definition() const {
    std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
    if (!definition) throw MakeError(4902, {table, database});
    return *definition;
  }
};

// The SQLite text CREATE TABLE makes of `element` (T-SQL tokens of one column
// definition or table constraint), its CHECK and DEFAULT expressions bound
// over the target's columns.
std::string ElementSql(const tsql::Tokens& element, const Target& target) {
  std::optional<tsql::bind::TableShape> table = target.catalog.FindTable(target.written_name);
  StoredExpressions expressions(
      element, 0, element.size(), target.table, table ? table->columns : std::vector<Column>{},
      table ? table->computed_columns : std::vector<bool>{}, target.catalog);
  std::vector<tsql::TableElementSyntax> parsed =
      tsql::ParseTableElements(element, 0, element.size());
  if (parsed.size() != 1) tsql::SyntaxErrorAt(element, parsed.front().range.end);
  return TableElementSql(element, parsed.front(), HasIdentityColumn(parsed), 1, expressions);
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return tsql::EqualsIgnoreCase(n, name); });
}

void RefuseTakenName(const Target& target, const std::string& name) {
  auto object =
      catalog::Prepare(target.db, "SELECT 1 FROM " + tsql::QuoteSqliteName(target.schema) +
                                      ".sqlite_master WHERE name = ? COLLATE NOCASE");
  sqlite3_bind_text(object.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(object.get()) == SQLITE_ROW) throw MakeError(2714, {name});
  for (const TableConstraint& c : ReadTableConstraints(target.db, target.schema)) {
    if (tsql::EqualsIgnoreCase(c.name, name)) throw MakeError(2714, {name});
  }
  // A #temp table's constraint is tempdb's object, beside every session's.
  if (target.schema == "temp" && ConstraintNamedElsewhere(target.db, name))
    throw MakeError(2714, {name});
}

// Rows written before a column had its current default may be stored without
// it and read the default from the definition; writing each row in full
// keeps their values when the default changes.
// No row changes: a timestamp column keeps its values, and the database its
// last row version.
void StoreColumnInFull(const Target& target, const std::string& column) {
  std::string quoted = tsql::QuoteSqliteName(column);
  RulesUnchecked unchecked;
  auto version = catalog::Prepare(
      target.db, "SELECT name FROM pragma_table_info(?, ?) WHERE type = 'timestamp' COLLATE NOCASE");
  sqlite3_bind_text(version.get(), 1, target.table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(version.get(), 2, target.schema.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(version.get()) != SQLITE_ROW) {
    catalog::Exec(target.db,
                  "UPDATE " + target.QualifiedTable() + " SET " + quoted + " = " + quoted);
    return;
  }
  std::string stamp = tsql::QuoteSqliteName(catalog::ColumnText(version.get(), 0));
  version.reset();
  // The row version triggers fire for an update that leaves the column as it
  // was: it is set to a value no row holds, then back.
  const std::string kept = "temp.sqlengine_kept_row_versions";
  catalog::Exec(target.db, "DROP TABLE IF EXISTS " + kept);
  catalog::Exec(target.db, "CREATE TABLE " + kept + " (r INTEGER PRIMARY KEY, v)");
  catalog::Exec(target.db, "INSERT INTO " + kept + " SELECT rowid, " + stamp + " FROM " +
                               target.QualifiedTable());
  catalog::Exec(target.db, "UPDATE " + target.QualifiedTable() + " SET " + quoted + " = " + quoted +
                               ", " + stamp + " = x''");
  catalog::Exec(target.db, "UPDATE " + target.QualifiedTable() + " SET " + stamp + " = (SELECT v FROM " +
                               kept + " WHERE r = " + target.QualifiedTable() + ".rowid)");
  catalog::Exec(target.db, "DROP TABLE " + kept);
}

void AddKey(const Target& target, const tsql::AddedConstraint& added) {
  std::string name = added.name;
  if (name.empty()) {
    std::string xtype = added.kind == "primary" ? "PK" : "UQ";
    std::string key = tsql::ToLower(target.table) + "\x1f" + xtype;
    for (const std::string& column : added.columns) key += "\x1f" + tsql::ToLower(column);
    std::string named_as = ConstraintTableName(target.db, target.schema, target.table);
    if (named_as != target.table) key = tsql::ToLower(named_as) + key.substr(target.table.size());
    name = GeneratedConstraintName(xtype, named_as, "", UnnamedConstraintId(key));
  }
  RefuseTakenName(target, name);
  target.Definition();
  std::string column_list;
  for (const std::string& column : added.columns) {
    if (!column_list.empty()) column_list += ", ";
    column_list += tsql::QuoteSqliteName(column);
  }
  // A PRIMARY KEY is clustered unless declared otherwise or the table has a
  // clustered index already; a UNIQUE constraint only when declared so.
  bool primary = added.kind == "primary";
  std::string clustered = ClusteredIndexName(target.db, target.schema, target.table);
  if (added.clustered.value_or(false) && !clustered.empty())
    throw MakeError(1902, {target.table, clustered});
  bool clusters = added.clustered.value_or(primary && clustered.empty());
  std::string marker = clusters == primary ? ""
                       : clusters          ? std::string(kClusteredMarker) + " "
                                           : std::string(kNonclusteredMarker) + " ";
  std::string key = RepeatedKey(target.db, target.QualifiedTable(), column_list);
  if (!key.empty()) throw MakeError(1505, {"2", key});
  catalog::Exec(target.db,
                "CREATE UNIQUE INDEX " + tsql::QuoteSqliteName(target.schema) + "." +
                    tsql::QuoteSqliteName(name) + " ON " + tsql::QuoteSqliteName(target.table) +
                    " (" + column_list + ") " + marker +
                    std::string(primary ? kPrimaryKeyMarker : kUniqueKeyMarker));
}

// Appends a table constraint to the definition.
void AppendToDefinition(const Target& target, const TableDefinition& definition,
                        const std::string& element) {
  std::string sql = definition.sql.substr(0, definition.close) + ", " + element + " " +
                    definition.sql.substr(definition.close);
  ReplaceTableDefinition(target.db, target.schema, definition, sql);
}

void AddCheck(const Target& target, const tsql::Tokens& alter, const tsql::AddedConstraint& added) {
  if (!added.name.empty()) RefuseTakenName(target, added.name);
  TableDefinition definition = target.Definition();
  tsql::Tokens tokens(alter.begin() + added.begin, alter.begin() + added.end);
  std::string element = ElementSql(tokens, target);
  if (!target.check_existing) element = std::string(kNotTrustedMarker) + " " + element;
  if (target.check_existing) {
    std::string condition = ParenthesisedAfter(element, "check");
    catalog::PreparedStatement conflict;
    try {
      conflict = catalog::Prepare(target.db, "SELECT 1 FROM " + target.QualifiedTable() +
                                                 " WHERE NOT (" + condition + ") LIMIT 1");
    } catch (const std::runtime_error& refused) {
      throw MakeError(50000, {refused.what()});
    }
    if (sqlite3_step(conflict.get()) == SQLITE_ROW) {
      throw MakeError(547,
                      {"ALTER TABLE", "TABLE", "CHECK", added.name.empty() ? condition : added.name,
                       target.database, target.table, "", "", ""});
    }
  }
  AppendToDefinition(target, definition, element);
}

void AddForeignKey(const Target& target, const tsql::Tokens& alter,
                   const tsql::AddedConstraint& added) {
  if (!added.name.empty()) RefuseTakenName(target, added.name);
  std::string name =
      added.name.empty() ? "FK__" + target.table + "__" + added.columns.front() : added.name;
  TableDefinition definition = target.Definition();
  std::vector<std::string> columns = ColumnNames(target.db, target.schema, target.table);
  for (const std::string& column : added.columns) {
    if (!Contains(columns, column)) throw MakeError(1769, {name, column, target.table});
  }
  size_t references = added.begin;
  while (!alter[references].IsWord("references")) ++references;
  tsql::DottedName referenced = tsql::ReadDottedName(alter, references + 1);
  std::optional<TableDefinition> parent =
      ReadTableDefinition(target.db, target.schema, referenced.Last());
  if (!parent) throw MakeError(1767, {name, referenced.Last()});
  if (referenced.end < added.end && alter[referenced.end].IsSymbol("(")) {
    std::vector<std::string> parent_columns = ColumnNames(target.db, target.schema, parent->table);
    for (size_t k = referenced.end + 1; k < added.end && !alter[k].IsSymbol(")"); ++k) {
      if (alter[k].IsName() && !Contains(parent_columns, alter[k].value)) {
        throw MakeError(1770, {name, alter[k].value, parent->table});
      }
    }
  }
  tsql::Tokens tokens(alter.begin() + added.begin, alter.begin() + added.end);
  AppendToDefinition(target, definition,
                     (target.check_existing ? "" : std::string(kNotTrustedMarker) + " ") +
                         ElementSql(tokens, target));
  // The check also finds a referenced key that is not unique, WITH NOCHECK too.
  catalog::PreparedStatement check;
  try {
    check = catalog::Prepare(target.db, "PRAGMA " + tsql::QuoteSqliteName(target.schema) +
                                            ".foreign_key_check(" +
                                            tsql::QuoteSqliteString(definition.table) + ")");
  } catch (const std::runtime_error&) {
    throw MakeError(1776, {parent->table, name});
  }
  int rc = sqlite3_step(check.get());
  if (rc == SQLITE_ROW && target.check_existing) {
    std::string parent_column = referenced.end < added.end && alter[referenced.end].IsSymbol("(")
                                    ? alter[referenced.end + 1].value
                                    : std::string();
    bool column = !parent_column.empty();
    throw MakeError(547,
                    {"ALTER TABLE", "TABLE", "FOREIGN KEY", name, target.database, parent->table,
                     column ? ", column '" : "", parent_column, column ? "'" : ""});
  }
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw MakeError(1776, {parent->table, name});
}

void AddDefault(const Target& target, const tsql::Tokens& alter,
                const tsql::AddedConstraint& added) {
  if (!added.name.empty()) RefuseTakenName(target, added.name);
  TableDefinition definition = target.Definition();
  const std::string& column_name = added.columns.front();
  const TableDefinition::Element* column = definition.Column(column_name);
  if (column == nullptr) throw MakeError(1752, {column_name, target.table});
  if (definition.IsIdentity(*column)) throw MakeError(1754, {target.table, column_name});
  if (definition.HasDefault(*column)) throw MakeError(1781);
  // The clause is written as a column of its own would carry it (the
  // column's real type comes from the table).
  tsql::Tokens element = tsql::Lex(tsql::QuoteSqliteName(column_name) + " int");
  element.pop_back();
  element.insert(element.end(), alter.begin() + added.begin, alter.begin() + added.expression_end);
  std::string rewritten = ElementSql(element, target);
  tsql::Tokens words = tsql::Lex(rewritten);
  size_t clause = 2;
  while (clause < words.size() && !words[clause].IsAnyWord({"constraint", "default"})) ++clause;
  std::string text = rewritten.substr(words[clause].offset);
  StoreColumnInFull(target, column->column);
  std::string sql =
      definition.sql.substr(0, column->end) + " " + text + definition.sql.substr(column->end);
  ReplaceTableDefinition(target.db, target.schema, definition, sql);
}

// Drops the unique index that ADD CONSTRAINT made for `name`; false when
// there is none.
bool DropKeyIndex(const Target& target, const std::string& name) {
  std::string quoted_schema = tsql::QuoteSqliteName(target.schema);
  auto index = catalog::Prepare(target.db, "SELECT name FROM " + quoted_schema +
                                               ".sqlite_master WHERE type = 'index' AND name = ? "
                                               "COLLATE NOCASE AND tbl_name = ? COLLATE NOCASE AND "
                                               "sql LIKE 'CREATE UNIQUE INDEX%'");
  sqlite3_bind_text(index.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(index.get(), 2, target.table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(index.get()) != SQLITE_ROW) return false;
  std::string stored = catalog::ColumnText(index.get(), 0);
  index.reset();  // an open read keeps the schema locked against DROP INDEX
  catalog::Exec(target.db, "DROP INDEX " + quoted_schema + "." + tsql::QuoteSqliteName(stored));
  return true;
}

// The constraint of the table named `name` (as written or as generated).
std::optional<TableConstraint> FindConstraint(const Target& target, const std::string& name) {
  for (TableConstraint& c : ReadTableConstraints(target.db, target.schema, target.table)) {
    if (!c.from_index && tsql::EqualsIgnoreCase(c.name, name)) return std::move(c);
  }
  return std::nullopt;
}

void Drop(const Target& target, const std::string& name) {
  if (DropKeyIndex(target, name)) return;
  if (DropDisabledConstraint(target.db, target.schema, target.table, name)) return;
  TableDefinition definition = target.Definition();
  std::optional<TableConstraint> named = FindConstraint(target, name);
  if (!named) throw MakeError(3728, {name});
  bool key = named->xtype == "PK" || named->xtype == "UQ";
  size_t index = 0;
  while (index + 1 < definition.elements.size() && definition.elements[index].end < named->begin) {
    ++index;
  }
  const TableDefinition::Element& element = definition.elements[index];
  if (named->xtype == "D") StoreColumnInFull(target, element.column);
  size_t from = named->marked_begin;
  size_t to = named->end;
  if (named->column.empty()) {
    // With the comma that separates it from the element before.
    from = index > 0 ? definition.elements[index - 1].end : element.begin;
    to = index > 0 ? element.end : definition.elements[1].begin;
  } else {
    while (from > element.begin && definition.sql[from - 1] == ' ') --from;
  }
  std::string sql = definition.sql.substr(0, from) + definition.sql.substr(to);
  if (key) {
    // The key's index is part of the table's storage.
    RebuildTable(target.db, target.schema, definition, sql, name);
  } else {
    ReplaceTableDefinition(target.db, target.schema, definition, sql);
  }
}

// Whether dropping `name` takes a key out of the table's own definition.
bool DropsDeclaredKey(const Target& target, const std::string& name) {
  std::optional<TableDefinition> definition =
      ReadTableDefinition(target.db, target.schema, target.table);
  if (!definition) return false;
  std::optional<TableConstraint> named = FindConstraint(target, name);
  return named && (named->xtype == "PK" || named->xtype == "UQ");
}

}  // namespace

bool IsConstraintChange(const tsql::Tokens& alter) {
  return tsql::ReadConstraintChange(alter).has_value();
}

void ChangeConstraint(sqlite3* db, const tsql::Tokens& alter, tsql::NameResolver& resolver,
                      tsql::bind::Catalog& catalog, std::string_view database) {
  std::optional<tsql::ConstraintChange> change = tsql::ReadConstraintChange(alter);
  if (!change) throw tsql::SyntaxError(alter.back(), nullptr);
  std::string schema = tsql::IsLocalTempName(change->table) ? std::string("temp")
                       : change->database.empty()           ? std::string("main")
                                                            : resolver.SchemaFor(change->database);
  std::vector<std::string> written_name{change->table};
  if (!change->database.empty()) written_name = {change->database, "", change->table};
  Target target{db,
                resolver,
                catalog,
                std::move(written_name),
                schema,
                change->database.empty() ? std::string(database) : change->database,
                change->table,
                change->check_existing};
  std::optional<ForeignKeysOff> rebuilding;
  for (const std::string& name : change->dropped) {
    if (!rebuilding && DropsDeclaredKey(target, name)) rebuilding.emplace(db);
  }
  catalog::Exec(db, "SAVEPOINT sqlengine_constraint");
  TakeWriteLockFirst(db, schema);
  try {
    if (change->enable) {
      SwitchConstraints(
          db, ConstraintSwitch{schema, target.database, target.table, *change->enable, change->all,
                               change->switched, change->check_existing});
    }
    for (const tsql::AddedConstraint& added : change->added) {
      if (added.kind == "check") {
        AddCheck(target, alter, added);
      } else if (added.kind == "foreign") {
        AddForeignKey(target, alter, added);
      } else if (added.kind == "default") {
        AddDefault(target, alter, added);
      } else {
        AddKey(target, added);
      }
    }
    for (const std::string& name : change->dropped) Drop(target, name);
    if (!change->added.empty() || !change->dropped.empty())
      KeepNullKeysUnique(db, schema, target.table);
    catalog::Exec(db, "RELEASE sqlengine_constraint");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK TO sqlengine_constraint; RELEASE sqlengine_constraint", nullptr,
                 nullptr, nullptr);
    throw;
  }
}

}  // namespace sqlengine::exec
