#include "engine/exec/server_variables.h"

#include "engine/exec/server_counters.h"
#include "engine/exec/session.h"
#include "engine/exec/session_options.h"

namespace sqlengine::exec {
namespace {

// @@CPU_BUSY, @@IO_BUSY and @@IDLE count ticks, which wrap past an int.
std::int64_t Ticks(std::int64_t seconds) {
  return (seconds * 1000000 / kMicrosecondsPerTick) & 0x7fffffff;
}

}  // namespace

std::optional<Value> ServerVariable(Session& session, std::string_view name) {
  if (name == "options")
    return std::int64_t{
        OptionBits(session.Options(), session.QuotedIdentifier(), session.NoCount())};
  if (name == "langid") return std::int64_t{0};  // us_english
  // The most connections SQL Server could take, not what is configured.
  if (name == "max_connections") return std::int64_t{32767};
  if (name == "timeticks") return kMicrosecondsPerTick;
  if (name == "remserver") return Value{};
  if (name != "connections" && name != "cpu_busy" && name != "io_busy" && name != "idle" &&
      name != "pack_received" && name != "pack_sent" && name != "packet_errors" &&
      name != "total_read" && name != "total_write" && name != "total_errors")
    return std::nullopt;
  ServerCounters counters = CurrentServerCounters(session.Engine());
  if (name == "connections") return counters.connections;
  if (name == "cpu_busy") return Ticks(counters.cpu_busy);
  if (name == "io_busy") return Ticks(counters.io_busy);
  if (name == "idle") return Ticks(counters.idle);
  if (name == "pack_received") return counters.packets_received;
  if (name == "pack_sent") return counters.packets_sent;
  if (name == "packet_errors") return counters.packet_errors;
  if (name == "total_read") return counters.total_read;
  if (name == "total_write") return counters.total_write;
  return counters.total_errors;
}

}  // namespace sqlengine::exec
