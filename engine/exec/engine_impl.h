#pragma once
// The engine of one instance home: its catalog, the databases in use and
// the logins. Shared by all sessions; thread-safe.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "engine/catalog/instance_home.h"
#include "engine/catalog/master_catalog.h"
#include "engine/common/engine_api.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/database_usage.h"
#include "engine/exec/global_temp_tables.h"
#include "engine/exec/lock_waits.h"
#include "engine/exec/log_syncs.h"
#include "engine/exec/session_registry.h"

namespace sqlengine::exec {

class EngineImpl final : public Engine {
 public:
  // Throws std::runtime_error when the home cannot be prepared.
  EngineImpl(const std::filesystem::path& home, Log& log);

  LoginResult Login(const LoginRequest& request) override;
  bool SysadminHasEmptyPassword() override;
  void SetListensBeyondLoopback(bool beyond) override { beyond_loopback_ = beyond; }
  // While true, no sysadmin may have an empty password (15118).
  bool ListensBeyondLoopback() const { return beyond_loopback_.load(); }
  int ConfiguredUserConnections() override { return configuration_->UserConnectionsInUse(); }
  std::filesystem::path Home() const override { return home_.Root(); }
  void SetShutdown(std::function<void()> stop) override;
  // Asks the service to stop (SHUTDOWN); false when the engine runs without one.
  bool RequestShutdown();

  catalog::MasterCatalog& Catalog() { return *catalog_; }
  ConfigurationState& Configuration() { return *configuration_; }
  const catalog::InstanceHome& Layout() const { return home_; }
  DatabaseUsage& Usage() { return usage_; }
  LockWaits& Locks() { return locks_; }
  LogSyncs& Logs() { return logs_; }
  SessionRegistry& Sessions() { return sessions_; }
  GlobalTempTables& GlobalTemps() { return global_temps_; }
  Log& EngineLog() { return log_; }

  // Changes whenever users, roles, memberships or permissions may have
  // changed anywhere; sessions reload their cached rights then.
  std::uint64_t SecurityGeneration() const { return security_generation_.load(); }
  void SecurityChanged() { ++security_generation_; }

  // The registered database of that name (any case); nullopt when unknown.
  std::optional<catalog::DatabaseEntry> FindDatabase(std::string_view name);
  std::filesystem::path DataFileOf(const catalog::DatabaseEntry& entry) const;

 private:
  Log& log_;
  catalog::InstanceHome home_;
  std::unique_ptr<catalog::MasterCatalog> catalog_;
  std::unique_ptr<ConfigurationState> configuration_;
  DatabaseUsage usage_;
  LockWaits locks_;
  LogSyncs logs_;
  SessionRegistry sessions_;
  GlobalTempTables global_temps_;
  std::atomic<int> next_spid_{51};
  std::atomic<std::uint64_t> security_generation_{1};
  std::atomic<bool> beyond_loopback_{false};
  std::mutex shutdown_mutex_;
  std::function<void()> shutdown_;
};

}  // namespace sqlengine::exec
