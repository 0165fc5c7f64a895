#include "engine/tsql/collation_names.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {
namespace {

constexpr std::string_view kLocales[] = {
    "Albanian", "Arabic", "Chinese_PRC", "Chinese_PRC_Stroke", "Chinese_Taiwan_Bopomofo",
    "Chinese_Taiwan_Stroke", "Croatian", "Cyrillic_General", "Czech", "Danish_Norwegian",
    "Estonian", "Finnish_Swedish", "French", "Georgian_Modern_Sort", "German_PhoneBook", "Greek",
    "Hebrew", "Hindi", "Hungarian", "Hungarian_Technical", "Icelandic", "Japanese",
    "Japanese_Unicode", "Korean_Wansung", "Korean_Wansung_Unicode", "Latin1_General", "Latvian",
    "Lithuanian", "Lithuanian_Classic", "Macedonian", "Mexican_Trad_Spanish", "Modern_Spanish",
    "Polish", "Romanian", "Slovak", "Slovenian", "Thai", "Traditional_Spanish", "Turkish",
    "Ukrainian", "Vietnamese"};

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
  for (std::string_view locale : kLocales) {
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

}  // namespace sqlengine::tsql
