#pragma once
// Character comparison as the server's collations do it, for the SQL the
// front end generates: the collations sqlengine_ci (letters without case,
// accented Latin letters beside their base letter), sqlengine_ci_n (the same
// for Unicode data, 'ß' read as "ss") and sqlengine_cs (by the bytes, for
// _CS and _BIN collations), all ignoring trailing spaces, and sqlengine_like_as(value, pattern, escape,
// case_sensitive, unicode), T-SQL's LIKE with % _ [abc] [a-z] [^...] and
// ESCAPE (the older sqlengine_like(value, pattern [, escape]) is the
// case-insensitive form).

#include <locale.h>
#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace sqlengine::exec {

struct LikeRules {
  std::optional<char> escape;  // makes the next pattern character literal
  bool case_sensitive = false;
  // Blanks at the end of the value that the pattern does not match are
  // ignored (SQL Server's rule for non-Unicode data).
  bool trailing_blanks_ignored = false;
};

// Whether `value` matches the T-SQL LIKE `pattern`.
bool LikeMatches(std::string_view value, std::string_view pattern, const LikeRules& rules = {});

// The Unicode case mappings (glibc's C.UTF-8); null when the C library has
// none, and then only ASCII letters change case.
locale_t UnicodeLocale();

// A character as the case-insensitive collations see it: lower case, for
// letters beyond ASCII too ('Ä' is 'ä').
char32_t FoldedCharacter(char32_t c);

// `text` with every character folded as FoldedCharacter folds it, where the
// folded one takes as many bytes (so a byte offset stays where it was).
std::string FoldedText(std::string_view text);

// -1, 0 or 1 as the collation sqlengine_ci orders `a` and `b`.
int CompareIgnoringCase(std::string_view a, std::string_view b);

// -1, 0 or 1 as the collation sqlengine_ci_n orders `a` and `b`: Unicode
// data under the server's case-insensitive collation, which is
// sqlengine_ci with 'ß' read as "ss" (N'Straße' = N'STRASSE'; for
// non-Unicode data SQL Server's default collation keeps them apart).
int CompareNationalIgnoringCase(std::string_view a, std::string_view b);

// The text two values equal under sqlengine_ci_n share: FoldedText with
// 'ß' as "ss" (its offsets are not the text's).
std::string NationalFoldedText(std::string_view text);

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterTextComparison(sqlite3* db);

// The collation a character column is declared with, so that its keys,
// unique indexes and plain comparisons follow the server's rules:
// sqlengine_cs for a _CS or _BIN collation, else sqlengine_ci_n for Unicode
// (`national`: nchar, nvarchar, ntext) and sqlengine_ci for other data.
// Files of format 2 and older declared NOCASE and BINARY instead.
std::string_view ColumnCollation(bool case_sensitive, bool national);

// Whether a column declared with `collation` (sqlite3_table_column_metadata's
// answer; null for none) compares case apart: sqlengine_cs, or BINARY as
// older files declare it.
bool IsCaseSensitiveCollation(const char* collation);

// Makes every SQLite connection the process opens from now on know the
// collations (an automatic extension), so that connections without a
// session (attach's check, the format upgrade, DBCC, shrink, backup) can
// read and write the indexes of character keys. Idempotent.
void RegisterCollationsForEveryConnection();

}  // namespace sqlengine::exec
