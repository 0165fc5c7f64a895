#include "engine/exec/table_definition.h"

#include <algorithm>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/stored_expressions.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kScratchTable = "sqlengine_definition_check";

std::size_t EndOf(const tsql::Token& token) { return token.offset + token.text.size(); }

// Index of the token closing the parenthesis opened at `open`, or the last
// token's index when the text is cut short.
std::size_t MatchingClose(const tsql::Tokens& tokens, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  return tokens.size() - 1;
}

struct Lexed {
  tsql::Tokens tokens;
  // Token ranges [first, last) of the elements.
  std::vector<std::pair<std::size_t, std::size_t>> elements;
  std::size_t close = 0;
};

Lexed LexDefinition(const std::string& sql) {
  Lexed lexed;
  lexed.tokens = tsql::Lex(sql);
  const tsql::Tokens& tokens = lexed.tokens;
  std::size_t open = 2;
  while (open < tokens.size() && !tokens[open].IsSymbol("(")) ++open;
  if (open >= tokens.size() - 1) return lexed;
  lexed.close = MatchingClose(tokens, open);
  std::size_t first = open + 1;
  int depth = 0;
  for (std::size_t i = first; i <= lexed.close; ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")")) --depth;
    if (i == lexed.close || (depth == 0 && tokens[i].IsSymbol(","))) {
      if (i > first) lexed.elements.emplace_back(first, i);
      first = i + 1;
    }
  }
  return lexed;
}

bool IsTableConstraintWord(const tsql::Token& token) {
  return token.IsAnyWord({"constraint", "primary", "unique", "check", "foreign"});
}

// The tokens of the element of `definition` that begins at `begin`.
std::pair<Lexed, std::pair<std::size_t, std::size_t>> ElementTokens(
    const TableDefinition& definition, const TableDefinition::Element& element) {
  Lexed lexed = LexDefinition(definition.sql);
  for (const auto& range : lexed.elements) {
    if (lexed.tokens[range.first].offset == element.begin) return {std::move(lexed), range};
  }
  return {std::move(lexed), {0, 0}};
}

}  // namespace

const TableDefinition::Element* TableDefinition::Column(const std::string& name) const {
  for (const Element& element : elements) {
    if (!element.column.empty() && tsql::EqualsIgnoreCase(element.column, name)) return &element;
  }
  return nullptr;
}

bool TableDefinition::HasDefault(const Element& column) const {
  auto [lexed, range] = ElementTokens(*this, column);
  int depth = 0;
  for (std::size_t i = range.first; i < range.second; ++i) {
    if (lexed.tokens[i].IsSymbol("(")) ++depth;
    if (lexed.tokens[i].IsSymbol(")")) --depth;
    if (depth == 0 && lexed.tokens[i].IsWord("default")) return true;
  }
  return false;
}

bool TableDefinition::IsIdentity(const Element& column) const {
  auto [lexed, range] = ElementTokens(*this, column);
  for (std::size_t i = range.first; i < range.second; ++i) {
    if (lexed.tokens[i].IsWord("autoincrement")) return true;
  }
  return false;
}

std::string StoredTableSql(sqlite3* db, const std::string& schema, const std::string& table) {
  auto read = catalog::Prepare(db, "SELECT sql FROM " + tsql::QuoteSqliteName(schema) +
                                       ".sqlite_master WHERE type = 'table' AND name = ? "
                                       "COLLATE NOCASE");
  sqlite3_bind_text(read.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(read.get()) == SQLITE_ROW ? catalog::ColumnText(read.get(), 0)
                                                : std::string();
}

std::optional<TableDefinition> ReadTableDefinition(sqlite3* db, const std::string& schema,
                                                   const std::string& table) {
  auto query = catalog::Prepare(db, "SELECT name, sql FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_master WHERE type = 'table' AND name = ? "
                                        "COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return ParseTableDefinition(catalog::ColumnText(query.get(), 0),
                              catalog::ColumnText(query.get(), 1));
}

std::optional<TableDefinition> ParseTableDefinition(const std::string& table,
                                                    const std::string& sql) {
  TableDefinition definition;
  definition.table = table;
  definition.sql = sql;
  Lexed lexed = LexDefinition(definition.sql);
  if (lexed.elements.empty()) return std::nullopt;
  definition.close = lexed.tokens[lexed.close].offset;
  for (auto [first, last] : lexed.elements) {
    const tsql::Token& lead = lexed.tokens[first];
    TableDefinition::Element element{lead.offset, EndOf(lexed.tokens[last - 1]), {}};
    // The written text of its last expression belongs to it.
    while (std::optional<WrittenExpression> written =
               ReadWrittenExpression(definition.sql, element.end))
      element.end = written->end;
    if (!IsTableConstraintWord(lead)) element.column = lead.value;
    definition.elements.push_back(element);
  }
  return definition;
}

std::vector<std::string> UserTables(sqlite3* db) {
  std::vector<std::string> tables;
  catalog::PreparedStatement list = catalog::Prepare(
      db,
      "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
      "ESCAPE '\\' AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' ORDER BY rowid");
  while (sqlite3_step(list.get()) == SQLITE_ROW)
    tables.push_back(catalog::ColumnText(list.get(), 0));
  return tables;
}

std::vector<std::string> ColumnNames(sqlite3* db, const std::string& schema,
                                     const std::string& table) {
  std::vector<std::string> columns;
  auto info = catalog::Prepare(db, "SELECT name FROM pragma_table_info(?, ?)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    columns.push_back(catalog::ColumnText(info.get(), 0));
  }
  return columns;
}

std::string DefinitionBody(const std::string& sql) {
  Lexed lexed = LexDefinition(sql);
  if (lexed.elements.empty()) throw MakeError(50000, {"malformed table definition"});
  return sql.substr(lexed.tokens[lexed.elements.front().first - 1].offset);
}

void ReplaceTableDefinition(sqlite3* db, const std::string& schema,
                            const TableDefinition& definition, const std::string& sql) {
  std::string body = DefinitionBody(sql);
  std::string scratch = "temp." + std::string(kScratchTable);
  catalog::Exec(db, "DROP TABLE IF EXISTS " + scratch);
  try {
    catalog::Exec(db, "CREATE TABLE " + scratch + " " + body);
  } catch (const std::runtime_error& refused) {
    throw MakeError(50000, {refused.what()});
  }
  catalog::Exec(db, "DROP TABLE " + scratch);

  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto version_query = catalog::Prepare(db, "PRAGMA " + quoted_schema + ".schema_version");
  sqlite3_step(version_query.get());
  std::int64_t version = sqlite3_column_int64(version_query.get(), 0);
  version_query.reset();

  // The schema stays writable only for this one update, also when it fails.
  struct WritableSchema {
    explicit WritableSchema(sqlite3* db) : db_(db) {
      catalog::Exec(db_, "PRAGMA writable_schema = ON");
    }
    ~WritableSchema() {
      sqlite3_exec(db_, "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
    }
    sqlite3* db_;
  } writable(db);
  auto update = catalog::Prepare(db, "UPDATE " + quoted_schema +
                                         ".sqlite_master SET sql = ? WHERE type = 'table' AND "
                                         "name = ?");
  sqlite3_bind_text(update.get(), 1, sql.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(update.get(), 2, definition.table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(update.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  update.reset();
  catalog::Exec(db, "PRAGMA " + quoted_schema + ".schema_version = " + std::to_string(version + 1));
  // RESET also makes this connection read the schema again: without it, the
  // rest of the transaction would still see the old definition.
  catalog::Exec(db, "PRAGMA writable_schema = RESET");
}

void AppendColumns(sqlite3* db, const std::string& schema, const std::string& table,
                   const std::vector<std::string>& elements) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) throw MakeError(4902, {table, schema});
  std::string added;
  for (const std::string& element : elements) added += ", " + element;
  std::string sql = definition->sql.substr(0, definition->close) + added + " " +
                    definition->sql.substr(definition->close);
  ReplaceTableDefinition(db, schema, *definition, sql);
}

}  // namespace sqlengine::exec
