#include "engine/exec/sqlite_errors.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/exec/arithmetic_errors.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/identity_values_taken.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kFunctionErrorPrefix = "sqlengine:";

bool StartsWith(std::string_view text, std::string_view prefix, std::string_view& rest) {
  if (!text.starts_with(prefix)) return false;
  rest = text.substr(prefix.size());
  return true;
}

// "main.t" -> "t"; "t.c" -> "c" when last is true, else "t".
std::string Part(std::string_view qualified, bool last) {
  size_t dot = qualified.find('.');
  if (dot == std::string_view::npos) return std::string(qualified);
  return std::string(last ? qualified.substr(qualified.rfind('.') + 1) : qualified.substr(0, dot));
}

std::string Unquote(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return std::string(text);
}

// The number written as the `term`-th (1-based) item of the last ORDER BY in
// `sql`; empty when that item does not start with one.
std::string OrderByPosition(std::string_view sql, int term) {
  std::string lower(sql);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = lower.rfind("order by");
  if (at == std::string::npos) return {};
  at += 8;
  int depth = 0;
  for (int item = 1; at < sql.size(); ++at) {
    char c = sql[at];
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth == 0 && c == ',') ++item;
    if (item == term && depth == 0 && std::isdigit(static_cast<unsigned char>(c))) {
      size_t end = at;
      while (end < sql.size() && std::isdigit(static_cast<unsigned char>(sql[end]))) ++end;
      return std::string(sql.substr(at, end - at));
    }
    if (item > term) break;
  }
  return {};
}

SqlError Translate(sqlite3* db, int rc, const FailedStatement& failed) {
  std::string message = sqlite3_errmsg(db);
  std::string_view rest;
  if (StartsWith(message, kFunctionErrorPrefix, rest)) {
    size_t colon = rest.find(':');
    SqlError error = MakeError(50000, {rest.substr(colon + 1)});
    error.message() = FormatMessage(std::atoi(std::string(rest.substr(0, colon)).c_str()));
    error.message().text = std::string(rest.substr(colon + 1));
    return error;
  }
  int primary = rc & 0xFF;
  if (StartsWith(message, "no such table: ", rest)) return MakeError(208, {Part(rest, true)});
  if (StartsWith(message, "no such column: ", rest)) return MakeError(207, {Part(rest, true)});
  if (StartsWith(message, "ambiguous column name: ", rest))
    return MakeError(209, {Part(rest, true)});
  if (StartsWith(message, "no such function: ", rest))
    return MakeError(195, {rest, "function name"});
  // A computed column is a generated column, which no statement writes.
  for (std::string_view written :
       {"cannot INSERT into generated column ", "cannot UPDATE generated column "}) {
    if (StartsWith(message, written, rest)) return MakeError(271, {Unquote(rest)});
  }
  for (std::string_view kind : {"table ", "index ", "view "}) {
    if (StartsWith(message, kind, rest) && message.ends_with(" already exists")) {
      return MakeError(2714, {Unquote(rest.substr(
                                 0, rest.size() - std::string_view(" already exists").size()))});
    }
  }
  if (message.starts_with("near \"") && message.ends_with("\": syntax error")) {
    std::string near =
        message.substr(6, message.size() - 6 - std::string_view("\": syntax error").size());
    int line = failed.line;
    int offset = sqlite3_error_offset(db);
    if (failed.text != nullptr && offset >= 0)
      line = failed.text->LineAt(static_cast<size_t>(offset));
    tsql::Token token;
    token.kind = tsql::TokenKind::kWord;
    token.text = near;
    token.line = line;
    if (!tsql::IsReservedKeyword(near)) token.kind = tsql::TokenKind::kSymbol;
    return tsql::SyntaxError(token);
  }
  if (message == "incomplete input") {
    // The statement stops short: name its last word, on its line.
    if (failed.text != nullptr) {
      std::string_view sql = failed.text->sql;
      while (!sql.empty() && sql.back() == ' ') sql.remove_suffix(1);
      size_t start = sql.find_last_of(' ');
      start = start == std::string_view::npos ? 0 : start + 1;
      if (start < sql.size()) {
        tsql::Token token;
        token.text = std::string(sql.substr(start));
        token.line = failed.text->LineAt(start);
        token.kind =
            tsql::IsReservedKeyword(token.text) ? tsql::TokenKind::kWord : tsql::TokenKind::kSymbol;
        return tsql::SyntaxError(token);
      }
    }
    return MakeError(170, {std::to_string(failed.line), failed.verb.empty() ? "" : failed.verb});
  }
  std::string_view statement_sql =
      failed.text != nullptr
          ? std::string_view(failed.text->sql).substr(failed.text->statement_offset)
          : std::string_view();
  // The constraints are looked for where the statement wrote first: another
  // database's table may share its name with one of this.
  std::string written_schema = WrittenSchema(statement_sql);
  if (StartsWith(message, "UNIQUE constraint failed: ", rest)) {
    IdentityValuesTaken::NoteKeyRefusedByTrigger(rc == SQLITE_CONSTRAINT_TRIGGER);
    if (failed.text != nullptr) {
      std::string key = RepeatedIndexKey(db, statement_sql, rest);
      if (!key.empty()) return MakeError(1505, {"2", key});
    }
    std::string table = Part(rest, false);
    UniqueKey key = UniqueKeyOf(db, rest, written_schema);
    if (!key.index.empty() && key.constraint.empty()) return MakeError(2601, {table, key.index});
    if (!key.index.empty()) return MakeError(2627, {key.constraint, key.index, table});
    UniqueKey declared = DeclaredKeyOf(db, rest, written_schema);
    if (!declared.index.empty())
      return MakeError(2627, {declared.constraint, declared.index, table});
    bool primary_key = rc == SQLITE_CONSTRAINT_PRIMARYKEY;
    return MakeError(2627, {primary_key ? "PRIMARY KEY" : "UNIQUE KEY",
                            (primary_key ? "PK_" : "UQ_") + table, table});
  }
  if (StartsWith(message, "NOT NULL constraint failed: ", rest)) {
    std::string table = std::string(failed.database) + ".dbo." + Part(rest, false);
    // A #temp table is tempdb's, under the name tempdb's catalog gives it.
    if (std::string name = Part(rest, false); tsql::IsLocalTempName(name)) {
      std::string catalog_name;
      try {
        catalog_name = TempCatalogNameOf(db, name);
      } catch (const std::exception&) {
        // The error still stands, under the table's own name.
      }
      table = "tempdb.dbo." + (catalog_name.empty() ? name : catalog_name);
    }
    return MakeError(515, {Part(rest, true), table, failed.verb.empty() ? "INSERT" : failed.verb});
  }
  std::string_view verb = failed.verb.empty() ? "INSERT" : failed.verb;
  std::string written = WrittenTable(statement_sql);
  if (StartsWith(message, "CHECK constraint failed: ", rest)) {
    CheckConflict conflict = FindCheckConflict(db, written, rest, written_schema);
    bool column = !conflict.column.empty();
    std::string database = written.starts_with("#") ? "tempdb" : std::string(failed.database);
    return MakeError(547, {verb, conflict.level, "CHECK", conflict.name, database, written,
                           column ? ", column '" : "", conflict.column, column ? "'" : ""});
  }
  if (message == "FOREIGN KEY constraint failed") {
    ForeignKeyConflict conflict = FindForeignKeyConflict(db, written, verb, written_schema);
    // A table that refers to none broke a key referring to it: its changed
    // row is still referenced.
    if (verb == "UPDATE" && conflict.table.empty())
      conflict = FindForeignKeyConflict(db, written, "DELETE", written_schema);
    bool column = !conflict.column.empty();
    return MakeError(
        547, {verb, "COLUMN", conflict.kind, conflict.constraint, failed.database, conflict.table,
              column ? ", column '" : "", conflict.column, column ? "'" : ""});
  }
  int values = 0, columns = 0;
  if (std::sscanf(message.c_str(), "%d values for %d columns", &values, &columns) == 2) {
    return MakeError(values < columns ? 109 : 110);
  }
  if (message.starts_with("table ") && message.ends_with(" values were supplied"))
    return MakeError(213);
  if (message.starts_with("SELECTs to the left and right of ")) return MakeError(205);
  if (message.find(" ORDER BY term out of range") != std::string::npos && failed.text != nullptr) {
    std::string position = OrderByPosition(failed.text->sql, std::atoi(message.c_str()));
    if (!position.empty()) return MakeError(108, {position});
  }
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return MakeError(1222);
  if (primary == SQLITE_READONLY) return MakeError(3906, {ReadOnlyDatabase(db, failed.database)});
  if (message == "datatype mismatch") return MakeError(8114, {"varchar", "int"});
  // Integer arithmetic of the front end checks its own results; what SQLite
  // still overflows is a sum() or abs() of 64-bit values.
  if (message == "integer overflow") return MakeError(8115, {"expression", "bigint"});
  int tables = 0;
  if (std::sscanf(message.c_str(), "at most %d tables in a join", &tables) == 1)
    return MakeError(4414, {std::to_string(tables)});
  if (message.starts_with("cannot commit - no transaction")) return MakeError(3902);
  if (message.starts_with("cannot rollback - no transaction")) return MakeError(3903);
  return MakeError(50000, {message});
}

}  // namespace

std::string ReadOnlyDatabase(sqlite3* db, std::string_view current) {
  if (sqlite3_db_readonly(db, "main") == 1) return std::string(current);
  for (int i = 2;; ++i) {
    const char* schema = sqlite3_db_name(db, i);
    if (schema == nullptr) break;
    if (sqlite3_db_readonly(db, schema) == 1) return schema;
  }
  return std::string(current);
}

std::string FunctionErrorText(const SqlError& error) {
  return std::string(kFunctionErrorPrefix) + std::to_string(error.message().number) + ":" +
         error.message().text;
}

void ResultSqlError(sqlite3_context* context, const SqlError& error) {
  if (AbsorbArithmeticError(error)) return sqlite3_result_null(context);
  std::string text = FunctionErrorText(error);
  sqlite3_result_error(context, text.c_str(), -1);
}

void ThrowSqliteError(sqlite3* db, int rc, const FailedStatement& failed) {
  if ((rc & 0xFF) == SQLITE_INTERRUPT) throw Cancelled{};
  SqlError error = Translate(db, rc, failed);
  if (error.message().line <= 1) error.message().line = failed.line;
  throw error;
}

bool AbortsBatch(const SqlError& error) {
  switch (error.message().number) {
    case 102:
    case 105:
    case 108:
    case 109:
    case 110:
    case 113:
    case 137:
    case 156:
    case 170:
    case 195:
    case 205:
    case 207:
    case 208:
    case 209:
    case 217:
    case 241:
    case 245:
    case 911:
    case 1205:
    case 8114:
    case 8146:
      return true;
    default:
      return error.message().severity >= 20;
  }
}

bool AbortsCallers(const SqlError& error) {
  switch (error.message().number) {
    case 217:
    case 1205:
    case 241:
    case 245:
    case 8114:
    case 8146:
      return true;
    default:
      return error.message().severity >= 20;
  }
}

}  // namespace sqlengine::exec
