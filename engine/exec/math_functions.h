#pragma once
// T-SQL's mathematical functions where SQLite's differ: LOG is the natural
// logarithm, a value outside a function's domain is error 3623 rather than
// NULL, and SQUARE, ATN2, COT and RAND exist.

#include <sqlite3.h>

namespace sqlengine::exec {

// RAND draws from a sequence of the connection's own (random_sequence.h).
// Throws std::runtime_error when SQLite refuses a registration.
void RegisterMathFunctions(sqlite3* db);

}  // namespace sqlengine::exec
