#pragma once
// The command line of the sqlengine program.

#include <filesystem>
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
