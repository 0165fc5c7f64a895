#pragma once
// The instance's catalog in master.mdf: registered databases, logins and
// server-role memberships. Thread-safe: every call takes the catalog's lock
// and its own connection, and each change commits before the call returns.

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/types.h"

namespace sqlengine::catalog {

struct DatabaseEntry {
  int dbid = 0;
  std::string name;
  std::string file_name;  // relative to the data folder, or absolute
  std::string crdate;     // "YYYY-MM-DD HH:MM:SS.mmm"
  Bytes owner_sid;
  int cmptlevel = 80;
};

struct LoginEntry {
  std::string name;
  Bytes sid;
  std::string default_database;
};

// The fixed server roles of SQL Server 2000.
bool IsServerRole(std::string_view role);

// Names of the tables master.mdf holds for the catalog.
inline constexpr const char* kDatabasesTable = "sqlengine_databases";
inline constexpr const char* kLoginsTable = "sqlengine_logins";
inline constexpr const char* kRoleMembersTable = "sqlengine_server_role_members";
inline constexpr const char* kDatabaseOptionsTable = "sqlengine_database_options";

class MasterCatalog {
 public:
  // Opens master.mdf (which must exist) and completes its tables, the system
  // databases' entries and the login sa where missing. Throws std::runtime_error.
  explicit MasterCatalog(const std::filesystem::path& master_file);

  std::vector<DatabaseEntry> Databases();
  std::optional<DatabaseEntry> FindDatabase(std::string_view name);
  // Registers a database under the next free dbid. Throws SqlError 1801 when
  // the name is taken.
  DatabaseEntry AddDatabase(std::string_view name, std::string_view file_name,
                            const Bytes& owner_sid);
  void RemoveDatabase(std::string_view name);

  // The login when name and password match; nullopt otherwise.
  std::optional<LoginEntry> Authenticate(std::string_view name, std::string_view password);
  std::optional<LoginEntry> FindLogin(std::string_view name);
  std::optional<LoginEntry> FindLoginBySid(const Bytes& sid);
  // Throws SqlError 15025 when the login exists.
  void AddLogin(std::string_view name, std::string_view password,
                std::string_view default_database);
  // Throws SqlError 15007 when the login does not exist.
  void DropLogin(std::string_view name);
  // old_password: nullopt skips the check (a sysadmin changing another login's
  // password). Throws 15007 / 15211 (old password wrong).
  void SetPassword(std::string_view name, std::optional<std::string_view> old_password,
                   std::string_view new_password);

  bool IsRoleMember(std::string_view role, std::string_view login);
  // Adds (add) or removes a membership. Throws 15007 (no such login) or
  // 15014 (no such role).
  void ChangeRoleMember(std::string_view role, std::string_view login, bool add);

  // Every (role, login) membership, ordered by role then login.
  std::vector<std::pair<std::string, std::string>> RoleMemberships();
  // Whether the login exists and its password is empty.
  bool HasEmptyPassword(std::string_view login);

  // True while some sysadmin login has an empty password.
  bool SysadminHasEmptyPassword();

  // The options sp_dboption and ALTER DATABASE ... SET changed, by their
  // sp_dboption names ("read only"); an option never set is absent.
  std::map<std::string, bool> DatabaseOptions(std::string_view database);
  void SetDatabaseOption(std::string_view database, std::string_view option, bool on);
  // sp_changedbowner.
  void SetDatabaseOwner(std::string_view database, const Bytes& owner_sid);
  // sp_defaultdb. Throws 15007 when the login does not exist.
  void SetDefaultDatabase(std::string_view login, std::string_view database);

 private:
  void EnsureSchema();
  std::optional<LoginEntry> FindLoginLocked(std::string_view name);
  void RequireRole(std::string_view role) const;

  std::mutex mutex_;
  Connection db_;
};

// The current UTC time as SQL Server's datetime text.
std::string CurrentTimestamp();

}  // namespace sqlengine::catalog
