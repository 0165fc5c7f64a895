#include "engine/exec/monitor_procedure.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/server_counters.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

struct LastRun {
  std::mutex mutex;
  std::chrono::system_clock::time_point when = EngineStartedAt();
  ServerCounters counters;
};

LastRun& Last() {
  static LastRun last;
  return last;
}

DateTime LocalDateTime(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  DateTime result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  return result;
}

// "total(since last run)", with "-percent%" of the interval for times.
std::string Figure(std::int64_t total, std::int64_t before, std::optional<std::int64_t> interval) {
  std::string text = std::to_string(total) + "(" + std::to_string(total - before) + ")";
  if (interval) {
    std::int64_t percent = *interval > 0 ? (total - before) * 100 / *interval : 0;
    text += "-" + std::to_string(percent) + "%";
  }
  return text;
}

}  // namespace

void Monitor(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink) {
  Arguments args("sp_monitor", arguments, {});
  if (!session.IsSysadmin()) throw MakeError(15247);
  ServerCounters now = CurrentServerCounters(session.Engine());
  auto current = std::chrono::system_clock::now();
  LastRun& last = Last();
  std::lock_guard<std::mutex> hold(last.mutex);
  std::int64_t interval =
      std::chrono::duration_cast<std::chrono::seconds>(current - last.when).count();
  const ServerCounters& before = last.counters;
  const ColumnType figure{SqlType::kVarChar, 25};

  ResultBuilder run({{"last_run", ColumnType{SqlType::kDateTime}},
                     {"current_run", ColumnType{SqlType::kDateTime}},
                     {"seconds", ColumnType{SqlType::kInt}}});
  run.Add({LocalDateTime(last.when), LocalDateTime(current), interval});
  run.Send(sink);
  ResultBuilder times({{"cpu_busy", figure}, {"io_busy", figure}, {"idle", figure}});
  times.Add({Figure(now.cpu_busy, before.cpu_busy, interval),
             Figure(now.io_busy, before.io_busy, interval),
             Figure(now.idle, before.idle, interval)});
  times.Send(sink);
  ResultBuilder packets(
      {{"packets_received", figure}, {"packets_sent", figure}, {"packet_errors", figure}});
  packets.Add({Figure(now.packets_received, before.packets_received, std::nullopt),
               Figure(now.packets_sent, before.packets_sent, std::nullopt),
               Figure(now.packet_errors, before.packet_errors, std::nullopt)});
  packets.Send(sink);
  ResultBuilder totals({{"total_read", figure},
                        {"total_write", figure},
                        {"total_errors", figure},
                        {"connections", figure}});
  totals.Add({Figure(now.total_read, before.total_read, std::nullopt),
              Figure(now.total_write, before.total_write, std::nullopt),
              Figure(now.total_errors, before.total_errors, std::nullopt),
              Figure(now.connections, before.connections, std::nullopt)});
  totals.Send(sink);
  last.when = current;
  last.counters = now;
}

}  // namespace sqlengine::exec
