#pragma once
// The collations SQL Server 2000 knows, as ::fn_helpcollations() lists them:
// the Windows collations of each locale (binary, then every combination of
// case, accent, kana and width sensitivity) followed by the SQL collations.
// A COLLATE clause must name one of them (any case). The engine compares
// Latin letters by case (_CS), accent (_AS / _AI) and binary order (_BIN) as
// the name says; kana and width sensitivity change nothing for them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::tsql {

struct CollationName {
  std::string name;
  std::string description;
};

// Every known collation in ::fn_helpcollations()'s order. Built once.
const std::vector<CollationName>& KnownCollations();

// Whether `name` is one of them, compared without regard to case.
bool IsKnownCollation(std::string_view name);

// COLLATIONPROPERTY(name, property) for a known collation: 'CodePage' (of
// its non-Unicode data; 0 for a Unicode-only locale), 'LCID' (its Windows
// locale id) or 'ComparisonStyle' (Windows' flags: ignore case 0x1, accents
// 0x2, kana type 0x10000, width 0x20000). nullopt for an unknown name or
// property.
std::optional<int> CollationProperty(std::string_view name, std::string_view property);

// The digit sqlengine_grouped's plan (exec/hash_grouping.h) names one of the
// engine's dictionary collations by (sqlengine_cs_as and the others beside
// sqlengine_ci, sqlengine_ci_n and sqlengine_cs), and back: nullopt and ""
// for any other.
std::optional<char> GroupingDigit(std::string_view sqlite_collation);
std::string_view GroupingCollation(char digit);

// Sets the collation flags of `type` (case_sensitive, binary_order,
// accent_insensitive, upper_first) as the known collation `name` orders
// character data.
void ApplyCollation(std::string_view name, ColumnType& type);

// Copies the collation flags of `from` into `to`.
void CopyCollation(const ColumnType& from, ColumnType& to);

// A known collation that orders character data as the flags of `type` say
// (SQL_Latin1_General_CP1_CI_AS for none, Latin1_General_BIN, ...).
std::string CollationNameFor(const ColumnType& type);

// Whether `a` and `b` order character data alike.
bool SameCollation(const ColumnType& a, const ColumnType& b);

// The engine's SQLite collation (exec/text_comparison.h) that compares
// character data as the flags of `type` say, for Unicode data when
// `national`: sqlengine_ci / sqlengine_ci_n by default, sqlengine_cs (by the
// bytes) for a _BIN collation, sqlengine_cs_as / _n / _u for a _CS one,
// sqlengine_ci_ai / _n and sqlengine_cs_ai / _n for an _AI one.
std::string_view SqliteCollation(const ColumnType& type, bool national);

// Sets the collation flags of `type` from the SQLite collation a column is
// declared with (null for none): one of the engine's, or BINARY (a _CS or
// _BIN column of a file older than the engine's collations, by the bytes)
// or NOCASE (the default collation).
void ApplySqliteCollation(const char* sqlite_name, ColumnType& type);

}  // namespace sqlengine::tsql
