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
#include <utility>
#include <vector>
#include <optional>

#include "engine/catalog/master_catalog.h"
#include "engine/exec/access_rights.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/tsql/token.h"

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
  // Whether `object` of `database` is a ##table, which every login may read,
  // change, alter and drop, as SQL Server grants them to public; it reaches
  // no other object.
  static bool IsGlobalTempTable(std::string_view database, std::string_view object);
  // Throws the error Check gives where names without a database reach now.
  void Require(std::string_view object, Access access);
  // The same for `object` of `database` (empty: named without one), checked by
  // that database's users and permissions: a three-part name of a DROP or an
  // ALTER is refused as that database refuses it.
  void RequireIn(std::string_view database, std::string_view object, Access access);
  // The uid of the owner of `object` in `database`, reachable as `schema`:
  // from the cached state while the security generation stands (every change
  // of an owner moves it), else read again (runs SQL).
  int OwnerIn(std::string_view database, std::string_view schema, std::string_view object);

  // The rights a procedure's, function's or trigger's statements run with
  // while it lives. When dbo owns it and it lives in `database`, the
  // ownership chain reaches dbo's objects of that database with dbo's rights
  // (CREATE statements stay the caller's); any other body, and dynamic SQL,
  // runs with its caller's own rights.
  // `names_owner`: the uid of the body's owner, whose objects its names
  // without an owner reach first (nullopt for dynamic SQL: its caller's).
  class BodyScope {
   public:
    BodyScope(SessionRights& rights, bool as_owner, std::string_view database,
              std::optional<int> names_owner)
        : rights_(rights), saved_(std::move(rights.chain_database_)) {
      rights_.chain_database_ = as_owner ? tsql::ToLower(database) : std::string();
      rights_.PushNamesOwner(database, names_owner);
    }
    ~BodyScope() {
      rights_.PopNamesOwner();
      rights_.chain_database_ = std::move(saved_);
    }
    BodyScope(const BodyScope&) = delete;
    BodyScope& operator=(const BodyScope&) = delete;

   private:
    SessionRights& rights_;
    std::string saved_;
  };
  // Which ownership chain the statements running now follow, as a number
  // for keying compiled statements: 0 for the caller's own rights.
  std::uint64_t ChainContext();
  bool InsideProcedure() const { return !chain_database_.empty(); }

  // Whether a name written with the owner part `owner` (empty: none) reaches
  // an object of `database` (reachable as `schema`) owned by `owner_uid`, as
  // SQL Server 2000 resolves names: a written owner names only that user's
  // (or role's) objects, dbo's included; a name without one reaches the
  // objects of the user it runs as (inside a procedure, function, trigger or
  // view: the body's owner) and dbo's, never another user's.
  bool NameReaches(std::string_view database, std::string_view schema, std::string_view owner,
                   int owner_uid);
  // The uids NameReaches accepts for `owner` in `database`: at most two.
  std::vector<int> OwnersReached(std::string_view database, std::string_view schema,
                                 std::string_view owner);
  // Whose objects the names of a body being bound or run reach first (see
  // BodyScope); nullopt: the caller's. Pops pair with pushes.
  void PushNamesOwner(std::string_view database, std::optional<int> uid);
  void PopNamesOwner();
  // Whether a body's statements (or dynamic SQL's) run now.
  bool InsideBody() const { return !names_owners_.empty(); }

  // AccessPolicy
  std::optional<SqlError> Check(std::string_view schema, std::string_view object, Access access,
                                std::string_view column) override;
  bool IsView(std::string_view schema, std::string_view name) override;
  std::optional<int> OwnerOf(std::string_view schema, std::string_view name) override;
  std::vector<std::string> FunctionsCalledByWrite(std::string_view schema, std::string_view table,
                                                  bool update) override;
  bool ResolvesUnqualified(std::string_view schema) override;
  std::vector<std::string> FunctionsCalledByRead(std::string_view schema, std::string_view table,
                                                 std::string_view column) override;
  bool RefersTo(std::string_view schema, std::string_view child, std::string_view parent) override;
  bool ViewCallsElsewhere(std::string_view view) override;
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
  // Whether the chain of the body running now reaches `object` of the
  // database under `schema` with dbo's rights.
  bool Chained(std::string_view schema, std::string_view object, Access access);

  std::string chain_database_;  // lower-case; empty: the caller's own rights
  // (lower-case database, owner uid) of the bodies entered, innermost last.
  std::vector<std::pair<std::string, std::optional<int>>> names_owners_;
  std::map<std::string, std::uint64_t> chain_ids_;
};

}  // namespace sqlengine::exec
