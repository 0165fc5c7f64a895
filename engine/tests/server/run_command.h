#pragma once
// Runs a shell command for a test and collects what it prints.

#include <string>

namespace sqlengine::testing {

struct CommandOutcome {
  int status = -1;     // exit status; -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};

CommandOutcome RunCommand(const std::string& command);

}  // namespace sqlengine::testing
