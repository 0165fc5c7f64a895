#pragma once
// For unit tests of code that reports failures by throwing SqlError.

#include <functional>

#include "engine/common/error.h"

namespace sqlengine::testing {

// The number of the SqlError `action` throws; 0 when it throws none.
inline int ThrownErrorNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const SqlError& error) {
    return error.message().number;
  }
  return 0;
}

}  // namespace sqlengine::testing
