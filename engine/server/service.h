#pragma once
// The sqlengine program: `run`, `start`, `stop` and `status` for one
// instance home. Exit status 0 on success, 3 when `start`/`run` find an
// instance already running, 1 for other failures, 2 for a refused
// configuration or bad usage; `status` exits 1 when nothing runs.

#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "engine/common/engine_api.h"
#include "engine/common/log.h"

namespace sqlengine::server {

using EngineFactory = std::function<std::unique_ptr<Engine>(const std::filesystem::path&, Log&)>;

inline constexpr std::string_view kAlreadyRunning =
    "An instance of the service is already running.";
inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;
inline constexpr int kExitAlreadyRunning = 3;

int ServiceMain(int argc, char** argv, const EngineFactory& open_engine);

}  // namespace sqlengine::server
