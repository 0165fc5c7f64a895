#include "engine/exec/date_settings.h"

#include <string>

#include "engine/common/error.h"
#include "engine/exec/languages.h"

namespace sqlengine::exec {
namespace {

thread_local const DateSettings* current_settings = nullptr;

}  // namespace

void DateSettings::SetLanguage(std::string_view name) {
  const Language* language = LanguageNamed(name);
  if (language == nullptr) throw MakeError(2740, {name});
  order = language->order;
  first_day = language->first_day;
  langid = language->langid;
}

void DateSettings::SetDateFormat(std::string_view name) {
  std::optional<values::DateOrder> named = values::DateOrderNamed(name);
  if (!named) throw MakeError(2741, {name});
  order = *named;
}

void DateSettings::SetDateFirst(long long day) {
  if (day < 1 || day > 7) throw MakeError(2742, {std::to_string(day)});
  first_day = static_cast<int>(day);
}

const DateSettings& CurrentDateSettings() {
  static const DateSettings kDefaults;
  return current_settings != nullptr ? *current_settings : kDefaults;
}

DateSettingsScope::DateSettingsScope(const DateSettings& settings) : outer_(current_settings) {
  current_settings = &settings;
}

DateSettingsScope::~DateSettingsScope() { current_settings = outer_; }

}  // namespace sqlengine::exec
