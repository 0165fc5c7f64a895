#pragma once
// The catalog procedures ODBC drivers and tools call: sp_sproc_columns,
// sp_stored_procedures, sp_tables, sp_columns, sp_pkeys, sp_fkeys,
// sp_statistics, sp_special_columns, sp_databases, sp_helpdb.
// Each sends its result set; the caller sends the return status.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// The current database's tables (or views) as their creators named them,
// the engine's own left out, ordered by name.
std::vector<std::string> UserTableNames(Session& session, bool views);

// Whether `text` matches a name argument of the catalog procedures: %, _
// and [x] as LIKE reads them, without regard to case.
bool CatalogPatternMatches(std::string_view pattern, std::string_view text);

// The name of the user (or role) that owns `object` of the current database.
std::string ObjectOwner(Session& session, std::string_view object);

// Whether a procedure's qualifier argument (nullopt: not given) names the
// current database.
bool InThisDatabase(Session& session, const std::optional<std::string>& qualifier);

// Whether a procedure's owner argument (nullopt: not given; else a pattern
// as CatalogPatternMatches reads it) names the owner of `object`.
bool OwnerMatches(Session& session, const std::optional<std::string>& owner,
                  std::string_view object);

// Whether a catalog procedure lists `object`, which its name argument
// `pattern` matched, for the owner argument `owner`: with one, when it names
// the object's owner; without one, any owner's object a pattern (with a %)
// matches, and for a name without one only the object that bare name reaches
// (the caller's own, else dbo's), as SQL Server's visibility rules have it.
bool OwnerListed(Session& session, const std::optional<std::string>& owner,
                 std::string_view pattern, const std::string& object);

// The current database's table named `wanted`, as stored, when the owner
// (OwnerListed) and qualifier name this database and the caller may read it.
std::optional<std::string> NamedTable(Session& session, std::string_view wanted,
                                      const std::optional<std::string>& owner,
                                      const std::optional<std::string>& qualifier);

// False when `name` (lower case) is not one of them. Throws SqlError.
bool RunCatalogProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
