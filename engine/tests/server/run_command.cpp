#include "engine/tests/server/run_command.h"

#include <sys/wait.h>

#include <cstdio>

namespace sqlengine::testing {

CommandOutcome RunCommand(const std::string& command) {
  CommandOutcome outcome;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) outcome.output += buffer;
  int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

}  // namespace sqlengine::testing
