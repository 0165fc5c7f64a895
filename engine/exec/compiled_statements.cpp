#include "engine/exec/compiled_statements.h"

namespace sqlengine::exec {

void CompiledStatements::Keep(std::string sql, Compiled compiled) {
  if (kept_.size() >= kKept || !compiled.statement) return;
  kept_.push_back({std::move(sql), std::move(compiled), security_generation_()});
}

CompiledStatements::Compiled CompiledStatements::Take(std::string_view sql) {
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->sql != sql) continue;
    Compiled compiled;
    if (it->security_generation == security_generation_()) compiled = std::move(it->compiled);
    kept_.erase(it);
    return compiled;
  }
  return {};
}

}  // namespace sqlengine::exec
