#pragma once
// SQL Server 2000's database options: their sp_dboption names and defaults,
// the ALTER DATABASE ... SET spellings that change them, and what
// DATABASEPROPERTY and DATABASEPROPERTYEX report. The values live in
// master's catalog (as sysdatabases' status bits do in SQL Server); an
// option never changed has its default. What they mean for the sessions
// that reach a database is database_access.h's.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/common/types.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;
class EngineImpl;

struct DatabaseOption {
  std::string_view name;      // as sp_dboption lists it
  bool default_on;            // for a new database
  std::string_view property;  // DATABASEPROPERTY's name; empty for none
};

std::span<const DatabaseOption> DatabaseOptionList();

// Every option of `database` (by name) with its value.
std::map<std::string, bool> DatabaseOptionValues(EngineImpl& engine, std::string_view database);

// sp_dboption [@dbname [, @optname [, @optvalue]]].
void DbOption(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

// sp_dbcmptlevel 'db' [, level]: the level is 80 (SQL Server 2000's), the
// only one the engine answers by; setting it to 80 changes nothing and an
// older level is refused rather than kept without effect. Throws SqlError
// 15010 for an unknown database, 15048 for a level that is none.
void DbCompatibilityLevel(Session& session, const std::vector<CallArgument>& arguments,
                          ResultSink& sink);

// ALTER DATABASE d SET option [, ...] [WITH ROLLBACK ...| NO_WAIT]; also
// MODIFY NAME = n is refused as SQL Server 2000 does (it has no such clause).
// 5002 for an unknown database, 15247 for a login that is neither sysadmin
// nor the database's owner; an option that needs the database to itself
// first clears it of other users as the termination clause says (5061,
// 5070; see ClearOtherUsers).
void ExecuteAlterDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink);

// DATABASEPROPERTY(db, property) and DATABASEPROPERTYEX(db, property):
// nullopt (NULL) for an unknown database or property.
std::optional<Value> DatabaseProperty(EngineImpl& engine, std::string_view database,
                                      std::string_view property, bool extended);

}  // namespace sqlengine::exec
