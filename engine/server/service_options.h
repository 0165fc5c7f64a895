#pragma once
// The command line of the sqlengine program.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sqlengine::server {

struct ServiceOptions {
  std::string command;  // run, start, stop, status
  std::filesystem::path home;
  int port = 1433;
  std::vector<std::string> listen;  // as given; empty means the defaults
  // Internal (set by `start` for its child): detach stdio once listening.
  bool background = false;
  // How long a connection may take to log in; zero: no limit.
  std::chrono::milliseconds login_timeout{60'000};
  // Overrides the 'user connections' setting stored in master (0: the maximum).
  std::optional<int> user_connections;
  // Encrypt every connection even when listening on loopback only.
  bool force_encryption = false;
  // Answer exactly as SQL Server 2000 does: TDS 7.1 at most, whatever the
  // client asks.
  bool sql_server_2000 = false;
  // Both or neither: the certificate (PEM chain) and its key instead of the
  // self-signed pair kept in <home>/tls.
  std::filesystem::path tls_certificate;
  std::filesystem::path tls_key;

  // The options above as arguments, for `start` to hand to its child.
  std::vector<std::string> TuningArguments() const;

  std::vector<std::string> ListenAddresses() const;
  bool UsesDefaultAddresses() const { return listen.empty(); }
};

inline const std::vector<std::string> kDefaultListenAddresses = {"127.0.0.1", "::1"};

// Throws std::invalid_argument with a message for the user.
ServiceOptions ParseCommandLine(int argc, char** argv);

// $SQLENGINE_HOME, else $XDG_DATA_HOME/sqlengine, else ~/.local/share/sqlengine.
std::filesystem::path DefaultHome();

std::string UsageText();

}  // namespace sqlengine::server
