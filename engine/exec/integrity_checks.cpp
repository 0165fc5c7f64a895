#include "engine/exec/integrity_checks.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/database_files.h"
#include "engine/exec/dbcc.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/session.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// What repairing a finding would take, in SQL Server's words.
enum class Repair { kNone, kRebuild, kAllowDataLoss };

struct Finding {
  ServerMessage message;
  bool allocation = false;
  Repair repair = Repair::kNone;
};

struct TableReport {
  std::string name;
  std::int64_t object_id = 0;
  std::int64_t rows = 0;
  std::int64_t pages = 0;
  std::vector<Finding> findings;
};

struct CheckOptions {
  bool quiet = false;  // WITH NO_INFOMSGS
};

// Everything one check found, per table and for the database as a whole.
struct Report {
  std::vector<TableReport> tables;
  std::vector<Finding> general;

  TableReport* Table(std::string_view name) {
    for (TableReport& table : tables) {
      if (tsql::EqualsIgnoreCase(table.name, name)) return &table;
    }
    return nullptr;
  }
  // Files a finding under its table when it has one among those checked.
  void Add(std::string_view table, Finding finding) {
    TableReport* owner = table.empty() ? nullptr : Table(table);
    (owner ? owner->findings : general).push_back(std::move(finding));
  }
};

Finding CatalogFinding(const std::string& text) {
  // SQL Server reports its catalog checks as 8992 "Check Catalog Msg 3853 ...".
  return Finding{FormatMessage(8992, {"3853", "1", text}), false, Repair::kNone};
}

std::optional<std::int64_t> Integer(sqlite3* db, const std::string& sql,
                                    const std::string& bound = {}) {
  auto query = catalog::Prepare(db, sql);
  if (!bound.empty()) sqlite3_bind_text(query.get(), 1, bound.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW || sqlite3_column_type(query.get(), 0) == SQLITE_NULL)
    return std::nullopt;
  return sqlite3_column_int64(query.get(), 0);
}

std::vector<std::string> Strings(sqlite3* db, const std::string& sql,
                                 const std::string& bound = {}) {
  auto query = catalog::Prepare(db, sql);
  if (!bound.empty()) sqlite3_bind_text(query.get(), 1, bound.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> values;
  while (sqlite3_step(query.get()) == SQLITE_ROW)
    values.push_back(catalog::ColumnText(query.get(), 0));
  return values;
}

bool IsEngineTable(std::string_view name) {
  std::string lower = tsql::ToLower(name);
  return lower.starts_with("sqlengine_") || lower.starts_with("sqlite_");
}

// The b-tree a root page belongs to: (table, index name or empty).
struct Tree {
  std::string table;
  std::string index;
};

std::map<std::int64_t, Tree> TreesByRoot(sqlite3* db) {
  std::map<std::int64_t, Tree> trees;
  auto query =
      catalog::Prepare(db,
                       "SELECT rootpage, tbl_name, CASE type WHEN 'index' THEN name ELSE '' END "
                       "FROM sqlite_master WHERE rootpage > 0");
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    trees[sqlite3_column_int64(query.get(), 0)] = {catalog::ColumnText(query.get(), 1),
                                                   catalog::ColumnText(query.get(), 2)};
  }
  return trees;
}

// SQL Server's index ID: 1 for a table's own rows, 2 and on for its indexes.
std::int64_t IndexId(sqlite3* db, const Tree& tree) {
  if (tree.index.empty()) return 1;
  std::vector<std::string> indexes = Strings(
      db, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?", tree.table);
  for (size_t k = 0; k < indexes.size(); ++k) {
    if (indexes[k] == tree.index) return static_cast<std::int64_t>(k) + 2;
  }
  return 2;
}

std::int64_t ObjectId(const Report& report, const std::string& table) {
  for (const TableReport& checked : report.tables) {
    if (tsql::EqualsIgnoreCase(checked.name, table)) return checked.object_id;
  }
  return 0;
}

// One line of PRAGMA integrity_check as a finding; its table, if known, in `table`.
Finding Classify(sqlite3* db, const std::map<std::int64_t, Tree>& trees, const Report& report,
                 const std::string& text, std::string& table) {
  long long row = 0, root = 0, page = 0;
  char index[256] = {};
  auto index_finding = [&](const std::string& index_name) {
    std::optional<std::string> owner;
    for (const auto& [root_page, tree] : trees) {
      if (tree.index == index_name) owner = tree.table;
    }
    table = owner.value_or("");
    Tree tree{table, index_name};
    return Finding{FormatMessage(8951, {table, std::to_string(ObjectId(report, table)), index_name,
                                        std::to_string(IndexId(db, tree))}),
                   false, Repair::kRebuild};
  };
  if (std::sscanf(text.c_str(), "row %lld missing from index %255s", &row, index) == 2 ||
      std::sscanf(text.c_str(), "wrong # of entries in index %255s", index) == 1 ||
      std::sscanf(text.c_str(), "non-unique entry in index %255s", index) == 1) {
    return index_finding(index);
  }
  bool in_tree = std::sscanf(text.c_str(), "Tree %lld page %lld", &root, &page) == 2 ||
                 std::sscanf(text.c_str(), "On tree page %lld", &page) == 1;
  if (!in_tree && std::sscanf(text.c_str(), "Page %lld", &page) == 1) {
    // A page in no b-tree and not free, or claimed twice: an allocation error.
    return Finding{FormatMessage(2534, {"(1:" + std::to_string(page) + ")", "0", "0"}), true,
                   Repair::kAllowDataLoss};
  }
  if (in_tree) {
    auto tree = trees.find(root != 0 ? root : page);
    std::int64_t object = 0, index_id = 0;
    if (tree != trees.end()) {
      table = tree->second.table;
      object = ObjectId(report, table);
      index_id = IndexId(db, tree->second);
    }
    return Finding{FormatMessage(8939, {std::to_string(object), std::to_string(index_id),
                                        "(1:" + std::to_string(page) + ")", text,
                                        std::to_string(page), std::to_string(root)}),
                   false, Repair::kAllowDataLoss};
  }
  // NOT NULL and CHECK violations name "table.column" or the table.
  char named[256] = {};
  if (std::sscanf(text.c_str(), "NULL value in %255[^.]", named) == 1 ||
      std::sscanf(text.c_str(), "CHECK constraint failed in %255s", named) == 1) {
    table = named;
  }
  return CatalogFinding(text);
}

void CheckStructure(sqlite3* db, const std::string& only_table, Report& report) {
  std::map<std::int64_t, Tree> trees = TreesByRoot(db);
  std::string pragma = only_table.empty()
                           ? std::string("PRAGMA integrity_check(100)")
                           : "PRAGMA integrity_check(" + tsql::QuoteSqliteName(only_table) + ")";
  for (const std::string& line : Strings(db, pragma)) {
    if (line == "ok") continue;
    // A line may hold several findings ("*** in database main ***\n...").
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find('\n', start);
      std::string text =
          line.substr(start, end == std::string::npos ? std::string::npos : end - start);
      start = end == std::string::npos ? line.size() + 1 : end + 1;
      if (text.empty() || text.starts_with("*** in database")) continue;
      std::string table;
      Finding finding = Classify(db, trees, report, text, table);
      report.Add(table, std::move(finding));
    }
  }
}

// Every table has its catalog row in sqlengine_objects (a view's sysobjects
// row comes from its schema row alone) and, for a whole database, every
// table's or view's row its object.
void CheckCatalogRows(sqlite3* db, bool whole_database, Report& report) {
  std::string objects = catalog::kObjectsTable;
  auto missing = catalog::Prepare(
      db,
      "SELECT name FROM sqlite_master m "
      "WHERE type = 'table' AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' "
      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND NOT EXISTS (SELECT 1 FROM " +
          objects + " o WHERE o.name = m.name COLLATE NOCASE)");
  while (sqlite3_step(missing.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(missing.get(), 0);
    if (!whole_database && report.Table(name) == nullptr) continue;
    report.Add(name, CatalogFinding("Object '" + name + "' has no row in sysobjects."));
  }
  if (!whole_database) return;
  auto orphans = catalog::Prepare(
      db, "SELECT name, xtype FROM " + objects +
              " o WHERE xtype IN ('U', 'V') AND NOT EXISTS (SELECT 1 FROM sqlite_master m WHERE "
              "m.type IN ('table', 'view') AND m.name = o.name COLLATE NOCASE)");
  while (sqlite3_step(orphans.get()) == SQLITE_ROW) {
    report.general.push_back(CatalogFinding("Row for '" + catalog::ColumnText(orphans.get(), 0) +
                                            "' in sysobjects has no object."));
  }
}

bool TableExists(sqlite3* db, const std::string& name) {
  return Integer(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE",
                 name)
      .has_value();
}

void CheckIdentity(sqlite3* db, TableReport& table) {
  std::string quoted = tsql::QuoteSqliteName(table.name);
  // A table whose identity the engine assigns keeps it in sqlengine_identity;
  // its sqlite_sequence entry then only counts SQLite's own row numbers.
  bool kept = TableExists(db, "sqlengine_identity") &&
              Integer(db, "SELECT 1 FROM sqlengine_identity WHERE name = ?", table.name);
  if (kept) {
    for (const char* role : {"mark", "assign", "follow"}) {
      std::string trigger = "sqlengine_identity_" + table.name + "_" + role;
      if (!Integer(db, "SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = ?",
                   trigger)) {
        table.findings.push_back(CatalogFinding("Trigger '" + trigger +
                                                "' that assigns the identity of table '" +
                                                table.name + "' is missing."));
      }
    }
  }
  if (table.rows == 0) return;
  std::optional<std::int64_t> current;
  std::optional<std::int64_t> edge;
  if (kept) {
    auto state = catalog::Prepare(
        db, "SELECT last, increment FROM sqlengine_identity WHERE name = ? AND last IS NOT NULL");
    sqlite3_bind_text(state.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(state.get()) != SQLITE_ROW) return;
    current = sqlite3_column_int64(state.get(), 0);
    bool rising = sqlite3_column_int64(state.get(), 1) > 0;
    edge =
        Integer(db, std::string("SELECT ") + (rising ? "max" : "min") + "(rowid) FROM " + quoted);
    if (edge && (rising ? *current >= *edge : *current <= *edge)) return;
  } else {
    if (!TableExists(db, "sqlite_sequence")) return;
    current = Integer(db, "SELECT seq FROM sqlite_sequence WHERE name = ?", table.name);
    edge = Integer(db, "SELECT max(rowid) FROM " + quoted);
    if (!current || !edge || *current >= *edge) return;
  }
  if (!current || !edge) return;
  table.findings.push_back(CatalogFinding("The identity of table '" + table.name + "' is at " +
                                          std::to_string(*current) + ", short of the value " +
                                          std::to_string(*edge) + " already in use."));
}

void CheckDefinitions(sqlite3* db, TableReport& table) {
  for (const std::string& parent :
       Strings(db, "SELECT DISTINCT \"table\" FROM pragma_foreign_key_list(?)", table.name)) {
    if (!TableExists(db, parent)) {
      table.findings.push_back(CatalogFinding("A foreign key of table '" + table.name +
                                              "' refers to table '" + parent +
                                              "', which does not exist."));
    }
  }
  for (const std::string& trigger : MissingNormalisingTriggers(db, "main", table.name)) {
    table.findings.push_back(CatalogFinding("Trigger '" + trigger +
                                            "' that keeps the values of table '" + table.name +
                                            "' in form is missing."));
  }
}

// Counts rows and pages of each table to check, with its object id.
void ListTables(sqlite3* db, const std::string& only_table, Report& report) {
  auto query = catalog::Prepare(
      db, "SELECT m.name, (SELECT id FROM " + std::string(catalog::kObjectsTable) +
              " o WHERE o.name = m.name COLLATE NOCASE) FROM sqlite_master m WHERE m.type = "
              "'table' ORDER BY m.rowid");
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(query.get(), 0);
    if (IsEngineTable(name)) continue;
    if (!only_table.empty() && !tsql::EqualsIgnoreCase(name, only_table)) continue;
    TableReport table;
    table.name = name;
    table.object_id = sqlite3_column_int64(query.get(), 1);
    report.tables.push_back(std::move(table));
  }
  for (TableReport& table : report.tables) {
    // A damaged tree may fail to count; the structure check says why.
    try {
      table.rows =
          Integer(db, "SELECT count(*) FROM " + tsql::QuoteSqliteName(table.name)).value_or(0);
      table.pages =
          Integer(db, "SELECT count(*) FROM dbstat WHERE name = ?", table.name).value_or(0);
    } catch (const std::runtime_error&) {
    }
  }
}

struct Totals {
  int allocation = 0;
  int consistency = 0;
  Repair repair = Repair::kNone;
  void Count(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
      (finding.allocation ? allocation : consistency) += 1;
      if (finding.repair > repair) repair = finding.repair;
    }
  }
};

ServerMessage Summary(int number, std::initializer_list<std::string_view> args, bool errors) {
  ServerMessage message = FormatMessage(number, args);
  if (errors) message.severity = 16;
  return message;
}

// Sends the report; `command` is CHECKDB or CHECKTABLE, `subject` what the
// repair line names.
void Send(const Report& report, const std::string& command, const std::string& database,
          const std::string& subject, const CheckOptions& options, ResultSink& sink, int line) {
  auto send = [&](ServerMessage message) {
    message.line = line;
    sink.Message(message);
  };
  bool whole_database = command == "CHECKDB";
  if (!options.quiet && whole_database) send(FormatMessage(2536, {database}));
  Totals all;
  for (const Finding& finding : report.general) send(finding.message);
  all.Count(report.general);
  for (const TableReport& table : report.tables) {
    if (!options.quiet) {
      send(FormatMessage(2536, {table.name}));
      send(FormatMessage(2593,
                         {std::to_string(table.rows), std::to_string(table.pages), table.name}));
    }
    for (const Finding& finding : table.findings) send(finding.message);
    Totals own;
    own.Count(table.findings);
    all.Count(table.findings);
    if (own.allocation + own.consistency > 0) {
      send(Summary(8990,
                   {command, std::to_string(own.allocation), std::to_string(own.consistency),
                    table.name, std::to_string(table.object_id)},
                   true));
    }
  }
  bool errors = all.allocation + all.consistency > 0;
  if (whole_database && (errors || !options.quiet)) {
    send(Summary(
        8989, {command, std::to_string(all.allocation), std::to_string(all.consistency), database},
        errors));
  }
  if (all.repair != Repair::kNone) {
    send(FormatMessage(
        8958, {all.repair == Repair::kRebuild ? "repair_rebuild" : "repair_allow_data_loss",
               command, subject}));
  }
  if (errors || !options.quiet) send(FormatMessage(2528));
  StatementDone done;
  done.error = errors;
  sink.Done(done);
}

void ReadOptions(TokenCursor& cursor, CheckOptions& options) {
  if (cursor.TakeWord("with")) {
    do {
      if (cursor.TakeWord("no_infomsgs")) {
        options.quiet = true;
      } else if (!cursor.TakeWord("all_errormsgs") && !cursor.TakeWord("tablock") &&
                 !cursor.TakeWord("physical_only") && !cursor.TakeWord("data_purity")) {
        cursor.Fail();
      }
    } while (cursor.TakeSymbol(","));
  }
  cursor.ExpectEnd();
}

// Runs the checks on a snapshot of the database's file and sends the report.
void Check(Session& session, const catalog::DatabaseEntry& entry, const std::string& only_table,
           const CheckOptions& options, ResultSink& sink, int line) {
  EngineImpl& engine = session.Engine();
  std::string command = only_table.empty() ? "CHECKDB" : "CHECKTABLE";
  if (!session.IsSysadmin() && entry.owner_sid != session.Login().sid) {
    throw MakeError(2571, {session.Login().name, command});
  }
  UseHold hold(engine, entry.name);
  if (!hold.Held()) throw MakeError(2520, {entry.name});
  Report report;
  try {
    catalog::Connection db = catalog::OpenDataFile(engine.DataFileOf(entry));
    int timeout = session.Connection().LockTimeout();
    sqlite3_busy_timeout(db.get(), timeout < 0 ? INT32_MAX : timeout);
    // As in SQL Server, CHECK constraints are no part of the structure
    // checked (their conditions call functions only sessions register).
    catalog::Exec(db.get(), "PRAGMA ignore_check_constraints = 1");
    catalog::Exec(db.get(), "BEGIN");
    ListTables(db.get(), only_table, report);
    if (!only_table.empty() && report.tables.empty()) throw MakeError(2501, {only_table});
    CheckStructure(db.get(), only_table, report);
    // Rows a FOREIGN KEY switched off with NOCHECK let in are no damage:
    // SQL Server's check leaves constraints to DBCC CHECKCONSTRAINTS.
    CheckCatalogRows(db.get(), only_table.empty(), report);
    for (TableReport& table : report.tables) {
      CheckIdentity(db.get(), table);
      CheckDefinitions(db.get(), table);
    }
    sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
  } catch (const std::runtime_error& failure) {
    if (const auto* error = dynamic_cast<const SqlError*>(&failure)) throw *error;
    // The schema itself cannot be read: one finding says why.
    engine.EngineLog().Info("check of " + entry.name + " stopped: " + failure.what());
    report.general.push_back(
        Finding{FormatMessage(8992, {"3853", "1", failure.what()}), false, Repair::kAllowDataLoss});
  }
  std::string subject = only_table.empty() ? entry.name : entry.name + ".dbo." + only_table;
  Send(report, command, entry.name, subject, options, sink, line);
}

}  // namespace

void CheckDatabase(Session& session, TokenCursor& cursor, ResultSink& sink, int line) {
  std::string database = session.CurrentDatabase();
  bool numeric = false;
  if (cursor.TakeSymbol("(")) {
    numeric = cursor.Peek().kind == tsql::TokenKind::kNumber;
    database = numeric ? std::to_string(cursor.Integer()) : cursor.Name();
    if (cursor.TakeSymbol(",")) cursor.ExpectWord("noindex");
    cursor.ExpectSymbol(")");
  }
  CheckOptions options;
  ReadOptions(cursor, options);
  catalog::DatabaseEntry entry = FindByNameOrId(session.Engine(), session, database, numeric);
  Check(session, entry, "", options, sink, line);
}

void CheckTable(Session& session, TokenCursor& cursor, ResultSink& sink, int line) {
  cursor.ExpectSymbol("(");
  std::string table = cursor.Name();
  if (cursor.TakeSymbol(",")) cursor.ExpectWord("noindex");
  cursor.ExpectSymbol(")");
  CheckOptions options;
  ReadOptions(cursor, options);
  std::optional<catalog::DatabaseEntry> entry =
      session.Engine().FindDatabase(session.CurrentDatabase());
  if (!entry) throw MakeError(2520, {session.CurrentDatabase()});
  // "dbo.t" and "db.dbo.t" name the table of the current database.
  size_t dot = table.rfind('.');
  if (dot != std::string::npos) table = table.substr(dot + 1);
  Check(session, *entry, table, options, sink, line);
}

}  // namespace sqlengine::exec
