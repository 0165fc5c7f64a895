// The sqlengine program: see engine/server/service.h.
#include "engine/common/engine_api.h"
#include "engine/server/service.h"

#ifdef SQLENGINE_WITHOUT_EXECUTOR
#include <stdexcept>
namespace sqlengine {
std::unique_ptr<Engine> OpenEngine(const std::filesystem::path&, Log&) {
  throw std::runtime_error("this build has no SQL executor");
}
}  // namespace sqlengine
#endif

int main(int argc, char** argv) {
  return sqlengine::server::ServiceMain(argc, argv, [](const std::filesystem::path& home,
                                                       sqlengine::Log& log) {
    return sqlengine::OpenEngine(home, log);
  });
}
