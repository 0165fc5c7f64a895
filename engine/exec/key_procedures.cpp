#include "engine/exec/key_procedures.h"

#include <algorithm>
#include <optional>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_procedures.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_indexes.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

ColumnType Name() { return ColumnType{SqlType::kNVarChar, 128}; }
ColumnType Small() { return ColumnType{SqlType::kSmallInt}; }

// ODBC's rule numbers as SQL Server reports them: 0 CASCADE, 1 NO ACTION.
std::int64_t RuleNumber(const std::string& rule) {
  return tsql::EqualsIgnoreCase(rule, "CASCADE") ? 0 : tsql::EqualsIgnoreCase(rule, "SET NULL") ? 2
                                                                                                 : 1;
}

std::optional<std::int64_t> Integer(sqlite3* db, const std::string& sql,
                                    std::optional<std::string> bound = std::nullopt) {
  auto query = catalog::Prepare(db, sql);
  if (bound) sqlite3_bind_text(query.get(), 1, bound->c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return sqlite3_column_int64(query.get(), 0);
}

}  // namespace

void ForeignKeys(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_fkeys", given,
                 {"@pktable_name", "@pktable_owner", "@pktable_qualifier", "@fktable_name",
                  "@fktable_owner", "@fktable_qualifier"});
  if (!args[0] && !args[3]) throw MakeError(15252);
  ResultBuilder result({{"PKTABLE_QUALIFIER", Name()},
                        {"PKTABLE_OWNER", Name()},
                        {"PKTABLE_NAME", Name()},
                        {"PKCOLUMN_NAME", Name()},
                        {"FKTABLE_QUALIFIER", Name()},
                        {"FKTABLE_OWNER", Name()},
                        {"FKTABLE_NAME", Name()},
                        {"FKCOLUMN_NAME", Name()},
                        {"KEY_SEQ", Small()},
                        {"UPDATE_RULE", Small()},
                        {"DELETE_RULE", Small()},
                        {"FK_NAME", Name()},
                        {"PK_NAME", Name()},
                        {"DEFERRABILITY", Small()}});
  if (!InThisDatabase(session, args[2]) || !InThisDatabase(session, args[5])) {
    result.Send(sink);
    return;
  }
  sqlite3* db = session.Connection().Handle();
  const std::string database = session.CurrentDatabase();
  struct Key {
    TableConstraint constraint;
    std::vector<std::string> referenced;
    std::string referenced_key;
  };
  std::vector<Key> keys;
  for (const std::string& table : UserTableNames(session, false)) {
    if (args[3] && !tsql::EqualsIgnoreCase(table, *args[3])) continue;
    if (!OwnerMatches(session, args[4], table) || !session.MayRead("main", table)) continue;
    for (TableConstraint& c : ReadTableConstraints(db, "main", table)) {
      if (c.xtype != "F") continue;
      if (args[0] && !tsql::EqualsIgnoreCase(c.referenced_table, *args[0])) continue;
      if (!OwnerMatches(session, args[1], c.referenced_table)) continue;
      if (!session.MayRead("main", c.referenced_table)) continue;
      Key key{c, c.referenced_columns, {}};
      // The key the reference reaches: the one over its columns, the
      // primary key when it names none.
      for (const TableConstraint& k : ReadTableConstraints(db, "main", c.referenced_table)) {
        if (k.xtype != "PK" && k.xtype != "UQ") continue;
        bool same = !key.referenced.empty() && k.columns.size() == key.referenced.size();
        for (size_t n = 0; same && n < k.columns.size(); ++n)
          same = tsql::EqualsIgnoreCase(k.columns[n], key.referenced[n]);
        if ((key.referenced.empty() && k.xtype == "PK") || same) {
          key.referenced_key = k.name;
          if (key.referenced.empty()) key.referenced = k.columns;
        }
      }
      keys.push_back(std::move(key));
    }
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return tsql::ToLower(a.constraint.table) < tsql::ToLower(b.constraint.table);
  });
  for (const Key& key : keys) {
    const TableConstraint& c = key.constraint;
    for (size_t n = 0; n < c.columns.size(); ++n) {
      result.Add({database, ObjectOwner(session, c.referenced_table), c.referenced_table,
                  n < key.referenced.size() ? Value{key.referenced[n]} : Value{}, database,
                  ObjectOwner(session, c.table), c.table, c.columns[n], static_cast<std::int64_t>(n + 1),
                  RuleNumber(c.on_update), RuleNumber(c.on_delete), c.name,
                  key.referenced_key.empty() ? Value{} : Value{key.referenced_key},
                  std::int64_t{7}});  // SQL_NOT_DEFERRABLE
    }
  }
  result.Send(sink);
}

void Statistics(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_statistics", given,
                 {"@table_name", "@table_owner", "@table_qualifier", "@index_name", "@is_unique",
                  "@accuracy"});
  std::string table = args.Required(0, "sp_statistics", "@table_name");
  bool unique_only = tsql::EqualsIgnoreCase(args[4].value_or("N"), "Y");
  std::string index_pattern = args[3].value_or("%");
  ResultBuilder result({{"TABLE_QUALIFIER", Name()},
                        {"TABLE_OWNER", Name()},
                        {"TABLE_NAME", Name()},
                        {"NON_UNIQUE", Small()},
                        {"INDEX_QUALIFIER", Name()},
                        {"INDEX_NAME", Name()},
                        {"TYPE", Small()},
                        {"SEQ_IN_INDEX", Small()},
                        {"COLUMN_NAME", Name()},
                        {"COLLATION", ColumnType{SqlType::kChar, 1}},
                        {"CARDINALITY", ColumnType{SqlType::kInt}},
                        {"PAGES", ColumnType{SqlType::kInt}},
                        {"FILTER_CONDITION", ColumnType{SqlType::kVarChar, 128}}});
  sqlite3* db = session.Connection().Handle();
  std::optional<std::string> found = NamedTable(session, table, args[1], args[2]);
  if (!found) {
    result.Send(sink);
    return;
  }
  const std::string database = session.CurrentDatabase();
  std::int64_t rows =
      Integer(db, "SELECT count(*) FROM main." + tsql::QuoteSqliteName(*found)).value_or(0);
  Value pages_value = Integer(db, "SELECT count(*) FROM dbstat('main') WHERE name = ?", *found)
                          .value_or(0);
  // The table's own statistics first (TYPE 0, SQL_TABLE_STAT).
  result.Add({database, ObjectOwner(session, *found), *found, Value{}, Value{}, Value{}, std::int64_t{0},
              Value{}, Value{}, Value{}, rows, pages_value, Value{}});
  std::vector<TableIndex> indexes = IndexesOf(db, *found);
  // Unique indexes first, then by type and name, as ODBC orders them.
  std::stable_sort(indexes.begin(), indexes.end(), [](const TableIndex& a, const TableIndex& b) {
    if (a.unique != b.unique) return a.unique;
    return a.clustered > b.clustered;
  });
  for (const TableIndex& index : indexes) {
    if (unique_only && !index.unique) continue;
    if (index_pattern != "%" && !tsql::EqualsIgnoreCase(index_pattern, index.name)) continue;
    // SQL_INDEX_CLUSTERED for the clustered index, SQL_INDEX_OTHER for the others.
    std::int64_t type = index.clustered ? 1 : 3;
    std::int64_t sequence = 0;
    for (const IndexColumn& column : index.columns) {
      result.Add({database, ObjectOwner(session, *found), *found,
                  std::int64_t{index.unique ? 0 : 1},
                  *found, index.name, type, ++sequence, column.name,
                  std::string(column.descending ? "D" : "A"), rows, pages_value, Value{}});
    }
  }
  result.Send(sink);
}

}  // namespace sqlengine::exec
