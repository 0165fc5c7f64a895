#include "engine/exec/table_variables.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/session_connection.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

// Unique for the life of the process, so no two sessions' names meet.
std::string NewInternalName() {
  static std::atomic<unsigned> next{0x0BC6C43Eu};
  char name[16];
  std::snprintf(name, sizeof name, "#%08X", next.fetch_add(0x1F3u));
  return name;
}

std::string QuotedTemp(const std::string& name) { return "temp." + tsql::QuoteSqliteName(name); }

struct FreeValue {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
using KeptValue = std::unique_ptr<sqlite3_value, FreeValue>;

}  // namespace

class TableVariables::Saved {
 public:
  // Rows by table name; every row all its columns.
  std::map<std::string, std::vector<std::vector<KeptValue>>> rows;
};

TableVariables::~TableVariables() {
  sqlite3* db = connection_.Handle();
  if (db == nullptr) return;
  for (const auto& [variable, table] : tables_) {
    sqlite3_exec(db, ("DROP TABLE IF EXISTS " + QuotedTemp(table.name)).c_str(), nullptr, nullptr,
                 nullptr);
  }
}

bool TableVariables::Has(std::string_view variable) const {
  return tables_.count(tsql::ToLower(variable)) != 0;
}

std::optional<tsql::Statement> TableVariables::Declare(const Tokens& definition, size_t at,
                                                       int line) {
  const Token& variable = definition[1];
  std::string key = tsql::ToLower(variable.text);
  auto existing = tables_.find(key);
  // The same DECLARE met again in a loop declares nothing new.
  if (existing != tables_.end() && existing->second.declared_at == variable.offset)
    return std::nullopt;
  if (existing != tables_.end()) {
    SqlError error = MakeError(134, {variable.text});
    error.message().line = variable.line;
    throw error;
  }
  Table table;
  table.name = NewInternalName();
  table.line = line;
  table.declared_at = variable.offset;
  Token name;
  name.kind = TokenKind::kQuotedName;
  name.text = "[" + table.name + "]";
  name.value = table.name;
  name.line = line;
  table.create = {tsql::WordToken("CREATE", line), tsql::WordToken("TABLE", line), name};
  table.create.insert(table.create.end(), definition.begin() + static_cast<std::ptrdiff_t>(at),
                      definition.end());
  tsql::Statement create;
  create.kind = tsql::StatementKind::kCreateTable;
  create.line = line;
  create.tokens = table.create;
  tables_[key] = std::move(table);
  return create;
}

std::vector<size_t> TableVariables::TablePositions(const Tokens& tokens) {
  std::vector<size_t> positions;
  // Most statements name no variable at all.
  if (std::none_of(tokens.begin(), tokens.end(),
                   [](const Token& token) { return token.kind == TokenKind::kVariable; }))
    return positions;
  // Depths at which a FROM list is being read: a comma there starts a table.
  std::vector<int> from_lists;
  int depth = 0;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& token = tokens[k];
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) {
      while (!from_lists.empty() && from_lists.back() >= depth) from_lists.pop_back();
      --depth;
    }
    if (token.IsWord("from")) from_lists.push_back(depth);
    if (token.IsAnyWord({"where", "group", "order", "having", "union", "set", "on"})) {
      while (!from_lists.empty() && from_lists.back() >= depth) from_lists.pop_back();
    }
    if (token.kind != TokenKind::kVariable || k == 0) continue;
    const Token& previous = tokens[k - 1];
    if (previous.IsAnyWord({"from", "join", "into", "insert", "update", "delete"}) ||
        (previous.IsSymbol(",") && !from_lists.empty() && from_lists.back() == depth))
      positions.push_back(k);
  }
  return positions;
}

std::optional<Tokens> TableVariables::Substituted(const Tokens& tokens) const {
  std::vector<size_t> positions = TablePositions(tokens);
  if (positions.empty()) return std::nullopt;
  Tokens result = tokens;
  for (size_t k : positions) {
    Token& name = result[k];
    auto table = tables_.find(tsql::ToLower(name.text));
    if (table == tables_.end()) {
      SqlError error = MakeError(1087, {name.text});
      error.message().line = name.line;
      throw error;
    }
    name.kind = TokenKind::kQuotedName;
    name.text = "[" + table->second.name + "]";
    name.value = table->second.name;
  }
  return result;
}

std::shared_ptr<TableVariables::Saved> TableVariables::Save() const {
  sqlite3* db = connection_.Handle();
  auto saved = std::make_shared<Saved>();
  for (const auto& [variable, table] : tables_) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT * FROM " + QuotedTemp(table.name)).c_str(), -1, &raw,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      continue;  // not made yet
    }
    catalog::PreparedStatement select(raw);
    auto& rows = saved->rows[table.name];
    while (sqlite3_step(raw) == SQLITE_ROW) {
      std::vector<KeptValue> row;
      for (int c = 0; c < sqlite3_column_count(raw); ++c)
        row.emplace_back(sqlite3_value_dup(sqlite3_column_value(raw, c)));
      rows.push_back(std::move(row));
    }
  }
  return saved;
}

void TableVariables::Restore(const Saved& saved,
                             const std::function<void(const tsql::Statement&)>& create) const {
  sqlite3* db = connection_.Handle();
  for (const auto& [variable, table] : tables_) {
    auto kept = saved.rows.find(table.name);
    if (kept == saved.rows.end()) continue;
    sqlite3_stmt* probe = nullptr;
    bool exists = sqlite3_prepare_v2(db, ("SELECT 1 FROM " + QuotedTemp(table.name)).c_str(), -1,
                                     &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (!exists) {
      tsql::Statement statement;
      statement.kind = tsql::StatementKind::kCreateTable;
      statement.line = table.line;
      statement.tokens = table.create;
      create(statement);
    }
    catalog::Exec(db, "DELETE FROM " + QuotedTemp(table.name));
    for (const std::vector<KeptValue>& row : kept->second) {
      std::string sql = "INSERT INTO " + QuotedTemp(table.name) + " VALUES (";
      for (size_t c = 0; c < row.size(); ++c) sql += c == 0 ? "?" : ", ?";
      catalog::PreparedStatement insert = catalog::Prepare(db, sql + ")");
      for (size_t c = 0; c < row.size(); ++c)
        sqlite3_bind_value(insert.get(), static_cast<int>(c + 1), row[c].get());
      if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    }
  }
}

}  // namespace sqlengine::exec
