#pragma once
// Character comparison as the server's collations do it, for the SQL the
// front end generates: the collations sqlengine_ci (letters without case,
// accented Latin letters beside their base letter), sqlengine_ci_n (the same
// for Unicode data, 'ß' read as "ss"), sqlengine_cs (by the bytes, for _BIN
// collations and for the _CS columns of files older than format 4), the
// dictionary orders of _CS and _AI collations (CompareInDictionaryOrder), all
// ignoring trailing spaces, and sqlengine_like_as(value, pattern, escape,
// collation, unicode), T-SQL's LIKE with % _ [abc] [a-z] [^...] and
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
  bool accent_insensitive = false;  // 'e' matches 'é' (an _AI collation)
  // Blanks at the end of the value that the pattern does not match are
  // ignored (SQL Server's rule for non-Unicode data).
  bool trailing_blanks_ignored = false;
  // A range [x-y] holds the characters the collation sorts from x to y
  // ('ä' is in [a-b] and, under a case-sensitive dictionary order, 'B' in
  // [a-c]); without it a range is read by code point, as a binary
  // collation orders.
  bool ranges_by_collation = false;
  bool upper_first = false;  // with ranges_by_collation: 'A' sorts before 'a'
  bool national = false;     // with ranges_by_collation: Unicode data ('ß' as "ss")
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

// The collation a format-3 upgrade declares a character column with:
// sqlengine_cs (by the bytes) when `case_sensitive`, else sqlengine_ci_n for
// Unicode (`national`: nchar, nvarchar, ntext) and sqlengine_ci for other
// data: the collations the upgrade to format 3 moved NOCASE and BINARY to.
// New columns take tsql::SqliteCollation's.
std::string_view ColumnCollation(bool case_sensitive, bool national);

// -1, 0 or 1 as the dictionary collations other than the default order `a`
// and `b` (sqlengine_cs_as, sqlengine_cs_as_u, sqlengine_ci_ai, ... and their
// _n forms for Unicode data): by the letters, case folded and accents set
// aside ('ß', 'æ', 'ð', 'þ' letters of their own), then by the first accent
// that differs unless `accent_insensitive`, then, when `case_sensitive`, by
// the first case that differs, lower case first unless `upper_first`.
// `national` reads 'ß' as "ss". Trailing spaces never count.
int CompareInDictionaryOrder(std::string_view a, std::string_view b, bool case_sensitive,
                             bool accent_insensitive, bool upper_first, bool national);

// A text two values share exactly when CompareInDictionaryOrder finds them
// equal under the same rules (upper_first changes no equality).
std::string DictionaryKey(std::string_view text, bool case_sensitive, bool accent_insensitive,
                          bool national);

// Makes every SQLite connection the process opens from now on know the
// collations (an automatic extension), so that connections without a
// session (attach's check, the format upgrade, DBCC, shrink, backup) can
// read and write the indexes of character keys. Idempotent.
void RegisterCollationsForEveryConnection();

}  // namespace sqlengine::exec
