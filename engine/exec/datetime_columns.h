#pragma once
// datetime columns hold the engine's one text form ("YYYY-MM-DD HH:MM:SS.mmm")
// whatever form a value was written in, so that they compare and sort as
// dates. A table's datetime columns get triggers that rewrite each inserted
// or updated value (and refuse one that is no date with error 241).

#include <sqlite3.h>

#include <string>

namespace sqlengine::exec {

// For a table just created in `schema`. Throws std::runtime_error.
void NormaliseDateTimeColumns(sqlite3* db, const std::string& schema, const std::string& table);

}  // namespace sqlengine::exec
