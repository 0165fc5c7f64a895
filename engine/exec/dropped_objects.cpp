#include "engine/exec/dropped_objects.h"

#include "engine/exec/database_security.h"
#include "engine/exec/triggers.h"
#include "engine/tsql/dotted_name.h"

namespace sqlengine::exec {

bool ForgetDroppedObjects(sqlite3* db, const std::string& schema,
                          const tsql::Statement& statement) {
  bool forgot = false;
  const tsql::Tokens& tokens = statement.tokens;
  bool view = statement.kind == tsql::StatementKind::kDropOther && tokens.size() > 2 &&
              tokens[1].IsWord("view");
  if (!view && statement.kind != tsql::StatementKind::kDropTable) return false;
  for (size_t at = 2; at < tokens.size();) {
    tsql::DottedName name = tsql::ReadDottedName(tokens, at);
    if (name.parts.empty()) return forgot;
    const std::string& object = name.Last();
    if (!tsql::IsLocalTempName(object)) {
      forgot = ForgetObjectPermissions(db, schema, object) || forgot;
      if (view) ForgetTableTriggers(db, schema, object);
    }
    at = name.end;
    if (at < tokens.size() && tokens[at].IsSymbol(",")) ++at;
  }
  return forgot;
}

}  // namespace sqlengine::exec
