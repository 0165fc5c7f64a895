#pragma once
// Starting the database service for SQLServer::Start: the local engine
// program `sqlengine`, found beside the running program or on PATH.
// Blocking; not thread-safe with respect to the environment (reads PATH).

#include <optional>
#include <string>
#include <string_view>

namespace dbplatform {

inline constexpr int kDefaultServicePort = 1433;
// Windows error 1060 (no such service) and 1066 (service-specific error) as HRESULTs.
inline constexpr std::int32_t kServiceNotInstalled = static_cast<std::int32_t>(0x80070424);
inline constexpr std::int32_t kServiceFailedToStart = static_cast<std::int32_t>(0x8007042A);
inline constexpr std::int32_t kServiceStartTimeout = static_cast<std::int32_t>(0x8007041D);
inline constexpr std::int32_t kRemoteServiceStart = static_cast<std::int32_t>(0x80070005);

struct ServiceAddress {
  std::string host;  // as given ("127.0.0.1" for a name meaning this computer)
  int port = kDefaultServicePort;
  bool this_computer = false;
  bool valid = true;  // false when the port part is not a port number
};

// "name", "name,port", "name\instance" (instance ignored for the port).
ServiceAddress ParseServiceAddress(std::string_view server);

// Whether a TDS server answers a PRELOGIN at host:port within `timeout_ms`.
bool TdsServerAnswers(const std::string& host, int port, int timeout_ms);

// The engine program: `executable_folder`/sqlengine if executable, else the
// first executable `sqlengine` in the ':'-separated `path_list`.
std::optional<std::string> FindEngineProgram(const std::string& executable_folder,
                                             std::string_view path_list);

// Starts the service that `server` names and waits (at most timeout_seconds)
// until it accepts connections. Throws Error: kServiceAlreadyRunning when a
// TDS server already answers there, kRemoteServiceStart for another computer,
// kServiceNotInstalled when no engine program is found, kServiceFailedToStart
// with the engine's own words, kServiceStartTimeout when it does not come up.
void StartService(const std::string& server, int timeout_seconds);
// The same with an explicit engine program (nullopt: none installed).
void StartService(const std::string& server, int timeout_seconds,
                  const std::optional<std::string>& engine_program);

}  // namespace dbplatform
