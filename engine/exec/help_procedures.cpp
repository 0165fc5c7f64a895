#include "engine/exec/help_procedures.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/catalog_procedures.h"
#include "engine/exec/catalog_view_columns.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/column_collation.h"
#include "engine/exec/constraint_help.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/index_names.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/session.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/table_indexes.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/triggers.h"
#include "engine/exec/user_types.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kCollation = "SQL_Latin1_General_CP1_CI_AS";

ColumnType Name() { return ColumnType{SqlType::kNVarChar, 128}; }
ColumnType Text(int length) { return ColumnType{SqlType::kVarChar, length}; }
ColumnType Integer() { return ColumnType{SqlType::kInt}; }
ColumnType Digits() { return ColumnType{SqlType::kChar, 5}; }

// The bytes SQL Server stores a value of `type` in, as sp_help's Length.
std::int64_t StorageLength(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kTinyInt:
    case SqlType::kBit:
      return 1;
    case SqlType::kSmallInt:
      return 2;
    case SqlType::kInt:
    case SqlType::kReal:
    case SqlType::kSmallMoney:
    case SqlType::kSmallDateTime:
      return 4;
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kMoney:
    case SqlType::kDateTime:
      return 8;
    case SqlType::kDecimal:
      return type.precision <= 9 ? 5 : type.precision <= 19 ? 9 : type.precision <= 28 ? 13 : 17;
    case SqlType::kUniqueIdentifier:
    case SqlType::kText:
    case SqlType::kNText:
    case SqlType::kImage:
      return 16;
    case SqlType::kNChar:
    case SqlType::kNVarChar:
      return type.length == kMaxLength ? -1 : type.length * 2;
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kBinary:
    case SqlType::kVarBinary:
      return type.length == kMaxLength ? -1 : type.length;
    default:
      return 8016;
  }
}

// sp_help's Prec and Scale: digits for numbers, blanks for the rest.
std::pair<Value, Value> PrecisionAndScale(const ColumnType& type) {
  auto padded = [](int n) {
    std::string text = std::to_string(n);
    return Value(text + std::string(text.size() < 5 ? 5 - text.size() : 0, ' '));
  };
  const Value blank = Value(std::string("     "));
  switch (type.type) {
    case SqlType::kTinyInt:
      return {padded(3), padded(0)};
    case SqlType::kSmallInt:
      return {padded(5), padded(0)};
    case SqlType::kInt:
      return {padded(10), padded(0)};
    case SqlType::kBigInt:
      return {padded(19), padded(0)};
    case SqlType::kBit:
      return {padded(1), padded(0)};
    case SqlType::kReal:
      return {padded(24), blank};
    case SqlType::kFloat:
      return {padded(53), blank};
    case SqlType::kMoney:
      return {padded(19), padded(4)};
    case SqlType::kSmallMoney:
      return {padded(10), padded(4)};
    case SqlType::kDecimal:
      return {padded(type.precision), padded(type.scale)};
    default:
      return {blank, blank};
  }
}

bool IsCharacter(const ColumnType& type) { return tsql::IsCharacterType(type.type); }

// A parameter's Prec and Scale in sp_help, as ODBC describes the type:
// digits for numbers (with no scale for approximate ones), characters for
// strings, bytes for binary, the whole character count for text types.
std::pair<Value, Value> ParameterPrecisionAndScale(const ColumnType& type) {
  auto digits = [](std::int64_t precision, std::optional<int> scale) {
    return std::pair<Value, Value>(precision, scale ? Value(std::int64_t{*scale}) : Value{});
  };
  ColumnType exact = tsql::bind::AsDecimal(type);
  if (exact.type == SqlType::kDecimal) return digits(exact.precision, exact.scale);
  switch (type.type) {
    case SqlType::kReal:
      return digits(24, std::nullopt);
    case SqlType::kFloat:
      return digits(53, std::nullopt);
    case SqlType::kDateTime:
      return digits(23, 3);
    case SqlType::kSmallDateTime:
      return digits(16, 0);
    case SqlType::kText:
    case SqlType::kImage:
      return digits(2147483647, std::nullopt);
    case SqlType::kNText:
      return digits(1073741823, std::nullopt);
    case SqlType::kUniqueIdentifier:
      return digits(0, std::nullopt);
    default:
      // Strings and binary: their declared length, in characters or bytes.
      return digits(tsql::IsCharacterType(type.type) || type.type == SqlType::kBinary ||
                            type.type == SqlType::kVarBinary
                        ? type.length
                        : StorageLength(type),
                    std::nullopt);
  }
}

std::string Unbracketed(std::string_view written) {
  tsql::DottedName name = tsql::ReadWrittenName(written);
  return name.parts.empty() ? std::string(written) : name.Last();
}

struct ObjectRow {
  std::string name;
  std::string xtype;
  Value created;
};

// The current database's objects as sp_help names their kinds, ordered as
// SQL Server orders them (kind descending, then name).
// An object's kind as SQL Server's procedures word it (master's spt_values
// type 'O9T'), by its sysobjects xtype.
std::string KindName(std::string_view xtype) {
  static constexpr std::pair<std::string_view, std::string_view> kKinds[] = {
      {"C", "check cns"},         {"D", "default (maybe cns)"},
      {"F", "foreign key cns"},   {"FN", "scalar function"},
      {"IF", "inlined function"}, {"L", "log"},
      {"P", "stored procedure"},  {"PK", "primary key cns"},
      {"R", "rule"},              {"RF", "replication filter proc"},
      {"S", "system table"},      {"TF", "table function"},
      {"TR", "trigger"},          {"U", "user table"},
      {"UQ", "unique key cns"},   {"V", "view"},
      {"X", "extended stored proc"}};
  for (auto [code, kind] : kKinds) {
    if (code == xtype) return std::string(kind);
  }
  return "";
}

std::vector<ObjectRow> Objects(sqlite3* db) {
  std::vector<ObjectRow> rows;
  auto tables = catalog::Prepare(
      db,
      "SELECT name, CASE type WHEN 'view' THEN 'V' ELSE 'U' END FROM main.sqlite_master "
      "WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
      "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\'");
  while (sqlite3_step(tables.get()) == SQLITE_ROW) {
    rows.push_back(
        {catalog::ColumnText(tables.get(), 0), catalog::ColumnText(tables.get(), 1), {}});
  }
  if (HasTable(db, catalog::kObjectsTable)) {
    auto others =
        catalog::Prepare(db, std::string("SELECT name, xtype, crdate FROM main.") +
                                 catalog::kObjectsTable +
                                 " WHERE xtype IN ('P', 'TR', 'R', 'D', 'FN', 'IF', 'TF')");
    while (sqlite3_step(others.get()) == SQLITE_ROW) {
      rows.push_back({catalog::ColumnText(others.get(), 0), catalog::ColumnText(others.get(), 1),
                      Value(catalog::ColumnText(others.get(), 2))});
    }
    for (ObjectRow& row : rows) {
      if (!IsNull(row.created)) continue;
      auto created = catalog::Prepare(
          db, std::string("SELECT crdate FROM main.") + catalog::kObjectsTable + " WHERE name = ?");
      sqlite3_bind_text(created.get(), 1, row.name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(created.get()) == SQLITE_ROW) {
        row.created = Value(catalog::ColumnText(created.get(), 0));
      }
    }
  }
  std::sort(rows.begin(), rows.end(), [](const ObjectRow& a, const ObjectRow& b) {
    std::string ka = KindName(a.xtype), kb = KindName(b.xtype);
    if (ka != kb) return ka > kb;
    return tsql::ToLower(a.name) < tsql::ToLower(b.name);
  });
  return rows;
}

// The user types' set; its first column is "Type_name" for one named type,
// "User_type" in the list of all.
ResultBuilder TypeRows(const std::vector<UserType>& types, std::string first = "Type_name") {
  ResultBuilder result({{std::move(first), Name()},
                        {"Storage_type", Name()},
                        {"Length", Integer()},
                        {"Prec", Digits()},
                        {"Scale", Digits()},
                        {"Nullable", Text(35)},
                        {"Default_name", Name()},
                        {"Rule_name", Name()},
                        {"Collation", Name()}});
  for (const UserType& type : types) {
    ColumnType base = tsql::ParseDeclaredType(type.base).value_or(ColumnType{});
    auto [precision, scale] = PrecisionAndScale(base);
    result.Add({type.name, std::string(tsql::DeclaredTypeName(base)), StorageLength(base), precision,
                scale, std::string(type.nullable ? "yes" : "no"),
                Value(type.default_name.empty() ? std::string("none") : type.default_name),
                Value(type.rule.empty() ? std::string("none") : type.rule),
                IsCharacter(base) ? Value(std::string(kCollation)) : Value{}});
  }
  return result;
}

void Informational(ResultSink& sink, int number,
                   std::initializer_list<std::string_view> args = {}) {
  ServerMessage message = FormatMessage(number, args);
  sink.Message(message);
}

// sp_helpindex's rows for `table`: SQLite's indexes under the names and
// descriptions SQL Server gives its own.
ResultBuilder IndexRows(sqlite3* db, const std::string& table, bool* any,
                        const std::string& schema = "main") {
  ResultBuilder result({{"index_name", Name()},
                        {"index_description", Text(210)},
                        {"index_keys", ColumnType{SqlType::kNVarChar, 2078}}});
  std::vector<TableIndex> indexes = IndexesOf(db, table, schema);
  for (const TableIndex& index : indexes) {
    std::string keys;
    for (const IndexColumn& column : index.columns)
      keys += (keys.empty() ? "" : ", ") + column.name + (column.descending ? "(-)" : "");
    std::string description = std::string(index.clustered ? "clustered" : "nonclustered") +
                              (index.unique ? ", unique" : "") +
                              (index.key_kind == "PK"   ? ", primary key"
                               : index.key_kind == "UQ" ? ", unique key"
                                                        : "") +
                              " located on PRIMARY";
    result.Add({index.name, description, keys});
  }
  *any = !indexes.empty();
  return result;
}

// The system table of the current database `written` ('sysobjects',
// 'dbo.sysobjects') names, as SQL Server spells it; nullopt for another name.
std::optional<std::string> SystemTableNamed(Session& session, std::string_view written) {
  tsql::DottedName name = tsql::ReadWrittenName(written);
  if (name.parts.empty() || name.parts.size() > 2) return std::nullopt;
  if (name.parts.size() == 2 && !tsql::EqualsIgnoreCase(name.parts[0], "dbo")) return std::nullopt;
  for (const SystemTable& table : SystemTablesOf(session.Connection().Database())) {
    if (tsql::EqualsIgnoreCase(table.name, name.Last())) return std::string(table.name);
  }
  return std::nullopt;
}

// The session's #temp table `written` names, found only while tempdb is the
// current database, as SQL Server's procedures look names up in the
// current database's catalog.
std::optional<NamedTempTable> TempTableNamed(Session& session, std::string_view written) {
  if (!tsql::EqualsIgnoreCase(session.Connection().Database(), "tempdb")) return std::nullopt;
  return FindTempTable(session.Connection().Handle(), written);
}

void HelpIndex(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_helpindex", given, {"@objname"});
  std::string written = args.Required(0, "sp_helpindex", "@objname");
  sqlite3* db = session.Connection().Handle();
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  if (std::optional<NamedTempTable> temp = TempTableNamed(session, written)) {
    bool any = false;
    ResultBuilder rows = IndexRows(db, temp->name, &any, "temp");
    if (!any) return Informational(sink, 15472, {written});
    return rows.Send(sink);
  }
  // A system table's indexes are SQL Server's own, of which the engine
  // keeps no record.
  if (SystemTableNamed(session, written)) return Informational(sink, 15472, {written});
  std::string table = Unbracketed(written);
  auto find = catalog::Prepare(
      db,
      "SELECT name FROM main.sqlite_master WHERE type IN ('table', 'view') AND name = ? "
      "COLLATE NOCASE");
  sqlite3_bind_text(find.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW || !session.MayRead("main", table) ||
      !ArgumentReaches(session, written, table)) {
    throw MakeError(15009, {written, session.Connection().Database()});
  }
  table = catalog::ColumnText(find.get(), 0);
  bool any = false;
  ResultBuilder rows = IndexRows(db, table, &any);
  if (!any) {
    Informational(sink, 15472, {written});
    return;
  }
  rows.Send(sink);
}

// IDENT_SEED / IDENT_INCR of the table, as the identity result set's decimal.
Value IdentityNumber(sqlite3* db, const std::string& function, const std::string& table) {
  auto query = catalog::Prepare(db, "SELECT " + function + "(?)");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW ||
      sqlite3_column_type(query.get(), 0) == SQLITE_NULL) {
    return Decimal{1, 0};
  }
  return Decimal{static_cast<__int128>(sqlite3_column_int64(query.get(), 0)), 0};
}

// sp_help's row for a column of `type`, shown as `type_name`.
void AddColumnRow(ResultBuilder& columns, const std::string& name, const std::string& type_name,
                  const ColumnType& type, bool nullable, bool computed,
                  const std::string& collation, bool trims_trailing = false) {
  auto [precision, scale] = PrecisionAndScale(type);
  bool text = IsCharacter(type);
  bool variable = type.type == SqlType::kVarChar || type.type == SqlType::kNVarChar ||
                  type.type == SqlType::kVarBinary;
  columns.Add({name, type_name, std::string(computed ? "yes" : "no"), StorageLength(type),
               precision, scale, std::string(nullable ? "yes" : "no"),
               std::string(!(text || variable || type.type == SqlType::kBinary) ? "(n/a)"
                           : trims_trailing                                         ? "yes"
                                                                                    : "no"),
               std::string(variable || text ? (nullable ? "yes" : "no") : "(n/a)"),
               text ? Value(collation) : Value{}});
}

ResultBuilder ColumnRows() {
  return ResultBuilder({{"Column_name", Name()},
                         {"Type", Name()},
                         {"Computed", Text(35)},
                         {"Length", Integer()},
                         {"Prec", Digits()},
                         {"Scale", Digits()},
                         {"Nullable", Text(35)},
                         {"TrimTrailingBlanks", Text(35)},
                         {"FixedLenNullInSource", Text(35)},
                         {"Collation", Name()}});
}

ResultBuilder IdentityRows() {
  return ResultBuilder({{"Identity", Name()},
                        {"Seed", ColumnType{SqlType::kDecimal, 0, 38, 0}},
                        {"Increment", ColumnType{SqlType::kDecimal, 0, 38, 0}},
                        {"Not For Replication", Integer()}});
}

// The sets after a table's or view's columns: its identity column (`identity`
// holds its row, if any), its RowGuidCol (none here), and for a table its
// filegroup.
void SendIdentityAndPlace(ResultBuilder& identity, bool has_identity, bool table,
                          ResultSink& sink) {
  if (!has_identity) {
    identity.Add({std::string("No identity column defined."), Value{}, Value{}, Value{}});
  }
  identity.Send(sink);
  ResultBuilder rowguid({{"RowGuidCol", Name()}});
  rowguid.Add({std::string("No rowguidcol column defined.")});
  rowguid.Send(sink);
  if (!table) return;
  ResultBuilder filegroup({{"Data_located_on_filegroup", Name()}});
  filegroup.Add({std::string("PRIMARY")});
  filegroup.Send(sink);
}

// `schema`: "main", or "temp" for a #temp table.
void HelpTable(Session& session, sqlite3* db, const ObjectRow& object, ResultSink& sink,
               const std::string& schema = "main") {
  ResultBuilder columns = ColumnRows();
  ResultBuilder identity = IdentityRows();
  auto info = catalog::Prepare(
      db,
      "SELECT name, type, \"notnull\", pk, hidden FROM pragma_table_xinfo(?1, ?2) ORDER BY cid");
  sqlite3_bind_text(info.get(), 1, object.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  std::string table_sql = StoredTableSql(db, schema, object.name);
  std::vector<std::string> trimmed = AnsiTrimmedColumns(table_sql);
  // A view's columns have the types its query gives them.
  std::optional<std::vector<ColumnType>> view_types;
  if (object.xtype == "V")
    view_types = ViewColumnTypes(db, "main", StoredViewSql(db, "main", object.name));
  bool has_identity = false;
  for (size_t cid = 0; sqlite3_step(info.get()) == SQLITE_ROW; ++cid) {
    std::string name = catalog::ColumnText(info.get(), 0);
    std::string declared = catalog::ColumnText(info.get(), 1);
    bool rowid_identity =
        tsql::EqualsIgnoreCase(declared, "INTEGER") && sqlite3_column_int(info.get(), 3) == 1;
    ColumnType type = StoredColumnType(declared, sqlite3_column_int(info.get(), 3), table_sql)
                          .value_or(ColumnType{SqlType::kSqlVariant});
    bool nullable = sqlite3_column_int(info.get(), 2) == 0 &&
                    sqlite3_column_int(info.get(), 3) == 0 && !type.row_version;
    if (view_types && cid < view_types->size()) {
      type = (*view_types)[cid];
      nullable = type.nullable && !type.row_version;
    }
    std::string user_type = rowid_identity || schema != "main"
                                ? std::string()
                                : UserTypeOfColumn(db, object.name, name);
    std::string type_name(tsql::DeclaredTypeName(type));
    AddColumnRow(columns, name, user_type.empty() ? type_name : user_type, type, nullable,
                 // A computed column is a generated column (hidden 2).
                 sqlite3_column_int(info.get(), 4) >= 2,
                 IsCharacter(type) ? StoredColumnCollation(db, schema, object.name, name, type,
                                                           object.xtype == "V")
                                   : std::string(),
                 ListsColumn(trimmed, name));
    if (rowid_identity) {
      identity.Add({name, IdentityNumber(db, "ident_seed", object.name),
                    IdentityNumber(db, "ident_incr", object.name), std::int64_t{0}});
      has_identity = true;
    }
  }
  columns.Send(sink);
  SendIdentityAndPlace(identity, has_identity, object.xtype == "U", sink);
  if (object.xtype != "U") return;
  bool any = false;
  ResultBuilder indexes = IndexRows(db, object.name, &any, schema);
  if (any) {
    indexes.Send(sink);
  } else {
    Informational(sink, 15472, {object.name});
  }
  SendConstraintSets(db, session.Connection().Database(), object.name, sink, schema);
}

// sp_help of a system table of the current database: as for a table, its
// columns as SQL Server declares them (sysname shown as such). Its indexes
// are SQL Server's own, of which the engine keeps no record: not listed.
void HelpSystemTable(std::string_view name, ResultSink& sink) {
  ResultBuilder about({{"Name", Name()},
                       {"Owner", Name()},
                       {"Type", ColumnType{SqlType::kNVarChar, 31}},
                       {"Created_datetime", ColumnType{SqlType::kDateTime}}});
  about.Add({std::string(name), std::string("dbo"), KindName("S"),
             ConvertForType(std::string("1900-01-01 00:00:00.000"),
                            ColumnType{SqlType::kDateTime})});
  about.Send(sink);
  ResultBuilder columns = ColumnRows();
  for (const CatalogViewColumn& column : CatalogViewColumns(name)) {
    ColumnType type = tsql::ParseDeclaredType(column.type).value_or(ColumnType{});
    std::string type_name = tsql::EqualsIgnoreCase(column.type, "sysname")
                                ? std::string("sysname")
                                : std::string(tsql::DeclaredTypeName(type));
    AddColumnRow(columns, std::string(column.name), type_name, type, column.nullable, false,
                 IsCharacter(type) ? std::string(kCollation) : std::string());
  }
  columns.Send(sink);
  ResultBuilder identity = IdentityRows();
  SendIdentityAndPlace(identity, false, true, sink);
}

void HelpProcedure(Session& session, const ObjectRow& object, ResultSink& sink) {
  std::optional<tsql::ProcedureDefinition> definition = FindProcedure(session, object.name);
  if (!definition || definition->parameters.empty()) return;
  ResultBuilder parameters({{"Parameter_name", Name()},
                            {"Type", Name()},
                            {"Length", ColumnType{SqlType::kSmallInt}},
                            {"Prec", Integer()},
                            {"Scale", Integer()},
                            {"Param_order", Integer()},
                            {"Collation", Name()}});
  int order = 1;
  for (const tsql::ParameterDeclaration& parameter : definition->parameters) {
    const ColumnType& type = parameter.type;
    auto [precision, scale] = ParameterPrecisionAndScale(type);
    parameters.Add({parameter.name, std::string(tsql::DeclaredTypeName(type)), StorageLength(type),
                    precision, scale, std::int64_t{order++},
                    IsCharacter(type) ? Value(std::string(kCollation)) : Value{}});
  }
  parameters.Send(sink);
}

// Who owns an object sp_help lists: a trigger is its table's owner's.
std::string OwnerOfRow(Session& session, sqlite3* db, const ObjectRow& object) {
  std::string owned = object.name;
  if (object.xtype == "TR" && HasTable(db, kTriggersTable)) {
    auto table = catalog::Prepare(
        db, std::string("SELECT table_name FROM main.") + kTriggersTable + " WHERE name = ?");
    sqlite3_bind_text(table.get(), 1, object.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(table.get()) == SQLITE_ROW) owned = catalog::ColumnText(table.get(), 0);
  }
  return ObjectOwner(session, owned);
}

// sp_help without a name: every object sysobjects lists, the system tables,
// constraints and functions included, by kind (descending) then name.
void ListAllObjects(Session& session, ResultSink& sink) {
  std::optional<std::string> objects = session.Connection().CatalogView("", "sysobjects");
  struct Listed {
    std::string name, owner, kind;
  };
  std::vector<Listed> listed;
  auto query = catalog::Prepare(session.Connection().Handle(),
                                "SELECT o.name, o.uid, rtrim(o.xtype) FROM " + *objects + " o");
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::optional<std::string> owner =
        session.DatabaseUserName(sqlite3_column_int(query.get(), 1));
    listed.push_back({catalog::ColumnText(query.get(), 0), owner.value_or("dbo"),
                      KindName(catalog::ColumnText(query.get(), 2))});
  }
  std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
    if (a.kind != b.kind) return a.kind > b.kind;
    return tsql::ToLower(a.name) < tsql::ToLower(b.name);
  });
  ResultBuilder list(
      {{"Name", Name()}, {"Owner", Name()}, {"Object_type", ColumnType{SqlType::kNVarChar, 31}}});
  for (Listed& row : listed) list.Add({row.name, row.owner, row.kind});
  list.Send(sink);
}

void Help(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_help", given, {"@objname"});
  sqlite3* db = session.Connection().Handle();
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  std::vector<ObjectRow> objects = Objects(db);
  if (!args[0]) {
    ListAllObjects(session, sink);
    TypeRows(UserTypes(db), "User_type").Send(sink);
    return;
  }
  std::string wanted = Unbracketed(*args[0]);
  for (const ObjectRow& object : objects) {
    if (!tsql::EqualsIgnoreCase(object.name, wanted)) continue;
    if (!ArgumentReaches(session, *args[0], object.name)) break;
    if ((object.xtype == "U" || object.xtype == "V") && !session.MayRead("main", object.name)) {
      break;
    }
    ResultBuilder about({{"Name", Name()},
                         {"Owner", Name()},
                         {"Type", ColumnType{SqlType::kNVarChar, 31}},
                         {"Created_datetime", ColumnType{SqlType::kDateTime}}});
    about.Add({object.name, OwnerOfRow(session, db, object), KindName(object.xtype),
               ConvertForType(object.created, ColumnType{SqlType::kDateTime})});
    about.Send(sink);
    if (object.xtype == "U" || object.xtype == "V") HelpTable(session, db, object, sink);
    if (object.xtype == "P") HelpProcedure(session, object, sink);
    return;
  }
  if (std::optional<UserType> type = FindUserType(db, wanted)) {
    TypeRows({*type}).Send(sink);
    return;
  }
  if (std::optional<NamedTempTable> temp = TempTableNamed(session, *args[0])) {
    ObjectRow object{temp->name, "U",
                     ConvertForType(temp->entry.crdate, ColumnType{SqlType::kDateTime})};
    ResultBuilder about({{"Name", Name()},
                         {"Owner", Name()},
                         {"Type", ColumnType{SqlType::kNVarChar, 31}},
                         {"Created_datetime", ColumnType{SqlType::kDateTime}}});
    about.Add({temp->entry.catalog_name, std::string("dbo"), KindName("U"), object.created});
    about.Send(sink);
    HelpTable(session, db, object, sink, "temp");
    return;
  }
  if (std::optional<std::string> system = SystemTableNamed(session, *args[0])) {
    HelpSystemTable(*system, sink);
    return;
  }
  throw MakeError(15009, {*args[0], session.Connection().Database()});
}

// The CREATE text of a view, procedure or trigger; empty for a table.
std::string DefinitionOf(sqlite3* db, const ObjectRow& object) {
  std::string sql;
  if (object.xtype == "V") {
    sql = "SELECT sql FROM main.sqlite_master WHERE type = 'view' AND name = ?";
  } else if (object.xtype == "P" && HasTable(db, catalog::kProceduresTable)) {
    sql =
        std::string("SELECT definition FROM main.") + catalog::kProceduresTable + " WHERE name = ?";
  } else if (object.xtype == "TR" && HasTable(db, kTriggersTable)) {
    sql = std::string("SELECT definition FROM main.") + kTriggersTable + " WHERE name = ?";
  } else {
    return {};
  }
  auto query = catalog::Prepare(db, sql);
  sqlite3_bind_text(query.get(), 1, object.name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::string();
  std::string text = catalog::ColumnText(query.get(), 0);
  return object.xtype == "V" ? ViewTextAsWritten(text) : text;
}

// The names a definition mentions (lower case), and those it writes: the
// name after INSERT [INTO], UPDATE or DELETE [FROM].
struct Mentions {
  std::set<std::string> names;
  std::set<std::string> written;
};

Mentions MentionsOf(const std::string& definition) {
  Mentions mentions;
  tsql::Tokens tokens;
  try {
    tokens = tsql::LexClientText(definition);
  } catch (const SqlError&) {
    return mentions;
  }
  auto is_name = [&](size_t k) {
    return k < tokens.size() && (tokens[k].kind == tsql::TokenKind::kWord ||
                                 tokens[k].kind == tsql::TokenKind::kQuotedName);
  };
  // The tokens of a name with a database part (d..t, d.o.t): another
  // database's object, none of this one's.
  std::vector<bool> elsewhere(tokens.size(), false);
  for (size_t start = 0; start < tokens.size();) {
    size_t end = start;
    int parts = 0;
    while (end < tokens.size()) {
      if (is_name(end)) ++end;
      ++parts;
      if (end >= tokens.size() || !tokens[end].IsSymbol(".")) break;
      ++end;
    }
    if (parts >= 3)
      for (size_t k = start; k < end; ++k) elsewhere[k] = true;
    start = end > start ? end : start + 1;
  }
  for (size_t i = 0; i < tokens.size(); ++i) {
    const tsql::Token& token = tokens[i];
    if (!is_name(i) || elsewhere[i]) continue;
    std::string name = tsql::ToLower(token.value);
    mentions.names.insert(name);
    size_t back = i;
    while (back > 0 && (tokens[back - 1].IsSymbol(".") || tokens[back - 1].IsWord("dbo"))) --back;
    if (back > 0 && tokens[back - 1].IsAnyWord({"into", "from"}) && back > 1 &&
        tokens[back - 2].IsAnyWord({"insert", "delete"})) {
      mentions.written.insert(name);
    } else if (back > 0 && tokens[back - 1].IsAnyWord({"insert", "update", "delete"})) {
      mentions.written.insert(name);
    }
  }
  return mentions;
}

// sp_depends: what a view, procedure or trigger names of the database (for
// a table, each of its columns the text names), and which views, procedures
// and triggers name the object. Found from the objects' texts.
void Depends(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_depends", given, {"@objname"});
  std::string written = args.Required(0, "sp_depends", "@objname");
  sqlite3* db = session.Connection().Handle();
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  std::vector<ObjectRow> objects = Objects(db);
  std::string wanted = Unbracketed(written);
  const ObjectRow* target = nullptr;
  for (const ObjectRow& object : objects) {
    if (tsql::EqualsIgnoreCase(object.name, wanted) && object.xtype != "R" && object.xtype != "D") {
      target = &object;
    }
  }
  if (target == nullptr || !ArgumentReaches(session, written, target->name))
    throw MakeError(15009, {written, session.Connection().Database()});
  ResultBuilder uses({{"name", ColumnType{SqlType::kNVarChar, 257}},
                      {"type", ColumnType{SqlType::kNVarChar, 16}},
                      {"updated", ColumnType{SqlType::kNVarChar, 7}},
                      {"selected", ColumnType{SqlType::kNVarChar, 8}},
                      {"column", Name()}});
  ResultBuilder used_by({{"name", ColumnType{SqlType::kNVarChar, 257}},
                         {"type", ColumnType{SqlType::kNVarChar, 16}}});
  Mentions own = MentionsOf(DefinitionOf(db, *target));
  for (const ObjectRow& object : objects) {
    if (&object == target || object.xtype == "R" || object.xtype == "D" || object.xtype == "TR") {
      continue;
    }
    std::string lower = tsql::ToLower(object.name);
    if (own.names.count(lower) == 0) continue;
    std::string updated = own.written.count(lower) ? "yes" : "no";
    if (object.xtype != "U" && object.xtype != "V") {
      uses.Add({OwnerOfRow(session, db, object) + "." + object.name, KindName(object.xtype),
                std::string("no"), std::string("no"), Value{}});
      continue;
    }
    auto columns =
        catalog::Prepare(db, "SELECT name FROM pragma_table_info(?, 'main') ORDER BY cid");
    sqlite3_bind_text(columns.get(), 1, object.name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      std::string column = catalog::ColumnText(columns.get(), 0);
      if (own.names.count(tsql::ToLower(column)) == 0) continue;
      uses.Add({OwnerOfRow(session, db, object) + "." + object.name, KindName(object.xtype),
                updated, std::string("yes"), column});
    }
  }
  std::string target_lower = tsql::ToLower(target->name);
  for (const ObjectRow& object : objects) {
    if (&object == target || (object.xtype != "V" && object.xtype != "P" && object.xtype != "TR")) {
      continue;
    }
    if (MentionsOf(DefinitionOf(db, object)).names.count(target_lower) == 0) continue;
    used_by.Add({OwnerOfRow(session, db, object) + "." + object.name, KindName(object.xtype)});
  }
  if (uses.Empty() && used_by.Empty()) {
    Informational(sink, 15461);
    return;
  }
  if (!uses.Empty()) {
    Informational(sink, 15459);
    uses.Send(sink);
  }
  if (!used_by.Empty()) {
    Informational(sink, 15460);
    used_by.Send(sink);
  }
}

}  // namespace

bool RunHelpProcedure(Session& session, std::string_view name,
                      const std::vector<CallArgument>& arguments, ResultSink& sink) {
  if (name == "sp_help") {
    Help(session, arguments, sink);
  } else if (name == "sp_helpindex") {
    HelpIndex(session, arguments, sink);
  } else if (name == "sp_helpconstraint") {
    HelpConstraint(session, arguments, sink);
  } else if (name == "sp_depends") {
    Depends(session, arguments, sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
