#pragma once
// T-SQL functions that SQLite lacks, registered on every session connection:
// GETDATE, LEN, LEFT, RIGHT, CHARINDEX, NEWID, DB_NAME, SUSER_SNAME,
// IS_SRVROLEMEMBER, and the type properties the catalog views need.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace sqlengine::exec {

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
};

// The host must outlive the connection. Throws std::runtime_error.
void RegisterFunctions(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
