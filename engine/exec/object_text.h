#pragma once
// sp_helptext: the definition of a procedure, function, trigger or view as
// its author wrote it, one row per line, lines cut at 255 characters. Objects
// the user holds no permission on are reported as missing (15009), as are
// those of another database (15250) and tables, which have no text (15197).

#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

void HelpText(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
