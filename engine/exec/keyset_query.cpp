#include "engine/exec/keyset_query.h"

#include <algorithm>
#include <iterator>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

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

Tokens WithoutEnd(Tokens tokens) {
  if (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  return tokens;
}

// The parameters a keyed statement adds.
constexpr std::string_view kKeyPrefix = "@sqlengine_cursor_key";

// qualifier.[column], as T-SQL text.
std::string Qualified(const KeysetQuery& query, const std::string& column) {
  return query.qualifier.text + "." + BracketQuoted(column);
}

// ", qualifier.[key0] AS sqlengine_key0, ...": the key columns appended to a
// select list.
Tokens KeyList(const KeysetQuery& query, int line) {
  Tokens list;
  for (size_t k = 0; k < query.key_columns.size(); ++k) {
    list.push_back(Symbol(",", line));
    list.push_back(query.qualifier);
    list.push_back(Symbol(".", line));
    list.push_back(QuotedName(query.key_columns[k], line));
    list.push_back(tsql::WordToken("AS", line));
    list.push_back(tsql::WordToken("sqlengine_key" + std::to_string(k), line));
  }
  return list;
}

// Whether the ORDER BY at `order_at` (to the end of `tokens`) is the key,
// ascending: the order a dynamic cursor seeks in.
bool OrderedByKey(const Tokens& tokens, size_t order_at, const std::vector<std::string>& key) {
  size_t at = order_at + 1;
  if (at >= tokens.size() || !tokens[at].IsWord("by")) return false;
  ++at;
  for (size_t k = 0; k < key.size(); ++k) {
    if (k > 0) {
      if (at >= tokens.size() || !tokens[at].IsSymbol(",")) return false;
      ++at;
    }
    if (at + 2 < tokens.size() && tokens[at].IsName() && tokens[at + 1].IsSymbol(".")) at += 2;
    if (at >= tokens.size() || !tokens[at].IsName() ||
        !tsql::EqualsIgnoreCase(tokens[at].value, key[k]))
      return false;
    ++at;
    if (at < tokens.size() && tokens[at].IsWord("asc")) ++at;
  }
  return at == tokens.size();
}

}  // namespace

std::optional<KeysetQuery> KeysetQueryOf(sqlite3* db, const tsql::Statement& select) {
  const Tokens tokens = WithoutEnd(select.tokens);
  if (!select.with.empty() || tokens.empty() || !tokens[0].IsWord("select")) return std::nullopt;
  size_t list_at = 1;
  if (list_at < tokens.size() && tokens[list_at].IsWord("all")) ++list_at;
  if (list_at < tokens.size() && tokens[list_at].IsWord("distinct")) return std::nullopt;
  const size_t top_at = list_at;
  list_at = tsql::PastTopClause(tokens, list_at);
  const bool top = list_at != top_at;
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
  const size_t order_at =
      TopLevel(tokens, from_at, [](const Token& t) { return t.IsWord("order"); });
  query.key_columns = UniqueKeyOf(db, table.Last());
  if (query.key_columns.empty()) return std::nullopt;
  query.ordered =
      top || (order_at < tokens.size() && !OrderedByKey(tokens, order_at, query.key_columns));
  query.table = table.parts;
  query.qualifier = qualifier;
  query.select_list = Slice(tokens, list_at, from_at);
  query.from = Slice(tokens, from_at, from_end);
  if (from_end < tokens.size() && tokens[from_end].IsWord("where"))
    query.condition = Slice(tokens, from_end + 1, order_at);

  const int line = select.line;
  query.keyed.kind = select.kind;
  query.keyed.line = line;
  query.keyed.tokens = Slice(tokens, 0, from_at);
  Tokens keys = KeyList(query, line);
  query.keyed.tokens.insert(query.keyed.tokens.end(), keys.begin(), keys.end());
  Tokens rest = Slice(tokens, from_at, tokens.size());
  query.keyed.tokens.insert(query.keyed.tokens.end(), rest.begin(), rest.end());

  query.row.kind = select.kind;
  query.row.line = line;
  query.row.tokens.push_back(tokens[0]);
  query.row.tokens.insert(query.row.tokens.end(), query.select_list.begin(),
                          query.select_list.end());
  query.row.tokens.insert(query.row.tokens.end(), query.from.begin(), query.from.end());
  query.definition = TableSchemaText(db, "main", table.Last());
  return query;
}

std::string TableSchemaText(sqlite3* db, const std::string& schema, const std::string& table) {
  auto read = catalog::Prepare(
      db, "SELECT type, name, coalesce(sql, '') FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master WHERE tbl_name = ? COLLATE NOCASE ORDER BY type, name");
  sqlite3_bind_text(read.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::string definition;
  while (sqlite3_step(read.get()) == SQLITE_ROW) {
    for (int column = 0; column < 3; ++column) {
      const unsigned char* text = sqlite3_column_text(read.get(), column);
      definition += text != nullptr ? reinterpret_cast<const char*>(text) : "";
      definition += '\0';
    }
  }
  return definition;
}

void RequireSameTable(sqlite3* db, const std::string& schema, const KeysetQuery& query) {
  if (query.table.empty()) return;
  if (TableSchemaText(db, schema, query.table.back()) != query.definition) throw MakeError(16943);
}

KeyedStatement RowByKey(const KeysetQuery& query, const std::vector<Column>& key_columns,
                        const Row& key) {
  std::vector<ColumnAssignment> identity;
  for (size_t k = 0; k < key_columns.size() && k < key.size(); ++k)
    identity.push_back({key_columns[k].name, key_columns[k].type, key[k]});
  ParameterisedStatement condition = RowCondition(identity, kKeyPrefix);
  KeyedStatement statement;
  statement.statement.kind = query.row.kind;
  statement.statement.line = query.row.line;
  statement.statement.tokens = query.row.tokens;
  Tokens where = WithoutEnd(tsql::Lex(condition.text));
  statement.statement.tokens.insert(statement.statement.tokens.end(), where.begin(), where.end());
  statement.declarations = std::move(condition.declarations);
  statement.values = std::move(condition.values);
  return statement;
}

KeyedStatement Seek(const KeysetQuery& query, const std::vector<Column>& key_columns,
                    const Row* from, bool forward, bool inclusive, std::int64_t limit) {
  KeyedStatement statement;
  const int line = query.row.line;
  std::string seek;
  if (from != nullptr) {
    // (k1, k2, ...) after (a1, a2, ...): k1 after a1, or k1 at a1 and k2
    // after a2, ...; NULL is the lowest value.
    std::string equal_so_far;
    for (size_t k = 0; k < key_columns.size() && k < from->size(); ++k) {
      const std::string column = Qualified(query, query.key_columns[k]);
      const Value& value = (*from)[k];
      std::string parameter;
      if (!IsNull(value)) {
        parameter = std::string(kKeyPrefix) + std::to_string(statement.values.size());
        if (!statement.declarations.empty()) statement.declarations += ", ";
        statement.declarations += parameter + " " + tsql::TypeDeclaration(key_columns[k].type);
        RpcParam param;
        param.name = parameter;
        param.type = key_columns[k].type;
        param.value = value;
        statement.values.push_back(std::move(param));
      }
      std::string beyond;
      if (forward) {
        beyond = IsNull(value) ? column + " IS NOT NULL" : column + " > " + parameter;
      } else {
        beyond = IsNull(value) ? "1 = 0"
                               : "(" + column + " < " + parameter + " OR " + column + " IS NULL)";
      }
      if (!seek.empty()) seek += " OR ";
      seek += "(" + equal_so_far + (equal_so_far.empty() ? "" : " AND ") + beyond + ")";
      if (!equal_so_far.empty()) equal_so_far += " AND ";
      equal_so_far += IsNull(value) ? column + " IS NULL" : column + " = " + parameter;
    }
    if (inclusive && !equal_so_far.empty()) seek += " OR (" + equal_so_far + ")";
  }
  Tokens& tokens = statement.statement.tokens;
  statement.statement.kind = query.row.kind;
  statement.statement.line = line;
  tokens.push_back(tsql::WordToken("SELECT", line));
  Tokens top = WithoutEnd(tsql::Lex("TOP " + std::to_string(std::max<std::int64_t>(limit, 0))));
  tokens.insert(tokens.end(), top.begin(), top.end());
  tokens.insert(tokens.end(), query.select_list.begin(), query.select_list.end());
  Tokens keys = KeyList(query, line);
  tokens.insert(tokens.end(), keys.begin(), keys.end());
  tokens.insert(tokens.end(), query.from.begin(), query.from.end());
  if (!query.condition.empty() || !seek.empty()) {
    tokens.push_back(tsql::WordToken("WHERE", line));
    if (!query.condition.empty()) {
      tokens.push_back(Symbol("(", line));
      tokens.insert(tokens.end(), query.condition.begin(), query.condition.end());
      tokens.push_back(Symbol(")", line));
    }
    if (!seek.empty()) {
      if (!query.condition.empty()) tokens.push_back(tsql::WordToken("AND", line));
      Tokens condition = WithoutEnd(tsql::Lex("(" + seek + ")"));
      tokens.insert(tokens.end(), condition.begin(), condition.end());
    }
  }
  tokens.push_back(tsql::WordToken("ORDER", line));
  tokens.push_back(tsql::WordToken("BY", line));
  for (size_t k = 0; k < query.key_columns.size(); ++k) {
    if (k > 0) tokens.push_back(Symbol(",", line));
    Tokens column = WithoutEnd(tsql::Lex(Qualified(query, query.key_columns[k])));
    tokens.insert(tokens.end(), column.begin(), column.end());
    if (!forward) tokens.push_back(tsql::WordToken("DESC", line));
  }
  return statement;
}

std::vector<KeyedRow> SplitKeyedRows(std::vector<Row> rows, std::size_t key_count) {
  std::vector<KeyedRow> split;
  split.reserve(rows.size());
  for (Row& row : rows) {
    const size_t visible = row.size() >= key_count ? row.size() - key_count : 0;
    KeyedRow keyed;
    keyed.key.assign(std::make_move_iterator(row.begin() + static_cast<std::ptrdiff_t>(visible)),
                     std::make_move_iterator(row.end()));
    row.resize(visible);
    keyed.values = std::move(row);
    split.push_back(std::move(keyed));
  }
  return split;
}

void ReadInDatabase(KeysetQuery& query, const std::string& database) {
  size_t name_at = 1;
  if (query.from.size() <= name_at || !query.from[name_at].IsName()) return;
  const tsql::DottedName table = tsql::ReadDottedName(query.from, name_at);
  if (table.parts.empty() || !table.Database().empty()) return;
  Tokens from(query.from.begin(), query.from.begin() + 1);
  Tokens named = WithoutEnd(
      tsql::Lex(BracketQuoted(database) + "." +
                (table.parts.size() > 1 ? BracketQuoted(table.parts[table.parts.size() - 2]) : "") +
                "." + BracketQuoted(table.Last())));
  for (Token& token : named) token.line = query.from[name_at].line;
  from.insert(from.end(), named.begin(), named.end());
  from.insert(from.end(), query.from.begin() + static_cast<std::ptrdiff_t>(table.end),
              query.from.end());
  query.from = std::move(from);
  query.row.tokens.assign(1, tsql::WordToken("SELECT", query.row.line));
  query.row.tokens.insert(query.row.tokens.end(), query.select_list.begin(),
                          query.select_list.end());
  query.row.tokens.insert(query.row.tokens.end(), query.from.begin(), query.from.end());
}

}  // namespace sqlengine::exec
