#include "engine/server/service_options.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace sqlengine::server {

std::vector<std::string> ServiceOptions::ListenAddresses() const {
  return listen.empty() ? kDefaultListenAddresses : listen;
}

std::filesystem::path DefaultHome() {
  if (const char* home = std::getenv("SQLENGINE_HOME"); home && *home) return home;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    return std::filesystem::path(data) / "sqlengine";
  }
  const char* user_home = std::getenv("HOME");
  if (!user_home || !*user_home) {
    const passwd* pw = getpwuid(getuid());
    user_home = pw ? pw->pw_dir : "/tmp";
  }
  return std::filesystem::path(user_home) / ".local" / "share" / "sqlengine";
}

std::string UsageText() {
  return "usage: sqlengine run|start|stop|status [--home DIR] [--port N] [--listen ADDR]...\n"
         "  run     serve in the foreground until SIGTERM or `sqlengine stop`\n"
         "  start   serve in the background; returns once connections are accepted\n"
         "  stop    stop the instance of this home\n"
         "  status  say whether an instance runs for this home, and where\n"
         "  --home DIR     instance home (default $SQLENGINE_HOME, $XDG_DATA_HOME/sqlengine,\n"
         "                 ~/.local/share/sqlengine)\n"
         "  --port N       TCP port (default 1433; 0 picks a free one)\n"
         "  --listen ADDR  address to listen on, repeatable (default 127.0.0.1 and ::1)\n";
}

ServiceOptions ParseCommandLine(int argc, char** argv) {
  ServiceOptions options;
  options.home = DefaultHome();
  if (argc < 2) throw std::invalid_argument("missing command");
  options.command = argv[1];
  if (options.command != "run" && options.command != "start" && options.command != "stop" &&
      options.command != "status") {
    throw std::invalid_argument("unknown command '" + options.command + "'");
  }
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--home") {
      options.home = value();
    } else if (arg == "--port") {
      std::string text = value();
      char* end = nullptr;
      long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
        throw std::invalid_argument("invalid port '" + text + "'");
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--listen") {
      options.listen.push_back(value());
    } else if (arg == "--background") {
      options.background = true;
    } else {
      throw std::invalid_argument("unknown option '" + arg + "'");
    }
  }
  options.home = std::filesystem::absolute(options.home);
  return options;
}

}  // namespace sqlengine::server
