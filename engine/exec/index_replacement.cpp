#include "engine/exec/index_replacement.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/index_names.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/schema_statement_sql.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::exec {

void ReplaceIndex(sqlite3* db, const tsql::Statement& create, tsql::NameResolver& resolver) {
  std::optional<tsql::CreateIndexSyntax> index = tsql::ParseCreateIndex(create.tokens);
  if (!index) tsql::SyntaxErrorAt(create.tokens, 1);
  std::string schema = SchemaOfTable(index->table, resolver);
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  std::optional<std::string> stored =
      StoredIndexName(db, schema, index->table.Last(), index->name.value);
  if (!stored) throw MakeError(7999, {index->name.value, index->table.Last()});
  RefuseSecondClusteredIndex(db, schema, *index);
  // The new index takes the old one's place under its stored name.
  std::string sql = CreateIndexSql(*index, schema, *stored);
  catalog::Exec(db, "SAVEPOINT sqlengine_index");
  try {
    catalog::Exec(db, "DROP INDEX " + quoted_schema + "." + tsql::QuoteSqliteName(*stored));
    catalog::Exec(db, sql);
    if (index->unique) {
      std::vector<std::string> columns;
      for (const tsql::IndexColumnSyntax& column : index->columns) columns.push_back(column.name);
      std::string key = RepeatedNullKey(db, schema, index->table.Last(), columns);
      if (!key.empty()) throw MakeError(1505, {"2", key});
    }
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
