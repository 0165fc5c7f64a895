#include "engine/exec/generated_expression_upgrade.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// A table expression reads the row and constants alone: nothing else of a
// catalog is ever asked for.
class RowOnlyCatalog final : public tsql::bind::Catalog {
 public:
  std::optional<tsql::bind::TableShape> FindTable(const std::vector<std::string>&) override {
    return std::nullopt;
  }
  bool ObjectExists(const std::vector<std::string>&) override { return false; }
  std::optional<ColumnType> VariableType(std::string_view) override { return std::nullopt; }
};

struct TableColumn {
  Column column;
  bool computed = false;
};

std::vector<TableColumn> ColumnsOf(sqlite3* db, const std::string& schema,
                                   const std::string& table) {
  std::vector<TableColumn> columns;
  catalog::PreparedStatement info = catalog::Prepare(
      db, "SELECT name, type, \"notnull\", pk, hidden FROM pragma_table_xinfo(?1, ?2)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    TableColumn found;
    found.column.name = catalog::ColumnText(info.get(), 0);
    std::optional<ColumnType> type = tsql::ParseDeclaredType(catalog::ColumnText(info.get(), 1));
    if (!type) {
      throw std::runtime_error("column '" + found.column.name + "' of table '" + table +
                               "' has a type this engine does not read");
    }
    const char* collation = nullptr;
    sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), found.column.name.c_str(),
                                  nullptr, &collation, nullptr, nullptr, nullptr);
    if (tsql::IsCharacterType(type->type)) tsql::ApplySqliteCollation(collation, *type);
    type->nullable = sqlite3_column_int(info.get(), 2) == 0 && sqlite3_column_int(info.get(), 3) == 0;
    found.column.type = *type;
    found.computed = sqlite3_column_int(info.get(), 4) >= 2;
    columns.push_back(std::move(found));
  }
  return columns;
}

std::size_t EndOf(const Token& token) { return token.offset + token.text.size(); }

// The index of the parenthesis that opens the one closing at tokens[close].
std::optional<std::size_t> MatchingOpen(const Tokens& tokens, std::size_t close) {
  int depth = 0;
  for (std::size_t i = close + 1; i-- > 0;) {
    if (tokens[i].IsSymbol(")")) ++depth;
    if (tokens[i].IsSymbol("(") && --depth == 0) return i;
  }
  return std::nullopt;
}

// One generated expression of the definition: "(<generated>)" at [begin, end)
// of the text, what it is, and its text as written.
struct GeneratedExpression {
  std::size_t begin = 0;
  std::size_t end = 0;
  enum class Kind { kCheck, kDefault, kComputed } kind = Kind::kCheck;
  std::string column;  // the column a DEFAULT or computed value belongs to
  std::string written;
};

// The generated expressions of `sql`, a table's definition or the clause of
// a constraint, whose elements (none for a clause) say which column each
// DEFAULT and computed value belongs to.
std::vector<GeneratedExpression> GeneratedExpressions(
    const std::string& sql, const std::vector<TableDefinition::Element>& elements) {
  Tokens tokens = tsql::Lex(sql);
  std::vector<GeneratedExpression> found;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::optional<WrittenExpression> written = ReadWrittenExpression(sql, EndOf(tokens[i]));
    if (!written) continue;
    // A computed column's comment follows VIRTUAL; the others' their value.
    std::size_t close = i;
    bool computed = tokens[i].IsWord("virtual");
    if (computed && i > 0) close = i - 1;
    if (!tokens[close].IsSymbol(")")) continue;
    std::optional<std::size_t> open = MatchingOpen(tokens, close);
    if (!open || *open == 0) continue;
    GeneratedExpression expression;
    expression.begin = tokens[*open].offset;
    expression.end = EndOf(tokens[close]);
    expression.written = written->text;
    const Token& before = tokens[*open - 1];
    if (computed) {
      expression.kind = GeneratedExpression::Kind::kComputed;
    } else if (before.IsWord("default")) {
      expression.kind = GeneratedExpression::Kind::kDefault;
    } else if (before.IsWord("check") || before.IsWord("replication")) {
      expression.kind = GeneratedExpression::Kind::kCheck;
    } else {
      continue;
    }
    for (const TableDefinition::Element& element : elements) {
      if (element.begin <= expression.begin && expression.begin < element.end)
        expression.column = element.column;
    }
    found.push_back(std::move(expression));
  }
  return found;
}

// The expression generated again from its written text, in `form`.
std::string Regenerated(const GeneratedExpression& expression, const std::string& table,
                        const std::vector<TableColumn>& columns, tsql::generate::ExactForm form) {
  Tokens tokens = tsql::Lex(expression.written);
  if (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  std::vector<Column> plain;
  std::optional<ColumnType> stored_as;
  for (const TableColumn& column : columns) {
    if (!column.computed) plain.push_back(column.column);
    if (expression.kind == GeneratedExpression::Kind::kDefault &&
        tsql::EqualsIgnoreCase(column.column.name, expression.column)) {
      stored_as = column.column.type;
      stored_as->identity = false;
    }
  }
  if (expression.kind == GeneratedExpression::Kind::kDefault && !stored_as)
    throw std::runtime_error("a DEFAULT of table '" + table + "' belongs to no column");
  try {
    std::unique_ptr<tsql::parse::Expr> parsed = tsql::parse::ParseExpression(tokens);
    RowOnlyCatalog catalog;
    bool predicate = expression.kind == GeneratedExpression::Kind::kCheck;
    std::unique_ptr<tsql::bind::BoundExpr> bound = tsql::bind::BindTableExpression(
        *parsed, table, expression.kind == GeneratedExpression::Kind::kDefault ? std::vector<Column>{}
                                                                               : plain,
        predicate, stored_as, catalog);
    std::string generated = tsql::generate::GenerateTableExpression(*bound, form);
    // A DEFAULT's value is written in its column's form.
    if (stored_as && form == tsql::generate::ExactForm::kStored)
      generated = tsql::generate::ExactConverted(generated, bound->type, *stored_as);
    return "(" + generated + ")";
  } catch (const SqlError& error) {
    throw std::runtime_error("the expression " + expression.written + " of table '" + table +
                             "' no longer binds: " + error.message().text);
  } catch (const std::exception& error) {
    throw std::runtime_error("the expression " + expression.written + " of table '" + table +
                             "' no longer binds: " + error.what());
  }
}

}  // namespace

void RegenerateTableExpressions(sqlite3* db, const std::string& schema, const std::string& table,
                                tsql::generate::ExactForm form) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) return;
  std::vector<TableColumn> columns = ColumnsOf(db, schema, definition->table);
  auto regenerate = [&](std::string sql, const std::vector<TableDefinition::Element>& elements) {
    std::vector<GeneratedExpression> expressions = GeneratedExpressions(sql, elements);
    // From the last one back, so the offsets of the earlier ones stay.
    std::sort(expressions.begin(), expressions.end(),
              [](const GeneratedExpression& a, const GeneratedExpression& b) {
                return a.begin > b.begin;
              });
    for (const GeneratedExpression& expression : expressions) {
      sql.replace(expression.begin, expression.end - expression.begin,
                  Regenerated(expression, definition->table, columns, form));
    }
    return sql;
  };
  // A CHECK switched off keeps its generated text in a comment: made again
  // too, so that it checks in `form` once switched on.
  std::string sql = RewriteDisabledClauses(
      regenerate(definition->sql, definition->elements),
      [&](const std::string&, const std::string& clause) { return regenerate(clause, {}); });
  if (sql != definition->sql) ReplaceTableDefinition(db, schema, *definition, sql);
}

}  // namespace sqlengine::exec
