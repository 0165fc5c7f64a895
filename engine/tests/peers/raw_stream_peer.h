#pragma once
// What the tests that read an engine's token stream byte by byte share: a
// raw client logged in at the TDS version the test is run with, and
// DB-Library's view of a script through bsqldb.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "engine/tests/server/run_command.h"
#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {

// The TDS versions a raw-stream test runs at, as LOGIN7 asks for them.
inline constexpr std::uint32_t kTds74 = 0x74000004u;
inline constexpr std::uint32_t kTds71 = 0x71000001u;

// A test with its own engine and a raw client logged in at the version
// the test is run with.
class RawStreamPeer : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  void SetUp() override {
    client_ = std::make_unique<TdsClient>(engine_.Port());
    LoginOptions options;
    options.tds_version = GetParam();
    client_->LoginOrFail(options);
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<TdsClient> client_;
};

// Names the instances of a RawStreamPeer test by version.
inline std::string VersionName(const ::testing::TestParamInfo<std::uint32_t>& info) {
  return info.param == kTds74 ? "Tds74" : "Tds71";
}

// Runs `sql` (batches ended by "go" lines) through bsqldb as sa; the script
// is written as `name` in the engine's home.
inline CommandOutcome RunBsqldb(const testing_support::TestEngine& engine, const std::string& name,
                                const std::string& sql) {
  std::filesystem::path script = engine.Home() / name;
  std::ofstream(script) << sql;
  return RunCommand("bsqldb -S 127.0.0.1:" + std::to_string(engine.Port()) + " -U sa -P '' -i " +
                    script.string() + " 2>&1");
}

}  // namespace sqlengine::testing
