#include "engine/exec/column_alteration.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/index_names.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/table_definition_sql.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/table_element_syntax.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

bool IsVariableLength(SqlType type) {
  return type == SqlType::kVarChar || type == SqlType::kNVarChar || type == SqlType::kVarBinary;
}

bool IsLargeObject(SqlType type) {
  return type == SqlType::kText || type == SqlType::kNText || type == SqlType::kImage;
}

bool IsExact(SqlType type) {
  return type == SqlType::kDecimal || type == SqlType::kMoney || type == SqlType::kSmallMoney;
}

// Whether the T-SQL text `text` names `column` (a name token equal to it).
bool Names(const std::string& text, const std::string& column) {
  tsql::Tokens tokens;
  try {
    tokens = tsql::Lex(text);
  } catch (const SqlError&) {
    return false;
  }
  for (const tsql::Token& token : tokens) {
    if (token.IsName() && tsql::EqualsIgnoreCase(token.value, column)) return true;
  }
  return false;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& each : names) {
    if (tsql::EqualsIgnoreCase(each, name)) return true;
  }
  return false;
}

// What a change of type from `from` to `to` keeps, for the objects that
// allow some changes.
struct Change {
  bool same_type = false;       // type and collation kept; length, precision, scale may change
  bool varying_length = false;  // same_type, of a varchar, nvarchar or varbinary column
  bool grows = false;           // varying_length, and no shorter
};

Change ChangeOf(const ColumnType& from, const ColumnType& to) {
  Change change;
  change.same_type = from.type == to.type && tsql::SameCollation(from, to);
  change.varying_length = change.same_type && IsVariableLength(to.type);
  change.grows = change.varying_length && (to.length == kMaxLength ||
                                           (from.length != kMaxLength && to.length >= from.length));
  return change;
}

struct Dependent {
  std::string kind;  // "object", "index" or "column", as 5074 names it
  std::string name;
};

// The objects that refuse the change of `column` of `table`.
std::vector<Dependent> Dependents(sqlite3* db, const std::string& schema, const std::string& table,
                                  const std::string& column, const Change& change,
                                  bool exact_scale_changes) {
  std::vector<Dependent> found;
  std::vector<std::string> constraint_names;
  for (const TableConstraint& c : ReadTableConstraints(db, schema)) {
    bool own = tsql::EqualsIgnoreCase(c.table, table);
    if (own) constraint_names.push_back(c.name);
    bool refuses = false;
    if (own && (c.xtype == "PK" || c.xtype == "F")) {
      refuses = Contains(c.columns, column) || tsql::EqualsIgnoreCase(c.column, column);
    } else if (own && c.xtype == "UQ") {
      refuses = (Contains(c.columns, column) || tsql::EqualsIgnoreCase(c.column, column)) &&
                !change.grows;
    } else if (own && c.xtype == "C") {
      refuses = (tsql::EqualsIgnoreCase(c.column, column) || Names(c.text, column)) &&
                !change.varying_length;
    } else if (own && c.xtype == "D") {
      // A default of an exact column is kept at the column's scale.
      refuses = (tsql::EqualsIgnoreCase(c.column, column) || Contains(c.columns, column)) &&
                (!change.same_type || exact_scale_changes);
    } else if (!own && c.xtype == "F" && tsql::EqualsIgnoreCase(c.referenced_table, table)) {
      refuses = Contains(c.referenced_columns, column);
    }
    if (refuses) found.push_back({"object", c.name});
  }
  for (const ComputedColumnText& computed : ReadComputedColumns(db, schema)) {
    if (tsql::EqualsIgnoreCase(computed.table, table) &&
        !tsql::EqualsIgnoreCase(computed.column, column) && Names(computed.text, column)) {
      found.push_back({"column", computed.column});
    }
  }
  // Indexes CREATE INDEX made (the keys' own are constraints above).
  auto indexes = catalog::Prepare(
      db,
      "SELECT l.name FROM pragma_index_list(?, ?) AS l, pragma_index_info(l.name, ?) AS i "
      "WHERE l.origin = 'c' AND i.name = ? COLLATE NOCASE");
  sqlite3_bind_text(indexes.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 3, schema.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 4, column.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    std::string stored = catalog::ColumnText(indexes.get(), 0);
    if (Contains(constraint_names, stored) || change.grows) continue;
    found.push_back({"index", ShownIndexName(stored, table)});
  }
  return found;
}

// The column element's stored clauses that stay under the new declaration:
// its constraints (a DEFAULT, a CHECK, disabled ones in their comments), as
// stored. The type, NULL / NOT NULL and COLLATE go.
std::string KeptClauses(const std::string& element) {
  tsql::Tokens tokens = tsql::Lex(element);
  std::size_t count = tokens.size();
  if (count > 0 && tokens.back().kind == tsql::TokenKind::kEnd) --count;
  auto start = [&](std::size_t k) { return k < count ? tokens[k].offset : element.size(); };
  auto close = [&](std::size_t open) {
    int depth = 0;
    for (std::size_t k = open; k < count; ++k) {
      if (tokens[k].IsSymbol("(")) ++depth;
      if (tokens[k].IsSymbol(")") && --depth == 0) return k;
    }
    return count - 1;
  };
  std::size_t i = 2;  // past the name and the type's word
  if (i < count && tokens[i].IsSymbol("(")) i = close(i) + 1;
  std::string kept;
  std::size_t copied = 0;  // the element's text up to here is in `kept` or left out
  while (i < count) {
    const tsql::Token& token = tokens[i];
    std::size_t next = i + 1;
    if (token.IsWord("not") && next < count && tokens[next].IsWord("null")) {
      i += 2;
      continue;
    }
    if (token.IsWord("null")) {
      ++i;
      continue;
    }
    if (token.IsWord("collate")) {
      i += 2;
      continue;
    }
    if (token.IsSymbol("(")) {
      next = close(i) + 1;
    } else if (token.IsWord("default") && next < count) {
      // The value: a word or a parenthesised expression.
      next = tokens[next].IsSymbol("(") ? close(next) + 1 : next + 1;
    }
    // A constraint's not-trusted marker stands before it, past what was kept.
    std::size_t from = token.offset;
    std::size_t marker = element.rfind(kNotTrustedMarker, token.offset);
    if (marker != std::string::npos && marker >= copied) from = marker;
    kept += " " + element.substr(from, start(next) - from);
    copied = start(next);
    while (!kept.empty() && kept.back() == ' ') kept.pop_back();
    i = next;
  }
  return kept;
}

// The new element: `declared` (the column's SQLite text as CREATE TABLE makes
// it) with the kept clauses before its COLLATE.
std::string NewElement(const std::string& declared, const std::string& kept) {
  std::size_t collate = declared.rfind(" COLLATE ");
  if (collate == std::string::npos) return declared + kept;
  return declared.substr(0, collate) + kept + declared.substr(collate);
}

// The SQLite expression that converts the stored value of `column` (of its
// old type, among `columns`) to `to`, bound as CONVERT is. A character or
// binary value converts at the longest length of its kind, so that what does
// not fit the new length is refused (8152) rather than cut.
std::string ConvertedValue(const std::string& table, const std::vector<Column>& columns,
                           const std::string& column, const ColumnType& to,
                           tsql::bind::Catalog& catalog) {
  ColumnType wide = to;
  if (to.type == SqlType::kChar || to.type == SqlType::kVarChar) {
    wide.type = SqlType::kVarChar;
    wide.length = 8000;
  } else if (to.type == SqlType::kNChar || to.type == SqlType::kNVarChar) {
    wide.type = SqlType::kNVarChar;
    wide.length = 4000;
  } else if (to.type == SqlType::kBinary || to.type == SqlType::kVarBinary) {
    wide.type = SqlType::kVarBinary;
    wide.length = 8000;
  }
  tsql::Tokens tokens = tsql::Lex("CONVERT(" + tsql::TypeDeclaration(wide) + ", " +
                                  tsql::QuoteSqliteName(column) + ")");
  if (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  std::unique_ptr<tsql::parse::Expr> parsed = tsql::parse::ParseExpression(tokens);
  std::unique_ptr<tsql::bind::BoundExpr> bound =
      tsql::bind::BindTableExpression(*parsed, table, columns, false, std::nullopt, catalog);
  std::string generated = tsql::generate::GenerateTableExpression(*bound, EngineExactForm());
  if (EngineExactForm() == tsql::generate::ExactForm::kStored)
    generated = tsql::generate::ExactConverted(generated, bound->type, to);
  return generated;
}

// Steps `sql` to its end; a failure is the SQL Server error of an UPDATE.
void RunUpdate(sqlite3* db, const std::string& sql, std::string_view database, int line) {
  catalog::PreparedStatement statement = catalog::Prepare(db, sql);
  int rc = SQLITE_ROW;
  while (rc == SQLITE_ROW) rc = sqlite3_step(statement.get());
  if (rc != SQLITE_DONE) {
    FailedStatement failed{nullptr, "UPDATE", std::string(database), line};
    ThrowSqliteError(db, rc, failed);
  }
}

bool AnyRow(sqlite3* db, const std::string& sql) {
  catalog::PreparedStatement query = catalog::Prepare(db, sql);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

// The identity column's element of `definition` with `to` as its declared
// type: the comment after its INTEGER written anew.
std::string IdentityElement(const TableDefinition& definition,
                            const TableDefinition::Element& element, const ColumnType& to) {
  std::string text = definition.sql.substr(element.begin, element.end - element.begin);
  if (std::size_t comment = text.find("/*sqlengine_type "); comment != std::string::npos) {
    std::size_t end = text.find("*/", comment);
    if (end != std::string::npos) text.erase(comment, end + 2 - comment);
  }
  // The declaration follows the name, which may itself read INTEGER.
  std::size_t after_name = 0;
  if (!text.empty() && (text[0] == '"' || text[0] == '[' || text[0] == '`')) {
    char close = text[0] == '[' ? ']' : text[0];
    after_name = 1;
    while (after_name < text.size()) {
      if (text[after_name] == close) {
        if (after_name + 1 < text.size() && text[after_name + 1] == close) {
          after_name += 2;
          continue;
        }
        ++after_name;
        break;
      }
      ++after_name;
    }
  } else {
    after_name = text.find_first_of(" \t\r\n");
  }
  std::size_t declaration = after_name == std::string::npos ? after_name
                                                           : text.find_first_not_of(" \t\r\n", after_name);
  if (declaration == std::string::npos || text.size() < declaration + 7)
    throw std::runtime_error("identity column without its INTEGER declaration");
  std::size_t end = declaration + 7;
  return text.substr(0, end) + " " + IdentityTypeComment(to) +
         (end < text.size() && text[end] == ' ' ? "" : " ") + text.substr(end);
}

void AlterIdentityType(sqlite3* db, const std::string& schema, const TableDefinition& definition,
                       const TableDefinition::Element& element, const ColumnType& to) {
  std::string sql = definition.sql.substr(0, element.begin) +
                    IdentityElement(definition, element, to) + definition.sql.substr(element.end);
  std::string quoted_table =
      tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(definition.table);
  catalog::Exec(db, "SAVEPOINT sqlengine_alter_column");
  TakeWriteLockFirst(db, schema);
  try {
    if (std::optional<std::pair<std::int64_t, std::int64_t>> range = IdentityRange(to)) {
      if (AnyRow(db, "SELECT 1 FROM " + quoted_table + " WHERE rowid NOT BETWEEN " +
                         std::to_string(range->first) + " AND " + std::to_string(range->second)))
        throw MakeError(8115, {"IDENTITY", std::string(tsql::DeclaredTypeName(to))});
    }
    ForgetColumn(db, schema, definition.table, element.column);
    ReplaceTableDefinition(db, schema, definition, sql);
    NormaliseColumns(db, schema, definition.table);
    KeepNullKeysUnique(db, schema, definition.table);
    catalog::Exec(db, "RELEASE sqlengine_alter_column");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK TO sqlengine_alter_column; RELEASE sqlengine_alter_column", nullptr,
                 nullptr, nullptr);
    throw;
  }
}

}  // namespace

bool IsColumnAlteration(const tsql::Tokens& alter) {
  if (alter.size() < 6) return false;
  tsql::DottedName table = tsql::ReadDottedName(alter, 2);
  return table.end + 1 < alter.size() && alter[table.end].IsWord("alter") &&
         alter[table.end + 1].IsWord("column");
}

void AlterColumn(sqlite3* db, const tsql::Tokens& alter, tsql::NameResolver& resolver,
                 tsql::bind::Catalog& catalog, std::string_view database, int line,
                 const std::function<void(const SqlError&)>& report, bool ansi_padding) {
  std::optional<tsql::AlterColumnSyntax> syntax = tsql::ParseAlterColumn(alter);
  if (!syntax) tsql::SyntaxErrorAt(alter, 2);
  const tsql::ColumnSyntax& column = *syntax->element.column;
  const std::string& table_name = syntax->name.Last();
  std::string schema = tsql::IsLocalTempName(table_name) ? std::string("temp")
                       : syntax->name.Database().empty()
                           ? std::string("main")
                           : resolver.SchemaFor(syntax->name.Database());
  std::string shown_database =
      syntax->name.Database().empty() ? std::string(database) : syntax->name.Database();
  std::vector<std::string> written_name{table_name};
  if (!syntax->name.Database().empty()) written_name = {syntax->name.Database(), "", table_name};

  std::optional<tsql::bind::TableShape> shape = catalog.FindTable(written_name);
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table_name);
  if (!shape || !definition || shape->view_query)
    throw MakeError(4902, {table_name, shown_database});
  std::size_t position = 0;
  while (position < shape->columns.size() &&
         !tsql::EqualsIgnoreCase(shape->columns[position].name, column.name.value)) {
    ++position;
  }
  if (position == shape->columns.size())
    throw MakeError(4924, {column.name.value, definition->table});
  const Column& old = shape->columns[position];
  const std::string& name = old.name;
  bool computed = position < shape->computed_columns.size() && shape->computed_columns[position];
  if (computed) throw MakeError(4928, {name, "COMPUTED"});
  if (old.type.row_version) throw MakeError(4928, {name, "timestamp"});
  if (IsLargeObject(old.type.type))
    throw MakeError(4928, {name, std::string(tsql::TypeName(old.type.type))});

  std::optional<ColumnType> to =
      tsql::ColumnTypeFromName(column.type_name->value, column.type_arguments);
  if (!to) {
    SqlError error = MakeError(2715, {std::to_string(position + 1), column.type_name->value});
    error.message().line = column.type_name->line;
    throw error;
  }
  if (IsLargeObject(to->type) || to->row_version)
    throw MakeError(4927, {name, column.type_name->value});
  if (!column.collation.empty()) tsql::ApplyCollation(column.collation, *to);
  to->nullable = column.nullable.value_or(to->nullable);

  const TableDefinition::Element* element = definition->Column(name);
  if (element == nullptr) throw MakeError(4924, {column.name.value, definition->table});
  if (old.type.identity) {
    // The identity column is the table's rowid, never NULL: only the type it
    // is declared with changes, to another an identity may have.
    if (!MayBeIdentity(*to) || column.nullable.value_or(false))
      throw MakeError(4927, {name, column.type_name->value});
    AlterIdentityType(db, schema, *definition, *element, *to);
    return;
  }

  Change change = ChangeOf(old.type, *to);
  bool exact_scale_changes = IsExact(to->type) && change.same_type &&
                             (old.type.scale != to->scale) && StoresExactForm(db, schema);
  std::vector<Dependent> dependents =
      Dependents(db, schema, definition->table, name, change, exact_scale_changes);
  if (!dependents.empty()) {
    for (const Dependent& dependent : dependents) {
      SqlError error = MakeError(5074, {dependent.kind, dependent.name, name});
      error.message().line = line;
      report(error);
    }
    throw MakeError(4922, {"ALTER TABLE ALTER COLUMN", name});
  }

  std::string quoted_table =
      tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(definition->table);
  std::string quoted_column = tsql::QuoteSqliteName(name);
  // Bound while the catalog still gives the old type.
  std::string converted = ConvertedValue(definition->table, shape->columns, name, *to, catalog);
  StoredExpressions no_expressions(alter, 0, 0, definition->table, {}, {}, catalog);
  std::string declared =
      TableElementSql(alter, syntax->element, false, static_cast<int>(position + 1),
                      no_expressions, true, ansi_padding);
  std::string old_element = definition->sql.substr(element->begin, element->end - element->begin);
  std::string sql = definition->sql.substr(0, element->begin) +
                    NewElement(declared, KeptClauses(old_element)) +
                    definition->sql.substr(element->end);

  catalog::Exec(db, "SAVEPOINT sqlengine_alter_column");
  TakeWriteLockFirst(db, schema);
  try {
    if (!to->nullable &&
        AnyRow(db, "SELECT 1 FROM " + quoted_table + " WHERE " + quoted_column + " IS NULL")) {
      throw MakeError(515, {name, shown_database + ".dbo." + definition->table, "UPDATE"});
    }
    ForgetColumn(db, schema, definition->table, name);
    ReplaceTableDefinition(db, schema, *definition, sql);
    NormaliseColumns(db, schema, definition->table);
    KeepNullKeysUnique(db, schema, definition->table);
    if (tsql::TypeDeclaration(old.type) != tsql::TypeDeclaration(*to) ||
        !tsql::SameCollation(old.type, *to)) {
      // Converting the values is no update of the rows: their row versions stay.
      for (const Column& other : shape->columns) {
        if (other.type.row_version) ForgetColumn(db, schema, definition->table, other.name);
      }
      RunUpdate(db, "UPDATE " + quoted_table + " SET " + quoted_column + " = " + converted,
                shown_database, line);
      NormaliseColumns(db, schema, definition->table);
    }
    bool binary = to->type == SqlType::kBinary || to->type == SqlType::kVarBinary;
    if (binary && to->length != kMaxLength &&
        AnyRow(db, "SELECT 1 FROM " + quoted_table + " WHERE length(" + quoted_column + ") > " +
                       std::to_string(to->length))) {
      throw MakeError(8152);
    }
    catalog::Exec(db, "RELEASE sqlengine_alter_column");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK TO sqlengine_alter_column; RELEASE sqlengine_alter_column", nullptr,
                 nullptr, nullptr);
    throw;
  }
}

}  // namespace sqlengine::exec
