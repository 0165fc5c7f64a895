#pragma once
// Ending the program at once, as Close, Esc, a cancelled login and a failed
// database list do. The open connection is not closed first.

namespace brellow {

class ProgramEnd {
 public:
  virtual ~ProgramEnd() = default;
  // Production: does not return. A test double records the call and returns;
  // callers return straight after it.
  virtual void EndNow() = 0;
};

// Ends the process with exit status 0.
class ProcessEnd : public ProgramEnd {
 public:
  [[noreturn]] void EndNow() override;
};

}  // namespace brellow
