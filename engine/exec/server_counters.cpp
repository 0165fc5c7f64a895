#include "engine/exec/server_counters.h"

#include <sys/resource.h>

#include <algorithm>

#include "engine/exec/engine_impl.h"

namespace sqlengine::exec {
namespace {

const std::chrono::steady_clock::time_point kStarted = std::chrono::steady_clock::now();
const std::chrono::system_clock::time_point kStartedAt = std::chrono::system_clock::now();

}  // namespace

std::chrono::system_clock::time_point EngineStartedAt() { return kStartedAt; }

ServerCounters CurrentServerCounters(EngineImpl& engine) {
  ServerCounters now;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  now.cpu_busy = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec;
  auto up =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - kStarted)
          .count();
  now.idle = std::max<std::int64_t>(0, up - now.cpu_busy);
  now.total_read = usage.ru_inblock;
  now.total_write = usage.ru_oublock;
  for (const SessionActivity& activity : engine.Sessions().Snapshot())
    now.connections = std::max<std::int64_t>(now.connections, activity.spid - 50);
  return now;
}

}  // namespace sqlengine::exec
