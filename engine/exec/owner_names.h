#pragma once
// Names and their owners: which object a name with or without an owner part
// reaches, as SQL Server 2000 resolves it (see SessionRights::NameReaches).
// A database holds one object of a name whoever owns it, so a name reaches
// that object or none; callers give the error a missing object gets.

#include <optional>
#include <string>
#include <string_view>

#include "engine/tsql/dotted_name.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// The owner part of `name` ("" when none is written): the second part from
// the end of a name of two or more parts.
std::string OwnerPart(const tsql::DottedName& name);

// Whether `object` of `database` (empty: the one unqualified names reach),
// written after `owner` (empty: none), is reached by that name. True for a
// #table and for a database the session does not reach (whose use fails
// where it is read). Reads the database's security state (runs SQL).
bool ReachesAsWritten(Session& session, const std::string& database, const std::string& owner,
                      const std::string& object);
bool ReachesAsWritten(Session& session, const tsql::DottedName& name);
// The same for a name a system procedure takes as text ('t', 'bob.t',
// '[bob].[t]'), of the current database, which stands for `object`.
bool ArgumentReaches(Session& session, std::string_view written, const std::string& object);

// Checks the owner part of the name a schema statement acts on, before it
// runs. A CREATE of a table, view, procedure or function written with an
// owner makes it that user's (or role's): 2760 when the database has no such
// user or role or the creator may not use it (only the user himself, dbo,
// db_owner and db_ddladmin may); 2714, naming the owner, when another
// owner's object already has the name (a database here holds one object of
// a name, whoever owns it). ALTER, DROP, TRUNCATE and CREATE INDEX ON get
// the error a missing object gets when their name does not reach the object
// (DROP TRIGGER, RULE, DEFAULT and INDEX too; a trigger is its table owner's).
// Returns the uid of the owner a CREATE gives its object when one is written
// (nullopt: none written, or a statement that creates nothing owned).
std::optional<int> CheckOwnerPart(Session& session, const tsql::Statement& statement);
// The same check of the name `name` a CREATE makes (2760, 2714); the uid of
// the owner written, nullopt when none is.
std::optional<int> CheckCreatedOwner(Session& session, const tsql::DottedName& name);

// Drops the database part of `name` once the session has entered that
// database, keeping its owner part: "db.bob.p" becomes "bob.p", "db..p" "p".
void KeepOwnerAndName(tsql::DottedName& name);

}  // namespace sqlengine::exec
