#include "engine/exec/catalog_procedures.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/catalog_view_columns.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/key_procedures.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/permission_bits.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/procedures.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"
#include "engine/exec/space_procedures.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/table_indexes.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

ColumnType Text(int length) { return ColumnType{SqlType::kNVarChar, length}; }
ColumnType Small() { return ColumnType{SqlType::kSmallInt}; }
ColumnType Integer() { return ColumnType{SqlType::kInt}; }

// How ODBC describes a T-SQL type.
struct OdbcType {
  int data_type = 0;
  std::string type_name;
  Value precision, length, scale, radix;
  int sql_data_type = 0;
  Value datetime_sub, octet_length;
  int ss_data_type = 0;
};

// SS_DATA_TYPE is SQL Server's storage type code: a value that may be NULL
// is stored in the type's nullable form (intn 38, floatn 109, moneyn 110,
// datetimn 111, decimaln 106, numericn 108), one that may not in the fixed
// form (int 56, smallint 52, tinyint 48, bigint 63, float 62, real 59, money
// 60, smallmoney 122, datetime 61, smalldatetime 58, decimal 55, numeric 63).
OdbcType Describe(const ColumnType& type, bool odbc3, bool nullable) {
  struct Entry {
    SqlType type;
    int data_type;
    int ss_data_type;  // nullable
    int ss_fixed;      // NOT NULL
    int precision;     // digits, or 0 when the length counts
    int bytes;         // fixed byte length, or 0
  };
  static constexpr Entry kEntries[] = {{SqlType::kTinyInt, -6, 38, 48, 3, 1},
                                       {SqlType::kSmallInt, 5, 38, 52, 5, 2},
                                       {SqlType::kInt, 4, 38, 56, 10, 4},
                                       {SqlType::kBigInt, -5, 38, 63, 19, 8},
                                       {SqlType::kBit, -7, 50, 50, 1, 1},
                                       {SqlType::kReal, 7, 109, 59, 24, 4},
                                       {SqlType::kFloat, 6, 109, 62, 53, 8},
                                       {SqlType::kDecimal, 3, 106, 55, 0, 0},
                                       {SqlType::kMoney, 3, 110, 60, 19, 8},
                                       {SqlType::kSmallMoney, 3, 110, 122, 10, 4},
                                       {SqlType::kDateTime, 11, 111, 61, 23, 16},
                                       {SqlType::kSmallDateTime, 11, 111, 58, 16, 16},
                                       {SqlType::kChar, 1, 47, 47, 0, 0},
                                       {SqlType::kVarChar, 12, 39, 39, 0, 0},
                                       {SqlType::kText, -1, 35, 35, 0, 0},
                                       {SqlType::kNChar, -8, 39, 39, 0, 0},
                                       {SqlType::kNVarChar, -9, 39, 39, 0, 0},
                                       {SqlType::kNText, -10, 35, 35, 0, 0},
                                       {SqlType::kBinary, -2, 45, 45, 0, 0},
                                       {SqlType::kVarBinary, -3, 37, 37, 0, 0},
                                       {SqlType::kImage, -4, 34, 34, 0, 0},
                                       {SqlType::kUniqueIdentifier, -11, 36, 36, 36, 16},
                                       {SqlType::kSqlVariant, -150, 39, 39, 8000, 8000}};
  OdbcType odbc;
  odbc.type_name = std::string(tsql::DeclaredTypeName(type));
  for (const Entry& entry : kEntries) {
    if (entry.type != type.type) continue;
    // NUMERIC is ODBC's SQL_NUMERIC (2) under SQL Server's own type 108.
    odbc.data_type = type.numeric ? 2 : entry.data_type;
    odbc.ss_data_type = nullable ? (type.numeric ? 108 : entry.ss_data_type)
                                 : (type.numeric ? 63 : entry.ss_fixed);
    bool unicode = type.type == SqlType::kNChar || type.type == SqlType::kNVarChar ||
                   type.type == SqlType::kNText;
    if (type.type == SqlType::kDecimal) {
      odbc.precision = static_cast<std::int64_t>(type.precision);
      odbc.length = static_cast<std::int64_t>(type.precision + 2);
      odbc.scale = static_cast<std::int64_t>(type.scale);
    } else if (entry.precision > 0) {
      odbc.precision = static_cast<std::int64_t>(entry.precision);
      odbc.length = static_cast<std::int64_t>(entry.bytes);
    } else {
      std::int64_t chars = type.length == kMaxLength || type.length == 0 ? 2147483647 : type.length;
      if (type.type == SqlType::kNText) chars = 1073741823;
      odbc.precision = chars;
      odbc.length = unicode && chars < 1073741823 ? chars * 2 : chars;
      odbc.octet_length = odbc.length;
    }
    bool numeric = entry.precision > 0 || type.type == SqlType::kDecimal;
    bool exact = type.type != SqlType::kReal && type.type != SqlType::kFloat;
    if (numeric && type.type != SqlType::kDateTime && type.type != SqlType::kSmallDateTime &&
        type.type != SqlType::kUniqueIdentifier) {
      odbc.radix = static_cast<std::int64_t>(exact ? 10 : 2);
      if (IsNull(odbc.scale) && exact) odbc.scale = static_cast<std::int64_t>(type.scale);
    }
    odbc.sql_data_type = odbc.data_type;
    if (type.type == SqlType::kDateTime || type.type == SqlType::kSmallDateTime) {
      odbc.data_type = odbc3 ? 93 : 11;
      odbc.sql_data_type = 9;
      odbc.datetime_sub = std::int64_t{3};
      odbc.scale = static_cast<std::int64_t>(type.type == SqlType::kDateTime ? 3 : 0);
    }
  }
  return odbc;
}

// LIKE patterns as ODBC sends them: %, _ and [x] escapes.
bool Matches(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '%') {
    for (size_t i = 0; i <= text.size(); ++i) {
      if (Matches(pattern.substr(1), text.substr(i))) return true;
    }
    return false;
  }
  if (pattern[0] == '[' && pattern.size() >= 3 && pattern[2] == ']') {
    return !text.empty() && text[0] == pattern[1] && Matches(pattern.substr(3), text.substr(1));
  }
  if (text.empty()) return false;
  bool same = pattern[0] == '_' || std::tolower(static_cast<unsigned char>(pattern[0])) ==
                                       std::tolower(static_cast<unsigned char>(text[0]));
  return same && Matches(pattern.substr(1), text.substr(1));
}

// The procedures (and functions) of the current database, each group's
// name once per number, in name and number order.
std::vector<std::pair<std::string, int>> ProcedureNames(Session& session) {
  std::vector<std::pair<std::string, int>> names;
  sqlite3* db = session.Connection().Handle();
  auto exists = catalog::Prepare(db, "SELECT 1 FROM sqlite_master WHERE name = ?");
  sqlite3_bind_text(exists.get(), 1, catalog::kProceduresTable, -1, SQLITE_STATIC);
  if (sqlite3_step(exists.get()) != SQLITE_ROW) return names;
  auto query = catalog::Prepare(db, std::string("SELECT name FROM ") +
                                        catalog::kProceduresTable + " ORDER BY " +
                                        GroupNameSql("name") + ", " + GroupNumberSql("name"));
  while (sqlite3_step(query.get()) == SQLITE_ROW)
    names.push_back(GroupMemberOf(catalog::ColumnText(query.get(), 0)));
  return names;
}
// The rights bits PERMISSIONS(id) gives the current user on `object` of
// sysobjects type `xtype` in the current database.
int CurrentObjectBits(Session& session, const std::string& object, std::string_view xtype) {
  std::vector<std::string> columns;
  if (xtype == "U" || xtype == "V") {
    auto info = catalog::Prepare(session.Connection().Handle(),
                                 "SELECT name FROM pragma_table_xinfo(?, 'main')");
    sqlite3_bind_text(info.get(), 1, object.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(info.get()) == SQLITE_ROW) columns.push_back(catalog::ColumnText(info.get(), 0));
  }
  return ObjectPermissionBits(session.Rights().InCurrent(), object, xtype, columns, std::nullopt)
      .value_or(0);
}

// What the catalog procedures list, as SQL Server's sp_server_info promises
// (ACCESSIBLE_TABLES and ACCESSIBLE_SPROC are 'Y'): a table or view the user
// may SELECT from (some column of it will do), a procedure the user may run.
bool MayQuery(Session& session, const std::string& object, bool view) {
  return (CurrentObjectBits(session, object, view ? "V" : "U") & 0x1001) != 0;
}
bool MayExecute(Session& session, const std::string& procedure) {
  return (CurrentObjectBits(session, procedure, "P") & 0x20) != 0;
}

void SprocColumns(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args(
      "sp_sproc_columns", given,
      {"@procedure_name", "@procedure_owner", "@procedure_qualifier", "@column_name", "@odbcver"});
  std::string pattern = args[0].value_or("%");
  std::string columns = args[3].value_or("%");
  bool odbc3 = args[4].value_or("2") == "3";
  ResultBuilder result({{"PROCEDURE_QUALIFIER", Text(128)},
                        {"PROCEDURE_OWNER", Text(128)},
                        {"PROCEDURE_NAME", Text(134)},
                        {"COLUMN_NAME", Text(128)},
                        {"COLUMN_TYPE", Small()},
                        {"DATA_TYPE", Small()},
                        {"TYPE_NAME", Text(128)},
                        {"PRECISION", Integer()},
                        {"LENGTH", Integer()},
                        {"SCALE", Small()},
                        {"RADIX", Small()},
                        {"NULLABLE", Small()},
                        {"REMARKS", ColumnType{SqlType::kVarChar, 254}},
                        {"COLUMN_DEF", Text(4000)},
                        {"SQL_DATA_TYPE", Small()},
                        {"SQL_DATETIME_SUB", Small()},
                        {"CHAR_OCTET_LENGTH", Integer()},
                        {"ORDINAL_POSITION", Integer()},
                        {"IS_NULLABLE", ColumnType{SqlType::kVarChar, 254}},
                        {"SS_DATA_TYPE", ColumnType{SqlType::kTinyInt}}});
  std::string qualifier = session.CurrentDatabase();
  for (const auto& procedure : ProcedureNames(session)) {
    const std::string& name = procedure.first;
    const int number = procedure.second;
    if (!Matches(pattern, name) || !OwnerListed(session, args[1], pattern, name) ||
        !InThisDatabase(session, args[2]) || !MayExecute(session, name))
      continue;
    std::string owner = ObjectOwner(session, name);
    tsql::DottedName named;
    named.parts = {owner, name};
    std::optional<tsql::ProcedureDefinition> definition = FindProcedure(session, named, number);
    if (!definition) continue;
    auto add = [&](const std::string& column, int column_type, const ColumnType& type, int ordinal,
                   bool nullable) {
      if (!Matches(columns, column)) return;
      OdbcType odbc = Describe(type, odbc3, nullable);
      result.Add({qualifier,
                  owner,
                  name + ";" + std::to_string(number),
                  column,
                  std::int64_t{column_type},
                  std::int64_t{odbc.data_type},
                  odbc.type_name,
                  odbc.precision,
                  odbc.length,
                  odbc.scale,
                  odbc.radix,
                  std::int64_t{nullable ? 1 : 0},
                  Value{},
                  Value{},
                  std::int64_t{odbc.sql_data_type},
                  odbc.datetime_sub,
                  odbc.octet_length,
                  std::int64_t{ordinal},
                  std::string(nullable ? "YES" : "NO"),
                  std::int64_t{odbc.ss_data_type}});
    };
    add("@RETURN_VALUE", 5, ColumnType{SqlType::kInt}, 0, false);
    for (size_t k = 0; k < definition->parameters.size(); ++k) {
      const tsql::ParameterDeclaration& parameter = definition->parameters[k];
      add(parameter.name, parameter.output ? 2 : 1, parameter.type, static_cast<int>(k + 1), true);
    }
  }
  result.Send(sink);
}

void StoredProcedures(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_stored_procedures", given, {"@sp_name", "@sp_owner", "@sp_qualifier"});
  std::string pattern = args[0].value_or("%");
  ResultBuilder result({{"PROCEDURE_QUALIFIER", Text(128)},
                        {"PROCEDURE_OWNER", Text(128)},
                        {"PROCEDURE_NAME", Text(134)},
                        {"NUM_INPUT_PARAMS", Integer()},
                        {"NUM_OUTPUT_PARAMS", Integer()},
                        {"NUM_RESULT_SETS", Integer()},
                        {"REMARKS", ColumnType{SqlType::kVarChar, 254}},
                        {"PROCEDURE_TYPE", Small()}});
  for (const auto& procedure : ProcedureNames(session)) {
    const std::string& name = procedure.first;
    const int number = procedure.second;
    if (!Matches(pattern, name) || !OwnerListed(session, args[1], pattern, name) ||
        !InThisDatabase(session, args[2]) || !MayExecute(session, name))
      continue;
    result.Add({session.CurrentDatabase(), ObjectOwner(session, name),
                name + ";" + std::to_string(number), std::int64_t{-1},
                std::int64_t{-1}, std::int64_t{-1}, Value{}, std::int64_t{2}});
  }
  result.Send(sink);
}

// In tempdb, every session's #temp tables by the names tempdb's catalog
// gives them, in order.
std::vector<std::string> TempTableCatalogNames(Session& session) {
  sqlite3* db = session.Connection().Handle();
  std::vector<std::string> names;
  auto query = catalog::Prepare(
      db, "SELECT catalog_name FROM " + TempTablesSql(HasTempObjects(db)) +
              " t UNION ALL SELECT json_extract(e.value, '$[0]') FROM "
              "json_each(sqlengine_temp_tables_elsewhere(), '$.sysobjects') e "
              "WHERE json_extract(e.value, '$[2]') = 'U'");
  while (sqlite3_step(query.get()) == SQLITE_ROW)
    names.push_back(catalog::ColumnText(query.get(), 0));
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return tsql::ToLower(a) < tsql::ToLower(b);
  });
  return names;
}

void Tables(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_tables", given,
                 {"@table_name", "@table_owner", "@table_qualifier", "@table_type"});
  std::string pattern = args[0].value_or("%");
  // A list such as 'TABLE','VIEW' (quotes optional); none means every type.
  std::vector<std::string> types;
  if (args[3]) {
    std::string item;
    for (char c : *args[3] + ",") {
      if (c == ',') {
        types.push_back(item);
        item.clear();
      } else if (c != '\'' && !(c == ' ' && item.empty())) {
        item.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
      }
    }
    for (std::string& type : types) type.erase(type.find_last_not_of(' ') + 1);
  }
  auto wanted = [&](std::string_view type) {
    return types.empty() || std::find(types.begin(), types.end(), type) != types.end();
  };
  ResultBuilder result({{"TABLE_QUALIFIER", Text(128)},
                        {"TABLE_OWNER", Text(128)},
                        {"TABLE_NAME", Text(128)},
                        {"TABLE_TYPE", Text(32)},
                        {"REMARKS", ColumnType{SqlType::kVarChar, 254}}});
  // In SQL Server's order: by type, then name.
  if (wanted("SYSTEM TABLE")) {
    std::vector<std::string> names;
    for (const SystemTable& table : SystemTablesOf(session.CurrentDatabase()))
      names.emplace_back(table.name);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (Matches(pattern, name) && (!args[1] || Matches(*args[1], "dbo")) &&
          InThisDatabase(session, args[2]))
        result.Add({session.CurrentDatabase(), std::string("dbo"), name, "SYSTEM TABLE", Value{}});
    }
  }
  for (bool views : {false, true}) {
    std::string type = views ? "VIEW" : "TABLE";
    if (!wanted(type)) continue;
    // By owner, then name, within each type.
    std::vector<std::pair<std::string, std::string>> listed;  // owner, name
    // tempdb lists the #temp tables (dbo's, whoever made them) to those who
    // may read any table of dbo's there.
    if (!views && tsql::EqualsIgnoreCase(session.CurrentDatabase(), "tempdb") &&
        InThisDatabase(session, args[2]) && (!args[1] || Matches(*args[1], "dbo"))) {
      for (const std::string& name : TempTableCatalogNames(session)) {
        if (Matches(pattern, name) && (CurrentObjectBits(session, name, "U") & 0x1001) != 0)
          listed.emplace_back("dbo", name);
      }
    }
    for (const std::string& name : UserTableNames(session, views)) {
      if (!Matches(pattern, name) || !InThisDatabase(session, args[2]) ||
          !MayQuery(session, name, views))
        continue;
      if (OwnerListed(session, args[1], pattern, name))
        listed.emplace_back(ObjectOwner(session, name), name);
    }
    std::stable_sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
      return tsql::ToLower(a.first) < tsql::ToLower(b.first);
    });
    for (auto& [owner, name] : listed)
      result.Add({session.CurrentDatabase(), owner, name, type, Value{}});
  }
  result.Send(sink);
}

// sp_pkeys table: the table's primary key columns in key order (no rows for
// a table without one, or none the caller may read).
void PrimaryKeys(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_pkeys", given, {"@table_name", "@table_owner", "@table_qualifier"});
  std::string wanted = args.Required(0, "sp_pkeys", "@table_name");
  ResultBuilder result({{"TABLE_QUALIFIER", Text(128)},
                        {"TABLE_OWNER", Text(128)},
                        {"TABLE_NAME", Text(128)},
                        {"COLUMN_NAME", Text(128)},
                        {"KEY_SEQ", Small()},
                        {"PK_NAME", Text(128)}});
  sqlite3* db = session.Connection().Handle();
  if (std::optional<std::string> table = NamedTable(session, wanted, args[1], args[2])) {
    for (const TableConstraint& key : ReadTableConstraints(db, "main", *table)) {
      if (key.xtype != "PK") continue;
      std::int64_t sequence = 0;
      for (const std::string& column : key.columns) {
        result.Add({session.CurrentDatabase(), ObjectOwner(session, *table), *table, column,
                    ++sequence,
                    key.name});
      }
    }
  }
  result.Send(sink);
}

void Columns(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_columns", given,
                 {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@odbcver"});
  std::string pattern = args.Required(0, "sp_columns", "@table_name");
  std::string column_pattern = args[3].value_or("%");
  bool odbc3 = args[4].value_or("2") == "3";
  ResultBuilder result({{"TABLE_QUALIFIER", Text(128)},
                        {"TABLE_OWNER", Text(128)},
                        {"TABLE_NAME", Text(128)},
                        {"COLUMN_NAME", Text(128)},
                        {"DATA_TYPE", Small()},
                        {"TYPE_NAME", Text(128)},
                        {"PRECISION", Integer()},
                        {"LENGTH", Integer()},
                        {"SCALE", Small()},
                        {"RADIX", Small()},
                        {"NULLABLE", Small()},
                        {"REMARKS", ColumnType{SqlType::kVarChar, 254}},
                        {"COLUMN_DEF", Text(4000)},
                        {"SQL_DATA_TYPE", Small()},
                        {"SQL_DATETIME_SUB", Small()},
                        {"CHAR_OCTET_LENGTH", Integer()},
                        {"ORDINAL_POSITION", Integer()},
                        {"IS_NULLABLE", ColumnType{SqlType::kVarChar, 254}},
                        {"SS_DATA_TYPE", ColumnType{SqlType::kTinyInt}}});
  auto add = [&](const std::string& owner, const std::string& table, const std::string& column,
                 const OdbcType& odbc, bool nullable, const Value& fallback, int ordinal) {
    result.Add({session.CurrentDatabase(), owner, table, column, std::int64_t{odbc.data_type},
                odbc.type_name, odbc.precision, odbc.length, odbc.scale, odbc.radix,
                std::int64_t{nullable ? 1 : 0}, Value{}, fallback,
                std::int64_t{odbc.sql_data_type}, odbc.datetime_sub, odbc.octet_length,
                std::int64_t{ordinal}, std::string(nullable ? "YES" : "NO"),
                std::int64_t{odbc.ss_data_type}});
  };
  // The system tables first (dbo's), their columns as SQL Server declares them.
  for (const SystemTable& system : SystemTablesOf(session.CurrentDatabase())) {
    std::string table(system.name);
    if (!Matches(pattern, table) || (args[1] && !Matches(*args[1], "dbo")) ||
        !InThisDatabase(session, args[2]))
      continue;
    int ordinal = 0;
    for (const CatalogViewColumn& column : CatalogViewColumns(table)) {
      ++ordinal;
      if (!Matches(column_pattern, column.name)) continue;
      ColumnType type =
          tsql::ParseDeclaredType(column.type).value_or(ColumnType{SqlType::kSqlVariant});
      OdbcType odbc = Describe(type, odbc3, column.nullable);
      if (tsql::EqualsIgnoreCase(column.type, "sysname")) odbc.type_name = "sysname";
      add("dbo", table, std::string(column.name), odbc, column.nullable, Value{}, ordinal);
    }
  }
  sqlite3* db = session.Connection().Handle();
  // The columns of `table` of SQLite schema `schema`, listed under the name
  // `shown`.
  auto table_columns = [&](const std::string& table, const std::string& shown,
                           const std::string& owner, const std::string& schema, bool views) {
    auto info = catalog::Prepare(
        db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1, ?2)");
    sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    std::string table_sql = StoredTableSql(db, schema, table);
    // A view's columns have the types its query gives them.
    std::optional<std::vector<ColumnType>> view_types;
    if (views) view_types = ViewColumnTypes(db, schema, StoredViewSql(db, schema, table));
    // A column's default reads as its DEFAULT constraint was written, not
    // as the engine stores it (an exact number as its scaled integer).
    std::vector<TableConstraint> defaults;
    if (!views) {
      for (TableConstraint& c : ReadTableConstraints(db, schema, table)) {
        if (c.xtype == "D" && !c.columns.empty()) defaults.push_back(std::move(c));
      }
    }
    int ordinal = 0;
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
      ++ordinal;
      std::string column = catalog::ColumnText(info.get(), 0);
      if (!Matches(column_pattern, column)) continue;
      std::string declared = catalog::ColumnText(info.get(), 1);
      int primary_key = sqlite3_column_int(info.get(), 4);
      ColumnType type = StoredColumnType(declared, primary_key, table_sql)
                            .value_or(ColumnType{SqlType::kSqlVariant});
      bool nullable = sqlite3_column_int(info.get(), 2) == 0 && primary_key == 0 &&
                      !type.row_version;
      if (view_types && static_cast<size_t>(ordinal) <= view_types->size()) {
        type = (*view_types)[static_cast<size_t>(ordinal) - 1];
        nullable = type.nullable && !type.row_version;
      }
      Value fallback = sqlite3_column_type(info.get(), 3) == SQLITE_NULL
                           ? Value{}
                           : Value(catalog::ColumnText(info.get(), 3));
      for (const TableConstraint& c : defaults) {
        if (tsql::EqualsIgnoreCase(c.columns.front(), column)) fallback = c.text;
      }
      OdbcType odbc = Describe(type, odbc3, nullable);
      // The identity column is the table's rowid.
      if (primary_key == 1 && tsql::EqualsIgnoreCase(declared, "INTEGER"))
        odbc.type_name += " identity";
      add(owner, shown, column, odbc, nullable, fallback, ordinal);
    }
  };
  // In tempdb, the session's #temp table the name gives, under its catalog name.
  if (tsql::EqualsIgnoreCase(session.CurrentDatabase(), "tempdb") &&
      (!args[1] || Matches(*args[1], "dbo")) && InThisDatabase(session, args[2])) {
    if (std::optional<NamedTempTable> temp = FindTempTable(db, pattern))
      table_columns(temp->name, temp->entry.catalog_name, "dbo", "temp", false);
  }
  for (bool views : {false, true}) {
    for (const std::string& table : UserTableNames(session, views)) {
      if (!Matches(pattern, table) || !OwnerListed(session, args[1], pattern, table) ||
          !InThisDatabase(session, args[2]))
        continue;
      table_columns(table, table, ObjectOwner(session, table), "main", views);
    }
  }
  result.Send(sink);
}

// sp_special_columns table [, owner, qualifier, col_type]: for 'R' (the
// default) the columns that best identify a row (the primary key's, else the
// first unique index's whose columns take no NULL); for 'V' the timestamp
// column, which changes whenever the row does.
void SpecialColumns(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_special_columns", given,
                 {"@table_name", "@table_owner", "@table_qualifier", "@col_type", "@scope",
                  "@nullable", "@odbcver"});
  std::string wanted = args.Required(0, "sp_special_columns", "@table_name");
  bool versions = tsql::EqualsIgnoreCase(args[3].value_or("R"), "V");
  bool odbc3 = args[6].value_or("2") == "3";
  ResultBuilder result({{"SCOPE", Small()},
                        {"COLUMN_NAME", Text(128)},
                        {"DATA_TYPE", Small()},
                        {"TYPE_NAME", Text(128)},
                        {"PRECISION", Integer()},
                        {"LENGTH", Integer()},
                        {"SCALE", Small()},
                        {"PSEUDO_COLUMN", Small()}});
  sqlite3* db = session.Connection().Handle();
  if (std::optional<std::string> named = NamedTable(session, wanted, args[1], args[2])) {
    const std::string& table = *named;
    std::map<std::string, std::pair<ColumnType, bool>> columns;  // lower name -> type, nullable
    auto info = catalog::Prepare(db, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)");
    sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::string table_sql = StoredTableSql(db, "main", table);
    std::vector<std::string> row_versions;
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
      std::string name = catalog::ColumnText(info.get(), 0);
      ColumnType type = StoredColumnType(catalog::ColumnText(info.get(), 1),
                                         sqlite3_column_int(info.get(), 3), table_sql)
                            .value_or(ColumnType{SqlType::kSqlVariant});
      bool nullable = sqlite3_column_int(info.get(), 2) == 0 &&
                      sqlite3_column_int(info.get(), 3) == 0 && !type.row_version;
      if (type.row_version) row_versions.push_back(name);
      columns[tsql::ToLower(name)] = {type, nullable};
    }
    std::vector<std::string> chosen;
    Value scope;
    if (versions) {
      chosen = row_versions;
    } else {
      scope = std::int64_t{0};  // SQL_SCOPE_CURROW
      for (const TableIndex& index : IndexesOf(db, table)) {
        if (!index.unique || (!chosen.empty() && index.key_kind != "PK")) continue;
        bool all_required = true;
        std::vector<std::string> names;
        for (const IndexColumn& column : index.columns) {
          auto found = columns.find(tsql::ToLower(column.name));
          all_required = all_required && found != columns.end() && !found->second.second;
          names.push_back(column.name);
        }
        if (all_required || index.key_kind == "PK") chosen = names;
        if (index.key_kind == "PK") break;
      }
    }
    for (const std::string& name : chosen) {
      const ColumnType& type = columns[tsql::ToLower(name)].first;
      OdbcType odbc = Describe(type, odbc3, columns[tsql::ToLower(name)].second);
      result.Add({scope, name, std::int64_t{odbc.data_type}, odbc.type_name, odbc.precision,
                  odbc.length, odbc.scale, std::int64_t{1}});  // SQL_PC_NOT_PSEUDO
    }
  }
  result.Send(sink);
}

std::int64_t SizeInKilobytes(Session& session, const catalog::DatabaseEntry& entry) {
  std::filesystem::path data = session.Engine().DataFileOf(entry);
  std::error_code ignored;
  auto bytes = std::filesystem::file_size(data, ignored);
  auto log = std::filesystem::file_size(catalog::LogFileFor(data), ignored);
  return static_cast<std::int64_t>(((ignored ? 0 : log) + bytes) / 1024);
}

void Databases(Session& session, ResultSink& sink) {
  ResultBuilder result({{"DATABASE_NAME", Text(128)},
                        {"DATABASE_SIZE", Integer()},
                        {"REMARKS", ColumnType{SqlType::kVarChar, 254}}});
  for (const catalog::DatabaseEntry& entry : session.Engine().Catalog().Databases()) {
    result.Add({entry.name, SizeInKilobytes(session, entry), Value{}});
  }
  result.Send(sink);
}

void HelpDb(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_helpdb", given, {"@dbname"});
  ResultBuilder result({{"name", Text(128)},
                        {"db_size", Text(13)},
                        {"owner", Text(128)},
                        {"dbid", Small()},
                        {"created", Text(11)},
                        {"status", Text(600)},
                        {"compatibility_level", ColumnType{SqlType::kTinyInt}}});
  bool found = false;
  for (const catalog::DatabaseEntry& entry : session.Engine().Catalog().Databases()) {
    if (args[0] && !tsql::EqualsIgnoreCase(*args[0], entry.name)) continue;
    found = true;
    char size[32];
    std::snprintf(size, sizeof size, "%10.2f MB",
                  static_cast<double>(SizeInKilobytes(session, entry)) / 1024.0);
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int year = 0, month = 1, day = 1;
    std::sscanf(entry.crdate.c_str(), "%d-%d-%d", &year, &month, &day);
    char created[16];
    std::snprintf(created, sizeof created, "%s %2d %d", kMonths[(month + 11) % 12], day, year);
    result.Add({entry.name, std::string(size),
                std::string(entry.owner_sid == Bytes{1} ? "sa" : "dbo"),
                static_cast<std::int64_t>(entry.dbid), std::string(created),
                std::string("Status=ONLINE, Updateability=READ_WRITE, UserAccess=MULTI_USER, "
                            "Recovery=FULL, Version=539, Collation=SQL_Latin1_General_CP1_CI_AS"),
                static_cast<std::int64_t>(entry.cmptlevel)});
  }
  if (args[0] && !found) throw MakeError(15010, {*args[0]});
  result.Send(sink);
  if (args[0]) SendDatabaseFiles(session, *session.Engine().FindDatabase(*args[0]), sink);
}

}  // namespace

bool CatalogPatternMatches(std::string_view pattern, std::string_view text) {
  return Matches(pattern, text);
}

std::vector<std::string> UserTableNames(Session& session, bool views) {
  std::vector<std::string> names;
  auto query = catalog::Prepare(session.Connection().Handle(),
                                std::string("SELECT name FROM sqlite_master WHERE type = '") +
                                    (views ? "view" : "table") +
                                    "' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                    "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' ORDER BY name");
  while (sqlite3_step(query.get()) == SQLITE_ROW)
    names.push_back(catalog::ColumnText(query.get(), 0));
  return names;
}

std::string ObjectOwner(Session& session, std::string_view object) {
  return OwnerNameOf(session.Rights().InCurrent().Security(), object);
}

bool InThisDatabase(Session& session, const std::optional<std::string>& qualifier) {
  return !qualifier || tsql::EqualsIgnoreCase(*qualifier, session.CurrentDatabase());
}

bool OwnerMatches(Session& session, const std::optional<std::string>& owner,
                  std::string_view object) {
  return !owner || Matches(*owner, ObjectOwner(session, object));
}

bool OwnerListed(Session& session, const std::optional<std::string>& owner,
                 std::string_view pattern, const std::string& object) {
  if (owner) return Matches(*owner, ObjectOwner(session, object));
  return pattern.find('%') != std::string_view::npos || ReachesAsWritten(session, "", "", object);
}

std::optional<std::string> NamedTable(Session& session, std::string_view wanted,
                                      const std::optional<std::string>& owner,
                                      const std::optional<std::string>& qualifier) {
  if (!InThisDatabase(session, qualifier)) return std::nullopt;
  for (const std::string& table : UserTableNames(session, false)) {
    if (tsql::EqualsIgnoreCase(table, wanted) && OwnerListed(session, owner, wanted, table) &&
        session.MayRead("main", table))
      return table;
  }
  return std::nullopt;
}

bool RunCatalogProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink) {
  if (name == "sp_sproc_columns") {
    SprocColumns(session, arguments, sink);
  } else if (name == "sp_stored_procedures") {
    StoredProcedures(session, arguments, sink);
  } else if (name == "sp_tables") {
    Tables(session, arguments, sink);
  } else if (name == "sp_columns") {
    Columns(session, arguments, sink);
  } else if (name == "sp_pkeys") {
    PrimaryKeys(session, arguments, sink);
  } else if (name == "sp_fkeys") {
    ForeignKeys(session, arguments, sink);
  } else if (name == "sp_statistics") {
    Statistics(session, arguments, sink);
  } else if (name == "sp_special_columns") {
    SpecialColumns(session, arguments, sink);
  } else if (name == "sp_databases") {
    Databases(session, sink);
  } else if (name == "sp_helpdb") {
    HelpDb(session, arguments, sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
