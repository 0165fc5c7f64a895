// The sqlengine program: see engine/server/service.h.
#include "engine/common/engine_api.h"
#include "engine/server/service.h"

int main(int argc, char** argv) {
  return sqlengine::server::ServiceMain(argc, argv,
                                        [](const std::filesystem::path& home, sqlengine::Log& log) {
                                          return sqlengine::OpenEngine(home, log);
                                        });
}
