#pragma once
// Replacing a view's stored definition: ALTER VIEW (BatchExecutor::AlterView)
// and sp_refreshview.

#include <string>

namespace sqlengine::exec {

class Session;

// sp_refreshview: binds the view `view` (as written: [owner.]name) again from
// its text and records its columns as they now are. Throws 15009 for no
// view of that name, 15247 without the right to alter it, and the binder's
// error for a query that no longer binds (the view then stays as it was).
void RefreshView(Session& session, const std::string& written);

}  // namespace sqlengine::exec
