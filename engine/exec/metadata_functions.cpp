#include "engine/exec/metadata_functions.h"

#include <optional>
#include <string>
#include <string_view>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/table_indexes.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

FunctionHost& Host(sqlite3_context* context) {
  return *static_cast<FunctionHost*>(sqlite3_user_data(context));
}

bool AnyNull(int argc, sqlite3_value** args) {
  for (int k = 0; k < argc; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) return true;
  }
  return false;
}

// The argument as a name compared as SQL Server compares it: case ignored,
// trailing spaces dropped.
std::string NameArgument(sqlite3_value* arg) {
  std::string text = tsql::ToLower(SqliteValueText(arg));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Every database has one filegroup, PRIMARY (groupid 1), holding its data
// file; it is the default one, and neither user-defined nor read-only.
constexpr int kPrimaryGroup = 1;

void FileGroupId(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args) || NameArgument(args[0]) != "primary") return sqlite3_result_null(context);
  sqlite3_result_int(context, kPrimaryGroup);
}

void FileGroupName(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args) || sqlite3_value_int64(args[0]) != kPrimaryGroup)
    return sqlite3_result_null(context);
  SqliteResultText(context, "PRIMARY");
}

void FileGroupProperty(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args) || NameArgument(args[0]) != "primary") return sqlite3_result_null(context);
  std::string property = NameArgument(args[1]);
  if (property == "isreadonly" || property == "isuserdefinedfg") return sqlite3_result_int(context, 0);
  if (property == "isdefault") return sqlite3_result_int(context, 1);
  sqlite3_result_null(context);
}

// getansinull(database, @@OPTIONS): GETANSINULL's answer. The session's
// ANSI_NULL_DFLT_ON (1024) or ANSI_NULL_DFLT_OFF (2048), either way, comes
// before the database's option; NULL for no such database.
void AnsiNullDefault(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args)) return sqlite3_result_null(context);
  std::optional<Value> option =
      Host(context).DatabasePropertyOf(SqliteValueText(args[0]), "IsAnsiNullDefault", false);
  const auto* database_default = option ? std::get_if<std::int64_t>(&*option) : nullptr;
  if (database_default == nullptr) return sqlite3_result_null(context);
  std::int64_t options = sqlite3_value_int64(args[1]);
  if ((options & 1024) != 0) return sqlite3_result_int(context, 1);
  if ((options & 2048) != 0) return sqlite3_result_int(context, 0);
  sqlite3_result_int(context, *database_default != 0);
}

// The engine keeps no distribution statistics, so no index has a date when
// they were last gathered.
void StatsDate(sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_null(context); }

// Full-text search is not installed: there are no full-text catalogs, and
// the service's own settings cannot be read.
void FullTextCatalogProperty(sqlite3_context* context, int, sqlite3_value**) {
  sqlite3_result_null(context);
}

void FullTextServiceProperty(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args) || NameArgument(args[0]) != "isfulltextinstalled")
    return sqlite3_result_null(context);
  sqlite3_result_int(context, 0);
}

// sysfiles' file ids: the data file and its log.
constexpr int kDataFile = 1;
constexpr int kLogFile = 2;

// sqlengine_file_property(property, fileid, size): FILEPROPERTY's answer for
// the file of that sysfiles row; a data file's free pages are not in use.
void FileProperty(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args)) return sqlite3_result_null(context);
  std::string property = NameArgument(args[0]);
  std::int64_t file = sqlite3_value_int64(args[1]);
  if (property == "isreadonly") return sqlite3_result_int(context, 0);
  if (property == "isprimaryfile") return sqlite3_result_int(context, file == kDataFile);
  if (property == "islogfile") return sqlite3_result_int(context, file == kLogFile);
  if (property != "spaceused") return sqlite3_result_null(context);
  std::int64_t size = sqlite3_value_int64(args[2]);
  if (file != kDataFile) return sqlite3_result_int64(context, size);
  FunctionHost& host = Host(context);
  std::optional<StatementAuthorizer::EngineScope> engine_reads;
  if (StatementAuthorizer* authorizer = host.Authorizer()) engine_reads.emplace(*authorizer);
  auto free_pages = catalog::Prepare(sqlite3_context_db_handle(context),
                                     "PRAGMA " + tsql::QuoteSqliteName(host.UnqualifiedSchema()) +
                                         ".freelist_count");
  std::int64_t unused = 0;
  if (sqlite3_step(free_pages.get()) == SQLITE_ROW) unused = sqlite3_column_int64(free_pages.get(), 0);
  sqlite3_result_int64(context, size > unused ? size - unused : 0);
}

// systypes.xtype of the types whose values are strings or binary: those a
// type's ANSI_PADDING setting applies to.
bool IsPaddedType(std::int64_t xtype) {
  for (int padded : {165, 167, 173, 175, 231, 239}) {
    if (xtype == padded) return true;
  }
  return false;
}

// sqlengine_typeproperty(property, xtype, prec, scale, allownulls):
// TYPEPROPERTY's answer from the type's systypes row. Types are made with
// ANSI_PADDING on, as every client here runs.
void TypeProperty(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  std::string property = NameArgument(args[0]);
  if (property == "precision") return sqlite3_result_value(context, args[2]);
  if (property == "scale") return sqlite3_result_value(context, args[3]);
  if (property == "allowsnull") return sqlite3_result_value(context, args[4]);
  if (property == "usesansitrim" && IsPaddedType(sqlite3_value_int64(args[1])))
    return sqlite3_result_int(context, 1);
  sqlite3_result_null(context);
}

// sqlengine_indexkey_property(property, colid, descending).
void IndexKeyProperty(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string property = NameArgument(args[0]);
  if (property == "columnid") return sqlite3_result_value(context, args[1]);
  if (property == "isdescending") return sqlite3_result_value(context, args[2]);
  sqlite3_result_null(context);
}

// sqlengine_key_descending(table, index, keyno): 1 when key `keyno` (from 1)
// of index `index` (as sysindexes names it) of table `table` of the
// database unqualified names reach sorts descending, 0 when ascending; NULL
// for no such key.
void KeyDescending(sqlite3_context* context, int argc, sqlite3_value** args) {
  if (AnyNull(argc, args)) return sqlite3_result_null(context);
  FunctionHost& host = Host(context);
  std::optional<StatementAuthorizer::EngineScope> engine_reads;
  if (StatementAuthorizer* authorizer = host.Authorizer()) engine_reads.emplace(*authorizer);
  std::string index_name = SqliteValueText(args[1]);
  std::int64_t keyno = sqlite3_value_int64(args[2]);
  for (const TableIndex& index : IndexesOf(sqlite3_context_db_handle(context),
                                           SqliteValueText(args[0]), host.UnqualifiedSchema())) {
    if (!tsql::EqualsIgnoreCase(index.name, index_name)) continue;
    if (keyno < 1 || keyno > static_cast<std::int64_t>(index.columns.size())) break;
    return sqlite3_result_int(context, index.columns[keyno - 1].descending ? 1 : 0);
  }
  sqlite3_result_null(context);
}

constexpr FunctionDefinition kFunctions[] = {
    {"filegroup_id", 1, FileGroupId, true},
    {"filegroup_name", 1, FileGroupName, true},
    {"filegroupproperty", 2, FileGroupProperty, true},
    {"getansinull", 2, AnsiNullDefault, false},
    {"stats_date", 2, StatsDate, false},
    {"fulltextcatalogproperty", 2, FullTextCatalogProperty, true},
    {"fulltextserviceproperty", 1, FullTextServiceProperty, true},
    {"sqlengine_file_property", 3, FileProperty, false},
    {"sqlengine_typeproperty", 5, TypeProperty, true},
    {"sqlengine_indexkey_property", 3, IndexKeyProperty, true},
    {"sqlengine_key_descending", 3, KeyDescending, false},
};

}  // namespace

void RegisterMetadataFunctions(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions, &host);
}

}  // namespace sqlengine::exec
