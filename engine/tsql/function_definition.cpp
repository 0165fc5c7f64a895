#include "engine/tsql/function_definition.h"

#include "engine/common/error.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql {
namespace {

const Token& At(const Tokens& tokens, size_t i) {
  static const Token kEnd;
  return i < tokens.size() ? tokens[i] : kEnd;
}

[[noreturn]] void Fail(const Tokens& tokens, size_t i) {
  throw SyntaxError(At(tokens, i), i > 0 && i - 1 < tokens.size() ? &tokens[i - 1] : nullptr);
}

// The index of the ')' closing the '(' at `open`; fails at the end.
size_t Closing(const Tokens& tokens, size_t open) {
  int depth = 0;
  for (size_t i = open; i < tokens.size(); ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  Fail(tokens, tokens.size());
}

Tokens Slice(const Tokens& tokens, size_t begin, size_t end) {
  Tokens slice(tokens.begin() + static_cast<std::ptrdiff_t>(begin),
               tokens.begin() + static_cast<std::ptrdiff_t>(end));
  slice.emplace_back();
  return slice;
}

bool IsEnd(const Token& token) { return token.kind == TokenKind::kEnd; }

}  // namespace

const char* FunctionObjectType(FunctionKind kind) {
  switch (kind) {
    case FunctionKind::kScalar:
      return "FN";
    case FunctionKind::kInlineTable:
      return "IF";
    case FunctionKind::kMultiStatementTable:
      return "TF";
  }
  return "FN";
}

FunctionDefinition ParseFunctionDefinition(const Tokens& tokens) {
  FunctionDefinition definition;
  DottedName name = ReadDottedName(tokens, 2);
  if (name.parts.empty()) Fail(tokens, 2);
  definition.name = name.Last();
  definition.database = name.Database();
  size_t i = name.end;
  if (!At(tokens, i).IsSymbol("(")) Fail(tokens, i);
  size_t close = Closing(tokens, i);
  definition.parameters = ParseParameterDeclarations(Slice(tokens, i + 1, close));
  i = close + 1;
  if (!At(tokens, i).IsWord("returns")) Fail(tokens, i);
  ++i;
  if (At(tokens, i).IsWord("table")) {
    definition.kind = FunctionKind::kInlineTable;
    ++i;
  } else if (At(tokens, i).kind == TokenKind::kVariable) {
    definition.kind = FunctionKind::kMultiStatementTable;
    definition.table_variable = At(tokens, i).text;
    ++i;
    if (!At(tokens, i).IsWord("table")) Fail(tokens, i);
    ++i;
    if (!At(tokens, i).IsSymbol("(")) Fail(tokens, i);
    close = Closing(tokens, i);
    definition.table_columns = Slice(tokens, i + 1, close);
    i = close + 1;
  } else {
    const Token& type_word = At(tokens, i);
    if (!type_word.IsName()) Fail(tokens, i);
    ++i;
    std::vector<std::string> arguments;
    if (At(tokens, i).IsSymbol("(")) {
      close = Closing(tokens, i);
      for (size_t k = i + 1; k < close; ++k) {
        if (!tokens[k].IsSymbol(",")) arguments.push_back(tokens[k].text);
      }
      i = close + 1;
    }
    std::optional<ColumnType> type = ColumnTypeFromName(type_word.value, arguments);
    if (!type || type->type == SqlType::kText || type->type == SqlType::kNText ||
        type->type == SqlType::kImage) {
      SqlError error =
          MakeError(2715, {std::to_string(definition.parameters.size() + 1), type_word.value});
      error.message().line = type_word.line;
      throw error;
    }
    definition.returns = *type;
    definition.returns.nullable = true;
  }
  if (At(tokens, i).IsWord("with")) {
    // WITH ENCRYPTION | SCHEMABINDING [, ...]: encryption hides the text.
    do {
      definition.encrypted = definition.encrypted || At(tokens, i + 1).IsWord("encryption");
      i += 2;
    } while (At(tokens, i).IsSymbol(","));
  }
  if (At(tokens, i).IsWord("as")) ++i;
  if (definition.kind == FunctionKind::kInlineTable) {
    if (!At(tokens, i).IsWord("return")) Fail(tokens, i);
    ++i;
    size_t end = tokens.size();
    while (end > i && (IsEnd(tokens[end - 1]) || tokens[end - 1].IsSymbol(";"))) --end;
    if (At(tokens, i).IsSymbol("(") && Closing(tokens, i) == end - 1) {
      definition.body = Slice(tokens, i + 1, end - 1);
    } else {
      definition.body = Slice(tokens, i, end);
    }
    if (!At(definition.body, 0).IsWord("select")) Fail(tokens, i);
    return definition;
  }
  if (!At(tokens, i).IsWord("begin")) Fail(tokens, i);
  size_t end = tokens.size();
  while (end > i && IsEnd(tokens[end - 1])) --end;
  definition.body = Slice(tokens, i, end);
  return definition;
}

std::optional<std::vector<Column>> TableFunctionColumns(const FunctionDefinition& definition) {
  if (definition.kind != FunctionKind::kMultiStatementTable) return std::nullopt;
  const Tokens& tokens = definition.table_columns;
  std::vector<Column> columns;
  size_t i = 0;
  while (i < tokens.size() && !IsEnd(tokens[i])) {
    // One definition runs to the next comma outside parentheses.
    size_t end = i;
    for (int depth = 0; end < tokens.size() && !IsEnd(tokens[end]); ++end) {
      if (tokens[end].IsSymbol("(")) ++depth;
      if (tokens[end].IsSymbol(")")) --depth;
      if (depth == 0 && tokens[end].IsSymbol(",")) break;
    }
    const Token& first = tokens[i];
    bool constraint =
        first.IsAnyWord({"constraint", "primary", "unique", "check", "foreign", "index"});
    if (!constraint) {
      if (!first.IsName() || i + 1 >= end || !tokens[i + 1].IsName()) return std::nullopt;
      size_t k = i + 2;
      std::vector<std::string> arguments;
      if (k < end && tokens[k].IsSymbol("(")) {
        for (++k; k < end && !tokens[k].IsSymbol(")"); ++k) {
          if (!tokens[k].IsSymbol(",")) arguments.push_back(tokens[k].text);
        }
        ++k;
      }
      std::optional<ColumnType> type = ColumnTypeFromName(tokens[i + 1].value, arguments);
      if (!type) return std::nullopt;
      type->nullable = true;
      for (; k < end; ++k) {
        if (tokens[k].IsWord("not") && k + 1 < end && tokens[k + 1].IsWord("null"))
          type->nullable = false;
        if (tokens[k].IsWord("primary")) type->nullable = false;
        if (tokens[k].IsWord("identity")) {
          type->identity = true;
          type->nullable = false;
        }
      }
      columns.push_back(Column{first.value, *type});
    }
    i = end < tokens.size() && tokens[end].IsSymbol(",") ? end + 1 : end;
  }
  if (columns.empty()) return std::nullopt;
  return columns;
}

std::optional<Tokens> SingleReturnExpression(const FunctionDefinition& definition) {
  if (definition.kind != FunctionKind::kScalar) return std::nullopt;
  const Tokens& body = definition.body;
  size_t end = body.size();
  while (end > 0 && (IsEnd(body[end - 1]) || body[end - 1].IsSymbol(";"))) --end;
  if (end < 4 || !body[0].IsWord("begin") || !body[1].IsWord("return") ||
      !body[end - 1].IsWord("end"))
    return std::nullopt;
  --end;
  while (end > 2 && body[end - 1].IsSymbol(";")) --end;
  if (end <= 2) return std::nullopt;
  // A statement after the RETURN's expression would start at depth 0 with
  // a word such as SELECT or SET: the expression parser refuses the rest.
  return Slice(body, 2, end);
}

}  // namespace sqlengine::tsql
