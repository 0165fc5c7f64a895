#pragma once
// Base fixture of the tests that need a real engine: a fresh sqlengine on a
// free loopback port per test. When the engine cannot be started the test is
// skipped with the reason.

#include <gtest/gtest.h>

#include <memory>

#include "testing/test_engine.h"

namespace brellow_test {

class EngineTest : public ::testing::Test {
 protected:
  // Derived fixtures that override SetUp call this first and return when
  // IsSkipped().
  void SetUp() override;

  std::unique_ptr<testing_support::TestEngine> engine_;
};

}  // namespace brellow_test
