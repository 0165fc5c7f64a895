#include "engine/exec/configuration_procedures.h"

#include <algorithm>
#include <cctype>

#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

struct OptionDefinition {
  std::string_view name;
  int minimum;
  int maximum;
  bool advanced;  // listed and settable only while 'show advanced options' is 1
};

constexpr std::string_view kShowAdvanced = "show advanced options";
constexpr std::string_view kUserConnections = "user connections";

// Sorted by name, as sp_configure lists them.
constexpr OptionDefinition kOptions[] = {
    {kShowAdvanced, 0, 1, false},
    {kUserConnections, 0, 32767, true},
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The visible options whose name contains `pattern` (any case); only the
// one named exactly when there is such.
std::vector<const OptionDefinition*> Matching(std::string_view pattern, bool show_advanced) {
  std::string wanted = Lower(pattern);
  std::vector<const OptionDefinition*> found;
  for (const OptionDefinition& option : kOptions) {
    if (option.advanced && !show_advanced) continue;
    if (option.name == wanted) return {&option};
    if (option.name.find(wanted) != std::string_view::npos) found.push_back(&option);
  }
  return found;
}

int InUse(ConfigurationState& state, const OptionDefinition& option) {
  if (option.name == kUserConnections) return state.UserConnectionsInUse();
  return state.ShowsAdvancedOptions() ? 1 : 0;
}

void SendOptions(ConfigurationState& state, const std::vector<const OptionDefinition*>& options,
                 ResultSink& sink) {
  const ColumnType name_type{SqlType::kNVarChar, 35};
  const ColumnType int_type{SqlType::kInt};
  sink.BeginResult({{"name", name_type},
                    {"minimum", int_type},
                    {"maximum", int_type},
                    {"config_value", int_type},
                    {"run_value", int_type}});
  for (const OptionDefinition* option : options) {
    int run_value = InUse(state, *option);
    sink.AddRow({std::string(option->name), std::int64_t{option->minimum},
                 std::int64_t{option->maximum},
                 std::int64_t{state.Stored().Stored(option->name).value_or(run_value)},
                 std::int64_t{run_value}});
  }
  StatementDone done;
  done.row_count = options.size();
  sink.Done(done);
}

bool MayChangeConfiguration(Session& session) {
  return session.IsSysadmin() ||
         session.Engine().Catalog().IsRoleMember("serveradmin", session.Login().name);
}

constexpr ConfigurationOption kDescribed[] = {
    {kShowAdvanced, 518, 0, 1, 1, "show advanced options"},
    {kUserConnections, 103, 0, 32767, 2, "Number of user connections allowed"},
};

}  // namespace

std::span<const ConfigurationOption> ConfigurationOptions() { return kDescribed; }

std::optional<int> OptionInUse(ConfigurationState& state, std::string_view name) {
  for (const OptionDefinition& option : kOptions) {
    if (option.name == Lower(name)) return InUse(state, option);
  }
  return std::nullopt;
}

ConfigurationState::ConfigurationState(const std::filesystem::path& master_file)
    : stored_(master_file),
      user_connections_in_use_(stored_.Stored(kUserConnections).value_or(0)),
      show_advanced_in_use_(stored_.Stored(kShowAdvanced).value_or(0) != 0) {}

void ConfigurationState::Reconfigure() {
  show_advanced_in_use_ = stored_.Stored(kShowAdvanced).value_or(0) != 0;
}

void Configure(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink) {
  Arguments args("sp_configure", arguments, {"@configname", "@configvalue"});
  ConfigurationState& state = session.Engine().Configuration();
  const bool show_advanced = state.ShowsAdvancedOptions();
  if (!args[0]) {
    std::vector<const OptionDefinition*> all;
    for (const OptionDefinition& option : kOptions) {
      if (!option.advanced || show_advanced) all.push_back(&option);
    }
    SendOptions(state, all, sink);
    return;
  }
  std::vector<const OptionDefinition*> found = Matching(*args[0], show_advanced);
  if (found.empty() || (args[1] && found.size() > 1)) throw MakeError(15123, {*args[0]});
  if (!args[1]) {
    SendOptions(state, found, sink);
    return;
  }
  const OptionDefinition& option = *found.front();
  if (!MayChangeConfiguration(session)) throw MakeError(15247);
  const std::string& text = *args[1];
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < option.minimum || value > option.maximum) {
    throw MakeError(15129, {text, option.name});
  }
  int before = state.Stored().Stored(option.name).value_or(InUse(state, option));
  state.Stored().Store(option.name, static_cast<int>(value));
  sink.Message(FormatMessage(15457, {option.name, std::to_string(before), std::to_string(value)}));
}

void Reconfigure(Session& session, ResultSink& sink) {
  if (!MayChangeConfiguration(session)) throw MakeError(5812);
  session.Engine().Configuration().Reconfigure();
  sink.Done(StatementDone{});
}

}  // namespace sqlengine::exec
