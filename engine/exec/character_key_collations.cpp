#include "engine/exec/character_key_collations.h"

#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/generated_expression_upgrade.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/text_comparison.h"
#include "engine/exec/view_upgrade.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// Whether a column's declared type word ("nvarchar", "\"nvarchar(max)\"") is
// one of Unicode data.
bool IsNationalTypeWord(const tsql::Token& word) {
  std::string type = tsql::ToLower(word.value);
  return type.starts_with("nchar") || type.starts_with("nvarchar") || type.starts_with("ntext");
}

// `sql` with every COLLATE NOCASE and COLLATE BINARY naming the engine's
// collation for its column instead; names, strings and comments stay as
// they are.
std::string WithEngineCollations(const std::string& sql) {
  tsql::Tokens tokens = tsql::Lex(sql);
  std::string moved;
  std::size_t copied = 0;
  int depth = 0;
  bool national = false;  // the type of the element's column
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    const tsql::Token& token = tokens[k];
    if (token.IsSymbol("(") || token.IsSymbol(")")) {
      depth += token.IsSymbol("(") ? 1 : -1;
      if (depth == 1 && token.IsSymbol("(") && k + 2 < tokens.size())
        national = IsNationalTypeWord(tokens[k + 2]);
      continue;
    }
    if (depth == 1 && token.IsSymbol(",") && k + 2 < tokens.size())
      national = IsNationalTypeWord(tokens[k + 2]);
    if (!token.IsWord("collate")) continue;
    const tsql::Token& name = tokens[k + 1];
    if (!name.IsWord("nocase") && !name.IsWord("binary")) continue;
    moved += sql.substr(copied, name.offset - copied);
    moved += ColumnCollation(name.IsWord("binary"), national);
    copied = name.offset + name.text.size();
  }
  return moved + sql.substr(copied);
}

void Undo(sqlite3* db) {
  sqlite3_exec(db, "ROLLBACK TO sqlengine_collations", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "RELEASE sqlengine_collations", nullptr, nullptr, nullptr);
  // The connection reads the definition as it is again.
  sqlite3_exec(db, "PRAGMA writable_schema = RESET", nullptr, nullptr, nullptr);
}

}  // namespace

bool HasFormerCollations(sqlite3* db, const std::string& schema, const std::string& table) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  return definition && WithEngineCollations(definition->sql) != definition->sql;
}

std::optional<std::string> MoveToEngineCollations(sqlite3* db, const std::string& schema,
                                                  const std::string& table) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) return std::nullopt;
  std::string moved = WithEngineCollations(definition->sql);
  if (moved == definition->sql) return std::nullopt;
  catalog::Exec(db, "SAVEPOINT sqlengine_collations");
  try {
    ReplaceTableDefinition(db, schema, *definition, moved);
    // The indexes were ordered by the former collations.
    std::string reindex =
        "REINDEX " + tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(definition->table);
    if (sqlite3_exec(db, reindex.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string why = sqlite3_errmsg(db);
      if ((sqlite3_extended_errcode(db) & 0xff) != SQLITE_CONSTRAINT)
        throw std::runtime_error(why);
      Undo(db);
      return why;
    }
  } catch (...) {
    Undo(db);
    throw;
  }
  catalog::Exec(db, "RELEASE sqlengine_collations");
  return std::nullopt;
}

void DeclareCharacterColumnsInEngineCollations(sqlite3* db, std::vector<std::string>& kept) {
  // Files of this step's format hold exact numbers in their stored form.
  constexpr tsql::generate::ExactForm kForm = tsql::generate::ExactForm::kStored;
  for (const std::string& table : UserTables(db)) {
    if (std::optional<std::string> conflict = MoveToEngineCollations(db, "main", table)) {
      kept.push_back("table '" + table +
                     "' keeps its former comparison of character keys (ASCII letters without "
                     "case, trailing spaces counted): its rows repeat a key under the server's "
                     "collation (" +
                     *conflict + "); remove the repeated rows, then run DBCC DBREINDEX ('" +
                     table + "')");
    }
    // CHECK, DEFAULT and computed-column expressions compare in the new
    // collations too ('ß' as "ss" for Unicode data).
    RegenerateTableExpressions(db, "main", table, kForm);
  }
  // The views' queries named the former comparison, which the columns'
  // indexes no longer serve.
  RegenerateViews(db, kForm);
}

}  // namespace sqlengine::exec
