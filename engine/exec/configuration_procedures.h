#pragma once
// Server configuration options: sp_configure to show and set them, and
// RECONFIGURE to put the dynamic ones in use. Configured values are kept in
// master. The engine acts on 'show advanced options', 'nested triggers' and
// 'user connections' (read when the service starts, as SQL Server does); the
// others are kept and reported only.

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

// The options as master..sysconfigures lists them: name, number, minimum,
// maximum, the value a new server has, status (kDynamic | kAdvanced) and
// description. Sorted by name as sp_configure lists them.
struct ConfigurationOption {
  static constexpr int kDynamic = 1;   // RECONFIGURE puts it in use; others wait for a restart
  static constexpr int kAdvanced = 2;  // listed and settable only with 'show advanced options'
  std::string_view name;
  int number;
  int minimum;
  int maximum;
  int default_value;
  int status;
  std::string_view description;
};
std::span<const ConfigurationOption> ConfigurationOptions();

// The values in use: fixed at start-up for static options, changed by
// RECONFIGURE for dynamic ones. Thread-safe.
class ConfigurationState {
 public:
  // Reads the stored values. Throws std::runtime_error.
  explicit ConfigurationState(const std::filesystem::path& master_file);

  catalog::ServerConfiguration& Stored() { return stored_; }
  // The value in use of `option`, which must be one of ConfigurationOptions().
  int InUse(const ConfigurationOption& option) const;
  // The configured value: what sp_configure stored, else the one in use.
  int Configured(const ConfigurationOption& option);
  int UserConnectionsInUse() const;
  bool ShowsAdvancedOptions() const;
  // RECONFIGURE: dynamic options take their configured values.
  void Reconfigure();

 private:
  catalog::ServerConfiguration stored_;
  std::unique_ptr<std::atomic<int>[]> in_use_;  // parallel to ConfigurationOptions()
};

// The value in use of the option named `name`; nullopt for an unknown one.
std::optional<int> OptionInUse(ConfigurationState& state, std::string_view name);

// EXEC sp_configure [@configname [, @configvalue]]. Throws SqlError 15123
// (unknown or hidden advanced option), 15124 (a part naming several options
// given a value), 15129 (value out of range), 15247 (changing without sysadmin
// or serveradmin).
void Configure(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

// RECONFIGURE [WITH OVERRIDE]. Throws SqlError 5812 without sysadmin or
// serveradmin.
void Reconfigure(Session& session, ResultSink& sink);

}  // namespace sqlengine::exec
