#pragma once
// Reading other sessions' uncommitted rows (READ UNCOMMITTED, NOLOCK).
//
// Each session's connection reaches its data files through a page cache of
// its own: SQLite shares a cache between the connections that open a file in
// shared-cache mode through the same VFS, so every session opens its files
// through a VFS named after its spid, and nobody else normally uses that
// cache. Sessions therefore keep SQLite's snapshot reads as before: a reader
// never sees, and never waits for, what a writer has not committed.
//
// A dirty read runs on a second connection of the session instead, which
// opens each file whose write lock another session holds through that
// session's VFS, joining its cache with PRAGMA read_uncommitted: it sees the
// writer's uncommitted pages and takes no table locks that could stop the
// writer. Files nobody writes it opens as any connection does.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

enum class IsolationLevel;

// The URI that opens (or ATTACHes) `file` through the page cache of session
// `spid`, read-only when `read_only`.
std::string SessionCacheUri(const std::string& file, bool read_only, int spid);

// Whether a SELECT reads uncommitted rows: under READ UNCOMMITTED, or when a
// table of it carries the NOLOCK or READUNCOMMITTED hint.
bool ReadsUncommitted(const tsql::Statement& statement, IsolationLevel isolation);
// The same for a read's tokens (a condition, an expression, a cursor's seek).
bool ReadsUncommitted(const tsql::Tokens& tokens, IsolationLevel isolation);

// Whether SQLite text reaches the connection's temporary schema (#tables,
// table variables), which a second connection cannot see.
bool ReachesTempSchema(const std::string& sql);

// One database file of a dirty-read connection: the schema name it has on
// the session's own connection, and the session whose cache it is read
// through (0: none, the file as committed).
struct DirtyReadFile {
  std::string schema;
  std::string file;
  bool read_only = false;
  int cache_of = 0;
  bool operator==(const DirtyReadFile&) const = default;
};

// Opens a connection with `files` under their schema names (the first one
// is "main") that reads uncommitted pages. Throws std::runtime_error.
catalog::Connection OpenDirtyReadConnection(const std::vector<DirtyReadFile>& files);

}  // namespace sqlengine::exec
