#include "engine/exec/server_variables.h"

#include "engine/exec/server_counters.h"
#include "engine/exec/session.h"
#include "engine/exec/session_options.h"

namespace sqlengine::exec {
namespace {

struct Counter {
  std::string_view name;
  std::int64_t ServerCounters::*field;
  bool in_ticks;  // @@CPU_BUSY, @@IO_BUSY and @@IDLE count ticks, not seconds
};

constexpr Counter kCounters[] = {
    {"connections", &ServerCounters::connections, false},
    {"cpu_busy", &ServerCounters::cpu_busy, true},
    {"io_busy", &ServerCounters::io_busy, true},
    {"idle", &ServerCounters::idle, true},
    {"pack_received", &ServerCounters::packets_received, false},
    {"pack_sent", &ServerCounters::packets_sent, false},
    {"packet_errors", &ServerCounters::packet_errors, false},
    {"total_read", &ServerCounters::total_read, false},
    {"total_write", &ServerCounters::total_write, false},
    {"total_errors", &ServerCounters::total_errors, false},
};

}  // namespace

std::optional<Value> ServerVariable(Session& session, std::string_view name) {
  if (name == "options")
    return std::int64_t{
        OptionBits(session.Options(), session.QuotedIdentifier(), session.NoCount())};
  if (name == "langid") return std::int64_t{session.Dates().langid};
  // The most connections SQL Server could take, not what is configured.
  if (name == "max_connections") return std::int64_t{32767};
  if (name == "timeticks") return kMicrosecondsPerTick;
  if (name == "remserver") return Value{};
  for (const Counter& counter : kCounters) {
    if (counter.name != name) continue;
    std::int64_t value = CurrentServerCounters(session.Engine()).*counter.field;
    // Ticks wrap past an int, as SQL Server's do.
    return counter.in_ticks ? (value * 1000000 / kMicrosecondsPerTick) & 0x7fffffff : value;
  }
  return std::nullopt;
}

}  // namespace sqlengine::exec
