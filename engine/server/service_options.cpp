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

std::vector<std::string> ServiceOptions::TuningArguments() const {
  auto ms = login_timeout.count();
  std::vector<std::string> args = {
      "--login-timeout", ms % 1000 == 0 ? std::to_string(ms / 1000) : std::to_string(ms / 1000.0)};
  if (user_connections) {
    args.push_back("--user-connections");
    args.push_back(std::to_string(*user_connections));
  }
  if (force_encryption) args.push_back("--force-encryption");
  if (sql_server_2000) args.push_back("--sql-server-2000");
  if (!tls_certificate.empty()) {
    args.push_back("--tls-certificate");
    args.push_back(tls_certificate.string());
  }
  if (!tls_key.empty()) {
    args.push_back("--tls-key");
    args.push_back(tls_key.string());
  }
  return args;
}

std::string UsageText() {
  return "usage: sqlengine run|start|stop|status [--home DIR] [--port N] [--listen ADDR]... "
         "[OPTION]...\n"
         "  run     serve in the foreground until SIGTERM or `sqlengine stop`\n"
         "  start   serve in the background; returns once connections are accepted\n"
         "  stop    stop the instance of this home\n"
         "  status  say whether an instance runs for this home, and where\n"
         "  --home DIR     instance home (default $SQLENGINE_HOME, $XDG_DATA_HOME/sqlengine,\n"
         "                 ~/.local/share/sqlengine)\n"
         "  --port N       TCP port (default 1433; 0 picks a free one)\n"
         "  --listen ADDR  address to listen on, repeatable (default 127.0.0.1 and ::1)\n"
         "  --login-timeout SECONDS  close a connection that has not logged in by then\n"
         "                 (default 60; 0: never)\n"
         "  --user-connections N  most connections at once (0: 32767), instead of the\n"
         "                 'user connections' setting (sp_configure)\n"
         "  --force-encryption  encrypt every connection (always so when listening\n"
         "                 beyond loopback)\n"
         "  --sql-server-2000  answer as SQL Server 2000 does: TDS 7.1 at most, so no\n"
         "                 MAX types, Transaction Manager requests or 2005+ tokens\n"
         "  --tls-certificate FILE --tls-key FILE  PEM certificate chain and key to\n"
         "                 present (default: a self-signed pair made in HOME/tls)\n";
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
    } else if (arg == "--login-timeout") {
      std::string text = value();
      char* end = nullptr;
      double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !(seconds >= 0) || seconds > 24 * 60 * 60) {
        throw std::invalid_argument("invalid login timeout '" + text + "'");
      }
      options.login_timeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000 + 0.5));
    } else if (arg == "--user-connections") {
      std::string text = value();
      char* end = nullptr;
      long count = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || count < 0 || count > 32767) {
        throw std::invalid_argument("invalid user connections '" + text + "' (0 to 32767)");
      }
      options.user_connections = static_cast<int>(count);
    } else if (arg == "--force-encryption") {
      options.force_encryption = true;
    } else if (arg == "--sql-server-2000") {
      options.sql_server_2000 = true;
    } else if (arg == "--tls-certificate") {
      options.tls_certificate = std::filesystem::absolute(value());
    } else if (arg == "--tls-key") {
      options.tls_key = std::filesystem::absolute(value());
    } else if (arg == "--background") {
      options.background = true;
    } else {
      throw std::invalid_argument("unknown option '" + arg + "'");
    }
  }
  if (options.tls_certificate.empty() != options.tls_key.empty()) {
    throw std::invalid_argument("--tls-certificate and --tls-key go together");
  }
  options.home = std::filesystem::absolute(options.home);
  return options;
}

}  // namespace sqlengine::server
