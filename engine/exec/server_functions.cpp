#include "engine/exec/server_functions.h"

#include <unistd.h>

#include <string_view>

#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

FunctionHost& Host(sqlite3_context* context) {
  return *static_cast<FunctionHost*>(sqlite3_user_data(context));
}

void ResultValue(sqlite3_context* context, const std::optional<Value>& value) {
  if (!value || IsNull(*value)) return sqlite3_result_null(context);
  if (const auto* number = std::get_if<std::int64_t>(&*value)) {
    return sqlite3_result_int64(context, *number);
  }
  SqliteResultText(context, ValueText(*value));
}

void AppName(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).ClientProgram());
}

void HostName(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).ClientHost());
}

// char(8): the client's process id, left-aligned.
void HostId(sqlite3_context* context, int, sqlite3_value**) {
  std::string id = std::to_string(Host(context).ClientProcess());
  id.resize(std::max<size_t>(id.size(), 8), ' ');
  SqliteResultText(context, id);
}

constexpr std::string_view kServerCollation = "SQL_Latin1_General_CP1_CI_AS";

// SQL Server 2000 Desktop Engine, mixed authentication, the default instance.
std::optional<Value> ServerProperty(std::string_view property) {
  std::string wanted = tsql::ToLower(property);
  auto text = [](std::string_view s) { return std::optional<Value>(Value(std::string(s))); };
  auto number = [](std::int64_t n) { return std::optional<Value>(Value(n)); };
  if (wanted == "productversion") return text(kProductVersion);
  if (wanted == "productlevel") return text("SP4");
  if (wanted == "edition") return text("Desktop Engine");
  if (wanted == "engineedition") return number(1);
  if (wanted == "servername" || wanted == "machinename") return text(kServerName);
  if (wanted == "instancename") return std::nullopt;
  if (wanted == "collation") return text(kServerCollation);
  if (wanted == "isintegratedsecurityonly") return number(0);
  if (wanted == "isclustered" || wanted == "isfulltextinstalled" || wanted == "issingleuser" ||
      wanted == "issyncwithbackup") {
    return number(0);
  }
  if (wanted == "licensetype") return text("DISABLED");
  if (wanted == "numlicenses") return std::nullopt;
  if (wanted == "processid") return number(static_cast<std::int64_t>(getpid()));
  if (wanted == "lcid" || wanted == "comparisonstyle")
    return number(*tsql::CollationProperty(kServerCollation, wanted));
  if (wanted == "sqlcharset") return number(1);
  if (wanted == "sqlcharsetname") return text("iso_1");
  if (wanted == "sqlsortorder") return number(52);
  if (wanted == "sqlsortordername") return text("nocase_iso");
  return std::nullopt;
}

void ServerPropertyFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  ResultValue(context, ServerProperty(SqliteValueText(args[0])));
}

void SessionPropertyFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<int> setting = Host(context).SessionSetting(SqliteValueText(args[0]));
  if (!setting) return sqlite3_result_null(context);
  sqlite3_result_int(context, *setting);
}

// COLLATIONPROPERTY(name, property): an int, or NULL for an unknown name or
// property.
void CollationPropertyFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  std::optional<int> value =
      tsql::CollationProperty(SqliteValueText(args[0]), SqliteValueText(args[1]));
  if (!value) return sqlite3_result_null(context);
  ResultValue(context, Value(std::int64_t{*value}));
}

template <bool kExtended>
void DatabasePropertyFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  ResultValue(context, Host(context).DatabasePropertyOf(SqliteValueText(args[0]),
                                                        SqliteValueText(args[1]), kExtended));
}

// The system types' ids (systypes.xusertype) in SQL Server 2000.
struct TypeId {
  std::string_view name;
  int id;
};

constexpr TypeId kTypeIds[] = {
    {"image", 34},         {"text", 35},        {"uniqueidentifier", 36},
    {"tinyint", 48},       {"smallint", 52},    {"int", 56},
    {"smalldatetime", 58}, {"real", 59},        {"money", 60},
    {"datetime", 61},      {"float", 62},       {"sql_variant", 98},
    {"ntext", 99},         {"bit", 104},        {"decimal", 106},
    {"numeric", 108},      {"smallmoney", 122}, {"bigint", 127},
    {"varbinary", 165},    {"varchar", 167},    {"binary", 173},
    {"char", 175},         {"timestamp", 189},  {"nvarchar", 231},
    {"nchar", 239},        {"sysname", 256},
};

void TypeIdFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string name = tsql::ToLower(SqliteValueText(args[0]));
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  for (const TypeId& type : kTypeIds) {
    if (type.name == name) return sqlite3_result_int(context, type.id);
  }
  sqlite3_result_null(context);
}

void TypeNameFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  sqlite3_int64 id = sqlite3_value_int64(args[0]);
  for (const TypeId& type : kTypeIds) {
    if (type.id == id) return SqliteResultText(context, type.name);
  }
  sqlite3_result_null(context);
}

constexpr FunctionDefinition kFunctions[] = {
    {"app_name", 0, AppName, false},
    {"host_name", 0, HostName, false},
    {"host_id", 0, HostId, false},
    {"serverproperty", 1, ServerPropertyFunction, false},
    {"sessionproperty", 1, SessionPropertyFunction, false},
    {"collationproperty", 2, CollationPropertyFunction, true},
    {"databaseproperty", 2, DatabasePropertyFunction<false>, false},
    {"databasepropertyex", 2, DatabasePropertyFunction<true>, false},
    {"type_id", 1, TypeIdFunction, true},
    {"type_name", 1, TypeNameFunction, true},
};

}  // namespace

void RegisterServerFunctions(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions, &host);
}

}  // namespace sqlengine::exec
