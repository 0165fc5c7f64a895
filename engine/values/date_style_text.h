#pragma once
// CONVERT's date styles, both ways: a datetime written as a style's text,
// and a text read with the order its style implies.

#include <string>
#include <string_view>

#include "engine/common/types.h"
#include "engine/values/date_text.h"

namespace sqlengine::values {

// The text of `value` in `style`: 0-14, 20, 21 and 100-114, 120, 121, 126,
// 130, 131 as SQL Server 2000 writes them (style 0 is also what CAST to a
// character type writes). Throws SqlError 281 for a style it has not.
std::string DateTimeStyled(const DateTime& value, int style);

// `text` read as CONVERT(datetime, text, style) reads it: the day-first
// styles (3, 4, 5, 13 and their century forms) read day-month-year, the
// year-first ones (2, 11, 12) year-month-day, 130 and 131 a Hijri date; the others
// use `order`, the session's DATEFORMAT. Throws as DateTimeFromText.
DateTime DateTimeFromStyledText(std::string_view text, int style, DateKind kind, DateOrder order);

}  // namespace sqlengine::values
