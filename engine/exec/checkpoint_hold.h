#pragma once
// While a CheckpointHold lives, commits the thread's session connection
// makes durable (SessionConnection::MakeCommitsDurable) are synced as
// always, which is what makes them durable, but the checkpoints they make
// due (copying the log into the data file) are left due: the next
// MakeCommitsDurable after the hold runs them. A bulk load holds them so
// its DONE goes out first.

namespace sqlengine::exec {

class CheckpointHold {
 public:
  CheckpointHold();
  ~CheckpointHold();
  CheckpointHold(const CheckpointHold&) = delete;
  CheckpointHold& operator=(const CheckpointHold&) = delete;

  // Whether a hold lives on this thread.
  static bool Held();

 private:
  bool saved_;
};

}  // namespace sqlengine::exec
