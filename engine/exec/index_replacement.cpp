#include "engine/exec/index_replacement.h"

#include <stdexcept>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {

void ReplaceIndex(sqlite3* db, const tsql::Statement& create, tsql::NameResolver& resolver) {
  const tsql::Tokens& tokens = create.tokens;
  std::size_t index_word = 1;
  while (index_word < tokens.size() && !tokens[index_word].IsWord("index")) ++index_word;
  std::size_t on = index_word + 2;
  if (on >= tokens.size() || !tokens[on].IsWord("on")) {
    throw tsql::SyntaxError(tokens[std::min(on, tokens.size() - 1)], nullptr);
  }
  std::string index = tokens[index_word + 1].value;
  tsql::DottedName table = tsql::ReadDottedName(tokens, on + 1);
  if (table.parts.empty()) throw tsql::SyntaxError(tokens[on], nullptr);
  std::string schema = table.Last().starts_with("#") ? std::string("temp")
                       : table.Database().empty()    ? std::string("main")
                                                     : resolver.SchemaFor(table.Database());
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto existing = catalog::Prepare(db, "SELECT name FROM " + quoted_schema +
                                           ".sqlite_master WHERE type = 'index' AND name = ?1 "
                                           "COLLATE NOCASE AND tbl_name = ?2 COLLATE NOCASE");
  sqlite3_bind_text(existing.get(), 1, index.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(existing.get(), 2, table.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(existing.get()) != SQLITE_ROW) throw MakeError(7999, {index, table.Last()});
  std::string stored = catalog::ColumnText(existing.get(), 0);
  existing.reset();
  std::string sql = tsql::RewriteStatement(create, resolver).sql;
  catalog::Exec(db, "SAVEPOINT sqlengine_index");
  try {
    catalog::Exec(db, "DROP INDEX " + quoted_schema + "." + tsql::QuoteSqliteName(stored));
    catalog::Exec(db, sql);
    catalog::Exec(db, "RELEASE sqlengine_index");
  } catch (const std::runtime_error& refused) {
    sqlite3_exec(db, "ROLLBACK TO sqlengine_index; RELEASE sqlengine_index", nullptr, nullptr,
                 nullptr);
    if (dynamic_cast<const SqlError*>(&refused) != nullptr) throw;
    std::string message = refused.what();
    constexpr std::string_view kRepeated = "UNIQUE constraint failed: ";
    std::size_t at = message.find(kRepeated);
    if (at != std::string::npos) {
      std::string key = RepeatedIndexKey(db, sql, message.substr(at + kRepeated.size()));
      if (!key.empty()) throw MakeError(1505, {"2", key});
    }
    throw MakeError(50000, {message});
  }
}

}  // namespace sqlengine::exec
