#pragma once
// The @@ functions that read the server's counters and the session's SET
// options: @@OPTIONS, @@LANGID, @@MAX_CONNECTIONS, @@CONNECTIONS,
// @@TIMETICKS, @@CPU_BUSY, @@IO_BUSY, @@IDLE, @@PACK_RECEIVED, @@PACK_SENT,
// @@PACKET_ERRORS, @@TOTAL_READ, @@TOTAL_WRITE, @@TOTAL_ERRORS, @@REMSERVER.

#include <optional>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::exec {

class Session;

// The value of @@`name` (lower case, without the @@); nullopt for a name
// that is none of the above.
std::optional<Value> ServerVariable(Session& session, std::string_view name);

}  // namespace sqlengine::exec
