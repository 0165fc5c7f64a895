#pragma once
// A session's SET DATEFORMAT, SET DATEFIRST and SET LANGUAGE, and the
// settings in force on this thread. A session's request runs on one thread;
// conversions deep inside it (SQLite functions, variable assignment) read
// the settings through CurrentDateSettings() rather than being handed them.

#include <string_view>

#include "engine/values/date_text.h"

namespace sqlengine::exec {

struct DateSettings {
  values::DateOrder order = values::DateOrder::kMdy;
  int first_day = 7;  // @@DATEFIRST: 7 = Sunday, us_english's
  int langid = 0;     // @@LANGID: us_english

  // SET LANGUAGE: a language of languages.h by its name or alias takes its
  // date order and first day of the week. Throws SqlError 2740 for another.
  void SetLanguage(std::string_view name);
  // Throws SqlError 2741 for an order that is not one of mdy, dmy, ymd, ydm, myd, dym.
  void SetDateFormat(std::string_view name);
  // Throws SqlError 2742 outside 1..7.
  void SetDateFirst(long long day);
};

// The settings of the request running on this thread; the defaults when none.
const DateSettings& CurrentDateSettings();

// Makes `settings` current on this thread for the guard's lifetime; they
// must outlive it. Guards nest (a request inside a request restores the outer).
class DateSettingsScope {
 public:
  explicit DateSettingsScope(const DateSettings& settings);
  ~DateSettingsScope();
  DateSettingsScope(const DateSettingsScope&) = delete;
  DateSettingsScope& operator=(const DateSettingsScope&) = delete;

 private:
  const DateSettings* outer_;
};

}  // namespace sqlengine::exec
