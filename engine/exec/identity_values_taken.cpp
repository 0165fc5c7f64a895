#include "engine/exec/identity_values_taken.h"

#include <optional>
#include <utility>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// INSERT ... VALUES and INSERT ... DEFAULT VALUES add one row; INSERT ...
// SELECT and INSERT ... EXEC any number.
bool AddsOneRow(const tsql::Tokens& insert) {
  int depth = 0;
  for (size_t i = 1; i < insert.size(); ++i) {
    if (insert[i].IsSymbol("(")) ++depth;
    if (insert[i].IsSymbol(")")) --depth;
    if (depth != 0) continue;
    if (insert[i].IsAnyWord({"values", "default"})) return true;
    if (insert[i].IsAnyWord({"select", "exec", "execute"})) return false;
  }
  return false;
}

// The name `schema` keeps `table` under (SQL may spell it in other letter
// case); nullopt when it has no such table.
std::optional<std::string> StoredName(sqlite3* db, const std::string& schema,
                                      const std::string& table) {
  auto query = catalog::Prepare(db, "SELECT name FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_master WHERE type = 'table' AND name = ? "
                                        "COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(query.get(), 0);
}

// Where SQLite finds an unqualified table: temp first, then main, then the
// attached databases.
std::optional<std::string> SchemaOf(sqlite3* db, const std::string& table) {
  std::vector<std::string> schemas = {"temp", "main"};
  for (int k = 2; const char* name = sqlite3_db_name(db, k); ++k) schemas.emplace_back(name);
  for (const std::string& schema : schemas) {
    if (StoredName(db, schema, table)) return schema;
  }
  return std::nullopt;
}

// Whether the last repeated key this thread turned into an error was
// refused by a trigger; reset as each INSERT begins.
thread_local bool key_refused_by_trigger = false;

void Run(sqlite3* db, catalog::PreparedStatement& statement) {
  if (sqlite3_step(statement.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

}  // namespace

IdentityValuesTaken::IdentityValuesTaken(sqlite3* db, const tsql::Tokens& insert,
                                         const WrittenName& written)
    : db_(db), table_(written.table), schema_(written.schema), single_row_(AddsOneRow(insert)) {
  // The connection's update hook is this class's alone: an INSERT that runs
  // inside another one's (a trigger's) hands it back when it is done.
  previous_argument_ = sqlite3_update_hook(db_, &IdentityValuesTaken::Counted, this);
  key_refused_by_trigger = false;
}

void IdentityValuesTaken::NoteKeyRefusedByTrigger(bool by_trigger) {
  key_refused_by_trigger = by_trigger;
}

IdentityValuesTaken::~IdentityValuesTaken() {
  sqlite3_update_hook(db_, previous_argument_ ? &IdentityValuesTaken::Counted : nullptr,
                      previous_argument_);
}

void IdentityValuesTaken::Counted(void* self, int operation, const char* schema,
                                  const char* table, sqlite3_int64 /*rowid*/) {
  auto* taken = static_cast<IdentityValuesTaken*>(self);
  if (operation != SQLITE_INSERT || !tsql::EqualsIgnoreCase(table, taken->table_)) return;
  if (taken->schema_.empty()) taken->schema_ = schema;
  if (tsql::EqualsIgnoreCase(schema, taken->schema_)) ++taken->rows_;
}

std::int64_t IdentityValuesTaken::ValuesTaken(const std::exception_ptr& failure) const {
  try {
    std::rethrow_exception(failure);
  } catch (const SqlError& error) {
    const ServerMessage& message = error.message();
    if (message.number != 515 && message.number != 547 && message.number != 2627 &&
        message.number != 2601) {
      return 0;
    }
    if (single_row_) return 1;
    // SQLite checks a foreign key when the statement's rows are all in, and
    // the engine a key holding NULL once its row is in; the other refusals
    // stop the row that breaks them before it is in.
    bool refused_row_in =
        (message.number == 547 && message.text.find("FOREIGN KEY") != std::string::npos) ||
        ((message.number == 2627 || message.number == 2601) && key_refused_by_trigger);
    return rows_ + (refused_row_in ? 0 : 1);
  } catch (...) {
    return 0;
  }
}

void IdentityValuesTaken::KeepAfterFailure(const std::exception_ptr& failure,
                                           const std::string& identity_insert_table) {
  sqlite3_update_hook(db_, nullptr, nullptr);
  if (table_.empty() || tsql::EqualsIgnoreCase(identity_insert_table, table_)) return;
  const std::int64_t values = ValuesTaken(failure);
  if (values <= 0) return;
  try {
    std::optional<std::string> schema = schema_;
    if (schema->empty()) schema = SchemaOf(db_, table_);
    if (!schema) return;
    int autoincrement = 0;
    if (sqlite3_table_column_metadata(db_, schema->c_str(), table_.c_str(), "rowid", nullptr,
                                      nullptr, nullptr, nullptr, &autoincrement) != SQLITE_OK ||
        !autoincrement) {
      return;
    }
    MoveCounter(*schema, *StoredName(db_, *schema, table_), values);
  } catch (const std::exception&) {
    // The counter stays; the INSERT's own error is the one to report.
  }
}

void IdentityValuesTaken::MoveCounter(const std::string& schema, const std::string& table,
                                      std::int64_t values) const {
  const std::string quoted = tsql::QuoteSqliteName(schema);
  if (StoredName(db_, schema, "sqlengine_identity")) {
    auto kept = catalog::Prepare(
        db_, "UPDATE " + quoted +
                 ".sqlengine_identity SET last = coalesce(last + ?2 * increment, "
                 "seed + (?2 - 1) * increment) WHERE name = ?1");
    sqlite3_bind_text(kept.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(kept.get(), 2, values);
    Run(db_, kept);
    if (sqlite3_changes(db_) > 0) return;
  }
  // SQLite's AUTOINCREMENT gives the next row one above the larger of the
  // counter and the highest rowid.
  const std::string highest = "max(coalesce((SELECT max(rowid) FROM " + quoted + "." +
                              tsql::QuoteSqliteName(table) + "), 0), coalesce(seq, 0)) + ?2";
  auto moved = catalog::Prepare(
      db_, "UPDATE " + quoted + ".sqlite_sequence SET seq = " + highest + " WHERE name = ?1");
  sqlite3_bind_text(moved.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(moved.get(), 2, values);
  Run(db_, moved);
  if (sqlite3_changes(db_) > 0) return;
  auto first = catalog::Prepare(
      db_, "INSERT INTO " + quoted + ".sqlite_sequence (name, seq) SELECT ?1, " + highest +
               " FROM (SELECT NULL AS seq)");
  sqlite3_bind_text(first.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(first.get(), 2, values);
  Run(db_, first);
}

}  // namespace sqlengine::exec
