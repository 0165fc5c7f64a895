#include "engine/exec/languages.h"

#include <array>

#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kEnglishMonths =
    "January,February,March,April,May,June,July,August,September,October,November,December";
constexpr std::string_view kEnglishShortMonths = "Jan,Feb,Mar,Apr,May,Jun,Jul,Aug,Sep,Oct,Nov,Dec";
constexpr std::string_view kEnglishDays = "Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday";

// British English differs from us_english in its date order and its week,
// which starts on Monday; the names are the same.
constexpr std::array kLanguages = {
    Language{0, "us_english", "English", values::DateOrder::kMdy, "mdy", 7, 1033, kEnglishMonths,
             kEnglishShortMonths, kEnglishDays},
    Language{23, "British", "British English", values::DateOrder::kDmy, "dmy", 1, 2057,
             kEnglishMonths, kEnglishShortMonths, kEnglishDays},
};

}  // namespace

std::span<const Language> Languages() { return kLanguages; }

const Language* LanguageNamed(std::string_view name) {
  for (const Language& language : kLanguages) {
    if (tsql::EqualsIgnoreCase(name, language.name) || tsql::EqualsIgnoreCase(name, language.alias))
      return &language;
  }
  return nullptr;
}

const Language& LanguageOf(int langid) {
  for (const Language& language : kLanguages) {
    if (language.langid == langid) return language;
  }
  return kLanguages[0];
}

}  // namespace sqlengine::exec
