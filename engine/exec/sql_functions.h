#pragma once
// T-SQL functions that SQLite lacks, registered on every session connection:
// GETDATE, LEN, LEFT, RIGHT, CHARINDEX, NEWID, DB_NAME, SUSER_SNAME,
// IS_SRVROLEMEMBER, and the type properties the catalog views need.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/common/types.h"

namespace sqlengine::exec {

class StatementAuthorizer;

// What the functions ask of their session. Called on the session's thread
// while a statement runs; must not use the connection.
class FunctionHost {
 public:
  virtual ~FunctionHost() = default;
  // 1 / 0, or nullopt for an unknown role or login. login nullopt: the session's own.
  virtual std::optional<int> ServerRoleMember(std::string_view role,
                                              std::optional<std::string_view> login) = 0;
  virtual std::string DatabaseName() = 0;
  virtual std::string LoginName() = 0;
  // The name of user `uid` of the current database (USER_NAME(uid)); without
  // a uid, the login's own user there (USER_NAME(), CURRENT_USER). nullopt
  // for no such user.
  virtual std::optional<std::string> DatabaseUserName(std::optional<int> uid) = 0;
  // IS_MEMBER(role): 1 / 0 for a role of the current database the user is
  // in or not; nullopt for a name that is no role there (a Windows group,
  // which a SQL Server login cannot be tested for).
  virtual std::optional<int> DatabaseRoleMember(std::string_view /*role*/) {
    return std::nullopt;
  }
  // HAS_DBACCESS(database): 1 / 0; nullopt for no such database.
  virtual std::optional<int> DatabaseAccess(std::string_view /*database*/) {
    return std::nullopt;
  }
  // PERMISSIONS() and PERMISSIONS(objectid [, column]) of the current
  // database, as permission_bits.h describes them; the object is given by
  // name, sysobjects type and column names. nullopt for no such column.
  // ObjectPermissions answers for the database reachable as SQLite schema
  // `schema` ("main": the current one), with the login's rights there.
  virtual int StatementPermissions() { return 0; }
  virtual std::optional<int> ObjectPermissions(std::string_view /*schema*/,
                                               std::string_view /*object*/,
                                               std::string_view /*xtype*/,
                                               const std::vector<std::string>& /*columns*/,
                                               std::optional<std::string_view> /*column*/) {
    return std::nullopt;
  }
  // The SQLite schema unqualified names resolve in: "main", or inside a
  // trigger of another database's table that database's.
  virtual std::string UnqualifiedSchema() { return "main"; }
  // The engine's sessions as master..sysprocesses reads them (ProcessRowsJson).
  virtual std::string ProcessRows() { return "[]"; }
  // Other sessions' #temp tables as tempdb's catalog lists them: a JSON
  // object whose member for each of kViewsShownElsewhere ("sysobjects" ...)
  // is an array of that view's rows, each an array in the view's column order.
  virtual std::string TempTablesElsewhere() { return "[]"; }
  // The value in use of configuration option `option` (master..syscurconfigs);
  // nullopt for an unknown one.
  virtual std::optional<int> ConfigurationInUse(std::string_view) { return std::nullopt; }
  // SESSIONPROPERTY(option): 1 / 0, nullopt for an unknown option.
  virtual std::optional<int> SessionSetting(std::string_view) { return std::nullopt; }
  // The client's program and workstation names and process id, as its login
  // gave them (APP_NAME, HOST_NAME, HOST_ID).
  virtual std::string ClientProgram() { return {}; }
  virtual std::string ClientHost() { return {}; }
  virtual std::uint32_t ClientProcess() { return 0; }
  // The connection's authorizer, for functions that read the engine's own
  // tables while a user statement runs (under an EngineScope); nullptr when none.
  virtual StatementAuthorizer* Authorizer() { return nullptr; }
  // Whether the session may read `object` of SQLite schema `schema`.
  virtual bool MayRead(std::string_view /*schema*/, std::string_view /*object*/) { return true; }
  // Whether the login may use `database` at all (a user, guest or dbo
  // there): the catalog views of another database are readable only then.
  virtual bool MayUseDatabase(std::string_view /*database*/) { return true; }
  // DATABASEPROPERTY (extended false) and DATABASEPROPERTYEX; nullopt for NULL.
  // The error the innermost running CATCH block handles (ERROR_NUMBER() ...);
  // nullptr outside CATCH blocks.
  virtual const ServerMessage* HandledError() { return nullptr; }
  // Whether a transaction is open (XACT_STATE()).
  virtual bool InTransaction() { return false; }
  // CURSOR_STATUS(scope, name): 1 open (a static or keyset one with rows),
  // 0 open without rows, -1 closed, -2 a cursor variable without a cursor,
  // -3 no such cursor.
  virtual int CursorStatus(std::string_view /*scope*/, std::string_view /*name*/) { return -3; }
  virtual std::optional<Value> DatabasePropertyOf(std::string_view /*database*/,
                                                  std::string_view /*property*/,
                                                  bool /*extended*/) {
    return std::nullopt;
  }
  // Runs the statements of scalar user function `name` (1 part: of the
  // database names without one reach; 3: database, owner, name) with
  // `arguments` (already of the parameters' types) and returns its result;
  // throws SqlError for an error inside it.
  virtual Value CallUserFunction(const std::vector<std::string>& /*name*/,
                                 const std::vector<Value>& /*arguments*/) {
    return {};
  }
  // Runs multi-statement table-valued function `name` (as CallUserFunction
  // names it) with `arguments` and returns its rows (table_function_rows.h);
  // throws SqlError for an error inside it.
  virtual std::string CallTableFunction(const std::vector<std::string>& /*name*/,
                                        const std::vector<Value>& /*arguments*/) {
    return "[]";
  }
  // ::fn_listextendedproperty(...) with its seven arguments: its rows as
  // table_function_rows.h carries them (extended_properties.h).
  virtual std::string ExtendedPropertyRows(const std::vector<Value>& /*arguments*/) {
    return "[]";
  }
  // The value of T-SQL built-in `name` (a function's name, or a system
  // variable's with its @@) called with `arguments` in the session, as
  // SELECT name(arguments) answers it (sqlengine_builtin). `name` is a plain
  // identifier. Throws SqlError for an error of the call.
  virtual Value EvaluateBuiltin(std::string_view /*name*/, const std::vector<Value>& /*arguments*/) {
    return {};
  }
  // An aggregate of the running statement skipped a NULL (warning 8153
  // under ANSI_WARNINGS ON).
  virtual void NoteNullEliminated() {}
};

// The host must outlive the connection. Throws std::runtime_error.
void RegisterFunctions(sqlite3* db, FunctionHost& host);

// The same functions for a connection no session holds (the checks of a
// file being attached, the data-file upgrade), so the CHECK constraints,
// DEFAULTs and computed columns a table keeps can be read there; what asks
// for a session answers as for no login and no database.
void RegisterSessionFreeFunctions(sqlite3* db);

}  // namespace sqlengine::exec
