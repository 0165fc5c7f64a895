// The sqlengine program: see engine/server/service.h. `--help` and
// `--version` alone answer without touching any instance home.
#include <iostream>
#include <string_view>

#include "engine/common/engine_api.h"
#include "engine/server/service.h"
#include "engine/server/service_options.h"
#include "suite_version.h"

int main(int argc, char** argv) {
  if (argc == 2) {
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
      std::cout << sqlengine::server::UsageText()
                << "  --help         show this text\n"
                   "  --version      show the version\n";
      return 0;
    }
    if (option == "--version") {
      std::cout << "sqlengine " << SUITE_VERSION_TEXT << '\n';
      return 0;
    }
  }
  return sqlengine::server::ServiceMain(argc, argv,
                                        [](const std::filesystem::path& home, sqlengine::Log& log) {
                                          return sqlengine::OpenEngine(home, log);
                                        });
}
