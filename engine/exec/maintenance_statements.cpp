#include "engine/exec/maintenance_statements.h"

#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/maintained_tables.h"
#include "engine/exec/session.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

[[noreturn]] void FailAt(const Tokens& tokens, size_t at) {
  if (at < tokens.size()) throw tsql::SyntaxError(tokens[at], &tokens[at - 1]);
  throw tsql::SyntaxError(Token{}, &tokens.back());
}

// The index `name` of `table`, as stored; nullopt when the table has none.
std::optional<std::string> IndexOf(sqlite3* db, const MaintainedTable& table,
                                   const std::string& name) {
  std::string master = table.schema == "temp"
                           ? std::string("sqlite_temp_master")
                           : tsql::QuoteSqliteName(table.schema) + ".sqlite_master";
  auto query = catalog::Prepare(db, "SELECT name FROM " + master +
                                        " WHERE type = 'index' AND tbl_name = ? AND name = ? "
                                        "COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(query.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(query.get(), 0);
}

// The WITH options: each is accepted as SQL Server spells it; SQLite's
// ANALYZE always reads everything.
void ReadOptions(const Tokens& tokens, size_t at) {
  if (at >= tokens.size()) return;
  if (!tokens[at].IsWord("with")) FailAt(tokens, at);
  ++at;
  bool sampled = false;
  do {
    if (at >= tokens.size()) FailAt(tokens, at);
    const Token& option = tokens[at];
    if (option.IsAnyWord({"fullscan", "resample"}) && !sampled) {
      sampled = true;
      ++at;
    } else if (option.IsWord("sample") && !sampled) {
      if (at + 2 >= tokens.size() || tokens[at + 1].kind != TokenKind::kNumber ||
          !tokens[at + 2].IsAnyWord({"percent", "rows"})) {
        FailAt(tokens, at + 1);
      }
      sampled = true;
      at += 3;
    } else if (option.IsAnyWord({"all", "columns", "index", "norecompute"})) {
      ++at;
    } else {
      FailAt(tokens, at);
    }
    if (at < tokens.size() && tokens[at].IsSymbol(",")) {
      ++at;
      continue;
    }
  } while (at < tokens.size() && tokens[at].kind == TokenKind::kWord);
  if (at < tokens.size()) FailAt(tokens, at);
}

}  // namespace

void ExecuteCheckpoint(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() > 2 || (tokens.size() == 2 && tokens[1].kind != TokenKind::kNumber)) {
    FailAt(tokens, tokens.size() > 2 ? 2 : 1);
  }
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (!rights.IsDbo() && !rights.InRole("db_owner") && !rights.InRole("db_backupoperator")) {
    throw MakeError(262, {"CHECKPOINT", session.CurrentDatabase()});
  }
  // PASSIVE: readers and writers of other sessions are never waited for.
  sqlite3_wal_checkpoint_v2(session.Connection().Handle(), "main", SQLITE_CHECKPOINT_PASSIVE,
                            nullptr, nullptr);
  sink.Done(StatementDone{});
}

void ExecuteUpdateStatistics(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  size_t at = 2;
  if (at >= tokens.size() || !tokens[at].IsName()) FailAt(tokens, at);
  tsql::DottedName written = tsql::ReadDottedName(tokens, at);
  at = written.end;
  std::optional<MaintainedTable> table = FindMaintainedTable(session, written);
  if (!table) throw MakeError(208, {written.Written()});
  if (!MayMaintain(session, *table)) throw MakeError(3704, {"table", table->name});
  std::vector<std::string> indexes;
  bool listed = at < tokens.size() && tokens[at].IsSymbol("(");
  if (listed) ++at;
  while (at < tokens.size() && tokens[at].IsName() && !tokens[at].IsWord("with")) {
    indexes.push_back(tokens[at++].value);
    if (!listed) break;
    if (at < tokens.size() && tokens[at].IsSymbol(",")) {
      ++at;
      continue;
    }
    if (at >= tokens.size() || !tokens[at].IsSymbol(")")) FailAt(tokens, at);
    ++at;
    break;
  }
  if (listed && indexes.empty()) FailAt(tokens, at);
  ReadOptions(tokens, at);
  sqlite3* db = session.Connection().Handle();
  std::string schema = tsql::QuoteSqliteName(table->schema) + ".";
  if (indexes.empty()) {
    catalog::Exec(db, "ANALYZE " + schema + tsql::QuoteSqliteName(table->name));
  }
  for (const std::string& index : indexes) {
    std::optional<std::string> stored = IndexOf(db, *table, index);
    if (!stored) throw MakeError(2767, {index});
    catalog::Exec(db, "ANALYZE " + schema + tsql::QuoteSqliteName(*stored));
  }
  sink.Done(StatementDone{});
}

}  // namespace sqlengine::exec
