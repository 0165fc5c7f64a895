#include "engine/exec/keyset_query.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// Index of the first top-level token at or after `from` that `stop` accepts;
// tokens.size() when none does.
template <typename Predicate>
size_t TopLevel(const Tokens& tokens, size_t from, Predicate stop) {
  int depth = 0;
  for (size_t at = from; at < tokens.size(); ++at) {
    if (tokens[at].IsSymbol("(")) ++depth;
    if (tokens[at].IsSymbol(")")) --depth;
    if (depth == 0 && stop(tokens[at])) return at;
  }
  return tokens.size();
}

bool IsAggregate(const Token& token) {
  return token.IsAnyWord({"count", "count_big", "sum", "avg", "min", "max", "stdev", "stdevp",
                          "var", "varp", "grouping", "checksum_agg"});
}

// The key a row of `table` is found by: its primary key, else its first
// unique index; empty when it has neither.
std::vector<std::string> UniqueKeyOf(sqlite3* db, const std::string& table) {
  std::vector<std::string> key;
  auto primary = catalog::Prepare(
      db, "SELECT name FROM pragma_table_info(?, 'main') WHERE pk > 0 ORDER BY pk");
  sqlite3_bind_text(primary.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(primary.get()) == SQLITE_ROW)
    key.push_back(catalog::ColumnText(primary.get(), 0));
  if (!key.empty()) return key;
  auto unique = catalog::Prepare(db,
                                 "SELECT i.name FROM pragma_index_list(?1, 'main') AS i "
                                 "WHERE i.\"unique\" = 1 AND i.partial = 0 ORDER BY i.seq DESC "
                                 "LIMIT 1");
  sqlite3_bind_text(unique.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(unique.get()) != SQLITE_ROW) return key;
  std::string index = catalog::ColumnText(unique.get(), 0);
  auto columns = catalog::Prepare(
      db, "SELECT name FROM pragma_index_info(?, 'main') WHERE name IS NOT NULL ORDER BY seqno");
  sqlite3_bind_text(columns.get(), 1, index.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(columns.get()) == SQLITE_ROW)
    key.push_back(catalog::ColumnText(columns.get(), 0));
  return key;
}

bool IsTable(sqlite3* db, const std::string& name) {
  auto query = catalog::Prepare(
      db, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

Tokens Slice(const Tokens& tokens, size_t from, size_t to) {
  return Tokens(tokens.begin() + static_cast<std::ptrdiff_t>(from),
                tokens.begin() + static_cast<std::ptrdiff_t>(to));
}

Token Symbol(std::string_view text, int line) {
  Token token = tsql::WordToken(text, line);
  token.kind = tsql::TokenKind::kSymbol;
  return token;
}

Token QuotedName(const std::string& name, int line) {
  Token token = tsql::WordToken(name, line);
  token.kind = tsql::TokenKind::kQuotedName;
  token.text = BracketQuoted(name);
  return token;
}

}  // namespace

std::optional<KeysetQuery> KeysetQueryOf(sqlite3* db, const tsql::Statement& select) {
  const Tokens& tokens = select.tokens;
  if (!select.with.empty() || tokens.empty() || !tokens[0].IsWord("select")) return std::nullopt;
  size_t list_at = 1;
  if (list_at < tokens.size() && tokens[list_at].IsWord("all")) ++list_at;
  if (list_at < tokens.size() && tokens[list_at].IsWord("distinct")) return std::nullopt;
  list_at = tsql::PastTopClause(tokens, list_at);
  size_t from_at = TopLevel(tokens, list_at, [](const Token& t) { return t.IsWord("from"); });
  if (from_at >= tokens.size() || from_at == list_at) return std::nullopt;
  for (size_t at = list_at; at < from_at; ++at) {
    if (tokens[at].IsWord("into") ||
        (IsAggregate(tokens[at]) && at + 1 < from_at && tokens[at + 1].IsSymbol("("))) {
      return std::nullopt;
    }
  }
  if (TopLevel(tokens, from_at, [](const Token& t) {
        return t.IsAnyWord(
            {"group", "having", "union", "except", "intersect", "compute", "for", "option"});
      }) < tokens.size()) {
    return std::nullopt;
  }
  // FROM one table [[AS] alias] [WITH (hints)]
  size_t name_at = from_at + 1;
  if (name_at >= tokens.size() || !tokens[name_at].IsName()) return std::nullopt;
  tsql::DottedName table = tsql::ReadDottedName(tokens, name_at);
  if (table.parts.empty() || !table.Database().empty() || table.Last().starts_with("#") ||
      !IsTable(db, table.Last())) {
    return std::nullopt;
  }
  size_t from_end = TopLevel(tokens, table.end, [](const Token& t) {
    return t.IsAnyWord({"where", "order"}) || t.IsSymbol(",") ||
           t.IsAnyWord({"join", "inner", "left", "right", "full", "cross", "outer", "apply"});
  });
  if (from_end < tokens.size() && !tokens[from_end].IsAnyWord({"where", "order"}))
    return std::nullopt;
  Token qualifier = tokens[table.end - 1];
  size_t after = table.end;
  if (after < from_end && tokens[after].IsWord("as")) ++after;
  if (after < from_end && tokens[after].IsName() && !tokens[after].IsWord("with"))
    qualifier = tokens[after];

  KeysetQuery query;
  query.ordered =
      TopLevel(tokens, from_at, [](const Token& t) { return t.IsWord("order"); }) < tokens.size();
  query.key_columns = UniqueKeyOf(db, table.Last());
  if (query.key_columns.empty()) return std::nullopt;
  const int line = select.line;
  query.keyed.kind = select.kind;
  query.keyed.line = line;
  query.keyed.tokens = Slice(tokens, 0, from_at);
  for (size_t k = 0; k < query.key_columns.size(); ++k) {
    query.keyed.tokens.push_back(Symbol(",", line));
    query.keyed.tokens.push_back(qualifier);
    query.keyed.tokens.push_back(Symbol(".", line));
    query.keyed.tokens.push_back(QuotedName(query.key_columns[k], line));
    query.keyed.tokens.push_back(tsql::WordToken("AS", line));
    query.keyed.tokens.push_back(tsql::WordToken("sqlengine_key" + std::to_string(k), line));
  }
  Tokens rest = Slice(tokens, from_at, tokens.size());
  query.keyed.tokens.insert(query.keyed.tokens.end(), rest.begin(), rest.end());

  query.row.kind = select.kind;
  query.row.line = line;
  query.row.tokens.push_back(tokens[0]);
  Tokens list = Slice(tokens, list_at, from_at);
  query.row.tokens.insert(query.row.tokens.end(), list.begin(), list.end());
  Tokens from = Slice(tokens, from_at, from_end);
  query.row.tokens.insert(query.row.tokens.end(), from.begin(), from.end());
  return query;
}

}  // namespace sqlengine::exec
