// BatchExecutor's BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH.

#include "engine/exec/try_catch.h"

#include "engine/exec/batch_executor.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

bool BatchExecutor::Trap(const SqlError& error) {
  TryCatchState& state = session_.TryCatch();
  const ServerMessage& message = error.message();
  if (state.try_depth == 0 || message.severity < 11 || state.pending) return false;
  state.pending = message;
  if (state.pending->procedure.empty()) state.pending->procedure = procedure_;
  session_.LastError() = message.number;
  abort_callers_ = true;
  // Where an error dooms the transaction (XACT_ABORT ON, a trigger), it is
  // rolled back before the CATCH block runs: nothing can commit half of it.
  if ((session_.Options().xact_abort || trigger_context_) && session_.TranCount() > 0) {
    RollbackKeepingTableVariables(
        [&] { session_.RollbackTransaction(sink_, message.line); });
  }
  return true;
}

BatchExecutor::Flow BatchExecutor::RunTryCatch(const tsql::Statement& statement) {
  TryCatchState& state = session_.TryCatch();
  Flow flow = Flow::kNext;
  ++state.try_depth;
  try {
    flow = RunList(statement.body);
  } catch (...) {
    --state.try_depth;
    state.pending.reset();
    throw;
  }
  --state.try_depth;
  if (!state.pending) return flow;
  // This TRY is the innermost one running: the error is its own.
  ServerMessage caught = std::move(*state.pending);
  state.pending.reset();
  abort_callers_ = false;
  session_.LastError() = caught.number;
  state.handled.push_back(std::move(caught));
  try {
    flow = RunOne(*statement.else_branch);
  } catch (...) {
    state.handled.pop_back();
    throw;
  }
  state.handled.pop_back();
  return flow;
}

}  // namespace sqlengine::exec
