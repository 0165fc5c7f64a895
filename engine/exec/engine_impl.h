#pragma once
// The engine of one instance home: its catalog, the databases in use and
// the logins. Shared by all sessions; thread-safe.

#include <atomic>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/catalog/instance_home.h"
#include "engine/catalog/master_catalog.h"
#include "engine/common/engine_api.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/database_usage.h"

namespace sqlengine::exec {

class EngineImpl final : public Engine {
 public:
  // Throws std::runtime_error when the home cannot be prepared.
  EngineImpl(const std::filesystem::path& home, Log& log);

  LoginResult Login(const LoginRequest& request) override;
  bool SysadminHasEmptyPassword() override;
  int ConfiguredUserConnections() override { return configuration_->UserConnectionsInUse(); }
  std::filesystem::path Home() const override { return home_.Root(); }

  catalog::MasterCatalog& Catalog() { return *catalog_; }
  ConfigurationState& Configuration() { return *configuration_; }
  const catalog::InstanceHome& Layout() const { return home_; }
  DatabaseUsage& Usage() { return usage_; }
  Log& EngineLog() { return log_; }

  // The registered database of that name (any case); nullopt when unknown.
  std::optional<catalog::DatabaseEntry> FindDatabase(std::string_view name);
  std::filesystem::path DataFileOf(const catalog::DatabaseEntry& entry) const;

 private:
  Log& log_;
  catalog::InstanceHome home_;
  std::unique_ptr<catalog::MasterCatalog> catalog_;
  std::unique_ptr<ConfigurationState> configuration_;
  DatabaseUsage usage_;
  std::atomic<int> next_spid_{51};
};

}  // namespace sqlengine::exec
