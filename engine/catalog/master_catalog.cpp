#include "engine/catalog/master_catalog.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "engine/catalog/password_hash.h"
#include "engine/catalog/verified_passwords.h"
#include "engine/common/error.h"

namespace sqlengine::catalog {
namespace {

constexpr std::string_view kServerRoles[] = {"sysadmin",      "serveradmin",  "setupadmin",
                                             "securityadmin", "processadmin", "dbcreator",
                                             "diskadmin",     "bulkadmin"};

struct SystemDatabase {
  int dbid;
  const char* name;
};
constexpr SystemDatabase kSystemDatabases[] = {
    {1, "master"}, {2, "tempdb"}, {3, "model"}, {4, "msdb"}};

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void BindBlob(sqlite3_stmt* statement, int index, const Bytes& bytes) {
  sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
}

Bytes ColumnBlob(sqlite3_stmt* statement, int column) {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
  return data ? Bytes(data, data + sqlite3_column_bytes(statement, column)) : Bytes();
}

void StepDone(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

DatabaseEntry ReadDatabase(sqlite3_stmt* statement) {
  DatabaseEntry entry;
  entry.dbid = sqlite3_column_int(statement, 0);
  entry.name = ColumnText(statement, 1);
  entry.file_name = ColumnText(statement, 2);
  entry.crdate = ColumnText(statement, 3);
  entry.owner_sid = ColumnBlob(statement, 4);
  entry.cmptlevel = sqlite3_column_int(statement, 5);
  return entry;
}

constexpr const char* kDatabaseColumns = "dbid, name, file_name, crdate, owner_sid, cmptlevel";

}  // namespace

bool IsServerRole(std::string_view role) {
  return std::any_of(std::begin(kServerRoles), std::end(kServerRoles), [&](std::string_view r) {
    return r.size() == role.size() &&
           std::equal(r.begin(), r.end(), role.begin(), [](char a, char b) {
             return a == std::tolower(static_cast<unsigned char>(b));
           });
  });
}

std::string CurrentTimestamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  char full[40];
  std::snprintf(full, sizeof full, "%s.%03d", text, static_cast<int>(millis));
  return full;
}

namespace {

// Gives each login its server user id (syslogins.suid): sa 1, the others
// numbers from 2 in the order they were made. A master file of an engine
// that kept none gains the column; one such an engine wrote to since has
// logins without a number.
void NumberLogins(sqlite3* db) {
  auto column = Prepare(db, std::string("SELECT 1 FROM pragma_table_info('") + kLoginsTable +
                                "') WHERE name = 'suid'");
  if (sqlite3_step(column.get()) != SQLITE_ROW)
    Exec(db, std::string("ALTER TABLE ") + kLoginsTable + " ADD COLUMN suid smallint");
  Exec(db, std::string("UPDATE ") + kLoginsTable + " SET suid = 1 WHERE sid = X'01'");
  auto unnumbered = Prepare(db, std::string("SELECT rowid FROM ") + kLoginsTable +
                                    " WHERE suid IS NULL ORDER BY rowid");
  std::vector<sqlite3_int64> rows;
  while (sqlite3_step(unnumbered.get()) == SQLITE_ROW)
    rows.push_back(sqlite3_column_int64(unnumbered.get(), 0));
  for (sqlite3_int64 row : rows) {
    auto number = Prepare(db, std::string("UPDATE ") + kLoginsTable +
                                  " SET suid = (SELECT max(max(coalesce(suid, 0)), 1) + 1 FROM " +
                                  kLoginsTable + ") WHERE rowid = ?");
    sqlite3_bind_int64(number.get(), 1, row);
    StepDone(db, number.get());
  }
}

}  // namespace

MasterCatalog::MasterCatalog(const std::filesystem::path& master_file)
    : db_(OpenDataFile(master_file)) {
  sqlite3_busy_timeout(db_.get(), 10000);
  EnsureSchema();
}

void MasterCatalog::EnsureSchema() {
  std::lock_guard lock(mutex_);
  sqlite3* db = db_.get();
  Exec(db, "BEGIN IMMEDIATE");
  try {
    Exec(db,
         std::string("CREATE TABLE IF NOT EXISTS ") + kDatabasesTable +
             " (dbid smallint PRIMARY KEY, name nvarchar(128) NOT NULL UNIQUE COLLATE NOCASE, "
             "file_name nvarchar(260) NOT NULL, crdate datetime NOT NULL, owner_sid varbinary(85), "
             "cmptlevel tinyint NOT NULL DEFAULT 80)");
    Exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + kLoginsTable +
                 " (name nvarchar(128) PRIMARY KEY COLLATE NOCASE, sid varbinary(85) NOT NULL, "
                 "password varchar(256) NOT NULL, default_database nvarchar(128) NOT NULL, "
                 "created datetime NOT NULL)");
    Exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + kDatabaseOptionsTable +
                 " (database_name nvarchar(128) NOT NULL COLLATE NOCASE, option_name varchar(35) "
                 "NOT NULL "
                 "COLLATE NOCASE, value bit NOT NULL, PRIMARY KEY (database_name, option_name))");
    Exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + kRoleMembersTable +
                 " (role nvarchar(128) NOT NULL COLLATE NOCASE, login nvarchar(128) NOT NULL "
                 "COLLATE NOCASE, "
                 "PRIMARY KEY (role, login))");
    for (const SystemDatabase& system : kSystemDatabases) {
      auto insert =
          Prepare(db, std::string("INSERT OR IGNORE INTO ") + kDatabasesTable +
                          " (dbid, name, file_name, crdate, owner_sid) VALUES (?, ?, ?, ?, X'01')");
      sqlite3_bind_int(insert.get(), 1, system.dbid);
      Bind(insert.get(), 2, system.name);
      Bind(insert.get(), 3, std::string(system.name) + ".mdf");
      Bind(insert.get(), 4, CurrentTimestamp());
      StepDone(db, insert.get());
    }
    auto sa = Prepare(db, std::string("INSERT OR IGNORE INTO ") + kLoginsTable +
                              " (name, sid, password, default_database, created) "
                              "VALUES ('sa', X'01', ?, 'master', ?)");
    Bind(sa.get(), 1, HashPassword(""));
    Bind(sa.get(), 2, CurrentTimestamp());
    StepDone(db, sa.get());
    Exec(db,
         std::string("INSERT OR IGNORE INTO ") + kRoleMembersTable + " VALUES ('sysadmin', 'sa')");
    NumberLogins(db);
    Exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<DatabaseEntry> MasterCatalog::Databases() {
  std::lock_guard lock(mutex_);
  auto select = Prepare(db_.get(), std::string("SELECT ") + kDatabaseColumns + " FROM " +
                                       kDatabasesTable + " ORDER BY dbid");
  std::vector<DatabaseEntry> entries;
  while (sqlite3_step(select.get()) == SQLITE_ROW) entries.push_back(ReadDatabase(select.get()));
  return entries;
}

std::optional<DatabaseEntry> MasterCatalog::FindDatabase(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto select = Prepare(db_.get(), std::string("SELECT ") + kDatabaseColumns + " FROM " +
                                       kDatabasesTable + " WHERE name = ?");
  Bind(select.get(), 1, name);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
  return ReadDatabase(select.get());
}

DatabaseEntry MasterCatalog::AddDatabase(std::string_view name, std::string_view file_name,
                                         const Bytes& owner_sid) {
  std::lock_guard lock(mutex_);
  auto insert = Prepare(db_.get(), std::string("INSERT INTO ") + kDatabasesTable +
                                       " (dbid, name, file_name, crdate, owner_sid) SELECT "
                                       "max(dbid) + 1, ?, ?, ?, ? FROM " +
                                       kDatabasesTable + " RETURNING " + kDatabaseColumns);
  Bind(insert.get(), 1, name);
  Bind(insert.get(), 2, file_name);
  Bind(insert.get(), 3, CurrentTimestamp());
  BindBlob(insert.get(), 4, owner_sid);
  int rc = sqlite3_step(insert.get());
  if (rc == SQLITE_CONSTRAINT_UNIQUE) throw MakeError(1801, {name});
  if (rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db_.get()));
  DatabaseEntry entry = ReadDatabase(insert.get());
  StepDone(db_.get(), insert.get());
  return entry;
}

void MasterCatalog::RemoveDatabase(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto remove =
      Prepare(db_.get(), std::string("DELETE FROM ") + kDatabasesTable + " WHERE name = ?");
  Bind(remove.get(), 1, name);
  StepDone(db_.get(), remove.get());
  auto options = Prepare(
      db_.get(), std::string("DELETE FROM ") + kDatabaseOptionsTable + " WHERE database_name = ?");
  Bind(options.get(), 1, name);
  StepDone(db_.get(), options.get());
}

std::map<std::string, bool> MasterCatalog::DatabaseOptions(std::string_view database) {
  std::lock_guard lock(mutex_);
  auto select = Prepare(db_.get(), std::string("SELECT lower(option_name), value FROM ") +
                                       kDatabaseOptionsTable + " WHERE database_name = ?");
  Bind(select.get(), 1, database);
  std::map<std::string, bool> options;
  while (sqlite3_step(select.get()) == SQLITE_ROW) {
    options[ColumnText(select.get(), 0)] = sqlite3_column_int(select.get(), 1) != 0;
  }
  return options;
}

void MasterCatalog::SetDatabaseOption(std::string_view database, std::string_view option, bool on) {
  std::lock_guard lock(mutex_);
  auto upsert = Prepare(db_.get(), std::string("INSERT OR REPLACE INTO ") + kDatabaseOptionsTable +
                                       " (database_name, option_name, value) VALUES (?, ?, ?)");
  Bind(upsert.get(), 1, database);
  Bind(upsert.get(), 2, option);
  sqlite3_bind_int(upsert.get(), 3, on ? 1 : 0);
  StepDone(db_.get(), upsert.get());
}

void MasterCatalog::SetDatabaseOwner(std::string_view database, const Bytes& owner_sid) {
  std::lock_guard lock(mutex_);
  auto update = Prepare(
      db_.get(), std::string("UPDATE ") + kDatabasesTable + " SET owner_sid = ? WHERE name = ?");
  BindBlob(update.get(), 1, owner_sid);
  Bind(update.get(), 2, database);
  StepDone(db_.get(), update.get());
}

void MasterCatalog::SetDefaultDatabase(std::string_view login, std::string_view database) {
  std::lock_guard lock(mutex_);
  auto update = Prepare(db_.get(), std::string("UPDATE ") + kLoginsTable +
                                       " SET default_database = ? WHERE name = ?");
  Bind(update.get(), 1, database);
  Bind(update.get(), 2, login);
  StepDone(db_.get(), update.get());
  if (sqlite3_changes(db_.get()) == 0) throw MakeError(15007, {login});
}

std::optional<LoginEntry> MasterCatalog::FindLoginLocked(std::string_view name) {
  auto select = Prepare(db_.get(), std::string("SELECT name, sid, default_database FROM ") +
                                       kLoginsTable + " WHERE name = ?");
  Bind(select.get(), 1, name);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
  return LoginEntry{ColumnText(select.get(), 0), ColumnBlob(select.get(), 1),
                    ColumnText(select.get(), 2)};
}

std::optional<LoginEntry> MasterCatalog::FindLogin(std::string_view name) {
  std::lock_guard lock(mutex_);
  return FindLoginLocked(name);
}

std::optional<LoginEntry> MasterCatalog::FindLoginBySid(const Bytes& sid) {
  std::lock_guard lock(mutex_);
  auto select = Prepare(db_.get(), std::string("SELECT name, sid, default_database FROM ") +
                                       kLoginsTable + " WHERE sid = ?");
  sqlite3_bind_blob(select.get(), 1, sid.data(), static_cast<int>(sid.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
  return LoginEntry{ColumnText(select.get(), 0), ColumnBlob(select.get(), 1),
                    ColumnText(select.get(), 2)};
}

std::optional<LoginEntry> MasterCatalog::Authenticate(std::string_view name,
                                                      std::string_view password) {
  std::string stored;
  std::optional<LoginEntry> login;
  {
    std::lock_guard lock(mutex_);
    login = FindLoginLocked(name);
    if (!login) return std::nullopt;
    auto select =
        Prepare(db_.get(), std::string("SELECT password FROM ") + kLoginsTable + " WHERE name = ?");
    Bind(select.get(), 1, name);
    if (sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
    stored = ColumnText(select.get(), 0);
  }
  // The slow hash runs outside the lock so logins proceed in parallel.
  if (!VerifyPasswordRemembered(name, password, stored)) return std::nullopt;
  return login;
}

void MasterCatalog::AddLogin(std::string_view name, std::string_view password,
                             std::string_view default_database) {
  std::string hash = HashPassword(password);
  Bytes sid(16);
  if (RAND_bytes(sid.data(), static_cast<int>(sid.size())) != 1)
    throw std::runtime_error("no random sid");
  std::lock_guard lock(mutex_);
  auto insert = Prepare(db_.get(), std::string("INSERT INTO ") + kLoginsTable +
                                       " (name, sid, password, default_database, created, suid) "
                                       "SELECT ?, ?, ?, ?, ?, max(max(suid), 1) + 1 FROM " +
                                       kLoginsTable);
  Bind(insert.get(), 1, name);
  BindBlob(insert.get(), 2, sid);
  Bind(insert.get(), 3, hash);
  Bind(insert.get(), 4, default_database);
  Bind(insert.get(), 5, CurrentTimestamp());
  int rc = sqlite3_step(insert.get());
  if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) {
    throw MakeError(15025, {name});
  }
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_.get()));
}

void MasterCatalog::DropLogin(std::string_view name) {
  std::lock_guard lock(mutex_);
  if (!FindLoginLocked(name)) throw MakeError(15007, {name});
  Exec(db_.get(), "BEGIN IMMEDIATE");
  try {
    for (const char* table : {kLoginsTable, kRoleMembersTable}) {
      auto remove =
          Prepare(db_.get(), std::string("DELETE FROM ") + table +
                                 (table == kLoginsTable ? " WHERE name = ?" : " WHERE login = ?"));
      Bind(remove.get(), 1, name);
      StepDone(db_.get(), remove.get());
    }
    Exec(db_.get(), "COMMIT");
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void MasterCatalog::SetPassword(std::string_view name, std::optional<std::string_view> old_password,
                                std::string_view new_password) {
  if (!FindLogin(name)) throw MakeError(15007, {name});
  if (old_password && !Authenticate(name, *old_password)) throw MakeError(15211);
  std::string hash = HashPassword(new_password);
  std::lock_guard lock(mutex_);
  auto update = Prepare(db_.get(),
                        std::string("UPDATE ") + kLoginsTable + " SET password = ? WHERE name = ?");
  Bind(update.get(), 1, hash);
  Bind(update.get(), 2, name);
  StepDone(db_.get(), update.get());
}

bool MasterCatalog::IsRoleMember(std::string_view role, std::string_view login) {
  std::lock_guard lock(mutex_);
  auto select = Prepare(db_.get(), std::string("SELECT 1 FROM ") + kRoleMembersTable +
                                       " WHERE role = ? AND login = ?");
  Bind(select.get(), 1, role);
  Bind(select.get(), 2, login);
  return sqlite3_step(select.get()) == SQLITE_ROW;
}

void MasterCatalog::RequireRole(std::string_view role) const {
  if (!IsServerRole(role)) throw MakeError(15014, {role});
}

void MasterCatalog::ChangeRoleMember(std::string_view role, std::string_view login, bool add) {
  RequireRole(role);
  std::lock_guard lock(mutex_);
  if (!FindLoginLocked(login)) throw MakeError(15007, {login});
  auto change = Prepare(
      db_.get(),
      add ? std::string("INSERT OR IGNORE INTO ") + kRoleMembersTable + " VALUES (lower(?), ?)"
          : std::string("DELETE FROM ") + kRoleMembersTable + " WHERE role = ? AND login = ?");
  Bind(change.get(), 1, role);
  Bind(change.get(), 2, login);
  StepDone(db_.get(), change.get());
}

std::vector<std::pair<std::string, std::string>> MasterCatalog::RoleMemberships() {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::string, std::string>> memberships;
  auto select = Prepare(db_.get(), std::string("SELECT role, login FROM ") + kRoleMembersTable +
                                       " ORDER BY role, login");
  while (sqlite3_step(select.get()) == SQLITE_ROW) {
    memberships.emplace_back(ColumnText(select.get(), 0), ColumnText(select.get(), 1));
  }
  return memberships;
}

bool MasterCatalog::HasEmptyPassword(std::string_view login) {
  std::string stored;
  {
    std::lock_guard lock(mutex_);
    auto select = Prepare(db_.get(), std::string("SELECT password FROM ") + kLoginsTable +
                                         " WHERE name = ?");
    Bind(select.get(), 1, login);
    if (sqlite3_step(select.get()) != SQLITE_ROW) return false;
    stored = ColumnText(select.get(), 0);
  }
  return VerifyPassword("", stored);
}

bool MasterCatalog::SysadminHasEmptyPassword() {
  std::vector<std::string> stored;
  {
    std::lock_guard lock(mutex_);
    auto select = Prepare(db_.get(), std::string("SELECT l.password FROM ") + kLoginsTable +
                                         " l JOIN " + kRoleMembersTable +
                                         " r ON r.login = l.name WHERE r.role = 'sysadmin'");
    while (sqlite3_step(select.get()) == SQLITE_ROW) stored.push_back(ColumnText(select.get(), 0));
  }
  return std::any_of(stored.begin(), stored.end(),
                     [](const std::string& s) { return VerifyPassword("", s); });
}

}  // namespace sqlengine::catalog
