#include "engine/exec/foreign_keys_off.h"

namespace sqlengine::exec {

ForeignKeysOff::ForeignKeysOff(sqlite3* db, bool wanted) : db_(db) {
  if (!wanted) return;
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FKEY, -1, &was_on_);
  if (was_on_ != 0) sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FKEY, 0, nullptr);
}

ForeignKeysOff::~ForeignKeysOff() {
  if (was_on_ != 0) sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FKEY, 1, nullptr);
}

}  // namespace sqlengine::exec
