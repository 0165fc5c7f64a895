#pragma once
// T-SQL's mathematical functions where SQLite's differ: LOG is the natural
// logarithm, a value outside a function's domain is error 3623 rather than
// NULL, and SQUARE, ATN2, COT and RAND exist.

#include <sqlite3.h>

namespace sqlengine::exec {

// RAND draws from a sequence (random_sequence.h) shared by the connections
// registered with the same `owner` (a session's, which reads other databases
// and NOLOCK tables through connections of their own), kept while one of
// them is open. Throws std::runtime_error when SQLite refuses a registration.
void RegisterMathFunctions(sqlite3* db, const void* owner);

}  // namespace sqlengine::exec
