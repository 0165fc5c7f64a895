#include "engine/tsql/table_element_syntax.h"

#include "engine/common/error.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

// Reads one statement's table elements; `end` bounds every look-ahead.
class ElementReader {
 public:
  ElementReader(const Tokens& tokens, std::size_t end) : tokens_(tokens), end_(end) {}

  const Token& At(std::size_t i) const {
    static const Token kEnd;
    return i < end_ ? tokens_[i] : (i < tokens_.size() ? tokens_[i] : kEnd);
  }
  bool Within(std::size_t i) const { return i < end_; }

  [[noreturn]] void Fail(std::size_t i) const {
    if (i < end_) throw SyntaxError(tokens_[i]);
    // Past the element: the token that stopped it, or the last one.
    if (i < tokens_.size() && tokens_[i].kind != TokenKind::kEnd) throw SyntaxError(tokens_[i]);
    throw SyntaxError(At(tokens_.size()), tokens_.empty() ? nullptr : &tokens_.back());
  }

  void Expect(std::size_t i, std::string_view symbol_or_word) const {
    if (!Within(i)) Fail(i);
    const Token& token = tokens_[i];
    if (token.IsSymbol(symbol_or_word) || token.IsWord(symbol_or_word)) return;
    Fail(i);
  }

  // The index of the parenthesis closing the one at `open`, within the element.
  std::size_t Close(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < end_; ++i) {
      if (tokens_[i].IsSymbol("(")) ++depth;
      if (tokens_[i].IsSymbol(")") && --depth == 0) return i;
    }
    Fail(end_);
  }

  // ( name [ASC | DESC], ... ) at `open`; returns the index after it.
  std::size_t NameList(std::size_t open, std::vector<std::string>& names,
                       std::vector<bool>* descending = nullptr) const {
    Expect(open, "(");
    std::size_t i = open + 1;
    while (true) {
      if (!Within(i) || !tokens_[i].IsName() || tokens_[i].IsAnyWord({"asc", "desc"})) Fail(i);
      names.push_back(tokens_[i].value);
      ++i;
      bool down = false;
      if (Within(i) && tokens_[i].IsAnyWord({"asc", "desc"})) {
        if (descending == nullptr) Fail(i);
        down = tokens_[i].IsWord("desc");
        ++i;
      }
      if (descending != nullptr) descending->push_back(down);
      if (Within(i) && tokens_[i].IsSymbol(",")) {
        ++i;
        continue;
      }
      Expect(i, ")");
      return i + 1;
    }
  }

  std::size_t References(std::size_t at, ReferencesSyntax& references) const {
    DottedName parent = ReadDottedName(tokens_, at);
    if (parent.parts.empty() || parent.end > end_ || parent.parts.size() > 3) Fail(at);
    references.table = parent;
    std::size_t i = parent.end;
    if (Within(i) && tokens_[i].IsSymbol("(")) i = NameList(i, references.columns);
    while (Within(i) && tokens_[i].IsWord("on")) {
      bool deletes = At(i + 1).IsWord("delete");
      if (!deletes && !At(i + 1).IsWord("update")) Fail(i + 1);
      std::string action;
      if (At(i + 2).IsWord("cascade")) {
        action = "CASCADE";
        i += 3;
      } else if (At(i + 2).IsWord("no") && At(i + 3).IsWord("action")) {
        action = "NO ACTION";
        i += 4;
      } else {
        Fail(i + 2);
      }
      std::string& target = deletes ? references.on_delete : references.on_update;
      if (!target.empty()) Fail(i - 1);
      target = action;
    }
    return i;
  }

  // A constraint starting at `i` (CONSTRAINT name, or the kind's word); for a
  // column's constraint `column` is true. Returns the index after it.
  std::size_t Constraint(std::size_t i, bool column, ConstraintSyntax& constraint) {
    constraint.begin = i;
    constraint.end = ConstraintBody(i, column, constraint);
    return constraint.end;
  }

  std::size_t ConstraintBody(std::size_t i, bool column, ConstraintSyntax& constraint) {
    if (tokens_[i].IsWord("constraint")) {
      if (!At(i + 1).IsName() || !Within(i + 1)) Fail(i + 1);
      constraint.name = tokens_[i + 1].value;
      i += 2;
    }
    const Token& kind = At(i);
    if (!Within(i)) Fail(i);
    if (kind.IsWord("primary") || kind.IsWord("unique")) {
      constraint.kind = kind.IsWord("primary") ? ConstraintKind::kPrimaryKey : ConstraintKind::kUnique;
      if (kind.IsWord("primary")) {
        Expect(i + 1, "key");
        ++i;
      }
      ++i;
      if (Within(i) && tokens_[i].IsAnyWord({"clustered", "nonclustered"})) {
        constraint.clustered = tokens_[i].IsWord("clustered");
        ++i;
      }
      if (!column || (Within(i) && tokens_[i].IsSymbol("("))) {
        if (column) Fail(i);
        i = NameList(i, constraint.columns, &constraint.descending);
      }
      return i;
    }
    if (kind.IsWord("foreign") || kind.IsWord("references")) {
      constraint.kind = ConstraintKind::kForeignKey;
      if (kind.IsWord("foreign")) {
        Expect(i + 1, "key");
        i += 2;
        if (!column) i = NameList(i, constraint.columns);
        Expect(i, "references");
      } else if (!column) {
        Fail(i);
      }
      constraint.references.emplace();
      return References(i + 1, *constraint.references);
    }
    if (kind.IsWord("check")) {
      constraint.kind = ConstraintKind::kCheck;
      Expect(i + 1, "(");
      std::size_t close = Close(i + 1);
      constraint.expression = {i + 1, close + 1};
      return close + 1;
    }
    if (kind.IsWord("default") && column) {
      constraint.kind = ConstraintKind::kDefault;
      constraint.expression = DefaultValue(i + 1);
      if (constraint.expression.Empty()) Fail(i + 1);
      std::size_t next = constraint.expression.end;
      if (Within(next) && tokens_[next].IsWord("with")) {
        Expect(next + 1, "values");
        constraint.with_values = true;
        next += 2;
      }
      return next;
    }
    Fail(i);
  }

  // A DEFAULT's value: everything up to the next clause of the column.
  TokenRange DefaultValue(std::size_t from) const {
    std::size_t stop = from;
    while (Within(stop) && !(stop > from && EndsDefault(tokens_[stop]))) {
      stop = tokens_[stop].IsSymbol("(") ? Close(stop) + 1 : stop + 1;
    }
    return {from, stop};
  }

  static bool EndsDefault(const Token& token) {
    return token.IsAnyWord({"constraint", "primary", "unique", "check", "references", "foreign",
                            "not", "null", "collate", "identity", "rowguidcol", "default",
                            "with"});
  }

  static bool StartsTableConstraint(const Token& token) {
    return token.IsAnyWord({"constraint", "primary", "unique", "foreign", "check"});
  }

  // A number as IDENTITY's seed or increment takes: [-]digits.
  std::size_t IdentityNumber(std::size_t i, std::string& number) const {
    number.clear();
    if (At(i).IsSymbol("-") || At(i).IsSymbol("+")) {
      if (At(i).IsSymbol("-")) number = "-";
      ++i;
    }
    if (!Within(i) || At(i).kind != TokenKind::kNumber) Fail(i);
    number += At(i).text;
    return i + 1;
  }

  void Column(std::size_t begin, ColumnSyntax& column) {
    column.name = tokens_[begin];
    std::size_t i = begin + 1;
    // A column named timestamp without a type is a timestamp column.
    if (tokens_[begin].IsWord("timestamp") &&
        (!Within(i) || tokens_[i].IsAnyWord({"null", "not", "constraint", "primary", "unique",
                                              "check", "default", "references", "foreign"}))) {
      column.type_name = tokens_[begin];
      column.clauses = i;
      Clauses(i, column);
      return;
    }
    if (!Within(i)) Fail(i);
    if (tokens_[i].IsWord("as")) {
      column.computed = {i + 1, end_};
      if (column.computed.Empty()) Fail(i + 1);
      return;
    }
    if (!tokens_[i].IsName()) Fail(i);
    column.type_name = tokens_[i];
    ++i;
    if (Within(i) && tokens_[i].IsSymbol("(")) {
      std::size_t close = Close(i);
      for (std::size_t k = i + 1; k < close; ++k) {
        if (tokens_[k].IsSymbol(",")) continue;
        column.type_arguments.push_back(tokens_[k].text);
      }
      i = close + 1;
    }
    column.clauses = i;
    Clauses(i, column);
  }

  // The clauses after a column's type, from `i` on.
  void Clauses(std::size_t i, ColumnSyntax& column) {
    while (Within(i)) {
      const Token& token = tokens_[i];
      if (token.IsWord("null")) {
        if (column.nullable) Fail(i);
        column.nullable = true;
        ++i;
      } else if (token.IsWord("not") && At(i + 1).IsWord("null") && Within(i + 1)) {
        if (column.nullable) Fail(i);
        column.nullable = false;
        i += 2;
      } else if (token.IsWord("collate")) {
        if (!Within(i + 1) || !At(i + 1).IsName() || !column.collation.empty()) Fail(i + 1);
        if (!IsKnownCollation(At(i + 1).value)) {
          SqlError error = MakeError(448, {At(i + 1).value});
          error.message().line = At(i + 1).line;
          throw error;
        }
        column.collation = At(i + 1).value;
        i += 2;
      } else if (token.IsWord("identity")) {
        if (column.identity) Fail(i);
        column.identity.emplace();
        ++i;
        if (Within(i) && tokens_[i].IsSymbol("(")) {
          i = IdentityNumber(i + 1, column.identity->seed);
          Expect(i, ",");
          i = IdentityNumber(i + 1, column.identity->increment);
          Expect(i, ")");
          ++i;
        }
      } else if (token.IsWord("rowguidcol")) {
        column.rowguidcol = true;
        ++i;
      } else if (token.IsAnyWord({"constraint", "primary", "unique", "foreign", "references",
                                  "check", "default"})) {
        ConstraintSyntax constraint;
        i = Constraint(i, true, constraint);
        column.constraints.push_back(std::move(constraint));
      } else {
        Fail(i);
      }
    }
  }

  TableElementSyntax Element(std::size_t begin) {
    TableElementSyntax element;
    element.range = {begin, end_};
    if (StartsTableConstraint(tokens_[begin])) {
      ConstraintSyntax constraint;
      std::size_t next = Constraint(begin, false, constraint);
      if (next < end_) Fail(next);
      element.constraint = std::move(constraint);
      return element;
    }
    if (!tokens_[begin].IsName() ||
        (tokens_[begin].kind == TokenKind::kWord && IsReservedKeyword(tokens_[begin].text))) {
      Fail(begin);
    }
    element.column.emplace();
    Column(begin, *element.column);
    return element;
  }

 private:
  const Tokens& tokens_;
  std::size_t end_;
};

std::size_t MatchingClose(const Tokens& tokens, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  SyntaxErrorAt(tokens, tokens.size());
}

bool AtEnd(const Tokens& tokens, std::size_t i) {
  return i >= tokens.size() || tokens[i].kind == TokenKind::kEnd;
}

}  // namespace

std::size_t ElementEnd(const Tokens& tokens, std::size_t begin, std::size_t end) {
  std::size_t stop = begin;
  int depth = 0;
  while (stop < end && !(depth == 0 && tokens[stop].IsSymbol(","))) {
    if (tokens[stop].IsSymbol("(")) ++depth;
    if (tokens[stop].IsSymbol(")")) --depth;
    ++stop;
  }
  return stop;
}

std::vector<TableElementSyntax> ParseTableElements(const Tokens& tokens, std::size_t begin,
                                                   std::size_t end) {
  std::vector<TableElementSyntax> elements;
  std::size_t at = begin;
  while (true) {
    std::size_t stop = ElementEnd(tokens, at, end);
    if (stop == at) SyntaxErrorAt(tokens, at);
    elements.push_back(ElementReader(tokens, stop).Element(at));
    if (stop >= end) break;
    at = stop + 1;
  }
  return elements;
}

CreateTableSyntax ParseCreateTable(const Tokens& statement) {
  CreateTableSyntax create;
  create.name = ReadDottedName(statement, 2);
  if (create.name.parts.empty() || create.name.parts.size() > 3) SyntaxErrorAt(statement, 2);
  create.open = create.name.end;
  if (TokenAt(statement, create.open).kind == TokenKind::kEnd ||
      !TokenAt(statement, create.open).IsSymbol("("))
    SyntaxErrorAt(statement, create.open);
  create.close = MatchingClose(statement, create.open);
  create.elements = ParseTableElements(statement, create.open + 1, create.close);
  if (!AtEnd(statement, create.close + 1)) SyntaxErrorAt(statement, create.close + 1);
  return create;
}

std::optional<AlterTableSyntax> ParseAlterTable(const Tokens& statement) {
  AlterTableSyntax alter;
  alter.name = ReadDottedName(statement, 2);
  if (alter.name.parts.empty() || alter.name.parts.size() > 3) SyntaxErrorAt(statement, 2);
  std::size_t i = alter.name.end;
  std::size_t end = statement.size();
  if (end > 0 && statement[end - 1].kind == TokenKind::kEnd) --end;
  const Token& verb = TokenAt(statement, i);
  if (verb.IsWord("add")) {
    alter.add = i;
    if (i + 1 >= end) SyntaxErrorAt(statement, i + 1);
    alter.added = ParseTableElements(statement, i + 1, end);
    return alter;
  }
  if (verb.IsWord("drop") && TokenAt(statement, i + 1).IsWord("column")) {
    i += 2;
    while (true) {
      if (i >= end || !statement[i].IsName()) SyntaxErrorAt(statement, i);
      alter.dropped_columns.push_back(statement[i].value);
      ++i;
      if (i < end && statement[i].IsSymbol(",")) {
        ++i;
        if (TokenAt(statement, i).IsWord("column")) ++i;
        continue;
      }
      if (i < end) SyntaxErrorAt(statement, i);
      return alter;
    }
  }
  return std::nullopt;
}

std::optional<AlterColumnSyntax> ParseAlterColumn(const Tokens& statement) {
  AlterColumnSyntax alter;
  alter.name = ReadDottedName(statement, 2);
  if (alter.name.parts.empty() || alter.name.parts.size() > 3) return std::nullopt;
  std::size_t i = alter.name.end;
  if (!TokenAt(statement, i).IsWord("alter") || !TokenAt(statement, i + 1).IsWord("column"))
    return std::nullopt;
  i += 2;
  std::size_t end = statement.size();
  if (end > 0 && statement[end - 1].kind == TokenKind::kEnd) --end;
  if (i >= end || !statement[i].IsName()) SyntaxErrorAt(statement, i);
  // A type is required: a computed expression (AS) or a bare name is no new definition.
  if (i + 1 >= end || !statement[i + 1].IsName() || statement[i + 1].IsWord("as"))
    SyntaxErrorAt(statement, i + 1);
  ElementReader reader(statement, end);
  alter.element.range = {i, end};
  alter.element.column.emplace();
  ColumnSyntax& column = *alter.element.column;
  reader.Column(i, column);
  // What only a new column may have.
  for (std::size_t k = column.clauses; k < end; ++k) {
    if (statement[k].IsAnyWord({"constraint", "primary", "unique", "foreign", "references",
                                "check", "default", "identity", "rowguidcol"}))
      SyntaxErrorAt(statement, k);
  }
  return alter;
}

std::optional<CreateIndexSyntax> ParseCreateIndex(const Tokens& statement) {
  CreateIndexSyntax index;
  std::size_t i = 1;
  if (TokenAt(statement, i).IsWord("unique")) {
    index.unique = true;
    ++i;
  }
  if (TokenAt(statement, i).IsAnyWord({"clustered", "nonclustered"})) {
    index.clustered = TokenAt(statement, i).IsWord("clustered");
    ++i;
  }
  if (!TokenAt(statement, i).IsWord("index")) return std::nullopt;
  ++i;
  if (!TokenAt(statement, i).IsName()) SyntaxErrorAt(statement, i);
  index.name = statement[i];
  ++i;
  if (!TokenAt(statement, i).IsWord("on")) SyntaxErrorAt(statement, i);
  index.table = ReadDottedName(statement, i + 1);
  if (index.table.parts.empty() || index.table.parts.size() > 3) SyntaxErrorAt(statement, i + 1);
  std::size_t open = index.table.end;
  if (!TokenAt(statement, open).IsSymbol("(")) SyntaxErrorAt(statement, open);
  std::size_t close = MatchingClose(statement, open);
  ElementReader reader(statement, close + 1);
  std::vector<std::string> names;
  std::vector<bool> descending;
  reader.NameList(open, names, &descending);
  for (std::size_t k = 0; k < names.size(); ++k)
    index.columns.push_back({names[k], descending[k]});
  std::size_t next = close + 1;
  if (TokenAt(statement, next).IsWord("with") &&
      TokenAt(statement, next + 1).IsWord("ignore_dup_key")) {
    index.ignore_dup_key = true;
    next += 2;
  }
  if (!AtEnd(statement, next)) SyntaxErrorAt(statement, next);
  return index;
}

std::optional<std::vector<DroppedIndexSyntax>> ParseDropIndex(const Tokens& statement) {
  if (!TokenAt(statement, 0).IsWord("drop") || !TokenAt(statement, 1).IsWord("index"))
    return std::nullopt;
  std::vector<DroppedIndexSyntax> dropped;
  std::size_t i = 2;
  while (true) {
    DottedName name = ReadDottedName(statement, i);
    // table.index, owner.table.index or db.owner.table.index.
    if (name.parts.size() < 2) SyntaxErrorAt(statement, name.end);
    DroppedIndexSyntax index;
    index.index = name.Last();
    name.parts.pop_back();
    if (name.parts.back().empty()) SyntaxErrorAt(statement, name.end);
    // A ##table is tempdb's, whatever is written before it.
    if (IsGlobalTempName(name.parts.back())) name.parts = {"tempdb", "", name.parts.back()};
    index.table = name;
    dropped.push_back(std::move(index));
    i = name.end;
    if (TokenAt(statement, i).IsSymbol(",")) {
      ++i;
      continue;
    }
    if (!AtEnd(statement, i)) SyntaxErrorAt(statement, i);
    return dropped;
  }
}

}  // namespace sqlengine::tsql
