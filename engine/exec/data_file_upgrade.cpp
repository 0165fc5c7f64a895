#include "engine/exec/data_file_upgrade.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog/data_file.h"
#include "engine/common/error.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/character_key_collations.h"
#include "engine/exec/exact_column_upgrade.h"
#include "engine/exec/identity_columns.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

int FormatOf(sqlite3* db) {
  catalog::PreparedStatement version = catalog::Prepare(db, "PRAGMA user_version");
  if (sqlite3_step(version.get()) != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
  return sqlite3_column_int(version.get(), 0);
}

// Format 0 to 1: a table whose identity the engine assigns gets its
// assigning triggers as its oldest. Files made before that order was kept
// have them newer than the triggers that check and round a row's values, so
// those looked for a row already moved. The table's other triggers are made
// again, in their order, after the assigning ones.
void PutAssigningTriggersFirst(sqlite3* db) {
  struct Trigger {
    std::string name;
    std::string sql;
  };
  std::map<std::string, std::vector<Trigger>> by_table;
  catalog::PreparedStatement triggers = catalog::Prepare(
      db,
      "SELECT tbl_name, name, sql FROM sqlite_master WHERE type = 'trigger' AND sql IS NOT NULL "
      "ORDER BY rowid");
  while (sqlite3_step(triggers.get()) == SQLITE_ROW) {
    by_table[catalog::ColumnText(triggers.get(), 0)].push_back(
        {catalog::ColumnText(triggers.get(), 1), catalog::ColumnText(triggers.get(), 2)});
  }
  triggers.reset();
  for (const auto& [table, list] : by_table) {
    std::vector<std::string> assigning = AssigningTriggerNames(table);
    auto is_assigning = [&](const Trigger& trigger) {
      for (const std::string& name : assigning) {
        if (tsql::EqualsIgnoreCase(trigger.name, name)) return true;
      }
      return false;
    };
    bool any_assigning = false;
    for (const Trigger& trigger : list) any_assigning = any_assigning || is_assigning(trigger);
    if (!any_assigning) continue;
    for (const Trigger& trigger : list) {
      if (is_assigning(trigger)) continue;
      catalog::Exec(db, "DROP TRIGGER " + tsql::QuoteSqliteName(trigger.name));
      catalog::Exec(db, trigger.sql);
    }
  }
}

// Format 4 to 5: the triggers that keep a character column's values within
// its length call sqlengine_fitted_length, which cuts a longer value under
// SET ANSI_WARNINGS OFF, instead of refusing it whatever the setting. They
// are made again from the columns' declarations.
void MakeLengthTriggersAgain(sqlite3* db, std::vector<std::string>&) {
  std::vector<std::pair<std::string, std::string>> found;  // trigger, table
  catalog::PreparedStatement triggers = catalog::Prepare(
      db,
      "SELECT name, tbl_name FROM sqlite_master WHERE type = 'trigger' AND "
      "name LIKE 'sqlengine\\_length\\_%' ESCAPE '\\' ORDER BY rowid");
  while (sqlite3_step(triggers.get()) == SQLITE_ROW) {
    found.emplace_back(catalog::ColumnText(triggers.get(), 0),
                       catalog::ColumnText(triggers.get(), 1));
  }
  triggers.reset();
  std::vector<std::string> tables;
  for (const auto& [trigger, table] : found) {
    catalog::Exec(db, "DROP TRIGGER " + tsql::QuoteSqliteName(trigger));
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
  }
  for (const std::string& table : tables) NormaliseColumns(db, "main", table);
}

struct FormatStep {
  int to;
  void (*apply)(sqlite3* db, std::vector<std::string>& notes);
};

// One step per format, applied in order from the file's own up to the
// current one (a step past it is being built and not yet in use).
constexpr FormatStep kSteps[] = {
    {1, [](sqlite3* db, std::vector<std::string>&) { PutAssigningTriggersFirst(db); }},
    {2, [](sqlite3* db, std::vector<std::string>&) { StoreExactColumnsInStoredForm(db); }},
    {3, DeclareCharacterColumnsInEngineCollations},
    // Format 4 declares _CS and _AI columns in collations of their own
    // (sqlengine_cs_as, sqlengine_ci_ai, ...), which an engine of format 3
    // lacks. Columns of older files declared sqlengine_cs keep that
    // collation, by the bytes, since nothing recorded whether a _CS or a _BIN
    // one was asked for: their indexes stay in their order.
    {4, [](sqlite3*, std::vector<std::string>&) {}},
    {5, MakeLengthTriggersAgain},
    // Format 6: an explicit identity value moves the engine's counter past it.
    {6, [](sqlite3* db, std::vector<std::string>&) { AddFollowingTriggers(db); }},
    // Format 7: a key holds NULL as one value. A table whose rows already
    // repeat such a key keeps them, and is named in a note.
    {7, [](sqlite3* db, std::vector<std::string>& notes) {
       for (std::string& note : KeepNullKeysUniqueInEveryTable(db, "main"))
         notes.push_back(std::move(note));
     }}};

}  // namespace

std::filesystem::path UpgradeCopyPath(const std::filesystem::path& data_file, int from) {
  return data_file.string() + ".format" + std::to_string(from);
}

std::optional<FormatUpgrade> UpgradeDataFile(const std::filesystem::path& data_file,
                                             UpgradeCopy copy) {
  RegisterCollationsForEveryConnection();
  catalog::Connection db = catalog::OpenDataFile(data_file);
  sqlite3_busy_timeout(db.get(), 5000);
  // The steps write rows of tables whose computed columns and generated
  // expressions call the engine's functions.
  RegisterSessionFreeFunctions(db.get());
  FormatUpgrade upgrade;
  upgrade.from = FormatOf(db.get());
  upgrade.to = catalog::kDataFileFormat;
  if (upgrade.from == upgrade.to) return std::nullopt;
  if (upgrade.from > upgrade.to || upgrade.from < 0) {
    throw std::runtime_error("the data file has format " + std::to_string(upgrade.from) +
                             ", which this engine (format " + std::to_string(upgrade.to) +
                             ") does not know");
  }
  if (copy == UpgradeCopy::kKeep) {
    // The log goes into the data file first, so the copy is complete on its own.
    if (sqlite3_wal_checkpoint_v2(db.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) !=
        SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db.get()));
    }
    upgrade.copy = UpgradeCopyPath(data_file, upgrade.from);
    std::filesystem::copy_file(data_file, upgrade.copy,
                               std::filesystem::copy_options::overwrite_existing);
  }
  try {
    catalog::Exec(db.get(), "BEGIN IMMEDIATE");
    for (const FormatStep& step : kSteps) {
      if (step.to > upgrade.from && step.to <= upgrade.to) step.apply(db.get(), upgrade.notes);
    }
    catalog::Exec(db.get(), "PRAGMA user_version=" + std::to_string(upgrade.to));
    catalog::Exec(db.get(), "COMMIT");
  } catch (const std::exception& failure) {
    sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    std::error_code ignored;
    if (!upgrade.copy.empty()) std::filesystem::remove(upgrade.copy, ignored);
    throw std::runtime_error(std::string("upgrade from format ") + std::to_string(upgrade.from) +
                             " failed: " + failure.what());
  }
  return upgrade;
}

ServerMessage UpgradeNotice(const std::string& database, const std::string& note) {
  ServerMessage notice = FormatMessage(50000, {"Database '" + database + "': " + note + "."});
  notice.severity = 10;
  return notice;
}

std::string UpgradeReport(const std::filesystem::path& data_file, const FormatUpgrade& upgrade) {
  std::string line = "upgraded " + data_file.string() + " from data file format " +
                     std::to_string(upgrade.from) + " to " + std::to_string(upgrade.to);
  if (!upgrade.copy.empty()) line += "; the file as it was is kept as " + upgrade.copy.string();
  for (const std::string& note : upgrade.notes) line += "; " + note;
  return line;
}

}  // namespace sqlengine::exec
