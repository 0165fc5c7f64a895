#include "engine/tsql/collation_names.h"

#include <algorithm>
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

bool IsKnownCollation(std::string_view name) {
  static const std::unordered_set<std::string> lowered = [] {
    std::unordered_set<std::string> names;
    for (const CollationName& c : KnownCollations()) names.insert(ToLower(c.name));
    return names;
  }();
  return lowered.count(ToLower(name)) > 0;
}

}  // namespace sqlengine::tsql
