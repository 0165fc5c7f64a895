#include "engine/exec/object_properties.h"

#include <optional>
#include <string>
#include <string_view>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// The properties that say whether an object is of some kind: the kinds, as
// sysobjects.xtype spells them, separated by spaces.
struct KindProperty {
  std::string_view property;
  std::string_view kinds;
};

constexpr KindProperty kKindProperties[] = {
    {"isusertable", "U"},
    {"istable", "U S"},
    {"issystemtable", "S"},
    {"isview", "V"},
    {"isprocedure", "P"},
    {"isextendedproc", "X"},
    {"istrigger", "TR"},
    {"isscalarfunction", "FN"},
    {"isinlinefunction", "IF"},
    {"istablefunction", "TF"},
    {"isprimarykey", "PK"},
    {"isforeignkey", "F"},
    {"ischeckcnst", "C"},
    {"isdefaultcnst", "D"},
    {"isuniquecnst", "UQ"},
    {"isconstraint", "C D F PK UQ"},
    {"isrule", "R"},
    {"isdefault", "D"},
    // Only the system tables ship with the server.
    {"ismsshipped", "S"},
};

bool OfKinds(std::string_view xtype, std::string_view kinds) {
  while (!xtype.empty() && xtype.back() == ' ') xtype.remove_suffix(1);
  while (!kinds.empty()) {
    size_t space = kinds.find(' ');
    if (kinds.substr(0, space) == xtype) return true;
    if (space == std::string_view::npos) break;
    kinds.remove_prefix(space + 1);
  }
  return false;
}

// A trigger's answer to the properties that ask how it fires, from its row's
// status (catalog_views.h); nullopt for another property.
std::optional<int> TriggerProperty(std::string_view property, int status) {
  struct Bit {
    std::string_view property;
    int mask;
    bool set;
  };
  static constexpr Bit kBits[] = {
      {"execisinserttrigger", kTriggerOnInsert, true},
      {"execisupdatetrigger", kTriggerOnUpdate, true},
      {"execisdeletetrigger", kTriggerOnDelete, true},
      {"execisinsteadoftrigger", kTriggerInsteadOf, true},
      {"execisaftertrigger", kTriggerInsteadOf, false},
  };
  for (const Bit& bit : kBits) {
    if (bit.property == property) return ((status & bit.mask) != 0) == bit.set ? 1 : 0;
  }
  // No trigger is switched off, replicated or given a firing order here.
  for (std::string_view never :
       {"execistriggerdisabled", "execistriggernotforrepl", "execisfirstinserttrigger",
        "execisfirstupdatetrigger", "execisfirstdeletetrigger", "execislastinserttrigger",
        "execislastupdatetrigger", "execislastdeletetrigger"}) {
    if (never == property) return 0;
  }
  return std::nullopt;
}

// sqlengine_object_property(xtype, property [, status [, uid]]):
// OBJECTPROPERTY's answer from a sysobjects row.
void ObjectProperty(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  std::string xtype = SqliteValueText(args[0]);
  std::string property = tsql::ToLower(SqliteValueText(args[1]));
  for (const KindProperty& known : kKindProperties) {
    if (known.property == property) return sqlite3_result_int(context, OfKinds(xtype, known.kinds));
  }
  if (property == "cnstisdisabled" || property == "cnstisnottrusted") {
    // Only FOREIGN KEY and CHECK constraints can be switched off (sysobjects
    // status 256) or untrusted (2048: switched off, added WITH NOCHECK or
    // switched on again without checking the rows).
    if (!OfKinds(xtype, "C F")) return sqlite3_result_null(context);
    int bit = property == "cnstisdisabled" ? 256 : 2048;
    return sqlite3_result_int(context, argc > 2 && (sqlite3_value_int(args[2]) & bit) != 0);
  }
  if (property == "cnstisclustkey" || property == "cnstisnonclustkey") {
    if (!OfKinds(xtype, "C D F PK UQ")) return sqlite3_result_null(context);
    bool clustered = property == "cnstisclustkey";
    if (argc > 4 && sqlite3_value_type(args[4]) != SQLITE_NULL) {
      // sysconstraints.status: 512 a clustered key, 1024 a nonclustered one.
      int status = sqlite3_value_int(args[4]);
      return sqlite3_result_int(context, (status & (clustered ? 512 : 1024)) != 0);
    }
    return sqlite3_result_int(context, OfKinds(xtype, clustered ? "PK" : "UQ"));
  }
  if (std::optional<int> answer =
          TriggerProperty(property, argc > 2 ? sqlite3_value_int(args[2]) : 0)) {
    if (!OfKinds(xtype, "TR")) return sqlite3_result_null(context);
    return sqlite3_result_int(context, *answer);
  }
  if (property == "ownerid")
    return sqlite3_result_int(context, argc > 3 ? sqlite3_value_int(args[3]) : 1);
  sqlite3_result_null(context);
}

// sqlengine_column_property(property, isnullable, prec, scale, colid,
// colstat, iscomputed, xtype, padded): COLUMNPROPERTY's answer from a
// syscolumns row and sqlengine_column_ansi_padded's answer for the column.
void ColumnProperty(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string property = tsql::ToLower(SqliteValueText(args[0]));
  auto answer = [&](int k) { sqlite3_result_value(context, args[k]); };
  if (property == "allowsnull") return answer(1);
  if (property == "precision") return answer(2);
  if (property == "scale") return answer(3);
  if (property == "columnid") return answer(4);
  if (property == "isidentity") {
    if (sqlite3_value_type(args[5]) == SQLITE_NULL) return sqlite3_result_null(context);
    return sqlite3_result_int(context, (sqlite3_value_int(args[5]) & 1) != 0);
  }
  if (property == "iscomputed") return answer(6);
  if (property == "usesansitrim") {
    // 1 when ANSI_PADDING was ON as the column was made (Unicode columns
    // always pad); NULL for a column of no string or binary type.
    switch (sqlite3_value_int(args[7])) {
      case 165: case 167: case 173: case 175:
        return answer(8);
      case 231: case 239:
        return sqlite3_result_int(context, 1);
      default:
        return sqlite3_result_null(context);
    }
  }
  // No ROWGUIDCOL or output-parameter columns exist here.
  if (property == "isrowguidcol" || property == "isoutparam") return sqlite3_result_int(context, 0);
  sqlite3_result_null(context);
}

// sqlengine_index_property(property, status, indid): INDEXPROPERTY's answer
// from a sysindexes row (status bits 2 unique, 16 clustered).
void IndexProperty(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string property = tsql::ToLower(SqliteValueText(args[0]));
  int status = sqlite3_value_int(args[1]);
  int indid = sqlite3_value_int(args[2]);
  // A heap (indid 0) is no index.
  if (indid == 0) return sqlite3_result_null(context);
  if (property == "isclustered") return sqlite3_result_int(context, (status & 16) != 0);
  if (property == "isunique") return sqlite3_result_int(context, (status & 2) != 0);
  if (property == "indexid") return sqlite3_result_int(context, indid);
  // No statistics-only, hypothetical, full-text or padded indexes exist here,
  // and page and row locks are never disallowed.
  for (std::string_view never :
       {"isstatistics", "isautostatistics", "ishypothetical", "isfulltextkey", "ispadindex",
        "ispagelockdisallowed", "isrowlockdisallowed", "indexfillfactor"}) {
    if (property == never) return sqlite3_result_int(context, 0);
  }
  sqlite3_result_null(context);
}

// sqlengine_temp_object_id(written name): the id of the session's #table the
// name ('#t', 'tempdb..#t', 'tempdb.dbo.#t') names, as tempdb's catalog
// gives it (temporary_tables.h); NULL for another name or none.
void TempObjectId(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  tsql::DottedName name = tsql::ReadWrittenName(SqliteValueText(args[0]));
  if (name.parts.empty() || name.parts.size() > 3 || name.Last().empty() ||
      !tsql::IsLocalTempName(name.Last()) ||
      (!name.Database().empty() && !tsql::EqualsIgnoreCase(name.Database(), "tempdb")))
    return sqlite3_result_null(context);
  auto& host = *static_cast<FunctionHost*>(sqlite3_user_data(context));
  // The schema table is the engine's to read, not the statement's.
  std::optional<StatementAuthorizer::EngineScope> engine_reads;
  if (StatementAuthorizer* authorizer = host.Authorizer()) engine_reads.emplace(*authorizer);
  sqlite3* db = sqlite3_context_db_handle(context);
  auto found = catalog::Prepare(db, "SELECT t.id FROM " + TempTablesSql(HasTempObjects(db)) +
                                        " t WHERE t.name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(found.get(), 1, name.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(found.get()) != SQLITE_ROW) return sqlite3_result_null(context);
  sqlite3_result_int64(context, sqlite3_column_int64(found.get(), 0));
}

// sqlengine_table_rows(schema, table): the row count of a table of SQLite
// schema `schema` (sysindexes.rows), whoever asks; NULL for no such table.
void TableRows(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  auto& host = *static_cast<FunctionHost*>(sqlite3_user_data(context));
  std::optional<StatementAuthorizer::EngineScope> engine_reads;
  if (StatementAuthorizer* authorizer = host.Authorizer()) engine_reads.emplace(*authorizer);
  sqlite3_stmt* raw = nullptr;
  std::string sql = "SELECT count(*) FROM " + tsql::QuoteSqliteName(SqliteValueText(args[0])) +
                    "." + tsql::QuoteSqliteName(SqliteValueText(args[1]));
  if (sqlite3_prepare_v2(sqlite3_context_db_handle(context), sql.c_str(), -1, &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    return sqlite3_result_null(context);
  }
  catalog::PreparedStatement count(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) return sqlite3_result_null(context);
  sqlite3_result_int64(context, sqlite3_column_int64(raw, 0));
}

// sqlengine_column_ansi_padded(table, column): 0 when the column of the
// current database's table was made under ANSI_PADDING OFF, else 1.
void ColumnAnsiPadded(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_int(context, 1);
  auto& host = *static_cast<FunctionHost*>(sqlite3_user_data(context));
  std::optional<StatementAuthorizer::EngineScope> engine_reads;
  if (StatementAuthorizer* authorizer = host.Authorizer()) engine_reads.emplace(*authorizer);
  std::string table_sql = StoredTableSql(sqlite3_context_db_handle(context),
                                         host.UnqualifiedSchema(), SqliteValueText(args[0]));
  sqlite3_result_int(context, !ListsColumn(AnsiTrimmedColumns(table_sql), SqliteValueText(args[1])));
}

constexpr FunctionDefinition kHostFunctions[] = {
    {"sqlengine_column_ansi_padded", 2, ColumnAnsiPadded, false},
    {"sqlengine_temp_object_id", 1, TempObjectId, false},
    {"sqlengine_table_rows", 2, TableRows, false},
};

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_object_property", 2, ObjectProperty, true},
    {"sqlengine_object_property", 3, ObjectProperty, true},
    {"sqlengine_object_property", 4, ObjectProperty, true},
    {"sqlengine_object_property", 5, ObjectProperty, true},
    {"sqlengine_column_property", 9, ColumnProperty, true},
    {"sqlengine_index_property", 3, IndexProperty, true},
};

}  // namespace

void RegisterObjectProperties(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions);
  RegisterFunctionTable(db, kHostFunctions, &host);
}

}  // namespace sqlengine::exec
