#include "engine/exec/table_definition_sql.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "engine/common/error.h"
#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kKeptPrimaryKey = "ON CONFLICT ABORT";

// An expression the front end leaves unbound is no scalar expression of the
// row: SQL Server refuses a subquery there (1046); anything else reads as a
// syntax error at its first token.
[[noreturn]] void RefuseExpression(const tsql::Tokens& tokens, const tsql::TokenRange& range) {
  for (std::size_t k = range.begin; k < range.end; ++k) {
    if (tokens[k].IsWord("select")) throw MakeError(1046);
  }
  throw tsql::SyntaxError(tokens[range.begin]);
}

// Words SQLite reserves that T-SQL takes as plain names (a column named
// limit or using); written bare they would be a syntax error in SQLite's
// text. Sorted.
constexpr std::string_view kSqliteOnlyReserved[] = {"autoincrement", "deferrable", "isnull",
                                                    "limit",         "nothing",    "notnull",
                                                    "returning",     "using"};

bool IsSqliteOnlyReserved(std::string_view word) {
  std::string lower(word);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::binary_search(std::begin(kSqliteOnlyReserved), std::end(kSqliteOnlyReserved),
                            std::string_view(lower));
}

// A name as SQLite reads it: a bracketed or temporary name, or a word SQLite
// reserves, quoted; any other plain word as written.
std::string NameText(const tsql::Token& token) {
  if (token.kind == tsql::TokenKind::kQuotedName || token.value.starts_with("#") ||
      IsSqliteOnlyReserved(token.value))
    return tsql::QuoteSqliteName(token.value);
  return token.text;
}

// Builds one element's text, a space between parts.
class ElementText {
 public:
  ElementText(const tsql::Tokens& tokens, bool identity_table, const StoredExpressions& expressions)
      : tokens_(tokens), identity_table_(identity_table), expressions_(expressions) {}

  void Add(std::string_view part) {
    if (part.empty()) return;
    if (!text_.empty()) text_.push_back(' ');
    text_.append(part);
  }
  // Tokens [begin, end) as written: names as SQLite reads them, the rest as they stand.
  void AddTokens(std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const tsql::Token& token = tokens_[i];
      Add(token.IsName() ? NameText(token) : token.text);
    }
  }

  // The text the front end stores for the expression at `range`.
  void AddExpression(const tsql::TokenRange& range, bool is_default) {
    if (is_default && range.end == range.begin + 1 && tokens_[range.begin].IsWord("null")) {
      Add(tokens_[range.begin].text);
      return;
    }
    const std::string* stored = expressions_.StoredAt(range.begin);
    if (stored == nullptr) RefuseExpression(tokens_, range);
    Add(*stored);
  }

  void Constraint(const tsql::ConstraintSyntax& constraint, bool at_column) {
    std::size_t i = constraint.begin;
    if (tokens_[i].IsWord("constraint")) {
      Add(tokens_[i].text);
      Add(NameText(tokens_[i + 1]));
      i += 2;
    }
    switch (constraint.kind) {
      case tsql::ConstraintKind::kPrimaryKey:
      case tsql::ConstraintKind::kUnique:
        Key(constraint, i, at_column);
        return;
      case tsql::ConstraintKind::kForeignKey:
        References(constraint, i, at_column);
        return;
      case tsql::ConstraintKind::kCheck:
        Add(tokens_[i].text);
        AddExpression(constraint.expression, false);
        return;
      case tsql::ConstraintKind::kDefault:
        Add(tokens_[i].text);
        AddExpression(constraint.expression, true);
        return;
    }
  }

  std::string Take() { return std::move(text_); }

 private:
  void Key(const tsql::ConstraintSyntax& constraint, std::size_t i, bool at_column) {
    bool primary = constraint.kind == tsql::ConstraintKind::kPrimaryKey;
    bool kept_as_unique = primary && identity_table_;
    if (kept_as_unique) {
      Add("UNIQUE");
    } else {
      AddTokens(i, i + (primary ? 2 : 1));
    }
    i += primary ? 2 : 1;
    if (i < constraint.end && tokens_[i].IsAnyWord({"clustered", "nonclustered"})) ++i;
    // Only a declaration other than the key's default is recorded.
    if (constraint.clustered && *constraint.clustered != primary)
      Add(primary ? kNonclusteredMarker : kClusteredMarker);
    if (!at_column) AddTokens(i, constraint.end);
    if (kept_as_unique) Add(kKeptPrimaryKey);
  }

  void References(const tsql::ConstraintSyntax& constraint, std::size_t i, bool at_column) {
    if (tokens_[i].IsWord("foreign")) {
      if (at_column) {
        i += 2;  // a column's FOREIGN KEY REFERENCES is SQLite's REFERENCES
      } else {
        std::size_t references = i;
        while (!tokens_[references].IsWord("references")) ++references;
        AddTokens(i, references);
        i = references;
      }
    }
    Add(tokens_[i].text);
    const tsql::ReferencesSyntax& parent = *constraint.references;
    Add(tsql::QuoteSqliteName(parent.table.Last()));
    AddTokens(parent.table.end, constraint.end);
  }

  const tsql::Tokens& tokens_;
  bool identity_table_;
  const StoredExpressions& expressions_;
  std::string text_;
};

// Whether the column's own clauses say NULL or NOT NULL.
bool SaysNullability(const tsql::ColumnSyntax& column) { return column.nullable.has_value(); }

std::string ColumnSql(const tsql::Tokens& tokens, const tsql::TableElementSyntax& element,
                      bool identity_table, int column_number, const StoredExpressions& expressions,
                      bool nullable_by_default, bool ansi_padding) {
  const tsql::ColumnSyntax& column = *element.column;
  ElementText text(tokens, identity_table, expressions);
  text.Add(NameText(column.name));
  if (!column.computed.Empty()) {
    // The declaration starts at AS.
    const std::string* stored = expressions.StoredAt(column.computed.begin - 1);
    if (stored == nullptr) RefuseExpression(tokens, column.computed);
    text.Add(*stored);
    return text.Take();
  }
  const tsql::Token& type_word = *column.type_name;
  std::optional<ColumnType> type = tsql::ColumnTypeFromName(type_word.value, column.type_arguments);
  if (!type) {
    SqlError error = MakeError(2715, {std::to_string(column_number), type_word.value});
    error.message().line = type_word.line;
    throw error;
  }
  bool identity = column.identity.has_value();
  if (identity) {
    if (!MayBeIdentity(*type) || column.nullable.value_or(false))
      throw MakeError(2749, {column.name.value});
    text.Add("INTEGER " + IdentityTypeComment(*type) + " PRIMARY KEY AUTOINCREMENT");
  } else {
    std::string declaration = tsql::TypeDeclaration(*type);
    text.Add(declaration.find("(max)") != std::string::npos ? tsql::QuoteSqliteName(declaration)
                                                            : declaration);
    if (!ansi_padding && RecordsAnsiPadding(*type)) text.Add(std::string(kAnsiTrimMarker));
  }
  // A user type declared NOT NULL makes its columns NOT NULL unless they say
  // otherwise, as the session's ANSI null default may. A timestamp column is
  // never NULL, but an INSERT may write NULL to it, which its triggers
  // replace with the next value.
  if ((!type->nullable || !nullable_by_default) && !identity && !type->row_version &&
      !SaysNullability(column))
    text.Add("NOT NULL");
  bool collated = false;
  std::size_t constraint = 0;
  std::size_t i = column.clauses;
  std::size_t end = element.range.end;
  while (i < end) {
    if (constraint < column.constraints.size() && column.constraints[constraint].begin == i) {
      const tsql::ConstraintSyntax& c = column.constraints[constraint++];
      text.Constraint(c, true);
      i = c.end;
      continue;
    }
    const tsql::Token& token = tokens[i];
    if (token.IsWord("identity")) {
      ++i;
      if (i < end && tokens[i].IsSymbol("(")) {
        while (!tokens[i].IsSymbol(")")) ++i;
        ++i;
      }
    } else if (token.IsWord("rowguidcol")) {
      ++i;
    } else if (token.IsWord("collate")) {
      tsql::ApplyCollation(tokens[i + 1].value, *type);
      text.Add("COLLATE " +
               std::string(tsql::SqliteCollation(*type, tsql::bind::IsNational(type->type))));
      collated = true;
      i += 2;
    } else if (token.IsWord("not")) {
      if (!type->row_version) text.AddTokens(i, i + 2);
      i += 2;
    } else {
      if (!type->row_version) text.AddTokens(i, i + 1);  // NULL
      ++i;
    }
  }
  if (!collated && !identity && tsql::IsCharacterType(type->type))
    text.Add("COLLATE " +
             std::string(tsql::SqliteCollation(*type, tsql::bind::IsNational(type->type))));
  return text.Take();
}

bool IsNullable(const tsql::ColumnSyntax& column, bool nullable_by_default) {
  if (column.nullable) return *column.nullable;
  std::optional<ColumnType> type =
      tsql::ColumnTypeFromName(column.type_name->value, column.type_arguments);
  return !type || (type->nullable && (nullable_by_default || type->row_version));
}

const tsql::ConstraintSyntax* DefaultOf(const tsql::ColumnSyntax& column) {
  for (const tsql::ConstraintSyntax& constraint : column.constraints) {
    if (constraint.kind == tsql::ConstraintKind::kDefault) return &constraint;
  }
  return nullptr;
}

// Whether `sql` is a literal SQLite's ADD COLUMN reads as a constant default:
// a number, string, blob or NULL, in parentheses or not.
bool IsLiteral(std::string_view sql) {
  auto trim = [&] {
    while (!sql.empty() && sql.front() == ' ') sql.remove_prefix(1);
    while (!sql.empty() && sql.back() == ' ') sql.remove_suffix(1);
  };
  trim();
  // Whether the first parenthesis closes at the end.
  auto enclosed = [&] {
    if (sql.size() < 2 || sql.front() != '(' || sql.back() != ')') return false;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < sql.size(); ++i) {
      if (sql[i] == '\'') quoted = !quoted;
      if (quoted) continue;
      if (sql[i] == '(') ++depth;
      if (sql[i] == ')' && --depth == 0) return i + 1 == sql.size();
    }
    return false;
  };
  while (enclosed()) {
    sql = sql.substr(1, sql.size() - 2);
    trim();
  }
  if (sql.empty()) return false;
  if (tsql::EqualsIgnoreCase(sql, "null")) return true;
  if (sql.size() > 1 && (sql.front() == 'x' || sql.front() == 'X') && sql[1] == '\'')
    sql.remove_prefix(1);
  if (sql.front() == '\'') {
    for (std::size_t i = 1; i < sql.size(); ++i) {
      if (sql[i] != '\'') continue;
      if (i + 1 < sql.size() && sql[i + 1] == '\'') {
        ++i;
        continue;
      }
      return i + 1 == sql.size();
    }
    return false;
  }
  if (sql.front() == '-' || sql.front() == '+') sql.remove_prefix(1);
  return !sql.empty() && sql.find_first_not_of("0123456789.eE+-") == std::string_view::npos &&
         std::isdigit(static_cast<unsigned char>(sql.front()));
}

// Whether the added columns go into the definition directly: some DEFAULT
// is no literal, and no column needs what only ADD COLUMN does (an identity,
// a key's index).
bool AppendsColumns(const std::vector<tsql::TableElementSyntax>& added,
                    const StoredExpressions& expressions) {
  bool needed = false;
  for (const tsql::TableElementSyntax& element : added) {
    const tsql::ColumnSyntax& column = *element.column;
    if (column.identity) return false;
    for (const tsql::ConstraintSyntax& constraint : column.constraints) {
      if (constraint.kind == tsql::ConstraintKind::kPrimaryKey ||
          constraint.kind == tsql::ConstraintKind::kUnique)
        return false;
    }
    const tsql::ConstraintSyntax* given = DefaultOf(column);
    const std::string* stored = given ? expressions.StoredAt(given->expression.begin) : nullptr;
    if (stored != nullptr && !IsLiteral(GeneratedSql(*stored))) needed = true;
  }
  return needed;
}

// Throws 2738 for a second timestamp column of the table (`has_one`: the
// table has one already), and 1755 for a DEFAULT on one.
void RefuseSecondRowVersion(const std::vector<tsql::TableElementSyntax>& elements, bool has_one,
                            const std::string& table) {
  for (const tsql::TableElementSyntax& element : elements) {
    if (!element.column || !element.column->type_name) continue;
    const tsql::ColumnSyntax& column = *element.column;
    std::optional<ColumnType> type =
        tsql::ColumnTypeFromName(column.type_name->value, column.type_arguments);
    if (!type || !type->row_version) continue;
    if (has_one) throw MakeError(2738, {table, column.name.value});
    if (DefaultOf(column) != nullptr) throw MakeError(1755);
    has_one = true;
  }
}

// Throws 8112 when the table's keys declare two clustered indexes: a
// PRIMARY KEY declared CLUSTERED or a UNIQUE constraint's beside another
// UNIQUE CLUSTERED (an undeclared PRIMARY KEY then is nonclustered).
void RefuseSecondClusteredKey(const std::vector<tsql::TableElementSyntax>& elements,
                              const std::string& table) {
  int clustered = 0;
  auto count = [&](const tsql::ConstraintSyntax& constraint) {
    if (constraint.kind != tsql::ConstraintKind::kPrimaryKey &&
        constraint.kind != tsql::ConstraintKind::kUnique)
      return;
    if (constraint.clustered.value_or(false) && ++clustered > 1) throw MakeError(8112, {table});
  };
  for (const tsql::TableElementSyntax& element : elements) {
    if (element.constraint) count(*element.constraint);
    if (!element.column) continue;
    for (const tsql::ConstraintSyntax& constraint : element.column->constraints) count(constraint);
  }
}

}  // namespace

std::string TableElementSql(const tsql::Tokens& tokens, const tsql::TableElementSyntax& element,
                            bool identity_table, int column_number,
                            const StoredExpressions& expressions, bool nullable_by_default,
                            bool ansi_padding) {
  if (element.column)
    return ColumnSql(tokens, element, identity_table, column_number, expressions,
                     nullable_by_default, ansi_padding);
  ElementText text(tokens, identity_table, expressions);
  text.Constraint(*element.constraint, false);
  return text.Take();
}

bool HasIdentityColumn(const std::vector<tsql::TableElementSyntax>& elements) {
  for (const tsql::TableElementSyntax& element : elements) {
    if (element.column && element.column->identity) return true;
  }
  return false;
}

std::string SqliteTableName(const tsql::Tokens& tokens, std::size_t begin,
                            tsql::NameResolver& resolver) {
  tsql::DottedName name = tsql::ReadDottedName(tokens, begin);
  if (name.parts.empty()) tsql::SyntaxErrorAt(tokens, begin);
  // The tokens of the parts, null for an omitted one.
  std::vector<const tsql::Token*> parts;
  for (std::size_t i = begin; i < name.end; ++i) {
    if (tokens[i].IsName()) {
      parts.push_back(&tokens[i]);
    } else if (i + 1 < name.end && tokens[i + 1].IsSymbol(".")) {
      parts.push_back(nullptr);
    }
  }
  // The owner part has no place in SQLite's name: a database holds one
  // object of a name, and the caller has checked that the name reaches it.
  if (parts.back() == nullptr) tsql::SyntaxErrorAt(tokens, name.end);
  if (parts.size() == 3 && parts[0] != nullptr) {
    // tempdb..#t is the session's own #t.
    if (tsql::IsLocalTempName(parts[2]->value) && tsql::EqualsIgnoreCase(parts[0]->value, "tempdb"))
      return "temp." + NameText(*parts[2]);
    return tsql::QuoteSqliteName(resolver.SchemaFor(parts[0]->value)) + "." + NameText(*parts[2]);
  }
  if (parts.size() == 2 && parts[0] != nullptr) return NameText(*parts[1]);
  std::string text;
  for (const tsql::Token* part : parts) {
    if (part == nullptr) tsql::SyntaxErrorAt(tokens, name.end);
    text += (text.empty() ? "" : ".") + NameText(*part);
  }
  return text;
}

tsql::SqliteText TypedCreateTable(const tsql::Statement& statement, tsql::NameResolver& resolver,
                                  tsql::bind::Catalog& catalog, bool ansi_padding) {
  const tsql::Tokens& tokens = statement.tokens;
  tsql::CreateTableSyntax create = tsql::ParseCreateTable(tokens);
  StoredExpressions expressions(tokens, create.open + 1, create.close, create.name.Last(), {}, {},
                                catalog);
  bool temporary = tsql::IsLocalTempName(create.name.Last());
  tsql::SqliteText text;
  text.lines.emplace_back(0, tokens.front().line);
  text.sql = std::string(temporary ? "CREATE TEMP TABLE " : "CREATE TABLE ") +
             SqliteTableName(tokens, 2, resolver) + " (";
  bool identity_table = HasIdentityColumn(create.elements);
  bool nullable_by_default =
      catalog.ColumnsNullableByDefault(temporary ? std::string("tempdb") : create.name.Database());
  RefuseSecondRowVersion(create.elements, false, create.name.Last());
  RefuseSecondClusteredKey(create.elements, create.name.Last());
  // A PRIMARY KEY's columns take no NULL, whatever the default (SQLite's
  // own keys would take it).
  std::vector<std::string> key_columns;
  for (const tsql::TableElementSyntax& element : create.elements) {
    if (element.constraint && element.constraint->kind == tsql::ConstraintKind::kPrimaryKey)
      key_columns.insert(key_columns.end(), element.constraint->columns.begin(),
                         element.constraint->columns.end());
  }
  auto keyed = [&](const tsql::ColumnSyntax& column) {
    for (const tsql::ConstraintSyntax& constraint : column.constraints) {
      if (constraint.kind == tsql::ConstraintKind::kPrimaryKey) return true;
    }
    return std::any_of(key_columns.begin(), key_columns.end(), [&](const std::string& name) {
      return tsql::EqualsIgnoreCase(name, column.name.value);
    });
  };
  int column_number = 0;
  for (std::size_t k = 0; k < create.elements.size(); ++k) {
    const tsql::TableElementSyntax& element = create.elements[k];
    if (element.column) ++column_number;
    text.sql += k == 0 ? " " : " , ";
    text.lines.emplace_back(text.sql.size(), tokens[element.range.begin].line);
    text.sql += TableElementSql(tokens, element, identity_table, column_number, expressions,
                                nullable_by_default && !(element.column && keyed(*element.column)),
                                ansi_padding);
  }
  text.sql += " )";
  return text;
}

std::vector<tsql::SqliteText> TypedAlterTable(const tsql::Statement& statement,
                                              tsql::NameResolver& resolver,
                                              tsql::bind::Catalog& catalog,
                                              AppendedColumns* appended, bool ansi_padding) {
  const tsql::Tokens& tokens = statement.tokens;
  std::optional<tsql::AlterTableSyntax> alter = tsql::ParseAlterTable(tokens);
  if (!alter) return {};
  std::string head = "ALTER TABLE " + SqliteTableName(tokens, 2, resolver);
  std::vector<tsql::SqliteText> statements;
  auto add = [&](std::string sql, int line) {
    tsql::SqliteText text;
    text.sql = std::move(sql);
    text.lines.emplace_back(0, line);
    statements.push_back(std::move(text));
  };
  for (const std::string& column : alter->dropped_columns)
    add(head + " DROP COLUMN " + tsql::QuoteSqliteName(column), statement.line);
  if (alter->added.empty()) return statements;
  std::vector<std::string> name = alter->name.parts;
  std::optional<tsql::bind::TableShape> table = catalog.FindTable(name);
  std::vector<Column> known = table ? table->columns : std::vector<Column>{};
  std::vector<bool> known_computed = table ? table->computed_columns : std::vector<bool>{};
  std::size_t end = tokens.size();
  if (tokens.back().kind == tsql::TokenKind::kEnd) --end;
  StoredExpressions expressions(tokens, alter->add + 1, end, alter->name.Last(), known,
                                known_computed, catalog, /*added_columns=*/true);
  bool identity_table = HasIdentityColumn(alter->added);
  bool has_row_version = false;
  for (const Column& column : known) {
    identity_table = identity_table || column.type.identity;
    has_row_version = has_row_version || column.type.row_version;
  }
  RefuseSecondRowVersion(alter->added, has_row_version, alter->name.Last());
  bool nullable_by_default = catalog.ColumnsNullableByDefault(
      tsql::IsLocalTempName(alter->name.Last()) ? std::string("tempdb") : alter->name.Database());
  for (const tsql::TableElementSyntax& element : alter->added) {
    // SQLite adds columns alone; a table constraint is ALTER TABLE ADD CONSTRAINT's.
    if (!element.column) tsql::SyntaxErrorAt(tokens, element.range.begin);
    const tsql::ColumnSyntax& column = *element.column;
    std::optional<ColumnType> type =
        column.type_name ? tsql::ColumnTypeFromName(column.type_name->value, column.type_arguments)
                         : std::nullopt;
    bool row_version = type && type->row_version;
    if (!column.identity && column.computed.Empty() && !DefaultOf(column) && !row_version &&
        !IsNullable(column, nullable_by_default)) {
      throw MakeError(4901, {column.name.value, alter->name.Last()});
    }
  }
  if (appended != nullptr && AppendsColumns(alter->added, expressions)) {
    // SQLite's ADD COLUMN would refuse the default: the columns go into the
    // definition together, then one UPDATE gives the rows their values.
    appended->schema = tsql::IsLocalTempName(alter->name.Last()) ? std::string("temp")
                       : alter->name.Database().empty()
                           ? std::string("main")
                           : resolver.SchemaFor(alter->name.Database());
    appended->table = alter->name.Last();
    std::string values;
    int column_number = static_cast<int>(known.size());
    for (const tsql::TableElementSyntax& element : alter->added) {
      appended->elements.push_back(TableElementSql(tokens, element, identity_table, ++column_number,
                                                   expressions, nullable_by_default,
                                                   ansi_padding));
      const tsql::ColumnSyntax& column = *element.column;
      const tsql::ConstraintSyntax* given = DefaultOf(column);
      const std::string* stored = given ? expressions.StoredAt(given->expression.begin) : nullptr;
      bool filled =
          stored != nullptr && (given->with_values || !IsNullable(column, nullable_by_default));
      values += (values.empty() ? "" : ", ") + tsql::QuoteSqliteName(column.name.value) + " = " +
                (filled ? GeneratedSql(*stored) : std::string("NULL"));
    }
    add("UPDATE " + SqliteTableName(tokens, 2, resolver) + " SET " + values, statement.line);
    return statements;
  }
  int column_number = static_cast<int>(known.size());
  for (const tsql::TableElementSyntax& element : alter->added) {
    ++column_number;
    int line = tokens[element.range.begin].line;
    add(head + " ADD " +
            TableElementSql(tokens, element, identity_table, column_number, expressions,
                            nullable_by_default, ansi_padding),
        line);
    // The rows already there take a nullable column's DEFAULT only WITH VALUES;
    // SQLite reads the default for them unless they hold a value.
    const tsql::ColumnSyntax& column = *element.column;
    if (column.identity || !column.computed.Empty()) continue;
    if (!IsNullable(column, nullable_by_default)) continue;
    for (const tsql::ConstraintSyntax& constraint : column.constraints) {
      if (constraint.kind != tsql::ConstraintKind::kDefault || constraint.with_values) continue;
      add("UPDATE " + SqliteTableName(tokens, 2, resolver) + " SET " +
              tsql::QuoteSqliteName(column.name.value) + " = NULL",
          line);
    }
  }
  return statements;
}

}  // namespace sqlengine::exec
