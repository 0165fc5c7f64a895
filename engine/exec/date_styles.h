#pragma once
// CONVERT's date styles: sqlengine_date_style(value, style) writes a datetime
// (a value in the engine's datetime text form) in the style's text form, and
// sqlengine_datetime_styled(text, style) reads a text written in that style.
// Any other value, and an unknown style, pass through as CONVERT without a
// style would treat them.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterDateStyleFunctions(sqlite3* db);

}  // namespace sqlengine::exec
