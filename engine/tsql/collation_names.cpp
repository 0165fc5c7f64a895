#include "engine/tsql/collation_names.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {
namespace {

// Each locale of the Windows collations, with the Windows locale id and the
// code page its non-Unicode data is kept in (0: none, Unicode only).
struct Locale {
  std::string_view name;
  int lcid;
  int code_page;
};

constexpr Locale kLocales[] = {
    {"Albanian", 1052, 1250},
    {"Arabic", 1025, 1256},
    {"Chinese_PRC", 2052, 936},
    {"Chinese_PRC_Stroke", 0x20804, 936},
    {"Chinese_Taiwan_Bopomofo", 0x30404, 950},
    {"Chinese_Taiwan_Stroke", 1028, 950},
    {"Croatian", 1050, 1250},
    {"Cyrillic_General", 1049, 1251},
    {"Czech", 1029, 1250},
    {"Danish_Norwegian", 1030, 1252},
    {"Estonian", 1061, 1257},
    {"Finnish_Swedish", 1035, 1252},
    {"French", 1036, 1252},
    {"Georgian_Modern_Sort", 0x10437, 0},
    {"German_PhoneBook", 0x10407, 1252},
    {"Greek", 1032, 1253},
    {"Hebrew", 1037, 1255},
    {"Hindi", 1081, 0},
    {"Hungarian", 1038, 1250},
    {"Hungarian_Technical", 0x1040E, 1250},
    {"Icelandic", 1039, 1252},
    {"Japanese", 1041, 932},
    {"Japanese_Unicode", 0x10411, 932},
    {"Korean_Wansung", 1042, 949},
    {"Korean_Wansung_Unicode", 0x10412, 949},
    {"Latin1_General", 1033, 1252},
    {"Latvian", 1062, 1257},
    {"Lithuanian", 1063, 1257},
    {"Lithuanian_Classic", 0x10427, 1257},
    {"Macedonian", 1071, 1251},
    {"Mexican_Trad_Spanish", 2058, 1252},
    {"Modern_Spanish", 3082, 1252},
    {"Polish", 1045, 1250},
    {"Romanian", 1048, 1250},
    {"Slovak", 1051, 1250},
    {"Slovenian", 1060, 1250},
    {"Thai", 1054, 874},
    {"Traditional_Spanish", 1034, 1252},
    {"Turkish", 1055, 1254},
    {"Ukrainian", 1058, 1251},
    {"Vietnamese", 1066, 1258},
};

struct SqlCollation {
  std::string_view name;
  std::string_view sensitivity;  // the Windows suffix its Unicode data sorts by
  int sort_order;
  int code_page;
};

constexpr SqlCollation kSqlCollations[] = {
    {"SQL_Latin1_General_CP437_BIN", "BIN", 30, 437},
    {"SQL_Latin1_General_CP850_BIN", "BIN", 40, 850},
    {"SQL_Latin1_General_CP1_CS_AS", "CS_AS", 51, 1252},
    {"SQL_Latin1_General_CP1_CI_AS", "CI_AS", 52, 1252},
    {"SQL_Latin1_General_CP1_CI_AI", "CI_AI", 54, 1252},
};

std::string Described(std::string_view locale, std::string_view suffix) {
  std::string text(locale);
  std::replace(text.begin(), text.end(), '_', '-');
  if (suffix == "BIN") return text + ", binary sort";
  text += suffix.starts_with("CS") ? ", case-sensitive" : ", case-insensitive";
  text += suffix.find("_AS") != std::string_view::npos ? ", accent-sensitive"
                                                       : ", accent-insensitive";
  text += suffix.find("_KS") != std::string_view::npos ? ", kanatype-sensitive"
                                                       : ", kanatype-insensitive";
  text += suffix.find("_WS") != std::string_view::npos ? ", width-sensitive"
                                                       : ", width-insensitive";
  return text;
}

std::vector<CollationName> Build() {
  std::vector<CollationName> all;
  for (const Locale& entry : kLocales) {
    std::string_view locale = entry.name;
    all.push_back({std::string(locale) + "_BIN", Described(locale, "BIN")});
    for (std::string_view cs : {"CI", "CS"}) {
      for (std::string_view as : {"_AI", "_AS"}) {
        for (std::string_view ks : {"", "_KS"}) {
          for (std::string_view ws : {"", "_WS"}) {
            std::string suffix =
                std::string(cs) + std::string(as) + std::string(ks) + std::string(ws);
            all.push_back({std::string(locale) + "_" + suffix, Described(locale, suffix)});
          }
        }
      }
    }
  }
  for (const SqlCollation& c : kSqlCollations) {
    all.push_back({std::string(c.name), Described("Latin1_General", c.sensitivity) +
                                            " for Unicode Data, SQL Server Sort Order " +
                                            std::to_string(c.sort_order) + " on Code Page " +
                                            std::to_string(c.code_page) + " for non-Unicode Data"});
  }
  return all;
}

}  // namespace

const std::vector<CollationName>& KnownCollations() {
  static const std::vector<CollationName> all = Build();
  return all;
}

namespace {

// The engine's SQLite collations, with the flags each stands for (national
// ones end in _n).
struct SqliteRule {
  std::string_view name;
  bool case_sensitive;
  bool binary_order;
  bool accent_insensitive;
  bool upper_first;
};

constexpr SqliteRule kSqliteRules[] = {
    {"sqlengine_ci", false, false, false, false},
    {"sqlengine_ci_n", false, false, false, false},
    {"sqlengine_cs", true, true, false, false},
    {"sqlengine_cs_as", true, false, false, false},
    {"sqlengine_cs_as_n", true, false, false, false},
    {"sqlengine_cs_as_u", true, false, false, true},
    {"sqlengine_ci_ai", false, false, true, false},
    {"sqlengine_ci_ai_n", false, false, true, false},
    {"sqlengine_cs_ai", true, false, true, false},
    {"sqlengine_cs_ai_n", true, false, true, false},
};

bool HasPart(const std::string& upper, std::string_view part) {
  std::size_t at = upper.find(part);
  while (at != std::string::npos) {
    std::size_t end = at + part.size();
    if (end == upper.size() || upper[end] == '_') return true;
    at = upper.find(part, at + 1);
  }
  return false;
}

// The rules from this one on are the dictionary collations.
constexpr std::size_t kFirstDictionaryRule = 3;

}  // namespace

std::optional<char> GroupingDigit(std::string_view sqlite_collation) {
  for (std::size_t k = kFirstDictionaryRule; k < std::size(kSqliteRules); ++k) {
    if (kSqliteRules[k].name == sqlite_collation)
      return static_cast<char>('0' + (k - kFirstDictionaryRule + 1));
  }
  return std::nullopt;
}

std::string_view GroupingCollation(char digit) {
  std::size_t k = static_cast<std::size_t>(digit - '1') + kFirstDictionaryRule;
  if (digit < '1' || k >= std::size(kSqliteRules)) return {};
  return kSqliteRules[k].name;
}

void ApplyCollation(std::string_view name, ColumnType& type) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  type.binary_order = HasPart(upper, "_BIN");
  type.case_sensitive = type.binary_order || HasPart(upper, "_CS");
  type.accent_insensitive = !type.binary_order && HasPart(upper, "_AI");
  type.upper_first = type.case_sensitive && !type.binary_order && upper.starts_with("SQL_");
}

void CopyCollation(const ColumnType& from, ColumnType& to) {
  to.case_sensitive = from.case_sensitive;
  to.binary_order = from.binary_order;
  to.accent_insensitive = from.accent_insensitive;
  to.upper_first = from.upper_first;
}

bool SameCollation(const ColumnType& a, const ColumnType& b) {
  return a.case_sensitive == b.case_sensitive && a.binary_order == b.binary_order &&
         a.accent_insensitive == b.accent_insensitive && a.upper_first == b.upper_first;
}

std::string CollationNameFor(const ColumnType& type) {
  if (type.case_sensitive && type.binary_order) return "Latin1_General_BIN";
  if (type.upper_first) return "SQL_Latin1_General_CP1_CS_AS";
  if (!type.case_sensitive && !type.accent_insensitive) return "SQL_Latin1_General_CP1_CI_AS";
  return std::string("Latin1_General_") + (type.case_sensitive ? "CS" : "CI") +
         (type.accent_insensitive ? "_AI" : "_AS");
}

std::string_view SqliteCollation(const ColumnType& type, bool national) {
  if (type.case_sensitive && type.binary_order) return "sqlengine_cs";
  if (type.accent_insensitive) {
    if (type.case_sensitive) return national ? "sqlengine_cs_ai_n" : "sqlengine_cs_ai";
    return national ? "sqlengine_ci_ai_n" : "sqlengine_ci_ai";
  }
  if (type.case_sensitive) {
    if (national) return "sqlengine_cs_as_n";
    return type.upper_first ? "sqlengine_cs_as_u" : "sqlengine_cs_as";
  }
  return national ? "sqlengine_ci_n" : "sqlengine_ci";
}

void ApplySqliteCollation(const char* sqlite_name, ColumnType& type) {
  ColumnType plain;
  CopyCollation(plain, type);
  if (sqlite_name == nullptr) return;
  std::string_view name(sqlite_name);
  if (EqualsIgnoreCase(name, "binary")) {
    type.case_sensitive = type.binary_order = true;
    return;
  }
  for (const SqliteRule& rule : kSqliteRules) {
    if (!EqualsIgnoreCase(name, rule.name)) continue;
    type.case_sensitive = rule.case_sensitive;
    type.binary_order = rule.binary_order;
    type.accent_insensitive = rule.accent_insensitive;
    type.upper_first = rule.upper_first;
    return;
  }
}

bool IsKnownCollation(std::string_view name) {
  static const std::unordered_set<std::string> lowered = [] {
    std::unordered_set<std::string> names;
    for (const CollationName& c : KnownCollations()) names.insert(ToLower(c.name));
    return names;
  }();
  return lowered.count(ToLower(name)) > 0;
}

std::optional<int> CollationProperty(std::string_view name, std::string_view property) {
  if (!IsKnownCollation(name)) return std::nullopt;
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  int lcid = 1033;
  int code_page = 1252;
  std::string_view sensitivity;  // the suffix after the locale: CI_AS, BIN, ...
  bool found = false;
  for (const SqlCollation& c : kSqlCollations) {
    if (EqualsIgnoreCase(c.name, name)) {
      code_page = c.code_page;
      sensitivity = c.sensitivity;
      found = true;
    }
  }
  std::string suffix;
  if (!found) {
    // The longest locale name that prefixes it (Chinese_PRC_Stroke before
    // Chinese_PRC).
    std::size_t best = 0;
    for (const Locale& locale : kLocales) {
      if (locale.name.size() > best && upper.size() > locale.name.size() &&
          upper[locale.name.size()] == '_' &&
          EqualsIgnoreCase(std::string_view(upper).substr(0, locale.name.size()), locale.name)) {
        best = locale.name.size();
        lcid = locale.lcid;
        code_page = locale.code_page;
      }
    }
    suffix = upper.substr(best + 1);
    sensitivity = suffix;
  }
  std::string wanted(property);
  std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (wanted == "codepage") return code_page;
  if (wanted == "lcid") return lcid;
  if (wanted != "comparisonstyle") return std::nullopt;
  // Windows' comparison flags: ignore case 0x1, ignore accents 0x2, ignore
  // kana type 0x10000, ignore width 0x20000; a binary collation has none.
  if (sensitivity == "BIN") return 0;
  std::string parts = "_" + std::string(sensitivity) + "_";
  int style = 0;
  if (parts.find("_CI_") != std::string::npos) style |= 0x1;
  if (parts.find("_AI_") != std::string::npos) style |= 0x2;
  if (parts.find("_KS_") == std::string::npos) style |= 0x10000;
  if (parts.find("_WS_") == std::string::npos) style |= 0x20000;
  return style;
}

}  // namespace sqlengine::tsql
