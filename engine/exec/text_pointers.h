#pragma once
// Text pointers: what TEXTPTR(column) gives for a text, ntext or image value
// and READTEXT, WRITETEXT and UPDATETEXT take back. A pointer is 16 bytes:
// the row's SQLite rowid (8 bytes, most significant first) and a fixed
// mark, so a value that did not come from TEXTPTR is refused. It stays
// valid while its row does; the value of a NULL column has no pointer.

#include <sqlite3.h>

#include <optional>

#include "engine/common/types.h"

namespace sqlengine::exec {

inline constexpr int kTextPointerLength = 16;

Bytes TextPointer(sqlite3_int64 rowid);

// The rowid a pointer names; nullopt for bytes that are no text pointer.
std::optional<sqlite3_int64> RowOfTextPointer(const Bytes& pointer);

// Registers on `db`: sqlengine_textptr(value, rowid), the pointer or NULL
// for a NULL value; sqlengine_textvalid('table.column', pointer), 1 when
// the pointer names a row of the current database's table whose column is
// not NULL, else 0 (TEXTVALID).
void RegisterTextPointerFunctions(sqlite3* db);

}  // namespace sqlengine::exec
