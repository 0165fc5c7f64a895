#pragma once
// Identity values a rolled-back transaction took stay used, as in SQL Server:
// SQLite's ROLLBACK puts sqlite_sequence and the engine's kept identities back,
// so the counters are read before it and moved on again after it.

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace sqlengine::exec {

class IdentityCountersKept {
 public:
  // Reads every attached database's identity counters (before a rollback).
  explicit IdentityCountersKept(sqlite3* db);
  // After the rollback: each counter the rollback moved back is set to the
  // value read before it, for tables that still exist. Throws
  // std::runtime_error when SQLite refuses.
  void Restore() const;

 private:
  struct Counter {
    std::string schema;
    std::string table;
    std::int64_t value = 0;
    bool assigned_by_engine = false;  // sqlengine_identity (any step) or sqlite_sequence
  };

  sqlite3* db_;
  std::vector<Counter> counters_;
};

}  // namespace sqlengine::exec
