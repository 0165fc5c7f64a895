#pragma once
// SQLite functions for the conversions between integers, binary data and
// character data that the front end's generated SQL makes.

#include <sqlite3.h>

namespace sqlengine::exec {

// sqlengine_integer_bytes(x, width, length, fixed): the integer x as the
// `width` bytes of its type (big-endian), as binary(length) (fixed: zeros in
// front up to length) or varbinary(length); only the last bytes when length
// is shorter. sqlengine_bytes_text(b, national, length): binary data read as
// the characters it holds (one byte per character, or UTF-16LE pairs when
// national), zero bytes included, the way SQL Server converts binary to
// (n)varchar(length); -1 for no limit.
// sqlengine_fitted_text(text, length, type): a number's text, or 8115 when
// it is longer than the character type it is converted to.
// sqlengine_real(x): a number rounded to a real's single precision.
void RegisterConversionFunctions(sqlite3* db);

}  // namespace sqlengine::exec
