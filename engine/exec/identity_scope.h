#pragma once
// A new scope for SCOPE_IDENTITY(): a batch, procedure, trigger, function or
// dynamic SQL string starts without one and, when it ends, its caller's comes
// back whatever the scope inserted. @@IDENTITY is not scoped.

#include <cstdint>
#include <optional>

#include "engine/exec/scoped_value.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

class IdentityScope {
 public:
  // `session` must outlive the scope.
  explicit IdentityScope(Session& session) : identity_(session.ScopeIdentity(), std::nullopt) {}

 private:
  ScopedValue<std::optional<std::int64_t>> identity_;
};

}  // namespace sqlengine::exec
