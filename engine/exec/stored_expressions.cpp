#include "engine/exec/stored_expressions.h"

#include <cctype>

#include <memory>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/table_element_syntax.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kWrittenOpen = "/*sqlengine_tsql ";
constexpr std::string_view kWrittenClose = "*/";

std::size_t MatchingClose(const tsql::Tokens& tokens, std::size_t open, std::size_t end) {
  int depth = 0;
  for (std::size_t i = open; i < end; ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  return end;
}

std::string EncodeWritten(std::string_view text) {
  std::string encoded;
  for (char c : text) {
    if (c == '%') {
      encoded += "%25";
    } else if (c == '*') {
      encoded += "%2A";
    } else {
      encoded.push_back(c);
    }
  }
  return encoded;
}

std::string DecodeWritten(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && text.substr(i, 3) == "%25") {
      decoded.push_back('%');
      i += 2;
    } else if (text[i] == '%' && text.substr(i, 3) == "%2A") {
      decoded.push_back('*');
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

// The batch text of tokens [begin, end) as written (their spacing included
// while they stand on one line; a line break becomes a space).
std::string WrittenText(const tsql::Tokens& tokens, std::size_t begin, std::size_t end) {
  std::string text;
  for (std::size_t i = begin; i < end; ++i) {
    if (i > begin) {
      const tsql::Token& before = tokens[i - 1];
      bool adjacent =
          before.line == tokens[i].line && before.offset + before.text.size() == tokens[i].offset;
      if (!adjacent) text.push_back(' ');
    }
    text += tokens[i].text;
  }
  return text;
}

// Whether `expr` reads anything but the row and constants: SQLite keeps
// no subquery, aggregate or variable in a table's definition.
bool StaysInRow(const tsql::bind::BoundExpr& expr) {
  switch (expr.kind) {
    case tsql::bind::BoundKind::kSubquery:
    case tsql::bind::BoundKind::kExists:
    case tsql::bind::BoundKind::kInQuery:
    case tsql::bind::BoundKind::kQuantified:
    case tsql::bind::BoundKind::kAggregate:
    case tsql::bind::BoundKind::kParameter:
    case tsql::bind::BoundKind::kGrouping:
    case tsql::bind::BoundKind::kGroupingColumn:
      return false;
    default:
      break;
  }
  for (const auto& arg : expr.args) {
    if (arg && !StaysInRow(*arg)) return false;
  }
  return true;
}

// The session's catalog, but a user function is called by its name: the
// binder would take a one-RETURN body into the table's definition, which
// must follow the function as it changes later.
class DefinitionCatalog final : public tsql::bind::Catalog {
 public:
  explicit DefinitionCatalog(tsql::bind::Catalog& session) : session_(session) {}
  std::optional<tsql::bind::TableShape> FindTable(const std::vector<std::string>& name) override {
    return session_.FindTable(name);
  }
  bool ObjectExists(const std::vector<std::string>& name) override {
    return session_.ObjectExists(name);
  }
  std::optional<ColumnType> VariableType(std::string_view name) override {
    return session_.VariableType(name);
  }
  std::optional<tsql::bind::FunctionShape> FindFunction(
      const std::vector<std::string>& name) override {
    std::optional<tsql::bind::FunctionShape> function = session_.FindFunction(name);
    if (function) function->expression.reset();
    return function;
  }

 private:
  tsql::bind::Catalog& session_;
};

bool EndsDefault(const tsql::Token& token) {
  return token.IsAnyWord({"constraint", "primary", "unique", "check", "references", "foreign",
                          "not", "null", "collate", "identity", "rowguidcol", "with", "for"});
}

// A column definition's name and type, when its type is one the engine knows.
std::optional<Column> DefinedColumn(const tsql::Tokens& tokens, std::size_t begin,
                                    std::size_t end) {
  if (begin + 1 >= end || !tokens[begin].IsName() || !tokens[begin + 1].IsName()) return {};
  if (tokens[begin + 1].IsWord("as")) return {};
  std::vector<std::string> arguments;
  std::size_t i = begin + 2;
  if (i < end && tokens[i].IsSymbol("(")) {
    std::size_t close = MatchingClose(tokens, i, end);
    for (std::size_t k = i + 1; k < close; ++k) {
      if (!tokens[k].IsSymbol(",")) arguments.push_back(tokens[k].text);
    }
    i = close + 1;
  }
  std::optional<ColumnType> type = tsql::ColumnTypeFromName(tokens[begin + 1].value, arguments);
  if (!type) return {};
  for (; i < end; ++i) {
    if (tokens[i].IsWord("identity")) type->identity = true;
    if (tokens[i].IsWord("collate") && i + 1 < end) {
      tsql::ApplyCollation(tokens[i + 1].value, *type);
    }
  }
  return Column{tokens[begin].value, *type};
}

bool StartsTableConstraint(const tsql::Token& token) {
  return token.IsAnyWord({"constraint", "primary", "unique", "foreign", "check"});
}

// [from, stop) as an SQLite literal when it is one number or string, maybe
// signed and in parentheses; nullopt for anything else.
std::optional<std::string> LiteralSql(const tsql::Tokens& t, std::size_t from, std::size_t stop) {
  while (from < stop && t[from].IsSymbol("(") && t[stop - 1].IsSymbol(")")) ++from, --stop;
  std::string sign;
  if (from < stop && (t[from].IsSymbol("-") || t[from].IsSymbol("+"))) {
    if (t[from].IsSymbol("-")) sign = "-";
    ++from;
  }
  if (from + 1 != stop) return std::nullopt;
  const tsql::Token& token = t[from];
  if (token.kind == tsql::TokenKind::kNumber) return sign + token.text;
  bool text = token.kind == tsql::TokenKind::kString ||
              token.kind == tsql::TokenKind::kNationalString;
  if (!text || !sign.empty()) return std::nullopt;
  return tsql::QuoteSqliteString(token.value);
}

}  // namespace

StoredExpressions::StoredExpressions(const tsql::Tokens& tokens, std::size_t first, std::size_t end,
                                     const std::string& table, const std::vector<Column>& known,
                                     const std::vector<bool>& known_computed,
                                     tsql::bind::Catalog& catalog, bool added_columns)
    : source_(tokens), added_columns_(added_columns), table_(table), catalog_(catalog) {
  for (std::size_t k = 0; k < known.size() && k < known_computed.size(); ++k) {
    if (known_computed[k]) computed_.push_back(known[k].name);
  }
  // The elements at the top level of [first, end).
  std::vector<std::pair<std::size_t, std::size_t>> elements;
  for (std::size_t begin = first; begin < end;) {
    std::size_t stop = tsql::ElementEnd(tokens, begin, end);
    if (stop > begin) elements.emplace_back(begin, stop);
    begin = stop + 1;
  }
  std::vector<Column> columns = known;
  for (const auto& [begin, stop] : elements) {
    if (StartsTableConstraint(tokens[begin])) continue;
    if (stop > begin + 1 && tokens[begin + 1].IsWord("as"))
      computed_.push_back(tokens[begin].value);
    std::optional<Column> column = DefinedColumn(tokens, begin, stop);
    if (!column) continue;
    // A known column keeps its own type (ALTER TABLE ADD DEFAULT writes the
    // clause on a stand-in declaration).
    bool replaced = false;
    for (const Column& other : columns)
      replaced = replaced || tsql::EqualsIgnoreCase(other.name, column->name);
    if (!replaced) columns.push_back(std::move(*column));
  }
  for (const auto& [begin, stop] : elements) Element(begin, stop, columns);
}

void StoredExpressions::Element(std::size_t begin, std::size_t end,
                                const std::vector<Column>& columns) {
  const tsql::Tokens& t = source_;
  std::optional<ColumnType> type;
  std::size_t i = begin;
  if (!StartsTableConstraint(t[begin])) {
    if (begin + 1 < end && t[begin + 1].IsWord("as")) {
      Computed(begin, end, columns);
      return;
    }
    for (const Column& column : columns) {
      if (tsql::EqualsIgnoreCase(column.name, t[begin].value)) type = column.type;
    }
    i = begin + 2;
  }
  while (i < end) {
    if (t[i].IsSymbol("(")) {
      i = MatchingClose(t, i, end) + 1;
      continue;
    }
    if (t[i].IsWord("check")) {
      std::size_t open = i + 1;
      while (open < end && !t[open].IsSymbol("(")) ++open;  // NOT FOR REPLICATION
      if (open >= end) return;
      std::size_t close = MatchingClose(t, open, end);
      if (close >= end) return;
      std::string stored = Bind(open, close + 1, true, std::nullopt, columns);
      if (!stored.empty()) replacements_.push_back(Replacement{open, close + 1, std::move(stored)});
      i = close + 1;
      continue;
    }
    if (t[i].IsWord("default") && type) {
      std::size_t from = i + 1;
      std::size_t stop = from;
      while (stop < end && !(stop > from && EndsDefault(t[stop]))) {
        stop = t[stop].IsSymbol("(") ? MatchingClose(t, stop, end) + 1 : stop + 1;
      }
      stop = std::min(stop, end);
      std::size_t written = replacements_.size();
      if (added_columns_) AddedColumnDefault(i, stop, *type);
      // SQLite's ADD COLUMN takes a constant DEFAULT alone: a literal stays as
      // written there (the column's triggers put what it gives in form).
      if (replacements_.size() == written && added_columns_) {
        if (std::optional<std::string> literal = LiteralSql(t, from, stop))
          replacements_.push_back(Replacement{from, stop, WithWrittenText(*literal, from, stop)});
      }
      if (replacements_.size() > written) {
        i = stop;
        continue;
      }
      if (stop > from && !(stop == from + 1 && t[from].IsWord("null"))) {
        ColumnType stored_as = *type;
        stored_as.identity = false;
        std::string stored = Bind(from, stop, false, stored_as, {});
        if (!stored.empty()) replacements_.push_back(Replacement{from, stop, std::move(stored)});
      }
      i = stop;
      continue;
    }
    ++i;
  }
}

void StoredExpressions::AddedColumnDefault(std::size_t i, std::size_t end,
                                           const ColumnType& type) {
  if (!values::IsExactType(type.type) || EngineExactForm() != tsql::generate::ExactForm::kStored)
    return;
  const tsql::Tokens& t = source_;
  for (; i < end; ++i) {
    if (t[i].IsSymbol("(")) {
      i = MatchingClose(t, i, end);
      continue;
    }
    if (!t[i].IsWord("default")) continue;
    std::size_t at = i + 1;
    std::size_t opened = 0;
    while (at < end && t[at].IsSymbol("(")) ++at, ++opened;
    std::string number;
    if (at < end && (t[at].IsSymbol("-") || t[at].IsSymbol("+"))) {
      if (t[at].IsSymbol("-")) number = "-";
      ++at;
    }
    if (at >= end || t[at].kind != tsql::TokenKind::kNumber) return;
    number += t[at].text;
    std::optional<std::string> stored = tsql::generate::ExactLiteral(number, type);
    if (!stored) {
      throw MakeError(8115, {"numeric", type.type == SqlType::kDecimal
                                            ? std::string("numeric")
                                            : std::string(tsql::TypeName(type.type))});
    }
    std::size_t stop = std::min(at + 1 + opened, end);
    replacements_.push_back(Replacement{i + 1, stop, WithWrittenText(*stored, i + 1, stop)});
    return;
  }
}

// `sql` with its GETDATE(), GETUTCDATE(), NEWID() and RAND() calls made the
// per-row forms a generated column may hold, each given `row_column`, and its
// user function and built-in calls made sqlengine_row_user_function(...) and
// sqlengine_row_builtin(...), the forms SQLite
// lets a generated column hold (its value is still computed at each read).
static std::string PerRowCalls(const std::string& sql, const std::string& row_column) {
  static constexpr std::string_view kCalls[] = {"getdate()", "getutcdate()", "newid()", "rand()"};
  static constexpr std::string_view kUserCalls[] = {
      "sqlengine_user_function(", "sqlengine_user_function_in(", "sqlengine_builtin("};
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'') quoted = !quoted;
    bool word_start = i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) ||
                                  sql[i - 1] == '_' || sql[i - 1] == '"');
    std::string_view matched;
    std::string_view user_call;
    auto at = [&](std::string_view call) {
      return sql.size() - i >= call.size() &&
             tsql::EqualsIgnoreCase(std::string_view(sql).substr(i, call.size()), call);
    };
    if (!quoted && word_start) {
      for (std::string_view call : kCalls) {
        if (at(call)) matched = call;
      }
      for (std::string_view call : kUserCalls) {
        if (at(call)) user_call = call;
      }
    }
    if (!quoted && word_start && matched.empty() && user_call.empty()) {
      // Any other engine function that is not deterministic (HOST_NAME(),
      // USER_NAME() ...): its sqlengine_row_ form.
      std::size_t stop = i;
      while (stop < sql.size() &&
             (std::isalnum(static_cast<unsigned char>(sql[stop])) || sql[stop] == '_'))
        ++stop;
      std::string name = tsql::ToLower(sql.substr(i, stop - i));
      if (stop > i && stop < sql.size() && sql[stop] == '(' && HasPerRowForm(name)) {
        out += "sqlengine_row_" + name;
        i = stop;
        continue;
      }
    }
    if (!user_call.empty()) {
      out += "sqlengine_row_" + std::string(user_call.substr(std::string_view("sqlengine_").size()));
      i += user_call.size();
      continue;
    }
    if (matched.empty()) {
      out += c;
      ++i;
      continue;
    }
    out += "sqlengine_row_" + tsql::ToLower(matched.substr(0, matched.size() - 2)) + "(" +
           row_column + ")";
    i += matched.size();
  }
  return out;
}

void StoredExpressions::Computed(std::size_t begin, std::size_t end,
                                 const std::vector<Column>& columns) {
  // A computed column reads the table's other columns, never a computed one.
  auto is_computed = [&](const std::string& name) {
    for (const std::string& computed : computed_) {
      if (tsql::EqualsIgnoreCase(computed, name)) return true;
    }
    return false;
  };
  std::vector<Column> plain;
  for (const Column& column : columns) {
    if (!is_computed(column.name)) plain.push_back(column);
  }
  ColumnType type;
  std::string stored;
  try {
    stored = Bind(begin + 2, end, false, std::nullopt, plain, &type);
  } catch (const SqlError& error) {
    if (error.message().number != 207) throw;
    for (const std::string& name : computed_) {
      if (error.message().text.find("'" + name + "'") != std::string::npos)
        throw MakeError(1759, {name, table_});
    }
    throw;
  }
  if (stored.empty()) return;
  std::string declaration = tsql::TypeDeclaration(type);
  if (declaration.find("(max)") != std::string::npos)
    declaration = tsql::QuoteSqliteName(declaration);
  if (tsql::IsCharacterType(type.type))
    declaration += " COLLATE " +
                   std::string(tsql::SqliteCollation(type, tsql::bind::IsNational(type.type)));
  // The written text follows the generated expression, as for a DEFAULT.
  std::size_t comment = stored.find(kWrittenOpen);
  std::string expression = stored.substr(0, comment);
  while (!expression.empty() && expression.back() == ' ') expression.pop_back();
  // Computed when read, as SQL Server computes a column that is not persisted.
  expression = PerRowCalls(
      expression, plain.empty() ? std::string("NULL") : tsql::QuoteSqliteName(plain.front().name));
  replacements_.push_back(Replacement{
      begin + 1, end,
      declaration + " GENERATED ALWAYS AS " + expression + " VIRTUAL " + stored.substr(comment)});
}

std::string StoredExpressions::Bind(std::size_t begin, std::size_t end, bool predicate,
                                    const std::optional<ColumnType>& stored_as,
                                    const std::vector<Column>& columns, ColumnType* type) {
  tsql::Tokens expression(source_.begin() + static_cast<std::ptrdiff_t>(begin),
                          source_.begin() + static_cast<std::ptrdiff_t>(end));
  std::unique_ptr<tsql::parse::Expr> parsed;
  try {
    parsed = tsql::parse::ParseExpression(expression);
  } catch (const tsql::parse::NotParsed& why) {
    NoteFallback("definition parse", why.what(), expression);
    return {};
  } catch (const SqlError& error) {
    if (ParserErrorStands(error)) throw;
    NoteFallback("definition parse", "syntax error", expression);
    return {};
  }
  std::string generated;
  try {
    std::unique_ptr<tsql::bind::BoundExpr> bound;
    try {
      DefinitionCatalog catalog(catalog_);
      bound =
          tsql::bind::BindTableExpression(*parsed, table_, columns, predicate, stored_as, catalog);
    } catch (const SqlError& error) {
      // A DEFAULT reaches no column.
      if (stored_as && error.message().number == 207) {
        std::string name = expression.front().value;
        for (const tsql::Token& token : expression) {
          if (token.IsName() && !token.IsWord("null")) {
            name = token.value;
            break;
          }
        }
        throw MakeError(128, {name});
      }
      throw;
    }
    if (!StaysInRow(*bound)) {
      NoteFallback("definition bind", "reads beyond the row", expression);
      return {};
    }
    if (type != nullptr) *type = bound->type;
    // Every file this engine writes holds its exact columns in one form; a
    // value is written in its column's.
    generated = tsql::generate::GenerateTableExpression(*bound, EngineExactForm());
    if (stored_as && EngineExactForm() == tsql::generate::ExactForm::kStored)
      generated = tsql::generate::ExactConverted(generated, bound->type, *stored_as);
  } catch (const tsql::bind::NotBound& why) {
    NoteFallback("definition bind", why.what(), expression);
    return {};
  }
  return WithWrittenText(generated, begin, end);
}

std::string StoredExpressions::WithWrittenText(const std::string& generated, std::size_t begin,
                                               std::size_t end) const {
  std::string written = WrittenText(source_, begin, end);
  return "(" + generated + ") " + std::string(kWrittenOpen) + EncodeWritten(written) +
         std::string(kWrittenClose);
}

const std::string* StoredExpressions::StoredAt(std::size_t begin) const {
  for (const Replacement& r : replacements_) {
    if (r.begin == begin) return &r.stored;
  }
  return nullptr;
}

std::string GeneratedSql(std::string_view stored) {
  std::string_view generated = stored.substr(0, stored.find(kWrittenOpen));
  while (!generated.empty() && generated.back() == ' ') generated.remove_suffix(1);
  return std::string(generated);
}

std::optional<WrittenExpression> ReadWrittenExpression(std::string_view sql, std::size_t at) {
  while (at < sql.size() && sql[at] == ' ') ++at;
  if (sql.substr(at, kWrittenOpen.size()) != kWrittenOpen) return std::nullopt;
  std::size_t from = at + kWrittenOpen.size();
  std::size_t close = sql.find(kWrittenClose, from);
  // Inside a disabled constraint's comment the close is kept escaped.
  std::size_t escaped = sql.find("*\\/", from);
  if (escaped != std::string_view::npos && (close == std::string_view::npos || escaped < close)) {
    return WrittenExpression{DecodeWritten(sql.substr(from, escaped - from)), escaped + 3};
  }
  if (close == std::string_view::npos) return std::nullopt;
  return WrittenExpression{DecodeWritten(sql.substr(from, close - from)),
                           close + kWrittenClose.size()};
}

std::vector<ComputedColumnText> ReadComputedColumns(sqlite3* db, const std::string& schema) {
  std::string quoted = tsql::QuoteSqliteName(schema);
  catalog::PreparedStatement columns = catalog::Prepare(
      db, "SELECT m.name, c.name, c.cid FROM " + quoted +
              ".sqlite_master m JOIN pragma_table_xinfo(m.name, " +
              tsql::QuoteSqliteString(schema) +
              ") c WHERE m.type = 'table' AND c.hidden >= 2 "
              "AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
              "AND m.name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' ORDER BY m.rowid, c.cid");
  std::vector<ComputedColumnText> found;
  while (sqlite3_step(columns.get()) == SQLITE_ROW) {
    found.push_back(ComputedColumnText{catalog::ColumnText(columns.get(), 0),
                                       catalog::ColumnText(columns.get(), 1),
                                       sqlite3_column_int(columns.get(), 2) + 1, ""});
  }
  columns.reset();
  std::optional<TableDefinition> definition;
  for (ComputedColumnText& computed : found) {
    if (!definition || definition->table != computed.table)
      definition = ReadTableDefinition(db, schema, computed.table);
    if (!definition) continue;
    const TableDefinition::Element* element = definition->Column(computed.column);
    if (element == nullptr) continue;
    std::string_view text =
        std::string_view(definition->sql).substr(element->begin, element->end - element->begin);
    std::size_t comment = text.find(kWrittenOpen);
    if (comment == std::string_view::npos) continue;
    if (std::optional<WrittenExpression> written = ReadWrittenExpression(text, comment))
      computed.text = "(" + written->text + ")";
  }
  return found;
}

}  // namespace sqlengine::exec
