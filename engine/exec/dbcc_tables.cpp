#include "engine/exec/dbcc_tables.h"

#include <optional>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/character_key_collations.h"
#include "engine/exec/identity_columns.h"
#include "engine/exec/maintained_tables.h"
#include "engine/exec/session.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// The table a DBCC names: `name`, 'dbo.name', db..name, [name].
MaintainedTable ReadTable(Session& session, TokenCursor& cursor, std::string_view command) {
  std::string written = cursor.Name();
  while (cursor.TakeSymbol(".")) {
    written += ".";
    if (cursor.Peek().IsSymbol(".")) continue;
    written += cursor.Name();
  }
  std::optional<MaintainedTable> table = FindMaintainedTable(session, written);
  if (!table) throw MakeError(2501, {written});
  if (!MayMaintain(session, *table)) {
    throw MakeError(2571, {session.Rights().InCurrent().UserName(), command});
  }
  return *table;
}

// [WITH NO_INFOMSGS] and the end; true when informational messages are off.
bool ReadQuiet(TokenCursor& cursor) {
  bool quiet = false;
  if (cursor.TakeWord("with")) {
    cursor.ExpectWord("no_infomsgs");
    quiet = true;
  }
  cursor.ExpectEnd();
  return quiet;
}

std::int64_t SignedInteger(TokenCursor& cursor) {
  bool negative = cursor.TakeSymbol("-");
  std::int64_t value = cursor.Integer();
  return negative ? -value : value;
}

std::string Quoted(const MaintainedTable& table) {
  return tsql::QuoteSqliteName(table.schema) + "." + tsql::QuoteSqliteName(table.name);
}

std::optional<std::int64_t> OptionalInteger(sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_ROW || sqlite3_column_type(statement, 0) == SQLITE_NULL)
    return std::nullopt;
  return sqlite3_column_int64(statement, 0);
}

// Where the engine keeps a table's identity counter, and its state.
class IdentityCounter {
 public:
  IdentityCounter(sqlite3* db, const MaintainedTable& table) : db_(db), table_(table) {
    kept_ = KeptIdentityOf(db, table.schema, table.name);
    increment_ = kept_ ? kept_->increment : 1;
  }

  std::int64_t Increment() const { return increment_; }

  // The value handed out last; nullopt before the first.
  std::optional<std::int64_t> Current() {
    auto query = catalog::Prepare(
        db_, kept_ ? "SELECT last FROM " + Table("sqlengine_identity") + " WHERE name = ?"
                   : "SELECT seq FROM " + Table("sqlite_sequence") + " WHERE name = ?");
    sqlite3_bind_text(query.get(), 1, table_.name.c_str(), -1, SQLITE_TRANSIENT);
    return OptionalInteger(query.get());
  }

  // The column's highest value (lowest for a negative increment).
  std::optional<std::int64_t> ColumnValue() {
    auto query = catalog::Prepare(db_, std::string("SELECT ") + (increment_ < 0 ? "min" : "max") +
                                           "(rowid) FROM " + Quoted(table_));
    return OptionalInteger(query.get());
  }

  void Set(std::int64_t value) {
    if (kept_) {
      auto update = catalog::Prepare(
          db_, "UPDATE " + Table("sqlengine_identity") + " SET last = ? WHERE name = ?");
      Run(update.get(), value);
      return;
    }
    auto update =
        catalog::Prepare(db_, "UPDATE " + Table("sqlite_sequence") + " SET seq = ? WHERE name = ?");
    Run(update.get(), value);
    if (sqlite3_changes(db_) > 0) return;
    auto insert = catalog::Prepare(
        db_, "INSERT INTO " + Table("sqlite_sequence") + " (seq, name) VALUES (?, ?)");
    Run(insert.get(), value);
  }

 private:
  std::string Table(const char* name) const {
    return tsql::QuoteSqliteName(table_.schema) + "." + name;
  }
  void Run(sqlite3_stmt* statement, std::int64_t value) {
    sqlite3_bind_int64(statement, 1, value);
    sqlite3_bind_text(statement, 2, table_.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }

  sqlite3* db_;
  const MaintainedTable& table_;
  std::optional<KeptIdentity> kept_;
  std::int64_t increment_ = 1;
};

std::string Shown(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) : "NULL";
}

bool HasIdentity(sqlite3* db, const MaintainedTable& table) {
  int autoincrement = 0;
  return sqlite3_table_column_metadata(db, table.schema.c_str(), table.name.c_str(), "rowid",
                                       nullptr, nullptr, nullptr, nullptr,
                                       &autoincrement) == SQLITE_OK &&
         autoincrement != 0;
}

}  // namespace

void CheckIdent(Session& session, TokenCursor& cursor, ResultSink& sink) {
  cursor.ExpectSymbol("(");
  MaintainedTable table = ReadTable(session, cursor, "CHECKIDENT");
  bool reseed = true;
  std::optional<std::int64_t> new_value;
  if (cursor.TakeSymbol(",")) {
    if (cursor.TakeWord("noreseed")) {
      reseed = false;
    } else {
      cursor.ExpectWord("reseed");
      if (cursor.TakeSymbol(",")) new_value = SignedInteger(cursor);
    }
  }
  cursor.ExpectSymbol(")");
  bool quiet = ReadQuiet(cursor);
  sqlite3* db = session.Connection().Handle();
  if (!HasIdentity(db, table)) throw MakeError(7997, {table.name});
  IdentityCounter counter(db, table);
  std::optional<std::int64_t> current = counter.Current();
  std::optional<std::int64_t> column = counter.ColumnValue();
  std::optional<std::int64_t> shown_column = column;
  if (new_value) {
    // A table that never had a row gives its next row the value itself.
    bool fresh = !current && !column;
    counter.Set(fresh ? *new_value - counter.Increment() : *new_value);
    shown_column = new_value;
  } else if (reseed && column) {
    bool behind = !current || (counter.Increment() < 0 ? *current > *column : *current < *column);
    if (behind) counter.Set(*column);
  }
  if (!quiet) {
    sink.Message(FormatMessage(7998, {Shown(current), Shown(shown_column)}));
    sink.Message(FormatMessage(2528));
  }
  sink.Done(StatementDone{});
}

void DbReindex(Session& session, TokenCursor& cursor, ResultSink& sink) {
  cursor.ExpectSymbol("(");
  MaintainedTable table = ReadTable(session, cursor, "DBREINDEX");
  std::string index;
  if (cursor.TakeSymbol(",")) {
    index = cursor.Name();
    if (cursor.TakeSymbol(",")) {
      std::int64_t fill_factor = cursor.Integer();
      if (fill_factor < 0 || fill_factor > 100) throw MakeError(2526);
    }
  }
  cursor.ExpectSymbol(")");
  bool quiet = ReadQuiet(cursor);
  sqlite3* db = session.Connection().Handle();
  std::string target = Quoted(table);
  if (!index.empty()) {
    std::string master = table.schema == "temp"
                             ? std::string("sqlite_temp_master")
                             : tsql::QuoteSqliteName(table.schema) + ".sqlite_master";
    auto query = catalog::Prepare(db, "SELECT name FROM " + master +
                                          " WHERE type = 'index' AND tbl_name = ? AND name = ? "
                                          "COLLATE NOCASE");
    sqlite3_bind_text(query.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(query.get(), 2, index.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(query.get()) != SQLITE_ROW) throw MakeError(7999, {index, table.name});
    target = tsql::QuoteSqliteName(table.schema) + "." +
             tsql::QuoteSqliteName(catalog::ColumnText(query.get(), 0));
  }
  // A table an upgrade left on its former collations, for rows that
  // repeated a key under the server's, moves once they are gone.
  if (index.empty() && table.schema != "temp") {
    if (std::optional<std::string> conflict = MoveToEngineCollations(db, table.schema, table.name))
      throw MakeError(50000, {"Table '" + table.name + "' keeps its former comparison of "
                              "character keys: its rows repeat a key under the server's "
                              "collation (" + *conflict + ")."});
  }
  catalog::Exec(db, "REINDEX " + target);
  if (!quiet) sink.Message(FormatMessage(2528));
  sink.Done(StatementDone{});
}

}  // namespace sqlengine::exec
