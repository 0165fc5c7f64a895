#include "engine/exec/format_only.h"

#include "engine/exec/write_lock.h"

namespace sqlengine::exec {

UnderFormatOnly FormatOnlyHandling(const tsql::Statement& statement) {
  switch (statement.kind) {
    case tsql::StatementKind::kSet:
    case tsql::StatementKind::kDeclare:
    case tsql::StatementKind::kUse:
      return UnderFormatOnly::kRun;
    case tsql::StatementKind::kSelect:
      // SELECT ... INTO would make a table.
      return WrittenDatabase(statement) ? UnderFormatOnly::kSkip : UnderFormatOnly::kDescribe;
    default:
      return UnderFormatOnly::kSkip;
  }
}

}  // namespace sqlengine::exec
