// The sqlengine program: see engine/server/service.h. `--help` and
// `--version` alone answer without touching any instance home.
#include <malloc.h>

#include <iostream>
#include <string_view>

#include "engine/common/engine_api.h"
#include "engine/server/service.h"
#include "engine/server/service_options.h"
#include "suite_version.h"

namespace {

// Memory a request freed is kept for the next one rather than handed back
// to the system and faulted in afresh (a batch's parsed statements take
// about a kilobyte each): up to 64 MiB free at the top of each arena, and
// blocks below 32 MiB come from the arenas. glibc moves toward the same
// limits on its own, but only after a large block was mapped and freed.
void KeepFreedMemory() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedMemory();
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
