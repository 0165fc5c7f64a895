// BatchExecutor's GOTO: a jump to a label anywhere in the batch or body,
// out of blocks and loops or into them.
//
// A GOTO ends the statements it stands in with Flow::kGoto and the label in
// goto_label_; each enclosing list looks for the label among its statements
// (nested ones included) and, where it finds it, carries on from there. A
// jump into a WHILE runs the rest of that loop's body, then the loop goes on
// as usual; into an IF runs the branch holding the label without testing the
// condition. The labels were checked when the batch was parsed, so the
// outermost list always finds its target.

#include "engine/exec/batch_executor.h"
#include "engine/exec/session.h"
#include "engine/tsql/labels.h"

namespace sqlengine::exec {

BatchExecutor::Flow BatchExecutor::RunList(const tsql::StatementList& statements) {
  return RunListFrom(statements, 0, /*entering=*/false);
}

BatchExecutor::Flow BatchExecutor::RunListFrom(const tsql::StatementList& statements, size_t at,
                                               bool entering) {
  for (size_t i = at; i < statements.size(); ++i) {
    Flow flow = entering ? EnterAtLabel(*statements[i]) : RunOne(*statements[i]);
    entering = false;
    while (flow == Flow::kGoto) {
      std::optional<size_t> target = tsql::LabelIndex(statements, goto_label_);
      if (!target) return flow;
      i = *target;
      flow = EnterAtLabel(*statements[i]);
    }
    if (flow != Flow::kNext) return flow;
  }
  return Flow::kNext;
}

BatchExecutor::Flow BatchExecutor::EnterAtLabel(const tsql::Statement& statement) {
  if (session_.Cancelled()) throw Cancelled{};
  switch (statement.kind) {
    case tsql::StatementKind::kLabel:
      return Flow::kNext;
    case tsql::StatementKind::kBlock:
      return RunListFrom(statement.body, *tsql::LabelIndex(statement.body, goto_label_),
                         /*entering=*/true);
    case tsql::StatementKind::kIf:
      if (tsql::ContainsLabel(*statement.body.front(), goto_label_)) {
        return EnterAtLabel(*statement.body.front());
      }
      return EnterAtLabel(*statement.else_branch);
    case tsql::StatementKind::kWhile: {
      Flow flow = EnterAtLabel(*statement.body.front());
      if (flow == Flow::kBreak) return Flow::kNext;
      if (flow != Flow::kNext && flow != Flow::kContinue) return flow;
      return RunOne(statement);
    }
    default:
      // Into TRY or CATCH, which a GOTO may not enter.
      throw MakeError(1026);
  }
}

}  // namespace sqlengine::exec
