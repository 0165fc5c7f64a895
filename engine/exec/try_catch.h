#pragma once
// The session's state for BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH:
// how many TRY blocks are running, the error one of them caught on its way
// to its CATCH block, and the errors the running CATCH blocks handle (what
// ERROR_NUMBER() and the other ERROR_ functions read). Used on the
// session's thread only.

#include <optional>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine::exec {

struct TryCatchState {
  // TRY blocks running (the statements of a CATCH block are outside theirs).
  int try_depth = 0;
  // An error of severity 11 or more met inside a TRY block: the statements
  // unwind to the innermost TRY, which takes it.
  std::optional<ServerMessage> pending;
  // The errors of the CATCH blocks running, innermost last.
  std::vector<ServerMessage> handled;
};

}  // namespace sqlengine::exec
