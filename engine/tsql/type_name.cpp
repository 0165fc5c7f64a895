#include "engine/tsql/type_name.h"

#include <cctype>
#include <charconv>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {
namespace {

struct TypeInfo {
  std::string_view name;
  SqlType type;
  int default_length;  // 0: takes no length
};

constexpr TypeInfo kTypes[] = {
    {"tinyint", SqlType::kTinyInt, 0},
    {"smallint", SqlType::kSmallInt, 0},
    {"int", SqlType::kInt, 0},
    {"integer", SqlType::kInt, 0},
    {"bigint", SqlType::kBigInt, 0},
    {"bit", SqlType::kBit, 0},
    {"real", SqlType::kReal, 0},
    {"float", SqlType::kFloat, 0},
    {"decimal", SqlType::kDecimal, 0},
    {"numeric", SqlType::kDecimal, 0},
    {"dec", SqlType::kDecimal, 0},
    {"money", SqlType::kMoney, 0},
    {"smallmoney", SqlType::kSmallMoney, 0},
    {"datetime", SqlType::kDateTime, 0},
    {"smalldatetime", SqlType::kSmallDateTime, 0},
    {"char", SqlType::kChar, 1},
    {"character", SqlType::kChar, 1},
    {"varchar", SqlType::kVarChar, 1},
    {"text", SqlType::kText, 0},
    {"nchar", SqlType::kNChar, 1},
    {"nvarchar", SqlType::kNVarChar, 1},
    {"sysname", SqlType::kNVarChar, 128},
    {"ntext", SqlType::kNText, 0},
    {"binary", SqlType::kBinary, 1},
    {"varbinary", SqlType::kVarBinary, 1},
    {"image", SqlType::kImage, 0},
    {"uniqueidentifier", SqlType::kUniqueIdentifier, 0},
    {"sql_variant", SqlType::kSqlVariant, 0},
    // Newer clients declare parameters with the types of later versions.
    {"datetime2", SqlType::kDateTime, 0},
    {"date", SqlType::kDateTime, 0},
    {"datetimeoffset", SqlType::kDateTime, 0},
    {"time", SqlType::kNVarChar, 16},
};

// Date and time names of later versions that take a fractional-seconds precision.
bool TakesFractionPrecision(std::string_view name) {
  return EqualsIgnoreCase(name, "datetime2") || EqualsIgnoreCase(name, "datetimeoffset") ||
         EqualsIgnoreCase(name, "time");
}

const TypeInfo* Find(std::string_view name) {
  for (const TypeInfo& info : kTypes) {
    if (EqualsIgnoreCase(info.name, name)) return &info;
  }
  return nullptr;
}

std::optional<int> ToInt(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool TakesLength(SqlType type) {
  switch (type) {
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
    case SqlType::kBinary:
    case SqlType::kVarBinary:
      return true;
    default:
      return false;
  }
}

bool AllowsMax(SqlType type) {
  return type == SqlType::kVarChar || type == SqlType::kNVarChar || type == SqlType::kVarBinary;
}

}  // namespace

bool IsCharacterType(SqlType type) {
  switch (type) {
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kText:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
    case SqlType::kNText:
      return true;
    default:
      return false;
  }
}

namespace {
thread_local UserTypeResolver* current_user_types = nullptr;
}  // namespace

UserTypeScope::UserTypeScope(UserTypeResolver* resolver) : previous_(current_user_types) {
  current_user_types = resolver;
}

UserTypeScope::~UserTypeScope() { current_user_types = previous_; }

namespace {

std::optional<ColumnType> BuiltInType(std::string_view name,
                                      const std::vector<std::string>& arguments) {
  if (EqualsIgnoreCase(name, "timestamp") || EqualsIgnoreCase(name, "rowversion")) {
    if (!arguments.empty()) return std::nullopt;
    ColumnType type;
    type.type = SqlType::kBinary;
    type.length = 8;
    type.nullable = false;
    type.row_version = true;
    return type;
  }
  const TypeInfo* info = Find(name);
  if (info == nullptr) return std::nullopt;
  if (TakesFractionPrecision(name) && arguments.size() <= 1) {
    ColumnType type{info->type, info->default_length};
    return type;
  }
  ColumnType type;
  type.type = info->type;
  type.length = info->default_length;
  if (TakesLength(info->type)) {
    if (arguments.size() > 1) return std::nullopt;
    if (arguments.size() == 1) {
      if (EqualsIgnoreCase(arguments[0], "max")) {
        if (!AllowsMax(info->type)) return std::nullopt;
        type.length = kMaxLength;
      } else {
        std::optional<int> length = ToInt(arguments[0]);
        int limit = info->type == SqlType::kNChar || info->type == SqlType::kNVarChar ? 4000 : 8000;
        if (!length || (*length < 1 && *length != kMaxLength) || *length > limit)
          return std::nullopt;
        type.length = *length;
      }
    }
    return type;
  }
  if (info->type == SqlType::kDecimal) {
    type.numeric = EqualsIgnoreCase(name, "numeric");
    type.precision = 18;
    if (arguments.size() > 2) return std::nullopt;
    if (!arguments.empty()) {
      std::optional<int> precision = ToInt(arguments[0]);
      if (!precision || *precision < 1 || *precision > 38) return std::nullopt;
      type.precision = *precision;
    }
    if (arguments.size() == 2) {
      std::optional<int> scale = ToInt(arguments[1]);
      if (!scale || *scale < 0 || *scale > type.precision) return std::nullopt;
      type.scale = *scale;
    }
    return type;
  }
  if (info->type == SqlType::kMoney || info->type == SqlType::kSmallMoney) {
    type.precision = info->type == SqlType::kMoney ? 19 : 10;
    type.scale = 4;
  }
  if (info->type == SqlType::kFloat && arguments.size() == 1) {
    std::optional<int> bits = ToInt(arguments[0]);
    if (!bits || *bits < 1 || *bits > 53) return std::nullopt;
    if (*bits <= 24) type.type = SqlType::kReal;
    return type;
  }
  if (!arguments.empty()) return std::nullopt;
  return type;
}

}  // namespace

std::optional<ColumnType> ColumnTypeFromName(std::string_view name,
                                             const std::vector<std::string>& arguments) {
  std::optional<ColumnType> type = BuiltInType(name, arguments);
  if (type || !arguments.empty() || current_user_types == nullptr) return type;
  return current_user_types->Resolve(name);
}

std::optional<ColumnType> ParseDeclaredType(std::string_view declaration) {
  size_t open = declaration.find('(');
  std::string_view name = declaration.substr(0, open);
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) {
    name.remove_suffix(1);
  }
  std::vector<std::string> arguments;
  if (open != std::string_view::npos) {
    size_t close = declaration.find(')', open);
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view inside = declaration.substr(open + 1, close - open - 1);
    size_t start = 0;
    while (start <= inside.size()) {
      size_t comma = inside.find(',', start);
      std::string_view part =
          inside.substr(start, comma == std::string_view::npos ? inside.npos : comma - start);
      while (!part.empty() && std::isspace(static_cast<unsigned char>(part.front())))
        part.remove_prefix(1);
      while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back())))
        part.remove_suffix(1);
      arguments.emplace_back(part);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }
  return BuiltInType(name, arguments);
}

std::string_view TypeName(SqlType type) {
  for (const TypeInfo& info : kTypes) {
    if (info.type == type) return info.name;
  }
  return "sql_variant";
}

std::string_view DeclaredTypeName(const ColumnType& type) {
  if (type.row_version) return "timestamp";
  if (type.numeric && type.type == SqlType::kDecimal) return "numeric";
  return TypeName(type.type);
}

std::string TypeDeclaration(const ColumnType& type) {
  if (type.row_version) return "timestamp";
  std::string text(DeclaredTypeName(type));
  if (TakesLength(type.type)) {
    text += type.length == kMaxLength ? "(max)" : "(" + std::to_string(type.length) + ")";
  } else if (type.type == SqlType::kDecimal) {
    text += "(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
  }
  return text;
}

}  // namespace sqlengine::tsql
