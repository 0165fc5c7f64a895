#include "engine/exec/exact_column_texts.h"

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/token.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;

struct Replacement {
  std::size_t begin, end;
  std::string text;
};

// The exact columns of the table by lower-case name.
std::map<std::string, ColumnType> ExactColumns(sqlite3* db, const std::string& schema,
                                               const std::string& table) {
  std::map<std::string, ColumnType> columns;
  catalog::PreparedStatement info =
      catalog::Prepare(db, "SELECT name, type FROM pragma_table_info(?, ?)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    if (std::optional<ColumnType> type = ExactType(catalog::ColumnText(info.get(), 1)))
      columns.emplace(tsql::ToLower(catalog::ColumnText(info.get(), 0)), *type);
  }
  return columns;
}

bool IsName(const Token& token) {
  return token.kind == TokenKind::kWord || token.kind == TokenKind::kQuotedName;
}

std::size_t EndOf(const Token& token) { return token.offset + token.text.size(); }

// The stored value of a written number (with its sign) for `type`; throws
// when it is past the type's range.
std::string StoredText(const std::string& number, const ColumnType& type,
                       const std::string& column) {
  std::optional<std::string> stored = tsql::generate::ExactLiteral(number, type);
  if (!stored) {
    throw std::runtime_error("the number " + number + " written for column '" + column +
                             "' lies outside its type");
  }
  return *stored;
}

// The number a comparison with a column of `type` compares the column's
// stored values with: the written number at the type's scale. A number of
// more decimals than the scale keeps its fraction (SQLite compares an
// integer with it as numbers do); a key form takes it only when exact.
std::string ComparedText(const std::string& number, const ColumnType& type,
                         const std::string& column) {
  std::string digits = number;
  bool negative = !digits.empty() && digits.front() == '-';
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.erase(0, 1);
  std::size_t point = digits.find('.');
  std::string whole = point == std::string::npos ? digits : digits.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : digits.substr(point + 1);
  int scale = values::RawScale(type);
  if (static_cast<int>(fraction.size()) <= scale || !values::StoredAsInteger(type))
    return StoredText(number, type, column);
  // The decimal point moved `scale` places to the right.
  std::string moved = whole + fraction.substr(0, static_cast<std::size_t>(scale)) + "." +
                      fraction.substr(static_cast<std::size_t>(scale));
  moved.erase(0, std::min(moved.find_first_not_of('0'), moved.find('.') - 1));
  return (negative ? "-" : "") + moved;
}

bool IsComparison(const Token& token) {
  for (const char* op : {"=", "<>", "!=", "<", ">", "<=", ">="})
    if (token.IsSymbol(op)) return true;
  return false;
}

// The index of the parenthesis closing the one at tokens[open], or `last`.
std::size_t MatchingClose(const tsql::Tokens& tokens, std::size_t open, std::size_t last) {
  int depth = 0;
  for (std::size_t i = open; i < last; ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  return last;
}

// Whether the parenthesised expression closing at tokens[close] is one the
// front end generated (its written text follows it): that one is already in
// the form of the file it was made for, or made again by the upgrade.
bool GeneratedByFrontEnd(std::string_view sql, const tsql::Tokens& tokens, std::size_t close) {
  return close < tokens.size() && ReadWrittenExpression(sql, EndOf(tokens[close])).has_value();
}

// A signed number at tokens[i]: its text and the index past it; nullopt when
// there is none.
std::optional<std::pair<std::string, std::size_t>> NumberAt(const tsql::Tokens& tokens,
                                                            std::size_t i) {
  std::string sign;
  if (i < tokens.size() && (tokens[i].IsSymbol("-") || tokens[i].IsSymbol("+"))) {
    sign = tokens[i].text == "-" ? "-" : "";
    ++i;
  }
  if (i >= tokens.size() || tokens[i].kind != TokenKind::kNumber) return std::nullopt;
  const std::string& text = tokens[i].text;
  if (text.find_first_of("eE") != std::string::npos) return std::nullopt;
  return std::make_pair(sign + text, i + 1);
}

// The DEFAULT clause of a column element [first, last): its value replaced.
void DefaultOf(std::string_view sql, const tsql::Tokens& tokens, std::size_t first,
               std::size_t last, const std::string& column, const ColumnType& type,
               std::vector<Replacement>& replacements) {
  int depth = 0;
  for (std::size_t i = first; i < last; ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")")) --depth;
    if (depth != 0 || !tokens[i].IsWord("default")) continue;
    std::size_t at = i + 1;
    if (at < last && tokens[at].IsSymbol("(") &&
        GeneratedByFrontEnd(sql, tokens, MatchingClose(tokens, at, last)))
      return;
    std::size_t opened = 0;
    while (at < last && tokens[at].IsSymbol("(")) ++at, ++opened;
    if (at < last && tokens[at].IsWord("null")) return;
    std::optional<std::pair<std::string, std::size_t>> number = NumberAt(tokens, at);
    std::size_t after = number ? number->second : at;
    std::size_t closed = 0;
    while (closed < opened && after + closed < last && tokens[after + closed].IsSymbol(")"))
      ++closed;
    if (!number || closed != opened) {
      throw std::runtime_error("the default of column '" + column +
                               "' is not a written number, which its stored form needs");
    }
    replacements.push_back({tokens[at].offset, EndOf(tokens[number->second - 1]),
                            StoredText(number->first, type, column)});
    return;
  }
}

// Comparisons of an exact column with a written number inside CHECK ( ... ).
void ChecksOf(std::string_view sql, const tsql::Tokens& tokens, std::size_t first,
              std::size_t last, const std::map<std::string, ColumnType>& exact,
              std::vector<Replacement>& replacements) {
  for (std::size_t i = first; i < last; ++i) {
    if (!tokens[i].IsWord("check") || i + 1 >= last || !tokens[i + 1].IsSymbol("(")) continue;
    std::size_t end = MatchingClose(tokens, i + 1, last);
    if (GeneratedByFrontEnd(sql, tokens, end)) {
      i = end;
      continue;
    }
    for (std::size_t k = i + 2; k < end; ++k) {
      if (!IsName(tokens[k])) continue;
      auto column = exact.find(tsql::ToLower(tokens[k].value));
      if (column == exact.end()) continue;
      // column op number
      if (k + 1 < end && IsComparison(tokens[k + 1])) {
        if (auto number = NumberAt(tokens, k + 2); number && number->second <= end) {
          replacements.push_back({tokens[k + 2].offset, EndOf(tokens[number->second - 1]),
                                  ComparedText(number->first, column->second, tokens[k].value)});
        }
      }
      // number op column
      if (k >= i + 3 && IsComparison(tokens[k - 1]) && tokens[k - 2].kind == TokenKind::kNumber) {
        std::size_t start = k - 2;
        if (start >= i + 3 && tokens[start - 1].IsSymbol("-") &&
            (tokens[start - 2].IsSymbol("(") || IsComparison(tokens[start - 2]) ||
             tokens[start - 2].IsWord("and") || tokens[start - 2].IsWord("or")))
          --start;
        if (auto number = NumberAt(tokens, start)) {
          replacements.push_back({tokens[start].offset, EndOf(tokens[k - 2]),
                                  ComparedText(number->first, column->second, tokens[k].value)});
        }
      }
    }
    i = end;
  }
}

// `sql` with every replacement made.
std::string Replaced(std::string sql, std::vector<Replacement> replacements) {
  std::sort(replacements.begin(), replacements.end(),
            [](const Replacement& a, const Replacement& b) { return a.begin > b.begin; });
  for (const Replacement& replacement : replacements)
    sql.replace(replacement.begin, replacement.end - replacement.begin, replacement.text);
  return sql;
}

}  // namespace

bool StoreExactColumnTexts(sqlite3* db, const std::string& schema, const std::string& table) {
  std::map<std::string, ColumnType> exact = ExactColumns(db, schema, table);
  if (exact.empty()) return false;
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) return false;
  tsql::Tokens tokens = tsql::Lex(definition->sql);
  std::vector<Replacement> replacements;
  for (const TableDefinition::Element& element : definition->elements) {
    std::size_t first = 0, last = 0;
    while (first < tokens.size() && tokens[first].offset < element.begin) ++first;
    last = first;
    while (last < tokens.size() && tokens[last].kind != TokenKind::kEnd &&
           tokens[last].offset < element.end)
      ++last;
    if (!element.column.empty()) {
      auto column = exact.find(tsql::ToLower(element.column));
      if (column != exact.end())
        DefaultOf(definition->sql, tokens, first, last, element.column, column->second,
                  replacements);
    }
    ChecksOf(definition->sql, tokens, first, last, exact, replacements);
  }
  // A CHECK switched off keeps its text in a comment, to be checked in the
  // stored form once switched on again.
  std::string sql = RewriteDisabledClauses(
      Replaced(definition->sql, std::move(replacements)),
      [&](const std::string&, const std::string& clause) {
        tsql::Tokens clause_tokens = tsql::Lex(clause);
        std::size_t last = clause_tokens.size();
        while (last > 0 && clause_tokens[last - 1].kind == TokenKind::kEnd) --last;
        std::vector<Replacement> found;
        ChecksOf(clause, clause_tokens, 0, last, exact, found);
        return Replaced(clause, std::move(found));
      });
  if (sql == definition->sql) return false;
  ReplaceTableDefinition(db, schema, *definition, sql);
  return true;
}

}  // namespace sqlengine::exec
