#include "engine/exec/schema_statement_sql.h"

#include <optional>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/index_names.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/table_definition_sql.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

bool IsIndexStatement(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  for (std::size_t i = 1; i < tokens.size() && i < 4; ++i) {
    if (tokens[i].IsWord("index")) return true;
    if (!tokens[i].IsAnyWord({"unique", "clustered", "nonclustered"})) return false;
  }
  return false;
}

bool IsDropView(const tsql::Statement& statement) {
  return statement.kind == tsql::StatementKind::kDropOther &&
         tsql::TokenAt(statement.tokens, 1).IsWord("view");
}

bool AtEnd(const tsql::Tokens& tokens, std::size_t i) {
  return i >= tokens.size() || tokens[i].kind == tsql::TokenKind::kEnd;
}

// DROP TABLE | VIEW name and TRUNCATE TABLE name: the name's first token,
// after checking that nothing follows it.
std::size_t SingleObjectName(const tsql::Tokens& tokens) {
  tsql::DottedName name = tsql::ReadDottedName(tokens, 2);
  if (name.parts.empty() || name.parts.size() > 3) tsql::SyntaxErrorAt(tokens, 2);
  if (!AtEnd(tokens, name.end)) tsql::SyntaxErrorAt(tokens, name.end);
  return 2;
}

tsql::SqliteText Text(std::string sql, int line) {
  tsql::SqliteText text;
  text.sql = std::move(sql);
  text.lines.emplace_back(0, line);
  return text;
}

// SQL Server keeps a FOREIGN KEY within its table's database.
void RefuseCrossDatabaseReferences(const std::vector<tsql::TableElementSyntax>& elements,
                                   const std::string& schema, tsql::NameResolver& resolver) {
  auto check = [&](const tsql::ConstraintSyntax& constraint) {
    if (!constraint.references) return;
    const tsql::DottedName& parent = constraint.references->table;
    std::string database = parent.Database();
    if (database.empty() || parent.Last().starts_with("#")) return;
    if (resolver.SchemaFor(database) != schema) {
      throw MakeError(1763, {constraint.name.empty() ? parent.Written() : constraint.name});
    }
  };
  for (const tsql::TableElementSyntax& element : elements) {
    if (element.constraint) check(*element.constraint);
    if (element.column) {
      for (const tsql::ConstraintSyntax& constraint : element.column->constraints) check(constraint);
    }
  }
}

// DROP TABLE and DROP VIEW name an object of their own kind: 3701 when the
// name is no table or view (nor one of the engine's own), 3705 when it is the
// other kind.
void RequireDroppedKind(const tsql::Statement& statement, sqlite3* db,
                        tsql::NameResolver& resolver) {
  const tsql::Tokens& tokens = statement.tokens;
  tsql::DottedName name = tsql::ReadDottedName(tokens, SingleObjectName(tokens));
  bool view = IsDropView(statement);
  std::string kind = view ? "view" : "table";
  std::string written = name.Last();
  std::string found;
  if (db == nullptr) return;  // only written, as the unit tests do
  if (!tsql::ToLower(written).starts_with("sqlengine_") &&
      !tsql::ToLower(written).starts_with("sqlite_")) {
    auto query = catalog::Prepare(
        db, "SELECT type FROM " + tsql::QuoteSqliteName(SchemaOfTable(name, resolver)) +
                ".sqlite_master WHERE type IN ('table', 'view') AND name = ? COLLATE NOCASE");
    sqlite3_bind_text(query.get(), 1, written.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(query.get()) == SQLITE_ROW) found = catalog::ColumnText(query.get(), 0);
  }
  if (found.empty()) throw MakeError(3701, {"drop", kind, written});
  if (found != kind) {
    std::string upper = view ? "VIEW" : "TABLE";
    throw MakeError(3705, {upper, written, written, found, view ? "TABLE" : "VIEW"});
  }
}

// A computed column whose value changes from one reading to the next
// (GETDATE(), NEWID(), RAND()) is no index key: 1933.
void RefuseChangingKeys(sqlite3* db, const std::string& schema,
                        const tsql::CreateIndexSyntax& index) {
  if (db == nullptr) return;
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, index.table.Last());
  if (!definition) return;
  for (const auto& key : index.columns) {
    const TableDefinition::Element* column = definition->Column(key.name);
    if (column == nullptr) continue;
    std::string_view text(definition->sql);
    text = text.substr(column->begin, column->end - column->begin);
    if (text.find("sqlengine_row_") != std::string_view::npos)
      throw MakeError(1933, {key.name});
  }
}

}  // namespace

std::string SchemaOfTable(const tsql::DottedName& name, tsql::NameResolver& resolver) {
  if (tsql::IsLocalTempName(name.Last())) return "temp";
  return name.Database().empty() ? std::string("main") : resolver.SchemaFor(name.Database());
}

bool IsSchemaStatement(const tsql::Statement& statement) {
  switch (statement.kind) {
    case tsql::StatementKind::kCreateTable:
    case tsql::StatementKind::kDropTable:
    case tsql::StatementKind::kTruncateTable:
      return true;
    case tsql::StatementKind::kAlterTable:
      return tsql::ParseAlterTable(statement.tokens).has_value();
    case tsql::StatementKind::kCreateOther:
      return IsIndexStatement(statement);
    case tsql::StatementKind::kDropOther:
      return IsIndexStatement(statement) || IsDropView(statement);
    default:
      return false;
  }
}

void CheckSchemaStatementSyntax(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  switch (statement.kind) {
    case tsql::StatementKind::kCreateTable:
      tsql::ParseCreateTable(tokens);
      return;
    case tsql::StatementKind::kAlterTable:
      tsql::ParseAlterTable(tokens);
      return;
    case tsql::StatementKind::kDropTable:
    case tsql::StatementKind::kTruncateTable:
      SingleObjectName(tokens);
      return;
    case tsql::StatementKind::kCreateOther:
      tsql::ParseCreateIndex(tokens);
      return;
    case tsql::StatementKind::kDropOther:
      if (IsDropView(statement)) {
        SingleObjectName(tokens);
      } else {
        tsql::ParseDropIndex(tokens);
      }
      return;
    default:
      return;
  }
}

// Whether a view's CREATE VIEW, as its author wrote it, has SCHEMABINDING
// among the options before its AS.
bool WrittenWithSchemaBinding(std::string_view written) {
  tsql::Tokens tokens;
  try {
    tokens = tsql::LexClientText(std::string(written));
  } catch (const std::exception&) {
    return false;
  }
  int depth = 0;
  for (const tsql::Token& token : tokens) {
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth == 0 && token.IsWord("as")) return false;
    if (token.IsWord("schemabinding")) return true;
  }
  return false;
}

// An index on a view: SQL Server's refusals in its order (1939 a view not
// made WITH SCHEMABINDING, 1940 another index before the unique clustered
// one, 1941 a clustered one not unique), then 8180: the engine keeps no
// view's rows, so it cannot keep an index of them.
void RefuseIndexOnView(sqlite3* db, const std::string& schema,
                       const tsql::CreateIndexSyntax& index) {
  if (db == nullptr || schema == "temp") return;
  catalog::PreparedStatement found = catalog::Prepare(
      db, "SELECT sql FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master WHERE type = 'view' AND name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(found.get(), 1, index.table.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(found.get()) != SQLITE_ROW) return;
  std::string view = index.table.Last();
  if (!WrittenWithSchemaBinding(ViewTextAsWritten(catalog::ColumnText(found.get(), 0))))
    throw MakeError(1939, {view});
  if (!index.clustered) throw MakeError(1940, {view});
  if (!index.unique) throw MakeError(1941, {view});
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run it: an index on a view.";
  throw error;
}

void RefuseSecondClusteredIndex(sqlite3* db, const std::string& schema,
                                const tsql::CreateIndexSyntax& index) {
  if (db == nullptr || !index.clustered) return;
  std::string existing = ClusteredIndexName(db, schema, index.table.Last());
  if (existing.empty() || tsql::EqualsIgnoreCase(existing, index.name.value)) return;
  throw MakeError(1902, {index.table.Last(), existing});
}

std::string CreateIndexSql(const tsql::CreateIndexSyntax& index, const std::string& schema,
                           const std::string& stored_name) {
  std::string sql = index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
  if (schema != "main" && schema != "temp") sql += tsql::QuoteSqliteName(schema) + ".";
  sql += tsql::QuoteSqliteName(stored_name) + " ON " + tsql::QuoteSqliteName(index.table.Last()) +
         " (";
  for (std::size_t k = 0; k < index.columns.size(); ++k) {
    sql += (k == 0 ? " " : " , ") + tsql::QuoteSqliteName(index.columns[k].name);
    if (index.columns[k].descending) sql += " DESC";
  }
  return sql + " )" + (index.clustered ? " " + std::string(kClusteredMarker) : std::string());
}

std::vector<tsql::SqliteText> SchemaStatementSql(const tsql::Statement& statement, sqlite3* db,
                                                 tsql::NameResolver& resolver,
                                                 tsql::bind::Catalog& catalog,
                                                 AppendedColumns* appended, bool ansi_padding) {
  const tsql::Tokens& tokens = statement.tokens;
  int line = statement.line;
  switch (statement.kind) {
    case tsql::StatementKind::kCreateTable: {
      tsql::CreateTableSyntax create = tsql::ParseCreateTable(tokens);
      RefuseCrossDatabaseReferences(create.elements, SchemaOfTable(create.name, resolver),
                                    resolver);
      return {TypedCreateTable(statement, resolver, catalog, ansi_padding)};
    }
    case tsql::StatementKind::kAlterTable: {
      std::optional<tsql::AlterTableSyntax> alter = tsql::ParseAlterTable(tokens);
      if (!alter) return {};
      RefuseCrossDatabaseReferences(alter->added, SchemaOfTable(alter->name, resolver), resolver);
      return TypedAlterTable(statement, resolver, catalog, appended, ansi_padding);
    }
    case tsql::StatementKind::kDropTable:
      RequireDroppedKind(statement, db, resolver);
      return {Text("DROP TABLE " + SqliteTableName(tokens, SingleObjectName(tokens), resolver),
                   line)};
    case tsql::StatementKind::kTruncateTable: {
      tsql::SqliteText text =
          Text("DELETE FROM " + SqliteTableName(tokens, SingleObjectName(tokens), resolver), line);
      tsql::DottedName table = tsql::ReadDottedName(tokens, 2);
      tsql::ObjectReach truncated;
      truncated.schema = SchemaOfTable(table, resolver);
      truncated.name = table.Last();
      truncated.kind = tsql::ObjectReach::Kind::kTruncatedTable;
      text.reaches.push_back(std::move(truncated));
      return {std::move(text)};
    }
    case tsql::StatementKind::kCreateOther: {
      std::optional<tsql::CreateIndexSyntax> index = tsql::ParseCreateIndex(tokens);
      if (!index) return {};
      std::string schema = SchemaOfTable(index->table, resolver);
      RefuseIndexOnView(db, schema, *index);
      RefuseChangingKeys(db, schema, *index);
      RefuseSecondClusteredIndex(db, schema, *index);
      std::string stored = NewIndexName(db, schema, index->table.Last(), index->name.value);
      return {Text(CreateIndexSql(*index, schema, stored), line)};
    }
    case tsql::StatementKind::kDropOther: {
      if (IsDropView(statement)) {
        RequireDroppedKind(statement, db, resolver);
        return {Text("DROP VIEW " + SqliteTableName(tokens, SingleObjectName(tokens), resolver),
                     line)};
      }
      std::optional<std::vector<tsql::DroppedIndexSyntax>> dropped = tsql::ParseDropIndex(tokens);
      if (!dropped) return {};
      std::vector<tsql::SqliteText> statements;
      for (const tsql::DroppedIndexSyntax& index : *dropped) {
        std::string schema = SchemaOfTable(index.table, resolver);
        std::optional<std::string> stored =
            StoredIndexName(db, schema, index.table.Last(), index.index);
        if (!stored)
          throw MakeError(3701, {"drop", "index", index.table.Last() + "." + index.index});
        statements.push_back(Text(
            "DROP INDEX " + tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(*stored),
            line));
      }
      return statements;
    }
    default:
      return {};
  }
}

}  // namespace sqlengine::exec
