#pragma once
// The engine's activity counters since it started, as sp_monitor and the
// @@CPU_BUSY ... @@TOTAL_ERRORS functions report them.

#include <chrono>
#include <cstdint>

namespace sqlengine::exec {

class EngineImpl;

// CPU and idle seconds, file system reads and writes, logins (spids are
// issued from 51 upwards and never reused). The engine counts no network
// packets, no I/O wait and no errors of its own: those stay 0.
struct ServerCounters {
  std::int64_t cpu_busy = 0;
  std::int64_t io_busy = 0;
  std::int64_t idle = 0;
  std::int64_t packets_received = 0;
  std::int64_t packets_sent = 0;
  std::int64_t packet_errors = 0;
  std::int64_t total_read = 0;
  std::int64_t total_write = 0;
  std::int64_t total_errors = 0;
  std::int64_t connections = 0;
};

ServerCounters CurrentServerCounters(EngineImpl& engine);

// When the engine process started.
std::chrono::system_clock::time_point EngineStartedAt();

// Microseconds in one tick, the unit of @@CPU_BUSY, @@IO_BUSY and @@IDLE
// (@@TIMETICKS).
constexpr std::int64_t kMicrosecondsPerTick = 31250;

}  // namespace sqlengine::exec
