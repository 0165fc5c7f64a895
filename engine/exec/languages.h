#pragma once
// The languages SET LANGUAGE takes, as master.dbo.syslanguages lists them:
// each one's date order, first day of the week and names of months and days.

#include <span>
#include <string_view>

#include "engine/values/date_text.h"

namespace sqlengine::exec {

struct Language {
  int langid;
  std::string_view name;   // @@LANGUAGE
  std::string_view alias;  // the other name SET LANGUAGE takes
  values::DateOrder order;
  std::string_view dateformat;  // the order as syslanguages spells it
  int first_day;                // DATEFIRST: 1 = Monday ... 7 = Sunday
  int lcid;
  std::string_view months;       // comma-separated, January first
  std::string_view short_months;
  std::string_view days;  // comma-separated, Monday first
};

// The languages in langid order; us_english (0) first.
std::span<const Language> Languages();

// The language `name` or its alias names, ignoring case; nullptr for none.
const Language* LanguageNamed(std::string_view name);

// The language of `langid`; us_english for one not listed.
const Language& LanguageOf(int langid);

}  // namespace sqlengine::exec
