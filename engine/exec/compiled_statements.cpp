#include "engine/exec/compiled_statements.h"

namespace sqlengine::exec {

void CompiledStatements::Keep(std::string sql, Compiled compiled) {
  if (!rules_ || kept_.size() >= kKept || !compiled.statement) return;
  kept_.push_back({std::move(sql), std::move(compiled), rules_()});
}

CompiledStatements::Compiled CompiledStatements::Take(std::string_view sql) {
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->sql != sql) continue;
    Compiled compiled;
    if (it->rules == rules_()) compiled = std::move(it->compiled);
    kept_.erase(it);
    return compiled;
  }
  return {};
}

}  // namespace sqlengine::exec
