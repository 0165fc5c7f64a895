#include "brellow/tests/engine_test.h"

#include <stdexcept>

namespace brellow_test {

void EngineTest::SetUp() {
  try {
    engine_ = std::make_unique<testing_support::TestEngine>();
  } catch (const std::runtime_error& failure) {
    FAIL() << "sqlengine does not come up: " << failure.what();
  }
}

}  // namespace brellow_test
