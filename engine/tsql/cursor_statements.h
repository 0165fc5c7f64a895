#pragma once
// The syntax of T-SQL's cursor statements: DECLARE c CURSOR (both the
// Transact-SQL and the SQL-92 form), the CURSOR ... FOR clause of SET @c =,
// OPEN / CLOSE / DEALLOCATE, FETCH and the WHERE CURRENT OF of a positioned
// UPDATE or DELETE. Pure syntax: names stay as written, nothing is resolved.
// Every parse function throws SyntaxError (156 / 170) for text SQL Server
// refuses.

#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

enum class CursorScope { kDefault, kLocal, kGlobal };
// How a cursor sees the rows; kDynamic is what a cursor declared without a
// type gets.
enum class CursorKind { kDynamic, kStatic, kKeyset, kFastForward };

struct CursorDeclaration {
  CursorScope scope = CursorScope::kDefault;
  CursorKind kind = CursorKind::kDynamic;
  bool scroll = false;     // FETCH in every direction; else NEXT only
  bool read_only = false;  // READ_ONLY, STATIC, INSENSITIVE, FAST_FORWARD, FOR READ ONLY
  bool for_update = false;
  std::vector<std::string> update_columns;  // FOR UPDATE OF ...; empty: every column
  Statement query;                          // the SELECT, without its FOR READ ONLY / FOR UPDATE
};

// DECLARE name [INSENSITIVE] [SCROLL] CURSOR ...
bool IsCursorDeclaration(const Tokens& tokens);
// `at` indexes the first token after the cursor's name (DECLARE c ...) or
// the CURSOR of SET @c = CURSOR ...; the declaration runs to the end.
// Throws SqlError 6819 for a query with a FOR XML clause.
CursorDeclaration ParseCursorDeclaration(const Tokens& tokens, size_t at, int line);

// Throws SqlError 6819 (a CURSOR statement) when a query's own tokens hold
// a FOR XML clause, outside any parentheses.
void RefuseCursorForXml(const Tokens& tokens, int line);

// A cursor as OPEN, FETCH, CLOSE, DEALLOCATE and WHERE CURRENT OF name it:
// [GLOBAL] name, or a cursor variable.
struct CursorReference {
  std::string name;  // as written; "@c" for a variable
  bool global = false;
  bool variable = false;
};
// Reads the reference at `at` and advances past it.
CursorReference ReadCursorReference(const Tokens& tokens, size_t& at);

enum class FetchDirection { kNext, kPrior, kFirst, kLast, kAbsolute, kRelative };

struct FetchStatement {
  FetchDirection direction = FetchDirection::kNext;
  Tokens offset;  // ABSOLUTE / RELATIVE n: an integer literal or a variable
  CursorReference cursor;
  std::vector<std::string> into;  // the variables, as written
};
FetchStatement ParseFetch(const Tokens& tokens);

// OPEN, CLOSE and DEALLOCATE: the statement's one cursor.
CursorReference ParseCursorStatement(const Tokens& tokens);

// The index of the WHERE of `... WHERE CURRENT OF cursor` in an UPDATE or
// DELETE; nullopt when the statement is no positioned change.
std::optional<size_t> CurrentOfAt(const Tokens& tokens);

}  // namespace sqlengine::tsql
