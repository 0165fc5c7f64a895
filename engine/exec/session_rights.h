#pragma once
// A session's rights, as the authorizer asks for them: the login's standing
// in each database its statements reach, cached per database and reloaded
// when the engine's security generation or the database's schema changes.
// Used on the session's thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "engine/catalog/master_catalog.h"
#include "engine/exec/access_rights.h"
#include "engine/exec/statement_authorizer.h"

namespace sqlengine::exec {

class EngineImpl;
class SessionConnection;

class SessionRights final : public AccessPolicy {
 public:
  // All three must outlive this object.
  SessionRights(EngineImpl& engine, const catalog::LoginEntry& login,
                SessionConnection& connection);

  bool IsSysadmin();
  // The login's rights in `database`, read through the connection where the
  // database is reachable as `schema` (runs SQL; not from the authorizer).
  const DatabaseRights& In(std::string_view database, std::string_view schema);
  const DatabaseRights& InCurrent();
  // Whether the login may use `entry` at all (a user, guest or dbo there);
  // reads the database's file on a connection of its own.
  bool MayUse(const catalog::DatabaseEntry& entry);
  // Whether the login is dbo or a db_owner in `entry` (read as MayUse reads it).
  bool OwnsDatabase(const catalog::DatabaseEntry& entry);
  // Throws 262 unless the login holds the statement permission `access` in
  // `entry` (read as MayUse reads it); a login without access there holds none.
  void RequireStatementRight(const catalog::DatabaseEntry& entry, Access access);
  // Throws the error Check gives for the current database.
  void Require(std::string_view object, Access access);
  // The uid of the owner of `object` in `database`, reachable as `schema`:
  // from the cached state while the security generation stands (every change
  // of an owner moves it), else read again (runs SQL).
  int OwnerIn(std::string_view database, std::string_view schema, std::string_view object);

  // Object access inside a procedure is the procedure owner's (dbo's) while
  // one lives; CREATE statements are still the caller's.
  class OwnerScope {
   public:
    explicit OwnerScope(SessionRights& rights) : rights_(rights) { ++rights_.owner_depth_; }
    ~OwnerScope() { --rights_.owner_depth_; }
    OwnerScope(const OwnerScope&) = delete;
    OwnerScope& operator=(const OwnerScope&) = delete;

   private:
    SessionRights& rights_;
  };
  // Dynamic SQL runs with the caller's own rights again.
  class CallerScope {
   public:
    explicit CallerScope(SessionRights& rights) : rights_(rights), saved_(rights.owner_depth_) {
      rights_.owner_depth_ = 0;
    }
    ~CallerScope() { rights_.owner_depth_ = saved_; }
    CallerScope(const CallerScope&) = delete;
    CallerScope& operator=(const CallerScope&) = delete;

   private:
    SessionRights& rights_;
    int saved_;
  };
  // The rights a procedure's, function's or trigger's statements run with:
  // its owner's when dbo owns it (the ownership chain), else its caller's.
  class BodyScope {
   public:
    BodyScope(SessionRights& rights, bool as_owner)
        : rights_(rights), saved_(rights.owner_depth_) {
      rights_.owner_depth_ = as_owner ? saved_ + 1 : 0;
    }
    ~BodyScope() { rights_.owner_depth_ = saved_; }
    BodyScope(const BodyScope&) = delete;
    BodyScope& operator=(const BodyScope&) = delete;

   private:
    SessionRights& rights_;
    int saved_;
  };
  bool InsideProcedure() const { return owner_depth_ > 0; }

  // AccessPolicy
  std::optional<SqlError> Check(std::string_view schema, std::string_view object, Access access,
                                std::string_view column) override;
  bool IsView(std::string_view schema, std::string_view name) override;
  std::optional<int> OwnerOf(std::string_view schema, std::string_view name) override;
  std::vector<std::string> FunctionsCalledByWrite(std::string_view schema, std::string_view table,
                                                  bool update) override;
  void Refresh() override;

 private:
  struct Cached {
    std::uint64_t generation = 0;
    std::int64_t schema_version = -1;
    std::unique_ptr<DatabaseRights> rights;
  };
  const DatabaseRights* Find(std::string_view schema) const;
  DatabaseRights Load(sqlite3* db, const std::string& schema, const catalog::DatabaseEntry& entry);
  // The rights in `entry` read from its file on a connection of its own.
  DatabaseRights LoadFromFile(const catalog::DatabaseEntry& entry);

  EngineImpl& engine_;
  const catalog::LoginEntry& login_;
  SessionConnection& connection_;
  std::map<std::string, Cached> cache_;  // lower-case database name
  std::uint64_t sysadmin_generation_ = 0;
  bool sysadmin_ = false;
  int owner_depth_ = 0;
};

}  // namespace sqlengine::exec
