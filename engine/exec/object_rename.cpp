#include "engine/exec/object_rename.h"

#include <optional>
#include <string>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/ignored_duplicates.h"
#include "engine/exec/index_names.h"
#include "engine/exec/maintained_tables.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/procedures.h"
#include "engine/exec/session.h"
#include "engine/exec/locked_savepoint.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

using tsql::QuoteSqliteName;
using tsql::QuoteSqliteString;

std::optional<std::string> One(sqlite3* db, const std::string& sql,
                               std::initializer_list<std::string> values) {
  auto query = catalog::Prepare(db, sql);
  int index = 1;
  for (const std::string& value : values) {
    sqlite3_bind_text(query.get(), index++, value.c_str(), -1, SQLITE_TRANSIENT);
  }
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(query.get(), 0);
}

void Run(sqlite3* db, const std::string& sql, std::initializer_list<std::string> values) {
  auto statement = catalog::Prepare(db, sql);
  int index = 1;
  for (const std::string& value : values) {
    sqlite3_bind_text(statement.get(), index++, value.c_str(), -1, SQLITE_TRANSIENT);
  }
  if (sqlite3_step(statement.get()) != SQLITE_DONE) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

bool HasTable(sqlite3* db, const char* table) {
  return One(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?", {table})
      .has_value();
}

// Any object of the database called `name`: table, view, index, procedure.
bool NameTaken(sqlite3* db, const std::string& name) {
  if (One(db, "SELECT name FROM sqlite_master WHERE name = ? COLLATE NOCASE", {name})) return true;
  return HasTable(db, catalog::kProceduresTable) &&
         One(db,
             std::string("SELECT name FROM ") + catalog::kProceduresTable +
                 " WHERE name = ? COLLATE NOCASE",
             {name});
}

// The engine's triggers on `table` take names made from the table's and the
// column's names: they are made again under the new ones, bodies keeping
// what SQLite already rewrote, the identity triggers' key following the table,
// in the order they were made (SQLite fires them newest first).
void RenameEngineTriggers(sqlite3* db, const std::string& table, const std::string& from,
                          const std::string& to, bool whole_table) {
  std::vector<std::pair<std::string, std::string>> triggers;
  auto query = catalog::Prepare(db,
                                "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND "
                                "tbl_name = ? AND name LIKE 'sqlengine!_%' ESCAPE '!' ORDER BY rowid");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    triggers.emplace_back(catalog::ColumnText(query.get(), 0), catalog::ColumnText(query.get(), 1));
  }
  query.reset();
  for (auto& [name, sql] : triggers) {
    std::string renamed = name;
    std::string part = "_" + from;
    size_t at = whole_table ? renamed.find(part + "_") : renamed.rfind(part);
    bool ours = at != std::string::npos && (whole_table || at + part.size() == renamed.size());
    if (!ours) continue;
    renamed.replace(at, part.size(), "_" + to);
    size_t name_at = sql.find(QuoteSqliteName(name));
    if (name_at == std::string::npos) name_at = sql.find(name);
    if (name_at == std::string::npos) continue;
    size_t name_length =
        sql.compare(name_at, QuoteSqliteName(name).size(), QuoteSqliteName(name)) == 0
            ? QuoteSqliteName(name).size()
            : name.size();
    sql.replace(name_at, name_length, QuoteSqliteName(renamed));
    if (whole_table) {
      std::string old_key = QuoteSqliteString(from);
      for (size_t k = sql.find(old_key); k != std::string::npos; k = sql.find(old_key, k)) {
        sql.replace(k, old_key.size(), QuoteSqliteString(to));
        k += QuoteSqliteString(to).size();
      }
    }
    catalog::Exec(db, "DROP TRIGGER " + QuoteSqliteName(name));
    catalog::Exec(db, sql);
  }
}

void RenamePermissions(sqlite3* db, const std::string& from, const std::string& to) {
  // The object keeps its rights and its owner under its new name.
  for (const char* table : {kPermissionsTable, kColumnPermissionsTable, kObjectOwnersTable}) {
    if (!HasTable(db, table)) continue;
    Run(db, std::string("UPDATE ") + table + " SET object = ? WHERE object = ?", {to, from});
  }
}

void RenameTable(sqlite3* db, const std::string& from, const std::string& to) {
  catalog::Exec(db, "ALTER TABLE " + QuoteSqliteName(from) + " RENAME TO " + QuoteSqliteName(to));
  RenameEngineTriggers(db, to, from, to, true);
  KeepNullKeysUnique(db, "main", to);
  for (const char* identities : {"sqlengine_identity", "sqlengine_identity_seeds"}) {
    if (!HasTable(db, identities)) continue;
    Run(db, std::string("UPDATE ") + identities + " SET name = ? WHERE name = ?", {to, from});
  }
  Run(db, std::string("UPDATE ") + catalog::kObjectsTable + " SET name = ? WHERE name = ?",
      {to, from});
  RenamePermissions(db, from, to);
}

void RenameProcedure(sqlite3* db, const std::string& from, const std::string& to) {
  Run(db, std::string("UPDATE ") + catalog::kProceduresTable + " SET name = ? WHERE name = ?",
      {to, from});
  // The group's other procedures follow.
  std::vector<std::pair<std::string, int>> members;
  auto query = catalog::Prepare(db, std::string("SELECT name FROM ") + catalog::kProceduresTable +
                                        " WHERE " + GroupNameSql("name") +
                                        " = ? COLLATE NOCASE AND " + GroupNumberSql("name") +
                                        " <> 1");
  sqlite3_bind_text(query.get(), 1, from.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string key = catalog::ColumnText(query.get(), 0);
    members.emplace_back(key, GroupMemberOf(key).second);
  }
  query.reset();
  for (const auto& [key, number] : members) {
    Run(db, std::string("UPDATE ") + catalog::kProceduresTable + " SET name = ? WHERE name = ?",
        {GroupMemberKey(to, number), key});
  }
  Run(db,
      std::string("UPDATE ") + catalog::kObjectsTable +
          " SET name = ? WHERE name = ? AND xtype = 'P'",
      {to, from});
  RenamePermissions(db, from, to);
}

void RenameColumn(sqlite3* db, const std::string& table, const std::string& from,
                  const std::string& to) {
  catalog::Exec(db, "ALTER TABLE " + QuoteSqliteName(table) + " RENAME COLUMN " +
                        QuoteSqliteName(from) + " TO " + QuoteSqliteName(to));
  RenameEngineTriggers(db, table, from, to, false);
  KeepNullKeysUnique(db, "main", table);
  if (HasTable(db, kColumnPermissionsTable)) {
    Run(db,
        std::string("UPDATE ") + kColumnPermissionsTable +
            " SET column_name = ? WHERE object = ? AND column_name = ?",
        {to, table, from});
  }
}

// Renames index `from` (its stored name) to the stored name `to`: the index
// is made again from its definition with the name token replaced.
void RenameIndex(sqlite3* db, const std::string& schema, const std::string& from,
                 const std::string& to) {
  std::optional<std::string> sql =
      One(db, "SELECT sql FROM " + QuoteSqliteName(schema) +
                  ".sqlite_master WHERE type = 'index' AND name = ?",
          {from});
  if (!sql) throw MakeError(15248, {"INDEX"});
  // CREATE [UNIQUE] INDEX name ON ...
  tsql::Tokens tokens = tsql::Lex(*sql);
  std::size_t name = 2;
  if (name < tokens.size() && tokens[1].IsWord("unique")) ++name;
  if (name >= tokens.size() || !tokens[name].IsName() ||
      !tsql::EqualsIgnoreCase(tokens[name].value, from)) {
    throw MakeError(15248, {"INDEX"});
  }
  sql->replace(tokens[name].offset, tokens[name].text.size(), QuoteSqliteName(to));
  // Made again unqualified, it stands beside its table, in either schema.
  catalog::Exec(db, "DROP INDEX " + QuoteSqliteName(schema) + "." + QuoteSqliteName(from));
  catalog::Exec(db, *sql);
}

}  // namespace

void Rename(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_rename", given, {"@objname", "@newname", "@objtype"});
  std::string written = args.Required(0, "sp_rename", "@objname");
  std::string new_name = args.Required(1, "sp_rename", "@newname");
  std::string type = tsql::ToLower(args[2].value_or("object"));
  if (type != "object" && type != "column" && type != "index") {
    throw MakeError(15248, {UpperCaseArgument(type)});
  }
  tsql::DottedName name = tsql::ReadWrittenName(written);
  // object: [owner.]name; column and index: [owner.]table.name
  size_t parts_of_table = type == "object" ? 1 : 2;
  if (name.parts.size() > parts_of_table + 1) {
    const std::string& database = name.parts[name.parts.size() - parts_of_table - 2];
    if (name.parts.size() > parts_of_table + 2 ||
        !tsql::EqualsIgnoreCase(database, session.CurrentDatabase())) {
      throw MakeError(15250);
    }
  }
  if (name.parts.size() < parts_of_table || new_name.empty()) throw MakeError(15248, {UpperCaseArgument(type)});
  sqlite3* db = session.Connection().Handle();
  std::string object = type == "object" ? name.Last() : name.parts[name.parts.size() - 2];

  std::optional<MaintainedTable> table = FindMaintainedTable(session, object);
  bool in_tempdb = tsql::EqualsIgnoreCase(session.CurrentDatabase(), "tempdb");
  // A #temp table keeps its name (in tempdb, where sp_rename finds it), and
  // no object takes a #name.
  if (type == "object" && in_tempdb && table && table->schema == "temp")
    throw MakeError(15600, {"sp_rename"});
  // In tempdb a column or an index of the session's #temp table is renamed
  // as any table's.
  bool temp_item = table && table->schema == "temp" && type != "object" && in_tempdb;
  bool temp_column = temp_item && type == "column";
  if (table && table->schema != "main" && !temp_item) table.reset();
  std::string item_schema = temp_item ? "temp" : "main";
  bool procedure = !table && type == "object" && HasTable(db, catalog::kProceduresTable) &&
                   One(db,
                       std::string("SELECT name FROM ") + catalog::kProceduresTable +
                           " WHERE name = ? COLLATE NOCASE",
                       {object});
  if (!table && !procedure) throw MakeError(15248, {UpperCaseArgument(type)});
  if (type == "object" && new_name.starts_with("#")) throw MakeError(15600, {"sp_rename"});
  // [owner.]name: the owner part must be the object's.
  std::string owner =
      name.parts.size() > parts_of_table ? name.parts[name.parts.size() - parts_of_table - 1] : "";
  if (!ReachesAsWritten(session, "", owner, object))
    throw MakeError(15248, {UpperCaseArgument(type)});
  std::string stored = table ? table->name
                             : *One(db,
                                    std::string("SELECT name FROM ") + catalog::kProceduresTable +
                                        " WHERE name = ? COLLATE NOCASE",
                                    {object});
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (!temp_item && rights.Check(stored, Access::kAlter).has_value()) throw MakeError(15247);

  std::string item;  // the column or index, as stored
  if (type == "column") {
    item = One(db, "SELECT name FROM pragma_table_info(?, ?) WHERE name = ? COLLATE NOCASE",
               {stored, item_schema, name.Last()})
               .value_or("");
    if (item.empty()) throw MakeError(15248, {"COLUMN"});
    if (One(db, "SELECT name FROM pragma_table_info(?, ?) WHERE name = ? COLLATE NOCASE",
            {stored, item_schema, new_name}) &&
        !tsql::EqualsIgnoreCase(item, new_name)) {
      throw MakeError(15335, {new_name, "column"});
    }
  } else if (type == "index") {
    // Index names are the table's own: found and kept as index_names.h stores them.
    item = StoredIndexName(db, item_schema, stored, name.Last()).value_or("");
    if (item.empty() ||
        !One(db,
             "SELECT sql FROM " + item_schema +
                 ".sqlite_master WHERE name = ? AND sql IS NOT NULL",
             {item})) {
      throw MakeError(15248, {"INDEX"});
    }
    std::optional<std::string> taken = StoredIndexName(db, item_schema, stored, new_name);
    if (taken && *taken != item) throw MakeError(15335, {new_name, "index"});
    if (!taken) {
      new_name = NewIndexName(db, item_schema, stored, new_name);
    } else {
      // Another spelling of its own name.
      new_name = item.size() > name.Last().size() ? item.substr(0, item.size() - name.Last().size()) +
                                                        new_name
                                                  : new_name;
    }
  } else if (NameTaken(db, new_name) && !tsql::EqualsIgnoreCase(stored, new_name)) {
    throw MakeError(15335, {new_name, "object"});
  }

  if (temp_item) {
    // All or nothing; the session's own tables need no lock.
    catalog::Exec(db, "SAVEPOINT sqlengine_rename_temp");
    try {
      if (temp_column) {
        // The column's value triggers are made again under its new name.
        ForgetColumn(db, "temp", stored, item);
        catalog::Exec(db, "ALTER TABLE temp." + QuoteSqliteName(stored) + " RENAME COLUMN " +
                              QuoteSqliteName(item) + " TO " + QuoteSqliteName(new_name));
        NormaliseColumns(db, "temp", stored);
        KeepNullKeysUnique(db, "temp", stored);
      } else {
        StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
        RenameIndex(db, "temp", item, new_name);
        RenameIgnoringDuplicateKeys(db, "temp", item, new_name);
      }
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK TO sqlengine_rename_temp; RELEASE sqlengine_rename_temp", nullptr,
                   nullptr, nullptr);
      throw;
    }
    catalog::Exec(db, "RELEASE sqlengine_rename_temp");
    sink.Message(FormatMessage(15477));
    return;
  }
  LockedSavepoint write(session, "main", "sqlengine_rename");
  if (type == "column") {
    RenameColumn(db, stored, item, new_name);
    RenameProperties(db, "COLUMN", stored, item, new_name);
  } else if (type == "index") {
    RenameIndex(db, "main", item, new_name);
    StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
    RenameIgnoringDuplicateKeys(db, "main", item, new_name);
    RenameProperties(db, "INDEX", stored, ShownIndexName(item, stored),
                     ShownIndexName(new_name, stored));
  } else {
    if (table) {
      RenameTable(db, stored, new_name);
    } else {
      RenameProcedure(db, stored, new_name);
    }
    RenameProperties(db, "", stored, stored, new_name);
  }
  write.Release();
  session.Engine().SecurityChanged();
  sink.Message(FormatMessage(15477));
}

}  // namespace sqlengine::exec
