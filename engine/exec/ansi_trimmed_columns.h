#pragma once
// Columns made while SET ANSI_PADDING was OFF. SQL Server records the
// setting with each char, varchar, binary and varbinary column it makes and
// keeps that column's values by it for good, whatever the setting when they
// are written: a varchar or varbinary column, and a char or binary column
// that allows NULLs, drops the trailing blanks (zero bytes for binary data)
// of what it stores, and such a char or binary column reads as varchar or
// varbinary (no padding); a char or binary NOT NULL column stays padded.
// Unicode, text and image columns are not affected.
//
// The definition SQLite keeps marks such a column with kAnsiTrimMarker, a
// comment after its declared type that SQLite skips; a column without it
// was made with ANSI_PADDING ON (every column of an older file).

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

inline constexpr std::string_view kAnsiTrimMarker = "/*sqlengine_ansi_trim*/";

// Whether a column of `type` records the ANSI_PADDING it was made under:
// char, varchar, binary and varbinary of a set length.
bool RecordsAnsiPadding(const ColumnType& type);

// Whether a column of `type` made under ANSI_PADDING OFF trims the values
// written to it: all but char or binary NOT NULL.
bool TrimsWrittenValues(const ColumnType& type, bool nullable);

// The names of the columns a CREATE TABLE text (as SQLite keeps it) marks
// as made under ANSI_PADDING OFF.
std::vector<std::string> AnsiTrimmedColumns(const std::string& table_sql);

// Whether `column` (any case) is among `columns` (AnsiTrimmedColumns').
bool ListsColumn(const std::vector<std::string>& columns, std::string_view column);

// Registers sqlengine_ansi_trimmed(value): a text without its trailing
// blanks, binary data without its trailing zero bytes, anything else as it
// is; what the triggers of a trimmed column store.
void RegisterAnsiTrimFunction(sqlite3* db);

}  // namespace sqlengine::exec
