#pragma once
// INSERT, UPDATE and DELETE through the front end: parsed, bound against the
// session's catalog (every written value converted to its column's type),
// generated as SQLite SQL. The executor runs that text with its identity
// rules, SET ROWCOUNT, write lock and authorizer. A statement the front end cannot take is refused with SQL
// Server's error.

#include <optional>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Parses an INSERT, UPDATE or DELETE as its run will, before the batch
// runs: throws the parser's syntax errors, and the refusal of a form the
// front end does not take (front_end_refusals.h).
void CheckChangeSyntax(const tsql::Statement& statement);

// The SQL for an INSERT ... VALUES / INSERT ... SELECT, UPDATE or DELETE
// (with its WITH list and OPTION clause); nullopt for a statement of another
// kind. Throws SqlError as the binder does (911 for an unknown database), and
// the refusal of a statement the front end cannot take. `literals` as
// FrontEndSelect takes it.
std::optional<tsql::SqliteText> FrontEndChange(
    const tsql::Statement& statement, Session& session,
    tsql::generate::Literals literals = tsql::generate::Literals::kWritten);

// An UPDATE's rows and the values it writes (generate/update_rows.h), for
// applying the change as one: `columns` are the SET list's columns as the
// table spells them, in the order of the query's values after the rowid.
// nullopt for another statement. Reading the rows of an UPDATE that assigns
// variables assigns them (under the statement's PerRowVariables scope).
// Throws as FrontEndChange.
struct UpdateRows {
  tsql::SqliteText query;
  std::vector<std::string> columns;
};
std::optional<UpdateRows> FrontEndUpdateRows(const tsql::Statement& statement, Session& session);

}  // namespace sqlengine::exec
