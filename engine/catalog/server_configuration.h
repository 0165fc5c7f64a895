#pragma once
// The instance's configuration options (sp_configure) as stored in
// master.mdf: a name and the configured value per option that was ever set.
// Thread-safe; each change commits before the call returns.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

#include "engine/catalog/sqlite_handle.h"

namespace sqlengine::catalog {

inline constexpr const char* kConfigurationsTable = "sqlengine_configurations";

class ServerConfiguration {
 public:
  // Opens master.mdf (which must exist) and adds the table where missing.
  // Throws std::runtime_error.
  explicit ServerConfiguration(const std::filesystem::path& master_file);

  // The configured value; nullopt when the option was never set.
  std::optional<int> Stored(std::string_view name);
  void Store(std::string_view name, int value);

 private:
  std::mutex mutex_;
  Connection db_;
};

}  // namespace sqlengine::catalog
