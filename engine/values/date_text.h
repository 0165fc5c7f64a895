#pragma once
// A datetime read from text as SQL Server reads it: numeric dates in the
// session's DATEFORMAT order with / - . separators ('1/10/1997', '1997-1-5'),
// unseparated 'yyyymmdd', 'yymmdd' and 'yyyy', ISO 8601
// ('1997-01-01T10:00:00.123'), month names and their abbreviations ('Jul 4
// 1996', '4 July, 1996'), times with AM/PM and milliseconds after a colon
// (thousandths) or a period (a fraction of up to three digits), a time
// alone (on 1900-01-01), a date alone (at midnight), and two-digit years
// 00-49 as 20xx, 50-99 as 19xx.
// Pure functions: the caller passes the session's settings.

#include <optional>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::values {

// SET DATEFORMAT: the order of a numeric date's day, month and year.
enum class DateOrder { kMdy, kDmy, kYmd, kYdm, kMyd, kDym };

// The order named "mdy", "dmy" ... (any case); nullopt for another word.
std::optional<DateOrder> DateOrderNamed(std::string_view name);

// Which type the text becomes: its range and its rounding.
enum class DateKind { kDateTime, kSmallDateTime };

// `text` as a value of `kind`: milliseconds rounded to datetime's 1/300
// second (.000, .003, .007), a smalldatetime to the minute. Throws SqlError
// 241 when the text is no date, 242 when it names a date or time that does
// not exist or lies outside datetime's 1753-01-01..9999-12-31, 296 outside
// smalldatetime's 1900-01-01..2079-06-06 23:59.
DateTime DateTimeFromText(std::string_view text, DateKind kind, DateOrder order);

// As DateTimeFromText, nullopt instead of an error.
std::optional<DateTime> TryDateTimeFromText(std::string_view text, DateKind kind, DateOrder order);

// A stored or computed value brought to `kind`'s precision: datetime's
// 1/300 second or smalldatetime's minute. Throws 242 / 296 when rounding
// or the value itself leaves the type's range.
DateTime RoundedToKind(const DateTime& value, DateKind kind);

}  // namespace sqlengine::values
