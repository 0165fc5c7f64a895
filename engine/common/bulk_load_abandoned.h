#pragma once
// Thrown by BulkRowSource::Next (engine_api.h) when the client gave a
// bulk-load message up before its end (ATTENTION, a last packet marked to be
// ignored, or the connection lost): the rows already read must not be kept.
// The session answers such a load with a DONE(ERROR) alone, as SQL Server
// answers a request the client ignored (under ATTENTION the wire layer
// answers DONE(ATTN) instead). No more rows come after it.

namespace sqlengine {

struct BulkLoadAbandoned {};

}  // namespace sqlengine
