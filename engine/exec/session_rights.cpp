#include "engine/exec/session_rights.h"

#include <algorithm>

#include "engine/exec/engine_impl.h"
#include "engine/exec/session_connection.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::int64_t SchemaVersion(sqlite3* db, const std::string& schema) {
  auto query = catalog::Prepare(db, "PRAGMA " + tsql::QuoteSqliteName(schema) + ".schema_version");
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : -1;
}

// Access to an object a procedure's owner has through the ownership chain.
bool FollowsOwnership(Access access) {
  switch (access) {
    case Access::kSelect:
    case Access::kInsert:
    case Access::kUpdate:
    case Access::kDelete:
    case Access::kReferences:
    case Access::kExecute:
      return true;
    default:
      return false;
  }
}

}  // namespace

SessionRights::SessionRights(EngineImpl& engine, const catalog::LoginEntry& login,
                             SessionConnection& connection)
    : engine_(engine), login_(login), connection_(connection) {}

bool SessionRights::IsSysadmin() {
  std::uint64_t generation = engine_.SecurityGeneration();
  if (generation != sysadmin_generation_) {
    sysadmin_ = engine_.Catalog().IsRoleMember("sysadmin", login_.name);
    sysadmin_generation_ = generation;
  }
  return sysadmin_;
}

DatabaseRights SessionRights::Load(sqlite3* db, const std::string& schema,
                                   const catalog::DatabaseEntry& entry) {
  bool dbo = IsSysadmin() || (!entry.owner_sid.empty() && entry.owner_sid == login_.sid);
  return DatabaseRights(LoadSecurity(db, schema, entry.name), entry.name, dbo, login_.sid);
}

const DatabaseRights& SessionRights::In(std::string_view database, std::string_view schema) {
  Cached& cached = cache_[tsql::ToLower(database)];
  std::uint64_t generation = engine_.SecurityGeneration();
  std::int64_t version = SchemaVersion(connection_.Handle(), std::string(schema));
  if (cached.rights && cached.generation == generation && cached.schema_version == version) {
    return *cached.rights;
  }
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  catalog::DatabaseEntry found = entry ? *entry : catalog::DatabaseEntry{};
  if (!entry) found.name = std::string(database);
  cached.rights =
      std::make_unique<DatabaseRights>(Load(connection_.Handle(), std::string(schema), found));
  cached.generation = generation;
  cached.schema_version = version;
  return *cached.rights;
}

const DatabaseRights& SessionRights::InCurrent() { return In(connection_.Database(), "main"); }

DatabaseRights SessionRights::LoadFromFile(const catalog::DatabaseEntry& entry) {
  catalog::Connection db = catalog::OpenDataFile(engine_.DataFileOf(entry));
  // Another connection to the file that closes meanwhile holds its lock for
  // a moment; without a wait the read would fail with "database is locked".
  sqlite3_busy_timeout(db.get(), 10000);
  return Load(db.get(), "main", entry);
}

bool SessionRights::MayUse(const catalog::DatabaseEntry& entry) {
  if (IsSysadmin() || (!entry.owner_sid.empty() && entry.owner_sid == login_.sid)) return true;
  return LoadFromFile(entry).HasAccess();
}

bool SessionRights::OwnsDatabase(const catalog::DatabaseEntry& entry) {
  if (IsSysadmin() || (!entry.owner_sid.empty() && entry.owner_sid == login_.sid)) return true;
  return LoadFromFile(entry).InRole("db_owner");
}

void SessionRights::RequireStatementRight(const catalog::DatabaseEntry& entry, Access access) {
  if (IsSysadmin() || (!entry.owner_sid.empty() && entry.owner_sid == login_.sid)) return;
  DatabaseRights rights = LoadFromFile(entry);
  if (!rights.HasAccess()) throw MakeError(262, {PermissionName(access), entry.name});
  if (std::optional<SqlError> refused = rights.Check("", access)) throw *refused;
}

std::uint64_t SessionRights::ChainContext() {
  if (chain_database_.empty()) return 0;
  auto [it, added] = chain_ids_.try_emplace(chain_database_, chain_ids_.size() + 1);
  return it->second;
}

bool SessionRights::Chained(std::string_view schema, std::string_view object, Access access) {
  if (chain_database_.empty() || !FollowsOwnership(access)) return false;
  // No chain crosses into another database, nor reaches another owner's object.
  if (!tsql::EqualsIgnoreCase(connection_.DatabaseOfSchema(schema), chain_database_)) return false;
  const DatabaseRights* rights = Find(schema);
  return rights != nullptr && rights->Security().OwnerOf(object) == kDboUid;
}

bool SessionRights::IsGlobalTempTable(std::string_view database, std::string_view object) {
  return tsql::IsGlobalTempName(object) && tsql::EqualsIgnoreCase(database, "tempdb");
}

void SessionRights::Require(std::string_view object, Access access) {
  if (IsSysadmin()) return;
  // Where names without a database reach: the current database, or the one a
  // trigger or a procedure of another database runs in.
  const std::string& schema = connection_.UnqualifiedSchema();
  const bool current = !connection_.ResolvesElsewhere();
  if (IsGlobalTempTable(current ? connection_.Database() : connection_.UnqualifiedDatabase(),
                        object))
    return;
  const DatabaseRights& rights =
      current ? InCurrent() : In(connection_.UnqualifiedDatabase(), schema);
  if (Chained(schema, object, access)) return;
  std::optional<SqlError> refused = rights.Check(object, access);
  if (!refused) return;
  if (refused->message().number == 916) {
    throw MakeError(916, {login_.name, current ? connection_.Database()
                                               : connection_.UnqualifiedDatabase()});
  }
  throw *refused;
}

void SessionRights::RequireIn(std::string_view database, std::string_view object,
                              Access access) {
  if (database.empty()) return Require(object, access);
  if (tsql::EqualsIgnoreCase(database, connection_.Database())) {
    SessionConnection::UnqualifiedNamesIn current(connection_, "main");
    return Require(object, access);
  }
  if (IsSysadmin() || IsGlobalTempTable(database, object)) return;
  std::optional<SqlError> refused =
      In(database, connection_.SchemaFor(database)).Check(object, access);
  if (!refused) return;
  if (refused->message().number == 916) throw MakeError(916, {login_.name, std::string(database)});
  throw *refused;
}

const DatabaseRights* SessionRights::Find(std::string_view schema) const {
  std::string database = connection_.DatabaseOfSchema(schema);
  if (database.empty()) return nullptr;
  auto it = cache_.find(tsql::ToLower(database));
  return it == cache_.end() ? nullptr : it->second.rights.get();
}

void SessionRights::Refresh() {
  bool sysadmin = IsSysadmin();
  bool stored_calls_elsewhere = false;
  for (const auto& [database, schema] : connection_.Schemas()) {
    // A sysadmin's rights need no reading; what the constraints of another
    // database's tables call still does (see ResolvesUnqualified).
    if (sysadmin && ResolvesUnqualified(schema)) continue;
    const DatabaseSecurity& security = In(database, schema).Security();
    stored_calls_elsewhere = stored_calls_elsewhere || !security.constraint_calls.empty() ||
                             !security.computed_calls.empty();
  }
  if (!sysadmin || !stored_calls_elsewhere) return;
  // Then a statement must not run such calls beside those of the tables
  // where its names resolve: those are read too.
  for (const auto& [database, schema] : connection_.Schemas()) {
    if (ResolvesUnqualified(schema)) In(database, schema);
  }
}

std::optional<SqlError> SessionRights::Check(std::string_view schema, std::string_view object,
                                             Access access, std::string_view column) {
  if (sysadmin_ || (!schema.empty() && Chained(schema, object, access))) return std::nullopt;
  if (tsql::EqualsIgnoreCase(schema, "temp")) return std::nullopt;
  if (!schema.empty() && IsGlobalTempTable(connection_.DatabaseOfSchema(schema), object))
    return std::nullopt;
  if (schema.empty()) {
    // SQLite names no database for a table it only counts: every database
    // reached that holds such an object must allow it.
    for (const auto& [database, alias] : connection_.Schemas()) {
      const DatabaseRights* rights = Find(alias);
      if (rights == nullptr || !rights->Security().objects.count(tsql::ToLower(object))) continue;
      if (std::optional<SqlError> refused = Check(alias, object, access, column)) return refused;
    }
    return std::nullopt;
  }
  const DatabaseRights* rights = Find(schema);
  std::string database = connection_.DatabaseOfSchema(schema);
  if (rights == nullptr) return MakeError(916, {login_.name, database});
  std::optional<SqlError> refused = rights->Check(object, access, column);
  if (refused && refused->message().number == 916) {
    return MakeError(916, {login_.name, rights->Database()});
  }
  return refused;
}

int SessionRights::OwnerIn(std::string_view database, std::string_view schema,
                           std::string_view object) {
  auto it = cache_.find(tsql::ToLower(database));
  if (it != cache_.end() && it->second.rights &&
      it->second.generation == engine_.SecurityGeneration()) {
    return it->second.rights->Security().OwnerOf(object);
  }
  return In(database, schema).Security().OwnerOf(object);
}

bool SessionRights::NameReaches(std::string_view database, std::string_view schema,
                                std::string_view owner, int owner_uid) {
  if (owner.empty() && owner_uid == kDboUid) return true;
  if (!owner.empty() && owner_uid == kDboUid) return tsql::EqualsIgnoreCase(owner, "dbo");
  std::vector<int> reached = OwnersReached(database, schema, owner);
  return std::find(reached.begin(), reached.end(), owner_uid) != reached.end();
}

std::vector<int> SessionRights::OwnersReached(std::string_view database, std::string_view schema,
                                              std::string_view owner) {
  if (tsql::EqualsIgnoreCase(owner, "dbo")) return {kDboUid};
  if (!owner.empty()) {
    const Principal* found = In(database, schema).Security().Find(owner);
    if (found == nullptr || found->uid == kPublicUid) return {};
    return {found->uid};
  }
  std::optional<int> first;
  if (!names_owners_.empty() && names_owners_.back().second &&
      names_owners_.back().first == tsql::ToLower(database)) {
    first = names_owners_.back().second;
  } else {
    first = In(database, schema).Uid();
  }
  if (!first || *first == kDboUid) return {kDboUid};
  return {*first, kDboUid};
}

void SessionRights::PushNamesOwner(std::string_view database, std::optional<int> uid) {
  names_owners_.emplace_back(tsql::ToLower(database), uid);
}

void SessionRights::PopNamesOwner() {
  if (!names_owners_.empty()) names_owners_.pop_back();
}

std::optional<int> SessionRights::OwnerOf(std::string_view schema, std::string_view name) {
  const DatabaseRights* rights = Find(schema);
  if (rights == nullptr) return std::nullopt;
  return rights->Security().OwnerOf(name);
}

bool SessionRights::IsView(std::string_view schema, std::string_view name) {
  const DatabaseRights* rights = Find(schema);
  return rights != nullptr && rights->Security().views.count(tsql::ToLower(name)) > 0;
}

bool SessionRights::RefersTo(std::string_view schema, std::string_view child,
                             std::string_view parent) {
  const DatabaseRights* rights = Find(schema);
  return rights != nullptr &&
         rights->Security().foreign_keys.count({tsql::ToLower(child), tsql::ToLower(parent)}) > 0;
}

std::vector<std::string> SessionRights::FunctionsCalledByWrite(std::string_view schema,
                                                              std::string_view table,
                                                              bool update) {
  std::vector<std::string> functions;
  const DatabaseRights* rights = Find(schema);
  if (rights == nullptr) return functions;
  const auto& calls = rights->Security().constraint_calls;
  auto found = calls.find(tsql::ToLower(table));
  if (found == calls.end()) return functions;
  for (const ConstraintCall& call : found->second) {
    if (!update || call.on_update) functions.push_back(call.function);
  }
  return functions;
}

bool SessionRights::ResolvesUnqualified(std::string_view schema) {
  return tsql::EqualsIgnoreCase(schema, connection_.UnqualifiedSchema());
}

std::vector<std::string> SessionRights::FunctionsCalledByRead(std::string_view schema,
                                                             std::string_view table,
                                                             std::string_view column) {
  const DatabaseRights* rights = Find(schema);
  if (rights == nullptr) return {};
  const auto& calls = rights->Security().computed_calls;
  auto found = calls.find(tsql::ToLower(table));
  if (found == calls.end()) return {};
  auto functions = found->second.find(tsql::ToLower(column));
  return functions == found->second.end() ? std::vector<std::string>() : functions->second;
}

bool SessionRights::ViewCallsElsewhere(std::string_view view) {
  std::string name = tsql::ToLower(view);
  for (const auto& [database, schema] : connection_.Schemas()) {
    if (ResolvesUnqualified(schema)) continue;
    const DatabaseRights* rights = Find(schema);
    if (rights != nullptr && rights->Security().calling_views.count(name)) return true;
  }
  return false;
}

}  // namespace sqlengine::exec
