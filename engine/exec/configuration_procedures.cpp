#include "engine/exec/configuration_procedures.h"
#include "engine/exec/configuration_checks.h"

#include <algorithm>
#include <cctype>

#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

using Option = ConfigurationOption;
constexpr int kDynamic = Option::kDynamic;
constexpr int kAdvanced = Option::kAdvanced;

constexpr std::string_view kShowAdvanced = "show advanced options";
constexpr std::string_view kUserConnections = "user connections";
constexpr std::string_view kAllowUpdates = "allow updates";
constexpr std::string_view kRecoveryInterval = "recovery interval (min)";
// The longest recovery interval RECONFIGURE takes without OVERRIDE.
constexpr int kRecommendedRecoveryMinutes = 60;
constexpr int kIntMax = 2147483647;

// SQL Server 2000 SP4's options, in sp_configure's order (by name, any case).
constexpr Option kOptions[] = {
    {"affinity mask", 1535, 0, kIntMax, 0, kAdvanced, "affinity mask"},
    {"allow updates", 102, 0, 1, 0, kDynamic, "Allow updates to system tables"},
    {"awe enabled", 1548, 0, 1, 0, kAdvanced, "AWE enabled in the server"},
    {"c2 audit mode", 544, 0, 1, 0, kAdvanced, "c2 audit mode"},
    {"cost threshold for parallelism", 1538, 0, 32767, 5, kDynamic | kAdvanced,
     "cost threshold for parallelism"},
    {"Cross DB Ownership Chaining", 400, 0, 1, 0, kDynamic, "Allow cross db ownership chaining"},
    {"cursor threshold", 1531, -1, kIntMax, -1, kDynamic | kAdvanced, "cursor threshold"},
    {"default full-text language", 1126, 0, kIntMax, 1033, kDynamic | kAdvanced,
     "default full-text language"},
    {"default language", 124, 0, 9999, 0, kDynamic, "default language"},
    {"fill factor (%)", 109, 0, 100, 0, kAdvanced, "Default fill factor percentage"},
    {"index create memory (KB)", 1505, 704, kIntMax, 0, kDynamic | kAdvanced,
     "Memory for index create sorts (kBytes)"},
    {"lightweight pooling", 1546, 0, 1, 0, kAdvanced, "User mode scheduler uses lightweight pooling"},
    {"locks", 106, 5000, kIntMax, 0, kAdvanced, "Number of locks for all users"},
    {"max degree of parallelism", 1539, 0, 32, 0, kDynamic | kAdvanced,
     "maximum degree of parallelism"},
    {"max server memory (MB)", 1544, 4, kIntMax, kIntMax, kDynamic | kAdvanced,
     "Maximum size of server memory (MB)"},
    {"max text repl size (B)", 1536, 0, kIntMax, 65536, kDynamic,
     "Maximum size of a text field in replication."},
    {"max worker threads", 503, 32, 32767, 255, kAdvanced, "Maximum worker threads"},
    {"media retention", 1537, 0, 365, 0, kAdvanced, "Tape retention period in days"},
    {"min memory per query (KB)", 1540, 512, kIntMax, 1024, kDynamic | kAdvanced,
     "minimum memory per query (kBytes)"},
    {"min server memory (MB)", 1543, 0, kIntMax, 0, kDynamic | kAdvanced,
     "Minimum size of server memory (MB)"},
    {"nested triggers", 115, 0, 1, 1, kDynamic, "Allow triggers to be invoked within triggers"},
    {"network packet size (B)", 505, 512, 65536, 4096, kDynamic | kAdvanced, "Network packet size"},
    {"open objects", 107, 0, kIntMax, 0, kAdvanced, "Number of open database objects"},
    {"priority boost", 1517, 0, 1, 0, kAdvanced, "Priority boost"},
    {"query governor cost limit", 1545, 0, kIntMax, 0, kDynamic | kAdvanced,
     "Maximum estimated cost allowed by query governor"},
    {"query wait (s)", 1541, -1, kIntMax, -1, kDynamic | kAdvanced,
     "maximum time to wait for query memory (s)"},
    {"recovery interval (min)", 101, 0, 32767, 0, kDynamic | kAdvanced,
     "Maximum recovery interval in minutes"},
    {"remote access", 117, 0, 1, 1, 0, "Allow remote access"},
    {"remote login timeout (s)", 1519, 0, kIntMax, 20, kDynamic, "remote login timeout"},
    {"remote proc trans", 542, 0, 1, 0, kDynamic, "Create DTC transaction for remote procedures"},
    {"remote query timeout (s)", 1520, 0, kIntMax, 600, kDynamic, "remote query timeout"},
    {"scan for startup procs", 1547, 0, 1, 0, kAdvanced, "scan for startup stored procedures"},
    {"set working set size", 1532, 0, 1, 0, kAdvanced, "set working set size"},
    {kShowAdvanced, 518, 0, 1, 0, kDynamic, "show advanced options"},
    {"two digit year cutoff", 1127, 1753, 9999, 2049, kDynamic | kAdvanced, "two digit year cutoff"},
    {kUserConnections, 103, 0, 32767, 0, kAdvanced, "Number of user connections allowed"},
    {"user options", 1534, 0, 32767, 0, kDynamic, "user options"},
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const Option* Find(std::string_view name) {
  std::string wanted = Lower(name);
  for (const Option& option : kOptions) {
    if (Lower(option.name) == wanted) return &option;
  }
  return nullptr;
}

std::size_t IndexOf(const Option& option) { return static_cast<std::size_t>(&option - kOptions); }

// The visible options whose name contains `pattern` (any case); only the
// one named exactly when there is such.
std::vector<const Option*> Matching(std::string_view pattern, bool show_advanced) {
  std::string wanted = Lower(pattern);
  std::vector<const Option*> found;
  for (const Option& option : kOptions) {
    if ((option.status & kAdvanced) && !show_advanced) continue;
    std::string name = Lower(option.name);
    if (name == wanted) return {&option};
    if (name.find(wanted) != std::string::npos) found.push_back(&option);
  }
  return found;
}

void SendOptions(ConfigurationState& state, const std::vector<const Option*>& options,
                 ResultSink& sink) {
  const ColumnType name_type{SqlType::kNVarChar, 35};
  const ColumnType int_type{SqlType::kInt};
  sink.BeginResult({{"name", name_type},
                    {"minimum", int_type},
                    {"maximum", int_type},
                    {"config_value", int_type},
                    {"run_value", int_type}});
  for (const Option* option : options) {
    sink.AddRow({std::string(option->name), std::int64_t{option->minimum},
                 std::int64_t{option->maximum}, std::int64_t{state.Configured(*option)},
                 std::int64_t{state.InUse(*option)}});
  }
  StatementDone done;
  done.row_count = options.size();
  sink.Done(done);
}

bool MayChangeConfiguration(Session& session) {
  return session.IsSysadmin() ||
         session.Engine().Catalog().IsRoleMember("serveradmin", session.Login().name);
}

}  // namespace

std::span<const ConfigurationOption> ConfigurationOptions() { return kOptions; }

std::optional<int> OptionInUse(ConfigurationState& state, std::string_view name) {
  const Option* option = Find(name);
  if (!option) return std::nullopt;
  return state.InUse(*option);
}

ConfigurationState::ConfigurationState(const std::filesystem::path& master_file)
    : stored_(master_file), in_use_(new std::atomic<int>[std::size(kOptions)]) {
  for (const Option& option : kOptions) {
    in_use_[IndexOf(option)] = stored_.Stored(option.name).value_or(option.default_value);
  }
}

int ConfigurationState::InUse(const ConfigurationOption& option) const {
  return in_use_[IndexOf(option)];
}

int ConfigurationState::Configured(const ConfigurationOption& option) {
  return stored_.Stored(option.name).value_or(InUse(option));
}

int ConfigurationState::UserConnectionsInUse() const { return InUse(*Find(kUserConnections)); }

bool ConfigurationState::ShowsAdvancedOptions() const { return InUse(*Find(kShowAdvanced)) != 0; }

void ConfigurationState::Reconfigure() {
  for (const Option& option : kOptions) {
    if (option.status & kDynamic) {
      in_use_[IndexOf(option)] = stored_.Stored(option.name).value_or(option.default_value);
    }
  }
}

void Configure(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink) {
  Arguments args("sp_configure", arguments, {"@configname", "@configvalue"});
  ConfigurationState& state = session.Engine().Configuration();
  const bool show_advanced = state.ShowsAdvancedOptions();
  if (!args[0]) {
    std::vector<const Option*> all;
    for (const Option& option : kOptions) {
      if (!(option.status & kAdvanced) || show_advanced) all.push_back(&option);
    }
    SendOptions(state, all, sink);
    return;
  }
  std::vector<const Option*> found = Matching(*args[0], show_advanced);
  if (found.empty()) throw MakeError(15123, {*args[0]});
  if (args[1] && found.size() > 1) throw MakeError(15124, {*args[0]});
  if (!args[1]) {
    SendOptions(state, found, sink);
    return;
  }
  const Option& option = *found.front();
  if (!MayChangeConfiguration(session)) throw MakeError(15247);
  const std::string& text = *args[1];
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < option.minimum || value > option.maximum) {
    throw MakeError(15129, {text, option.name});
  }
  int before = state.Configured(option);
  state.Stored().Store(option.name, static_cast<int>(value));
  sink.Message(FormatMessage(15457, {option.name, std::to_string(before), std::to_string(value)}));
}

void RefuseUnrecommendedConfiguration(Session& session) {
  if (!MayChangeConfiguration(session)) throw MakeError(5812);
  ConfigurationState& state = session.Engine().Configuration();
  if (state.Configured(*Find(kAllowUpdates)) != 0) throw MakeError(5808);
  if (state.Configured(*Find(kRecoveryInterval)) > kRecommendedRecoveryMinutes)
    throw MakeError(5807);
}

void Reconfigure(Session& session, ResultSink& sink) {
  if (!MayChangeConfiguration(session)) throw MakeError(5812);
  session.Engine().Configuration().Reconfigure();
  sink.Done(StatementDone{});
}

}  // namespace sqlengine::exec
