#pragma once
// GRANT, REVOKE and DENY of object permissions (SELECT, INSERT, UPDATE,
// DELETE, REFERENCES, EXECUTE, ALL) and statement permissions (CREATE TABLE,
// CREATE VIEW, CREATE PROCEDURE, ..., BACKUP DATABASE, BACKUP LOG, CREATE
// DATABASE) in the current database.

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Throws SqlError: 208 for an unknown object, 4604 for an unknown grantee,
// 4613 / 15247 when the caller may not grant, 4611 when a grantable
// permission is revoked without CASCADE, 170 for syntax.
void ExecutePermission(Session& session, const tsql::Statement& statement);

}  // namespace sqlengine::exec
