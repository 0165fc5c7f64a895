#include "engine/tsql/recursion_limit.h"

#include <algorithm>
#include <string>

#include "engine/common/error.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

constexpr int kMaxRecursionLimit = 32767;
constexpr std::string_view kLevelColumn = "sqlengine_level";

Token Made(TokenKind kind, std::string text, int line) {
  Token token;
  token.kind = kind;
  token.value = text;
  token.text = kind == TokenKind::kQuotedName ? "[" + text + "]" : std::move(text);
  token.line = line;
  return token;
}

// [begin, end) ranges of a query's members, split at UNION [ALL], EXCEPT and
// INTERSECT outside parentheses; `separators` gets the words between them.
std::vector<std::pair<size_t, size_t>> Members(const Tokens& query,
                                               std::vector<Tokens>& separators) {
  std::vector<std::pair<size_t, size_t>> members;
  size_t begin = 0;
  int depth = 0;
  for (size_t i = 0; i < query.size(); ++i) {
    if (query[i].IsSymbol("(")) ++depth;
    if (query[i].IsSymbol(")")) --depth;
    if (depth != 0 || !query[i].IsAnyWord({"union", "except", "intersect"})) continue;
    members.emplace_back(begin, i);
    Tokens separator{query[i]};
    if (i + 1 < query.size() && query[i + 1].IsWord("all")) separator.push_back(query[++i]);
    separators.push_back(separator);
    begin = i + 1;
  }
  members.emplace_back(begin, query.size());
  return members;
}

// Where a member's select list ends: its first FROM, WHERE, GROUP, HAVING
// or ORDER outside parentheses, else its end.
size_t SelectListEnd(const Tokens& query, size_t begin, size_t end) {
  int depth = 0;
  for (size_t i = begin; i < end; ++i) {
    if (query[i].IsSymbol("(")) ++depth;
    if (query[i].IsSymbol(")")) --depth;
    if (depth == 0 && query[i].IsAnyWord({"from", "where", "group", "having", "order"})) return i;
  }
  return end;
}

// The name a select-list item gives its column, or nullopt.
std::optional<Token> ItemName(const Tokens& query, size_t begin, size_t end) {
  if (begin >= end) return std::nullopt;
  for (size_t i = begin; i < end; ++i) {
    if (query[i].IsSymbol("*")) return std::nullopt;
  }
  const Token& last = query[end - 1];
  auto usable = [](const Token& token) {
    return token.kind == TokenKind::kQuotedName ||
           (token.kind == TokenKind::kWord && !IsReservedKeyword(token.text));
  };
  if (end - begin >= 3 && usable(query[begin]) && query[begin + 1].IsSymbol("="))
    return query[begin];
  if (!usable(last)) return std::nullopt;
  if (end - begin >= 2 && query[end - 2].IsWord("as")) return last;
  bool chain = true;  // name(.name)*
  for (size_t i = begin; i < end; ++i) {
    bool name_place = (i - begin) % 2 == 0;
    chain = chain && (name_place ? query[i].IsName() : query[i].IsSymbol("."));
  }
  if (chain && (end - begin) % 2 == 1) return last;
  const Token& before = query[end - 2];
  bool alias = before.kind != TokenKind::kSymbol || before.IsSymbol(")");
  return alias && !before.IsWord("as") ? std::optional<Token>(last) : std::nullopt;
}

std::optional<Tokens> ColumnNames(const Tokens& query, size_t begin, size_t end) {
  size_t i = begin + 1;  // after SELECT
  if (i < end && query[i].IsAnyWord({"all", "distinct"})) ++i;
  if (i < end && query[i].IsWord("top")) {
    i += (i + 1 < end && query[i + 1].IsSymbol("(")) ? 4 : 2;
    if (i < end && query[i].IsWord("percent")) ++i;
  }
  size_t list_end = SelectListEnd(query, i, end);
  Tokens names;
  size_t item = i;
  int depth = 0;
  for (size_t k = i; k <= list_end; ++k) {
    if (k < list_end && query[k].IsSymbol("(")) ++depth;
    if (k < list_end && query[k].IsSymbol(")")) --depth;
    if (k < list_end && !(depth == 0 && query[k].IsSymbol(","))) continue;
    std::optional<Token> name = ItemName(query, item, k);
    if (!name) return std::nullopt;
    names.push_back(*name);
    item = k + 1;
  }
  return names;
}

// The index of the member's one reference to the CTE `name` as a table, or
// nullopt when it has none or several.
std::optional<size_t> TableReference(const Tokens& query, size_t begin, size_t end,
                                     const Token& name) {
  std::optional<size_t> found;
  int count = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!query[i].IsName() || !EqualsIgnoreCase(query[i].value, name.value)) continue;
    bool qualifier = i + 1 < end && (query[i + 1].IsSymbol(".") || query[i + 1].IsSymbol("("));
    bool after_dot = i > begin && query[i - 1].IsSymbol(".");
    if (qualifier || after_dot) continue;
    ++count;
    found = i;
  }
  return count == 1 ? found : std::nullopt;
}

bool RefersTo(const Tokens& query, size_t begin, size_t end, const Token& name) {
  for (size_t i = begin; i < end; ++i) {
    if (query[i].IsName() && EqualsIgnoreCase(query[i].value, name.value)) return true;
  }
  return false;
}

// `cte` rewritten to count its levels, or nullopt when it is not recursive or
// cannot be.
std::optional<std::vector<CommonTableExpression>> Counted(const CommonTableExpression& cte,
                                                          int limit) {
  const Tokens& query = cte.query;
  std::vector<Tokens> separators;
  std::vector<std::pair<size_t, size_t>> members = Members(query, separators);
  bool recursive = false;
  for (auto [begin, end] : members) recursive = recursive || RefersTo(query, begin, end, cte.name);
  if (!recursive || members.size() < 2) return std::nullopt;
  // UNION without ALL ends a cycle by itself; counted levels would keep it going.
  for (const Tokens& separator : separators) {
    if (separator.size() != 2) return std::nullopt;
  }
  auto [anchor_begin, anchor_end] = members.front();
  if (RefersTo(query, anchor_begin, anchor_end, cte.name) ||
      !query[anchor_begin].IsWord("select")) {
    return std::nullopt;
  }
  Tokens columns = cte.columns;
  if (columns.empty()) {
    std::optional<Tokens> named = ColumnNames(query, anchor_begin, anchor_end);
    if (!named) return std::nullopt;
    columns = *named;
  }
  int line = cte.name.line;
  Token level_table = Made(TokenKind::kQuotedName, "sqlengine_level_" + cte.name.value, line);
  Tokens counted_query;
  for (size_t m = 0; m < members.size(); ++m) {
    auto [begin, end] = members[m];
    if (m > 0)
      counted_query.insert(counted_query.end(), separators[m - 1].begin(), separators[m - 1].end());
    if (!query[begin].IsWord("select")) return std::nullopt;
    size_t list_end = SelectListEnd(query, begin, end);
    Tokens level;  // the member's level column, with its comma
    level.push_back(Made(TokenKind::kSymbol, ",", line));
    std::optional<size_t> reference;
    if (!RefersTo(query, begin, end, cte.name)) {
      level.push_back(Made(TokenKind::kNumber, "0", line));
    } else {
      reference = TableReference(query, begin, end, cte.name);
      if (!reference) return std::nullopt;
      size_t after = *reference + 1;
      Token alias = cte.name;
      if (after < end && query[after].IsWord("as") && after + 1 < end) {
        alias = query[after + 1];
      } else if (after < end && (query[after].kind == TokenKind::kQuotedName ||
                                 (query[after].kind == TokenKind::kWord &&
                                  !IsReservedKeyword(query[after].text)))) {
        alias = query[after];
      }
      for (Token token :
           {Made(TokenKind::kWord, "sqlengine_recursion", line),
            Made(TokenKind::kSymbol, "(", line), alias, Made(TokenKind::kSymbol, ".", line),
            Made(TokenKind::kWord, std::string(kLevelColumn), line),
            Made(TokenKind::kSymbol, ",", line),
            Made(TokenKind::kNumber, std::to_string(limit), line),
            Made(TokenKind::kSymbol, ")", line)}) {
        level.push_back(token);
      }
    }
    for (size_t i = begin; i < end; ++i) {
      if (i == list_end) counted_query.insert(counted_query.end(), level.begin(), level.end());
      if (reference && i == *reference) {
        // The level table under the CTE's name, so `c.column` still reads it.
        counted_query.push_back(level_table);
        bool aliased =
            i + 1 < end &&
            (query[i + 1].IsWord("as") || query[i + 1].kind == TokenKind::kQuotedName ||
             (query[i + 1].kind == TokenKind::kWord && !IsReservedKeyword(query[i + 1].text)));
        if (!aliased) counted_query.push_back(cte.name);
        continue;
      }
      counted_query.push_back(query[i]);
    }
    if (list_end == end) counted_query.insert(counted_query.end(), level.begin(), level.end());
  }
  CommonTableExpression levels{level_table, columns, counted_query};
  levels.columns.push_back(Made(TokenKind::kWord, std::string(kLevelColumn), line));
  CommonTableExpression visible{cte.name, columns, {Made(TokenKind::kWord, "SELECT", line)}};
  for (size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) visible.query.push_back(Made(TokenKind::kSymbol, ",", line));
    visible.query.push_back(Made(TokenKind::kQuotedName, columns[k].value, line));
  }
  visible.query.push_back(Made(TokenKind::kWord, "FROM", line));
  visible.query.push_back(level_table);
  return std::vector<CommonTableExpression>{levels, visible};
}

}  // namespace

QueryHints TakeQueryHints(Tokens& tokens) {
  QueryHints hints;
  size_t option = tokens.size();
  int depth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[i].IsWord("option") && i + 1 < tokens.size() &&
        tokens[i + 1].IsSymbol("(")) {
      option = i;
      break;
    }
  }
  if (option == tokens.size()) return hints;
  auto at = [&](size_t i) -> const Token& {
    static const Token kEnd;
    return i < tokens.size() ? tokens[i] : kEnd;
  };
  size_t i = option + 2;
  while (true) {
    const Token& hint = at(i);
    if (hint.IsWord("maxrecursion")) {
      const Token& count = at(i + 1);
      if (count.kind != TokenKind::kNumber ||
          count.text.find_first_not_of("0123456789") != std::string::npos) {
        throw SyntaxError(count, &hint);
      }
      long value = std::strtol(count.text.c_str(), nullptr, 10);
      if (count.text.size() > 9 || value > kMaxRecursionLimit) {
        throw MakeError(310, {count.text, std::to_string(kMaxRecursionLimit)});
      }
      hints.max_recursion = static_cast<int>(value);
      i += 2;
    } else if (hint.IsAnyWord({"recompile", "fast", "maxdop", "force", "keep", "keepfixed",
                               "robust", "optimize", "hash", "order", "merge", "concat", "loop",
                               "expand"})) {
      // Plan hints: what they ask of a planner has no meaning here.
      int nested = 0;
      while (i < tokens.size() && !(nested == 0 && (at(i).IsSymbol(",") || at(i).IsSymbol(")")))) {
        if (at(i).IsSymbol("(")) ++nested;
        if (at(i).IsSymbol(")")) --nested;
        ++i;
      }
    } else {
      throw SyntaxError(hint, &tokens[i - 1]);
    }
    if (at(i).IsSymbol(",")) {
      ++i;
      continue;
    }
    if (!at(i).IsSymbol(")")) throw SyntaxError(at(i), &tokens[i - 1]);
    if (i + 1 != tokens.size()) throw SyntaxError(at(i + 1), &tokens[i]);
    break;
  }
  tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(option), tokens.end());
  return hints;
}

std::vector<CommonTableExpression> LimitRecursion(const std::vector<CommonTableExpression>& with,
                                                  int limit) {
  std::vector<CommonTableExpression> limited;
  for (const CommonTableExpression& cte : with) {
    std::optional<std::vector<CommonTableExpression>> counted =
        limit > 0 ? Counted(cte, limit) : std::nullopt;
    if (counted) {
      limited.insert(limited.end(), counted->begin(), counted->end());
    } else {
      limited.push_back(cte);
    }
  }
  return limited;
}

}  // namespace sqlengine::tsql
