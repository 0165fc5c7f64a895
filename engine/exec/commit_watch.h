#pragma once
// Whether any connection (of this process or another) committed to the
// files a connection reads since a moment noted earlier, without asking
// SQLite to end and begin a read transaction.
//
// Every commit to a file in write-ahead-log mode rewrites the header of the
// file's log index (shared memory beside the file): its frame count, salts
// and checksums change, and a reset of the log draws new random salts.
// SQLite compares the same header to decide whether its page cache is still
// good when a read transaction begins. A header equal to the one noted means
// no commit came in between.
//
// Not thread-safe: one watch belongs to one connection's thread (a session).

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sqlengine::exec {

class CommitWatch {
 public:
  // Notes the log header of each file of `db` (temp aside) that `db` holds no
  // read transaction on: any snapshot of it taken from now on is at least as
  // new as the header noted. Files `db` already reads keep their earlier note.
  void Note(sqlite3* db);

  // True when, for every file of `db` that `db` holds a read transaction on,
  // a header was noted while `db` held none on it and the header is still the
  // same: the snapshot began after that note and nothing was committed since,
  // so it still shows the newest commit. False whenever that cannot be told
  // (a file not in write-ahead-log mode, a header being rewritten, a file
  // attached since the note).
  bool NothingCommittedSince(sqlite3* db) const;

 private:
  // The log index header: 48 bytes, as SQLite keeps it twice at the start
  // of the shared memory.
  using Header = std::array<std::uint32_t, 12>;
  struct Noted {
    std::string schema;
    std::string file;
    Header header;
  };
  const Noted* Find(const char* schema, const char* file) const;

  sqlite3* db_ = nullptr;
  std::vector<Noted> noted_;
};

}  // namespace sqlengine::exec
