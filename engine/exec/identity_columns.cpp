#include "engine/exec/identity_columns.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/session_connection.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

struct IdentitySpec {
  long long seed = 1;
  long long increment = 1;
};

// A possibly signed integer at `i`; advances i past it.
std::optional<long long> ReadInteger(const tsql::Tokens& tokens, size_t& i) {
  bool negative = false;
  if (i < tokens.size() && (tokens[i].IsSymbol("-") || tokens[i].IsSymbol("+"))) {
    negative = tokens[i].IsSymbol("-");
    ++i;
  }
  if (i >= tokens.size() || tokens[i].kind != tsql::TokenKind::kNumber) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(tokens[i].text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0') return std::nullopt;
  ++i;
  return negative ? -value : value;
}

std::optional<IdentitySpec> FindIdentity(const tsql::Tokens& tokens) {
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!tokens[i].IsWord("identity") || !tokens[i + 1].IsSymbol("(")) continue;
    size_t k = i + 2;
    std::optional<long long> seed = ReadInteger(tokens, k);
    if (!seed || k >= tokens.size() || !tokens[k].IsSymbol(",")) return std::nullopt;
    ++k;
    std::optional<long long> increment = ReadInteger(tokens, k);
    if (!increment || k >= tokens.size() || !tokens[k].IsSymbol(")")) return std::nullopt;
    return IdentitySpec{*seed, *increment};
  }
  return std::nullopt;
}

// Tables whose IDENTITY steps by other than 1 or starts below 1: the engine
// assigns their values. `last` is the value assigned last (NULL: none yet);
// `pending` is 1 while the row being inserted takes an assigned value.
constexpr const char* kIdentityTable = "sqlengine_identity";

// The seeds of IDENTITY(n, 1) columns with n above 1, whose counter is
// SQLite's sqlite_sequence.
constexpr const char* kIdentitySeedsTable = "sqlengine_identity_seeds";

// `sql` ("... FROM table") with "WHERE name = ?" added and `table` bound;
// nullopt when the table it reads does not exist.
std::optional<catalog::PreparedStatement> PrepareOn(sqlite3* db, const std::string& sql,
                                                    const std::string& table) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, (sql + " WHERE name = ?").c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return std::nullopt;
  }
  catalog::PreparedStatement statement(raw);
  sqlite3_bind_text(statement.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return statement;
}

// `sql_head` (a verb and its columns) on `schema`'s kept identities for `table`,
// prepared with the name bound; nullopt when the schema keeps none.
std::optional<catalog::PreparedStatement> PrepareOnIdentities(sqlite3* db,
                                                              const std::string& schema,
                                                              const std::string& sql_head,
                                                              const std::string& table) {
  std::string sql =
      sql_head + " " + tsql::QuoteSqliteName(schema) + "." + kIdentityTable + " WHERE name = ?";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return std::nullopt;
  }
  catalog::PreparedStatement statement(raw);
  sqlite3_bind_text(statement.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return statement;
}

void StepOrThrow(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

std::string AssigningTriggerName(const std::string& table, std::string_view role) {
  return std::string(kIdentityTable) + "_" + table + "_" + std::string(role);
}

// A row given its value explicitly (SET IDENTITY_INSERT ON) moves the
// counter on when the value lies beyond it in the increment's direction, as
// SQL Server's identity does: IDENTITY(10, 5) after an explicit 100 gives
// 105 next. A value short of the seed leaves a counter that has handed out
// nothing as it is.
void CreateFollowingTrigger(sqlite3* db, const std::string& schema, const std::string& table) {
  std::string key = tsql::QuoteSqliteString(table);
  catalog::Exec(
      db, "CREATE TRIGGER " + tsql::QuoteSqliteName(schema) + "." +
              tsql::QuoteSqliteName(AssigningTriggerName(table, "follow")) +
              " AFTER INSERT ON " + tsql::QuoteSqliteName(table) + " WHEN NOT (SELECT pending FROM " +
              kIdentityTable + " WHERE name = " + key + ") BEGIN UPDATE " + kIdentityTable +
              " SET last = CASE WHEN increment > 0 AND NEW.rowid >= coalesce(last, seed) "
              "THEN NEW.rowid WHEN increment < 0 AND NEW.rowid <= coalesce(last, seed) "
              "THEN NEW.rowid ELSE last END WHERE name = " + key + "; END");
}

// SQLite's AUTOINCREMENT hands the row a fresh rowid above every existing
// one (NEW.rowid is -1 before it does); the AFTER trigger then moves the row
// to the table's next value. A row given its value explicitly keeps it.
void CreateAssigningTriggers(sqlite3* db, const std::string& schema, const std::string& table) {
  std::string quoted_table = tsql::QuoteSqliteName(table);
  std::string key = tsql::QuoteSqliteString(table);
  auto trigger = [&](const char* role) {
    return tsql::QuoteSqliteName(schema) + "." +
           tsql::QuoteSqliteName(AssigningTriggerName(table, role));
  };
  catalog::Exec(db, "CREATE TRIGGER " + trigger("mark") + " BEFORE INSERT ON " + quoted_table +
                        " BEGIN UPDATE " + kIdentityTable +
                        " SET pending = (NEW.rowid = -1) WHERE name = " + key + "; END");
  catalog::Exec(db, "CREATE TRIGGER " + trigger("assign") + " AFTER INSERT ON " + quoted_table +
                        " WHEN (SELECT pending FROM " + kIdentityTable + " WHERE name = " + key +
                        ") BEGIN UPDATE " + kIdentityTable +
                        " SET last = coalesce(last + increment, seed) WHERE name = " + key +
                        "; UPDATE " + quoted_table + " SET rowid = (SELECT last FROM " +
                        kIdentityTable + " WHERE name = " + key + ") WHERE rowid = NEW.rowid; END");
  CreateFollowingTrigger(db, schema, table);
}

}  // namespace

void ApplyIdentitySeed(sqlite3* db, const std::string& schema, const std::string& table,
                       const tsql::Tokens& definition) {
  std::optional<IdentitySpec> identity = FindIdentity(definition);
  if (!identity || (identity->seed == 1 && identity->increment == 1)) return;
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  if (identity->increment == 1 && identity->seed > 1) {
    auto seed = catalog::Prepare(
        db, "INSERT INTO " + quoted_schema + ".sqlite_sequence (name, seq) VALUES (?, ?)");
    sqlite3_bind_text(seed.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(seed.get(), 2, identity->seed - 1);
    StepOrThrow(db, seed.get());
    // The sequence moves on; IDENT_SEED still answers the declared seed.
    std::string seeds = quoted_schema + "." + kIdentitySeedsTable;
    catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + seeds +
                          " (name TEXT PRIMARY KEY COLLATE NOCASE, seed INTEGER NOT NULL)");
    auto record =
        catalog::Prepare(db, "INSERT OR REPLACE INTO " + seeds + " (name, seed) VALUES (?, ?)");
    sqlite3_bind_text(record.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(record.get(), 2, identity->seed);
    StepOrThrow(db, record.get());
    return;
  }
  std::string identities = quoted_schema + "." + kIdentityTable;
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + identities +
                        " (name TEXT PRIMARY KEY COLLATE NOCASE, seed INTEGER NOT NULL, "
                        "increment INTEGER NOT NULL, last INTEGER, pending INTEGER NOT NULL "
                        "DEFAULT 0)");
  auto record = catalog::Prepare(
      db, "INSERT OR REPLACE INTO " + identities + " (name, seed, increment) VALUES (?, ?, ?)");
  sqlite3_bind_text(record.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(record.get(), 2, identity->seed);
  sqlite3_bind_int64(record.get(), 3, identity->increment);
  StepOrThrow(db, record.get());
  CreateAssigningTriggers(db, schema, table);
}

std::optional<KeptIdentity> KeptIdentityOf(sqlite3* db, const std::string& schema,
                                           const std::string& table) {
  std::optional<catalog::PreparedStatement> kept =
      PrepareOnIdentities(db, schema, "SELECT seed, increment FROM", table);
  if (!kept || sqlite3_step(kept->get()) != SQLITE_ROW) return std::nullopt;
  return KeptIdentity{sqlite3_column_int64(kept->get(), 0), sqlite3_column_int64(kept->get(), 1)};
}

void ContinueKeptIdentity(sqlite3* db, const std::string& schema, const std::string& table) {
  if (!KeptIdentityOf(db, schema, table)) return;
  std::string identities = tsql::QuoteSqliteName(schema) + "." + kIdentityTable;
  std::string rows = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  auto update =
      catalog::Prepare(db, "UPDATE " + identities + " SET last = (SELECT CASE WHEN " + identities +
                               ".increment < 0 THEN min(rowid) ELSE max(rowid) END FROM " + rows +
                               ") WHERE name = ?");
  sqlite3_bind_text(update.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  StepOrThrow(db, update.get());
}

void ForgetIdentity(sqlite3* db, const std::string& schema, const std::string& table) {
  std::optional<catalog::PreparedStatement> remove =
      PrepareOnIdentities(db, schema, "DELETE FROM", table);
  if (remove) StepOrThrow(db, remove->get());
  std::optional<catalog::PreparedStatement> seed = PrepareOn(
      db, "DELETE FROM " + tsql::QuoteSqliteName(schema) + "." + kIdentitySeedsTable, table);
  if (seed) StepOrThrow(db, seed->get());
}

void RestartIdentity(sqlite3* db, const std::string& schema, const std::string& table) {
  std::optional<KeptIdentity> declared = DeclaredIdentityOf(db, schema, table);
  if (!declared) return;
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  if (KeptIdentityOf(db, schema, table)) {
    // The engine's own counter: none handed out yet.
    std::optional<catalog::PreparedStatement> restart = PrepareOn(
        db, "UPDATE " + quoted_schema + "." + kIdentityTable + " SET last = NULL", table);
    if (restart) StepOrThrow(db, restart->get());
    return;
  }
  // SQLite's sequence, one below the seed before the first row.
  auto sequence = catalog::Prepare(
      db, "DELETE FROM " + quoted_schema + ".sqlite_sequence WHERE name = ?");
  sqlite3_bind_text(sequence.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  StepOrThrow(db, sequence.get());
  if (declared->seed == 1) return;
  auto seed = catalog::Prepare(
      db, "INSERT INTO " + quoted_schema + ".sqlite_sequence (name, seq) VALUES (?, ?)");
  sqlite3_bind_text(seed.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(seed.get(), 2, declared->seed - 1);
  StepOrThrow(db, seed.get());
}

std::optional<KeptIdentity> DeclaredIdentityOf(sqlite3* db, const std::string& schema,
                                               const std::string& table) {
  int autoincrement = 0;
  if (sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), "rowid", nullptr, nullptr,
                                    nullptr, nullptr, &autoincrement) != SQLITE_OK ||
      !autoincrement) {
    return std::nullopt;
  }
  if (std::optional<KeptIdentity> kept = KeptIdentityOf(db, schema, table)) return kept;
  std::optional<catalog::PreparedStatement> seed = PrepareOn(
      db, "SELECT seed FROM " + tsql::QuoteSqliteName(schema) + "." + kIdentitySeedsTable, table);
  if (seed && sqlite3_step(seed->get()) == SQLITE_ROW) {
    return KeptIdentity{sqlite3_column_int64(seed->get(), 0), 1};
  }
  return KeptIdentity{1, 1};
}

std::vector<std::string> AssigningTriggerNames(const std::string& table) {
  return {AssigningTriggerName(table, "mark"), AssigningTriggerName(table, "assign"),
          AssigningTriggerName(table, "follow")};
}

void AddFollowingTriggers(sqlite3* db) {
  auto prepare_with = [&](const std::string& sql, const std::string& name) {
    catalog::PreparedStatement statement = catalog::Prepare(db, sql);
    sqlite3_bind_text(statement.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    return statement;
  };
  const std::string in_master = "SELECT 1 FROM sqlite_master WHERE name = ?";
  if (sqlite3_step(prepare_with(in_master, kIdentityTable).get()) != SQLITE_ROW) return;
  std::vector<std::string> tables;
  catalog::PreparedStatement kept =
      catalog::Prepare(db, std::string("SELECT name FROM ") + kIdentityTable + " ORDER BY name");
  while (sqlite3_step(kept.get()) == SQLITE_ROW) tables.push_back(catalog::ColumnText(kept.get(), 0));
  for (const std::string& table : tables) {
    std::string trigger = AssigningTriggerName(table, "follow");
    if (sqlite3_step(prepare_with(in_master, trigger).get()) != SQLITE_ROW)
      CreateFollowingTrigger(db, "main", table);
  }
}

std::optional<std::int64_t> AssignedIdentity(sqlite3* db, std::string_view insert_sql) {
  return AssignedIdentity(db, NameWritten(insert_sql));
}

std::optional<std::int64_t> AssignedIdentity(sqlite3* db, const WrittenName& written) {
  // The schema the INSERT names, where another database's table may share
  // its name with one of the session's.
  const std::string& written_schema = written.schema;
  const std::string& table = written.table;
  if (table.empty()) return std::nullopt;
  int autoincrement = 0;
  if (sqlite3_table_column_metadata(db, written_schema.empty() ? nullptr : written_schema.c_str(),
                                    table.c_str(), "rowid", nullptr, nullptr, nullptr, nullptr,
                                    &autoincrement) != SQLITE_OK ||
      !autoincrement) {
    return std::nullopt;
  }
  // The trigger moved an assigned row after SQLite reported its rowid. The
  // reads are the same for every INSERT: kept compiled on the session's
  // connection, and the identity table is looked for before it is read.
  // main, temp, then the attached databases, as SQLite lists them.
  std::vector<std::string> names;
  if (!written_schema.empty()) names.push_back(written_schema);
  for (int k = 0; written_schema.empty() && sqlite3_db_name(db, k) != nullptr; ++k)
    names.emplace_back(sqlite3_db_name(db, k));
  for (const std::string& name : names) {
    std::optional<bool> known = KnownTable(db, name, kIdentityTable);
    if (known == false) continue;
    std::string schema = tsql::QuoteSqliteName(name);
    if (!known) {
      SessionConnection::KeptRead has(db, "SELECT 1 FROM " + schema +
                                              ".sqlite_master WHERE type = 'table' AND name = '" +
                                              kIdentityTable + "'");
      if (has.get() == nullptr || sqlite3_step(has.get()) != SQLITE_ROW) continue;
    }
    SessionConnection::KeptRead kept(
        db, "SELECT pending, last FROM " + schema + "." + kIdentityTable + " WHERE name = ?");
    if (kept.get() == nullptr) continue;
    sqlite3_bind_text(kept.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(kept.get()) != SQLITE_ROW) continue;
    if (sqlite3_column_int(kept.get(), 0) == 0) break;
    return static_cast<std::int64_t>(sqlite3_column_int64(kept.get(), 1));
  }
  return static_cast<std::int64_t>(sqlite3_last_insert_rowid(db));
}

}  // namespace sqlengine::exec
