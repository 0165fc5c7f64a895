#pragma once
// How an INSERT treats a table's identity column, as SQL Server does: a
// statement without a column list gives values for the other columns only,
// and an explicit identity value needs SET IDENTITY_INSERT table ON.

#include <optional>
#include <string>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

class Session;
class SessionConnection;

// The INSERT's tokens with the column list made explicit when it has none and
// its table has an identity column; nullopt when nothing changes. Throws
// SqlError 544 when the statement names the identity column of a table that
// is not `identity_insert_table` (lower case; empty: none). `schema` is the
// SQLite schema of the database the INSERT writes ("main", an attached
// one's alias, "temp" for a #temp table).
std::optional<tsql::Tokens> ApplyIdentityRules(SessionConnection& connection,
                                               const tsql::Tokens& insert,
                                               const std::string& identity_insert_table,
                                               const std::string& schema);

// SET IDENTITY_INSERT table ON | OFF for the session (its table, lower case,
// empty when none). Throws 8106 for a table without an identity column, 8104
// when the login may not alter the table, 8107 when another table already has
// it ON, 170 for a malformed SET.
void SetIdentityInsert(Session& session, const tsql::Tokens& set);

}  // namespace sqlengine::exec
