#include "engine/exec/type_info_procedures.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "engine/exec/procedure_arguments.h"

namespace sqlengine::exec {
namespace {

// One row of sp_datatype_info; a negative number stands for NULL.
struct TypeRow {
  const char* name;
  int data_type;  // the ODBC 2 number (datetime types are 11)
  long long precision;
  const char* prefix;  // nullptr: NULL
  const char* suffix;
  const char* create_params;
  int nullable, searchable, unsigned_attribute, money, auto_increment;
  int minimum_scale, maximum_scale, radix, user_type;
};

constexpr int kNull = -1;

// Ordered by the ODBC 2 type number, as SQL Server lists them.
constexpr TypeRow kTypes[] = {
    {"sql_variant", -150, 8000, nullptr, nullptr, nullptr, 1, 2, kNull, 0, kNull, 0, 0, 10, 0},
    {"uniqueidentifier", -11, 36, "'", "'", nullptr, 1, 2, kNull, 0, kNull, kNull, kNull, kNull, 0},
    {"ntext", -10, 1073741823, "N'", "'", nullptr, 1, 1, kNull, 0, kNull, kNull, kNull, kNull, 0},
    {"nvarchar", -9, 4000, "N'", "'", "max length", 1, 3, kNull, 0, kNull, kNull, kNull, kNull, 0},
    {"sysname", -9, 128, "N'", "'", nullptr, 0, 3, kNull, 0, kNull, kNull, kNull, kNull, 18},
    {"nchar", -8, 4000, "N'", "'", "length", 1, 3, kNull, 0, kNull, kNull, kNull, kNull, 0},
    {"bit", -7, 1, nullptr, nullptr, nullptr, 1, 2, kNull, 0, kNull, 0, 0, kNull, 16},
    {"tinyint", -6, 3, nullptr, nullptr, nullptr, 1, 2, 1, 0, 0, 0, 0, 10, 5},
    {"tinyint identity", -6, 3, nullptr, nullptr, nullptr, 0, 2, 1, 0, 1, 0, 0, 10, 5},
    {"bigint", -5, 19, nullptr, nullptr, nullptr, 1, 2, 0, 0, 0, 0, 0, 10, 0},
    {"bigint identity", -5, 19, nullptr, nullptr, nullptr, 0, 2, 0, 0, 1, 0, 0, 10, 0},
    {"image", -4, 2147483647, "0x", nullptr, nullptr, 1, 0, kNull, 0, kNull, kNull, kNull, kNull,
     20},
    {"varbinary", -3, 8000, "0x", nullptr, "max length", 1, 2, kNull, 0, kNull, kNull, kNull, kNull,
     4},
    {"binary", -2, 8000, "0x", nullptr, "length", 1, 2, kNull, 0, kNull, kNull, kNull, kNull, 3},
    {"timestamp", -2, 8, "0x", nullptr, nullptr, 0, 2, kNull, 0, kNull, kNull, kNull, kNull, 80},
    {"text", -1, 2147483647, "'", "'", nullptr, 1, 1, kNull, 0, kNull, kNull, kNull, kNull, 19},
    {"char", 1, 8000, "'", "'", "length", 1, 3, kNull, 0, kNull, kNull, kNull, kNull, 1},
    {"numeric", 2, 38, nullptr, nullptr, "precision,scale", 1, 2, 0, 0, 0, 0, 38, 10, 10},
    {"numeric() identity", 2, 38, nullptr, nullptr, "precision", 0, 2, 0, 0, 1, 0, 0, 10, 10},
    {"decimal", 3, 38, nullptr, nullptr, "precision,scale", 1, 2, 0, 0, 0, 0, 38, 10, 24},
    {"money", 3, 19, "$", nullptr, nullptr, 1, 2, 0, 1, 0, 4, 4, 10, 11},
    {"smallmoney", 3, 10, "$", nullptr, nullptr, 1, 2, 0, 1, 0, 4, 4, 10, 21},
    {"decimal() identity", 3, 38, nullptr, nullptr, "precision", 0, 2, 0, 0, 1, 0, 0, 10, 24},
    {"int", 4, 10, nullptr, nullptr, nullptr, 1, 2, 0, 0, 0, 0, 0, 10, 7},
    {"int identity", 4, 10, nullptr, nullptr, nullptr, 0, 2, 0, 0, 1, 0, 0, 10, 7},
    {"smallint", 5, 5, nullptr, nullptr, nullptr, 1, 2, 0, 0, 0, 0, 0, 10, 6},
    {"smallint identity", 5, 5, nullptr, nullptr, nullptr, 0, 2, 0, 0, 1, 0, 0, 10, 6},
    {"float", 6, 53, nullptr, nullptr, nullptr, 1, 2, 0, 0, 0, kNull, kNull, 2, 8},
    {"real", 7, 24, nullptr, nullptr, nullptr, 1, 2, 0, 0, 0, kNull, kNull, 2, 23},
    {"varchar", 12, 8000, "'", "'", "max length", 1, 3, kNull, 0, kNull, kNull, kNull, kNull, 2},
    {"datetime", 11, 23, "'", "'", nullptr, 1, 3, kNull, 0, kNull, 3, 3, kNull, 12},
    {"smalldatetime", 11, 16, "'", "'", nullptr, 1, 3, kNull, 0, kNull, 0, 0, kNull, 22},
};

Value Number(long long value) { return value == kNull ? Value{} : Value(std::int64_t{value}); }

Value TextOrNull(const char* text) { return text ? Value(std::string(text)) : Value{}; }

std::optional<long long> IntegerArgument(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(text->c_str(), &end, 10);
  if (end == text->c_str() || *end != '\0') throw MakeError(8114, {"varchar", "int"});
  return value;
}

void SendRows(ResultSink& sink, const std::vector<Column>& columns, const std::vector<Row>& rows) {
  sink.BeginResult(columns);
  for (const Row& row : rows) sink.AddRow(row);
  StatementDone done;
  done.row_count = static_cast<std::int64_t>(rows.size());
  sink.Done(done);
}

void DataTypeInfo(std::string_view name, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args(name, given, {"@data_type", "@ODBCVer"});
  long long wanted = IntegerArgument(args[0]).value_or(0);
  bool odbc3 = IntegerArgument(args[1]).value_or(2) >= 3;
  ColumnType name_type{SqlType::kNVarChar, 128};
  ColumnType small{SqlType::kSmallInt};
  ColumnType integer{SqlType::kInt};
  ColumnType short_text{SqlType::kVarChar, 32};
  std::vector<Column> columns = {{"TYPE_NAME", name_type},
                                 {"DATA_TYPE", small},
                                 {"PRECISION", integer},
                                 {"LITERAL_PREFIX", short_text},
                                 {"LITERAL_SUFFIX", short_text},
                                 {"CREATE_PARAMS", short_text},
                                 {"NULLABLE", small},
                                 {"CASE_SENSITIVE", small},
                                 {"SEARCHABLE", small},
                                 {"UNSIGNED_ATTRIBUTE", small},
                                 {"MONEY", small},
                                 {"AUTO_INCREMENT", small},
                                 {"LOCAL_TYPE_NAME", name_type},
                                 {"MINIMUM_SCALE", small},
                                 {"MAXIMUM_SCALE", small},
                                 {"SQL_DATA_TYPE", small},
                                 {"SQL_DATETIME_SUB", small},
                                 {"NUM_PREC_RADIX", integer},
                                 {"INTERVAL_PRECISION", small},
                                 {"USERTYPE", small}};
  std::vector<Row> rows;
  std::vector<Row> datetimes;  // ODBC 3 numbers them 93, after every other type
  for (const TypeRow& type : kTypes) {
    bool datetime = type.data_type == 11;
    long long data_type = datetime && odbc3 ? 93 : type.data_type;
    if (wanted != 0 && wanted != data_type) continue;
    Row row = {std::string(type.name),
               Number(data_type),
               Number(type.precision),
               TextOrNull(type.prefix),
               TextOrNull(type.suffix),
               TextOrNull(type.create_params),
               Number(type.nullable),
               Number(0),  // the default collation ignores case
               Number(type.searchable),
               Number(type.unsigned_attribute),
               Number(type.money),
               Number(type.auto_increment),
               std::string(type.name),
               Number(type.minimum_scale),
               Number(type.maximum_scale),
               Number(datetime ? 9 : type.data_type),
               datetime ? Number(3) : Value{},
               Number(type.radix),
               Value{},
               Number(type.user_type)};
    (datetime && odbc3 ? datetimes : rows).push_back(std::move(row));
  }
  rows.insert(rows.end(), datetimes.begin(), datetimes.end());
  SendRows(sink, columns, rows);
}

void ServerInfo(const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_server_info", given, {"@attribute_id"});
  std::optional<long long> wanted = IntegerArgument(args[0]);
  struct Attribute {
    int id;
    const char* name;
    const char* value;
  };
  static constexpr Attribute kAttributes[] = {
      {1, "DBMS_NAME", "Microsoft SQL Server"},
      {2, "DBMS_VER", "Microsoft SQL Server  2000 - 8.00.2039"},
      {10, "OWNER_TERM", "owner"},
      {11, "TABLE_TERM", "table"},
      {12, "MAX_OWNER_NAME_LENGTH", "128"},
      {13, "TABLE_LENGTH", "128"},
      {14, "MAX_QUAL_LENGTH", "128"},
      {15, "COLUMN_LENGTH", "128"},
      {16, "IDENTIFIER_CASE", "MIXED"},
      {17, "TX_ISOLATION", "2"},
      {18, "COLLATION_SEQ", "charset=iso_1 sort_order=nocase_iso charset_num=1 sort_order_num=52"},
      {19, "SAVEPOINT_SUPPORT", "Y"},
      {20, "MULTI_RESULT_SETS", "Y"},
      {22, "ACCESSIBLE_TABLES", "Y"},
      {100, "USERID_LENGTH", "128"},
      {101, "QUALIFIER_TERM", "database"},
      {102, "NAMED_TRANSACTIONS", "Y"},
      {103, "SPROC_AS_LANGUAGE", "Y"},
      {104, "ACCESSIBLE_SPROC", "Y"},
      {105, "MAX_INDEX_COLS", "16"},
      {106, "RENAME_TABLE", "N"},
      {107, "RENAME_COLUMN", "N"},
      {108, "DROP_COLUMN", "Y"},
      {109, "INCREASE_COLUMN_LENGTH", "N"},
      {110, "DDL_IN_TRANSACTION", "Y"},
      {111, "DESCENDING_INDEXES", "Y"},
      {112, "SP_RENAME", "N"},
      {113, "REMOTE_SPROC", "N"},
      {500, "SYS_SPROC_VERSION", "8.00.2039"},
  };
  std::vector<Row> rows;
  for (const Attribute& attribute : kAttributes) {
    if (wanted && *wanted != attribute.id) continue;
    rows.push_back(
        {std::int64_t{attribute.id}, std::string(attribute.name), std::string(attribute.value)});
  }
  SendRows(sink,
           {{"ATTRIBUTE_ID", ColumnType{SqlType::kInt}},
            {"ATTRIBUTE_NAME", ColumnType{SqlType::kVarChar, 60}},
            {"ATTRIBUTE_VALUE", ColumnType{SqlType::kVarChar, 255}}},
           rows);
}

}  // namespace

bool RunTypeInfoProcedure(std::string_view name, const std::vector<CallArgument>& arguments,
                          ResultSink& sink) {
  if (name == "sp_datatype_info" || name == "sp_datatype_info_90" ||
      name == "sp_datatype_info_100") {
    DataTypeInfo(name, arguments, sink);
  } else if (name == "sp_server_info") {
    ServerInfo(arguments, sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
