#include "engine/exec/date_settings.h"

#include <string>

#include "engine/common/error.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

thread_local const DateSettings* current_settings = nullptr;

}  // namespace

void DateSettings::SetLanguage(std::string_view name) {
  if (!tsql::EqualsIgnoreCase(name, "us_english") && !tsql::EqualsIgnoreCase(name, "English")) {
    throw MakeError(2740, {name});
  }
  *this = DateSettings{};
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
