#include "engine/tsql/bind/library_functions.h"

#include <algorithm>
#include <array>

#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"

namespace sqlengine::tsql::bind {
namespace {

constexpr int kCharacterLimit = 8000;
constexpr int kNationalLimit = 4000;
constexpr int kSysnameLength = 128;

ColumnType Type(SqlType type, int length = 0) {
  ColumnType result{type};
  result.length = length;
  return result;
}

bool IsCharacter(const ArgumentShape& arg) {
  // text and ntext take only the functions written for them.
  return arg.null_literal || (ClassOf(arg.type.type) == TypeClass::kCharacter &&
                              arg.type.type != SqlType::kText && arg.type.type != SqlType::kNText);
}

bool IsWhole(const ArgumentShape& arg) {
  return arg.null_literal || ClassOf(arg.type.type) == TypeClass::kInteger;
}

bool IsNumber(const ArgumentShape& arg) { return arg.null_literal || IsNumeric(arg.type.type); }

// The varying type of the same character family and collation, `length` long.
ColumnType VaryingLike(const ArgumentShape& arg, int length) {
  bool national = !arg.null_literal && IsNational(arg.type.type);
  ColumnType type = Type(national ? SqlType::kNVarChar : SqlType::kVarChar,
                         std::min(length, national ? kNationalLimit : kCharacterLimit));
  if (!arg.null_literal) CopyCollation(arg.type, type);
  return type;
}

// The type SQL Server gives FLOOR, CEILING, ROUND-like functions, SIGN,
// ABS, DEGREES, RADIANS and POWER: the argument's own, integers below int
// widened to int, decimals kept at `scale` (their own when nullopt).
ColumnType SameNumericType(const ArgumentShape& arg, std::optional<int> scale, int precision) {
  if (arg.null_literal) return Type(SqlType::kFloat);
  ColumnType type = arg.type;
  type.identity = false;
  switch (type.type) {
    case SqlType::kBit:
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
      return Type(SqlType::kInt);
    case SqlType::kSmallMoney:
      return Type(SqlType::kMoney);
    case SqlType::kReal:
      return Type(SqlType::kFloat);
    case SqlType::kDecimal:
      if (scale) type.scale = *scale;
      type.precision = precision > 0 ? precision : type.precision;
      return type;
    default:
      return type;
  }
}

std::optional<LibraryCall> Call(std::string sql, ColumnType type) {
  LibraryCall call;
  call.sql = std::move(sql);
  call.type = type;
  return call;
}

std::optional<LibraryCall> Converted(std::string sql, ColumnType type) {
  std::optional<LibraryCall> call = Call(std::move(sql), type);
  call->convert_result = ClassOf(type.type) != TypeClass::kApproximate;
  return call;
}

std::optional<LibraryCall> SometimesNull(std::optional<LibraryCall> call) {
  call->null_for_some = true;
  return call;
}

std::optional<LibraryCall> NeverNull(std::string sql, ColumnType type) {
  std::optional<LibraryCall> call = Call(std::move(sql), type);
  call->never_null = true;
  return call;
}

// DATALENGTH's arguments to sqlengine_datalength: bytes per character of
// character data (0 for binary data), and the fixed size of other types.
std::optional<std::array<int, 2>> DataLengthRule(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kVarChar:
    case SqlType::kText:
      return std::array{1, 0};
    case SqlType::kNVarChar:
    case SqlType::kNText:
      return std::array{2, 0};
    case SqlType::kChar:
      return std::array{1, type.length};
    case SqlType::kNChar:
      return std::array{2, 2 * type.length};
    case SqlType::kBinary:
      return std::array{0, type.length};
    case SqlType::kVarBinary:
    case SqlType::kImage:
      return std::array{0, 0};
    case SqlType::kTinyInt:
    case SqlType::kBit:
      return std::array{0, 1};
    case SqlType::kSmallInt:
      return std::array{0, 2};
    case SqlType::kInt:
    case SqlType::kReal:
    case SqlType::kSmallMoney:
    case SqlType::kSmallDateTime:
      return std::array{0, 4};
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kMoney:
    case SqlType::kDateTime:
      return std::array{0, 8};
    case SqlType::kUniqueIdentifier:
      return std::array{0, 16};
    case SqlType::kDecimal:
      return std::array{0, type.precision <= 9    ? 5
                           : type.precision <= 19 ? 9
                           : type.precision <= 28 ? 13
                                                  : 17};
    default:
      return std::nullopt;
  }
}

// `call` given its result type's length as a last argument, at which the
// function cuts what it returns.
std::optional<LibraryCall> Cut(std::optional<LibraryCall> call) {
  call->extra_arguments.push_back(std::to_string(call->type.length));
  return call;
}

// A literal length argument (SPACE, STR) within 1..limit, else `fallback`.
int LiteralLength(const ArgumentShape& arg, int fallback, int limit) {
  if (!arg.integer || *arg.integer < 0 || *arg.integer > limit) return fallback;
  return static_cast<int>(*arg.integer);
}

}  // namespace

std::optional<LibraryCall> BindLibraryFunction(std::string_view name,
                                               const std::vector<ArgumentShape>& args) {
  const size_t n = args.size();
  auto all = [&](auto test, size_t from, size_t to) {
    for (size_t k = from; k < std::min(to, n); ++k) {
      if (!test(args[k])) return false;
    }
    return true;
  };
  const ColumnType kInt = Type(SqlType::kInt), kFloat = Type(SqlType::kFloat);

  // Row hashes: an int for any list of values.
  if ((name == "checksum" || name == "binary_checksum") && n >= 1)
    return NeverNull(std::string(name), kInt);

  // Strings.
  if (name == "stuff" && n == 4 && IsCharacter(args[0]) && all(IsWhole, 1, 3) &&
      IsCharacter(args[3]))
    return SometimesNull(Cut(Call("stuff", VaryingLike(args[0], kCharacterLimit))));
  // Under a case-sensitive collation of either text the search matches case.
  auto case_sensitive = [&](size_t count) {
    return std::any_of(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(count),
                       [](const ArgumentShape& arg) { return arg.type.case_sensitive; });
  };
  if (name == "replace" && n == 3 && all(IsCharacter, 0, 3))
    return Cut(Call(case_sensitive(2) ? "sqlengine_replace_cs" : "replace",
                    VaryingLike(args[0], kCharacterLimit)));
  if (name == "reverse" && n == 1 && IsCharacter(args[0]))
    return Call("reverse", VaryingLike(args[0], args[0].null_literal ? 1 : args[0].type.length));
  if (name == "space" && n == 1 && IsWhole(args[0]))
    return SometimesNull(
        Call("space",
             Type(SqlType::kVarChar, LiteralLength(args[0], kCharacterLimit, kCharacterLimit))));
  if (name == "replicate" && n == 2 && IsCharacter(args[0]) && IsWhole(args[1]))
    return SometimesNull(Cut(Call("replicate", VaryingLike(args[0], kCharacterLimit))));
  if (name == "patindex" && n == 2 && all(IsCharacter, 0, 2))
    return Call(case_sensitive(2) ? "sqlengine_patindex_cs" : "patindex", kInt);
  // Of empty text, and of a code outside the character set: NULL.
  if (name == "ascii" && n == 1 && IsCharacter(args[0])) return SometimesNull(Call("ascii", kInt));
  if (name == "unicode" && n == 1 && IsCharacter(args[0]))
    return SometimesNull(Call("unicode", kInt));
  if (name == "char" && n == 1 && IsWhole(args[0]))
    return SometimesNull(Call("char", Type(SqlType::kChar, 1)));
  if (name == "nchar" && n == 1 && IsWhole(args[0]))
    return SometimesNull(Call("nchar", Type(SqlType::kNChar, 1)));
  if (name == "soundex" && n == 1 && IsCharacter(args[0]))
    return Call("soundex", Type(SqlType::kVarChar, 4));
  if (name == "difference" && n == 2 && all(IsCharacter, 0, 2)) return Call("difference", kInt);
  if (name == "quotename" && (n == 1 || n == 2) && all(IsCharacter, 0, 2))
    return SometimesNull(Call("quotename", Type(SqlType::kNVarChar, 2 * kSysnameLength + 2)));
  if (name == "parsename" && n == 2 && IsCharacter(args[0]) && IsWhole(args[1]))
    return SometimesNull(Call("parsename", Type(SqlType::kNVarChar, kSysnameLength)));
  if (name == "str" && n >= 1 && n <= 3 && IsNumber(args[0]) && all(IsWhole, 1, 3))
    return SometimesNull(
        Call("str", Type(SqlType::kChar,
                         n > 1 ? LiteralLength(args[1], kCharacterLimit, kCharacterLimit) : 10)));
  if (name == "datalength" && n == 1) {
    std::optional<std::array<int, 2>> rule =
        args[0].null_literal ? std::array{1, 0} : DataLengthRule(args[0].type);
    if (!rule) return std::nullopt;
    std::optional<LibraryCall> call = Call("sqlengine_datalength", kInt);
    call->extra_arguments = {std::to_string((*rule)[0]), std::to_string((*rule)[1])};
    return call;
  }

  // Text pointers: the row is the query's one table's (exec/text_pointers.h).
  if (name == "textptr" && n == 1 &&
      (args[0].type.type == SqlType::kText || args[0].type.type == SqlType::kNText ||
       args[0].type.type == SqlType::kImage)) {
    std::optional<LibraryCall> call = Call("sqlengine_textptr", Type(SqlType::kVarBinary, 16));
    call->extra_arguments = {"rowid"};
    return call;
  }
  if (name == "textvalid" && n == 2 && IsCharacter(args[0]))
    return NeverNull("sqlengine_textvalid", kInt);

  // Tests of text.
  if (name == "sql_variant_property" && n == 2 && IsCharacter(args[1])) {
    std::optional<LibraryCall> call =
        SometimesNull(Call("sql_variant_property", Type(SqlType::kSqlVariant)));
    call->variant_argument = true;
    return call;
  }
  if (name == "isnumeric" && n == 1) return NeverNull("isnumeric", kInt);
  if (name == "isdate" && n == 1) return NeverNull("isdate", kInt);
  if (name == "newid" && n == 0) return NeverNull("newid", Type(SqlType::kUniqueIdentifier));

  // Mathematics: floats in, floats out, except where the argument's type is kept.
  static constexpr std::string_view kFloatFunctions[] = {
      "log", "log10", "sqrt", "square", "exp", "sin", "cos", "tan", "asin", "acos", "atan", "cot"};
  if (n == 1 && IsNumber(args[0]) &&
      std::find(std::begin(kFloatFunctions), std::end(kFloatFunctions), name) !=
          std::end(kFloatFunctions))
    return Call(std::string(name), kFloat);
  if (name == "atn2" && n == 2 && all(IsNumber, 0, 2)) return Call("atn2", kFloat);
  if (name == "pi" && n == 0) return NeverNull("pi", kFloat);
  if (name == "rand" && n <= 1 && all(IsWhole, 0, 1)) return NeverNull("rand", kFloat);
  if ((name == "floor" || name == "ceiling") && n == 1 && IsNumber(args[0]) &&
      args[0].type.type != SqlType::kBit)
    return Converted(name == "floor" ? "floor" : "ceil", SameNumericType(args[0], 0, 0));
  if (name == "sign" && n == 1 && IsNumber(args[0]) && args[0].type.type != SqlType::kBit)
    return Converted("sign", SameNumericType(args[0], std::nullopt, 0));
  if ((name == "degrees" || name == "radians") && n == 1 && IsNumber(args[0]) &&
      args[0].type.type != SqlType::kBit)
    return Converted(std::string(name), SameNumericType(args[0], std::nullopt, 38));
  if (name == "round" && (n == 2 || n == 3) && IsNumber(args[0]) && all(IsWhole, 1, 3) &&
      args[0].type.type != SqlType::kBit)
    return Converted("round", SameNumericType(args[0], std::nullopt, 0));
  if (name == "power" && n == 2 && all(IsNumber, 0, 2) && args[0].type.type != SqlType::kBit) {
    std::optional<LibraryCall> call =
        Converted("power", SameNumericType(args[0], std::nullopt, 38));
    // An integer result is checked against its type's range there (232).
    if (call->type.type == SqlType::kInt || call->type.type == SqlType::kBigInt)
      call->extra_arguments.push_back(call->type.type == SqlType::kInt ? "'int'" : "'bigint'");
    return call;
  }

  // The client (the server's and its databases' properties, TYPE_ID and
  // TYPE_NAME are catalog functions: catalog_functions.h).
  if ((name == "app_name" || name == "host_name") && n == 0)
    return Call(std::string(name), Type(SqlType::kNVarChar, kSysnameLength));
  if (name == "host_id" && n == 0) return NeverNull("host_id", Type(SqlType::kChar, 8));
  // The error a CATCH block handles (NULL outside one), and the transaction's state.
  if ((name == "error_number" || name == "error_severity" || name == "error_state" ||
       name == "error_line") &&
      n == 0)
    return Call(std::string(name), kInt);
  if (name == "error_message" && n == 0)
    return Call("error_message", Type(SqlType::kNVarChar, 2048));
  if (name == "error_procedure" && n == 0)
    return Call("error_procedure", Type(SqlType::kNVarChar, 126));
  if (name == "cursor_status" && n == 2 && all(IsCharacter, 0, 2))
    return NeverNull("cursor_status", Type(SqlType::kSmallInt));
  if (name == "xact_state" && n == 0) return NeverNull("xact_state", Type(SqlType::kSmallInt));
  if ((name == "ident_seed" || name == "ident_incr" || name == "ident_current") && n == 1 &&
      IsCharacter(args[0])) {
    ColumnType whole = Type(SqlType::kDecimal);
    whole.precision = 38;
    return SometimesNull(Converted(std::string(name), whole));
  }
  return std::nullopt;
}

bool IsBuiltInFunctionName(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      // aggregates
      "avg", "binary_checksum", "checksum", "checksum_agg", "count", "count_big", "grouping",
      "max", "min", "stdev", "stdevp", "sum", "var", "varp",
      // dates
      "dateadd", "datediff", "datename", "datepart", "day", "getdate", "getutcdate", "month",
      "year",
      // mathematics
      "abs", "acos", "asin", "atan", "atn2", "ceiling", "cos", "cot", "degrees", "exp", "floor",
      "log", "log10", "pi", "power", "radians", "rand", "round", "sign", "sin", "sqrt", "square",
      "tan",
      // metadata
      "col_length", "col_name", "columnproperty", "databaseproperty", "databasepropertyex",
      "db_id", "db_name", "file_id", "file_name", "filegroup_id", "filegroup_name",
      "filegroupproperty", "fileproperty", "fulltextcatalogproperty", "fulltextserviceproperty",
      "index_col", "indexkey_property", "indexproperty", "object_id", "object_name",
      "objectproperty", "sql_variant_property", "typeproperty",
      // security
      "has_dbaccess", "is_member", "is_srvrolemember", "suser_id", "suser_name", "suser_sid",
      "suser_sname", "user_id", "user_name",
      // strings, text and image
      "ascii", "char", "charindex", "difference", "left", "len", "lower", "ltrim", "nchar",
      "patindex", "quotename", "replace", "replicate", "reverse", "right", "rtrim", "soundex",
      "space", "str", "stuff", "substring", "textptr", "textvalid", "unicode", "upper",
      // system
      "app_name", "cast", "coalesce", "collationproperty", "convert", "current_timestamp",
      "current_user", "cursor_status", "datalength", "formatmessage", "getansinull", "host_id",
      "host_name", "ident_current", "ident_incr", "ident_seed", "identity", "isdate", "isnull",
      "isnumeric", "newid", "nullif", "parsename", "permissions", "rowcount_big",
      "scope_identity", "serverproperty", "sessionproperty", "session_user", "stats_date",
      "system_user", "user",
      // rowset functions
      "containstable", "freetexttable", "opendatasource", "openquery", "openrowset", "openxml",
  };
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

}  // namespace sqlengine::tsql::bind
