#pragma once
// Server configuration options: sp_configure to show and set them, and
// RECONFIGURE to put the dynamic ones in use. Configured values are kept in
// master; 'user connections' is read when the service starts, as SQL Server
// does.

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <string>
#include <vector>

#include "engine/catalog/server_configuration.h"
#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// The values in use: fixed at start-up for static options, changed by
// RECONFIGURE for dynamic ones. Thread-safe.
class ConfigurationState {
 public:
  // Reads the stored values. Throws std::runtime_error.
  explicit ConfigurationState(const std::filesystem::path& master_file);

  catalog::ServerConfiguration& Stored() { return stored_; }
  int UserConnectionsInUse() const { return user_connections_in_use_; }
  bool ShowsAdvancedOptions() const { return show_advanced_in_use_; }
  // RECONFIGURE: dynamic options take their configured values.
  void Reconfigure();

 private:
  catalog::ServerConfiguration stored_;
  const int user_connections_in_use_;
  std::atomic<bool> show_advanced_in_use_;
};

// The options as master..sysconfigures lists them: name, number, minimum,
// maximum, status (1 dynamic, 2 advanced), description.
struct ConfigurationOption {
  std::string_view name;
  int number;
  int minimum;
  int maximum;
  int status;
  std::string_view description;
};
std::span<const ConfigurationOption> ConfigurationOptions();

// The value in use of the option named `name`; nullopt for an unknown one.
std::optional<int> OptionInUse(ConfigurationState& state, std::string_view name);

// EXEC sp_configure [@configname [, @configvalue]]. Throws SqlError 15123
// (unknown or hidden advanced option), 15129 (value out of range), 15247
// (changing without sysadmin or serveradmin).
void Configure(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

// RECONFIGURE [WITH OVERRIDE]. Throws SqlError 5812 without sysadmin or
// serveradmin.
void Reconfigure(Session& session, ResultSink& sink);

}  // namespace sqlengine::exec
