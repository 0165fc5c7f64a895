#include "engine/tsql/procedure_definition.h"

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

// Reads declarations from i up to `stop` (a word such as AS, or the end).
std::vector<ParameterDeclaration> ReadDeclarations(const Tokens& tokens, size_t& i, bool until_as) {
  std::vector<ParameterDeclaration> parameters;
  bool parenthesised = At(tokens, i).IsSymbol("(");
  if (parenthesised) ++i;
  while (i < tokens.size() && tokens[i].kind == TokenKind::kVariable) {
    ParameterDeclaration parameter;
    parameter.name = tokens[i++].text;
    if (At(tokens, i).IsWord("as")) ++i;
    const Token& type_word = At(tokens, i);
    if (!type_word.IsName()) throw SyntaxError(type_word, &tokens[i - 1]);
    ++i;
    std::vector<std::string> arguments;
    if (At(tokens, i).IsSymbol("(")) {
      ++i;
      while (i < tokens.size() && !tokens[i].IsSymbol(")")) {
        if (!tokens[i].IsSymbol(",")) arguments.push_back(tokens[i].text);
        ++i;
      }
      ++i;
    }
    std::optional<ColumnType> type = ColumnTypeFromName(type_word.value, arguments);
    if (!type) {
      SqlError error = MakeError(2715, {std::to_string(parameters.size() + 1), type_word.value});
      error.message().line = type_word.line;
      throw error;
    }
    parameter.type = *type;
    if (At(tokens, i).IsWord("varying")) ++i;
    if (At(tokens, i).IsSymbol("=")) {
      ++i;
      int depth = 0;
      while (i < tokens.size()) {
        const Token& token = tokens[i];
        if (depth == 0 && (token.IsSymbol(",") || token.IsWord("output") || token.IsWord("out") ||
                           (until_as && (token.IsWord("as") || token.IsWord("with"))) ||
                           (parenthesised && token.IsSymbol(")")))) {
          break;
        }
        if (token.IsSymbol("(")) ++depth;
        if (token.IsSymbol(")")) --depth;
        parameter.default_value.push_back(token);
        ++i;
      }
      if (parameter.default_value.empty()) throw SyntaxError(At(tokens, i), &tokens[i - 1]);
    }
    if (At(tokens, i).IsWord("output") || At(tokens, i).IsWord("out")) {
      parameter.output = true;
      ++i;
    }
    parameters.push_back(std::move(parameter));
    if (!At(tokens, i).IsSymbol(",")) break;
    ++i;
  }
  if (parenthesised) {
    if (!At(tokens, i).IsSymbol(")"))
      throw SyntaxError(At(tokens, i), i > 0 ? &tokens[i - 1] : nullptr);
    ++i;
  }
  return parameters;
}

}  // namespace

std::optional<int> GroupNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  int number = std::stoi(std::string(digits));
  if (number < 1 || number > 32767) return std::nullopt;
  return number;
}

ProcedureDefinition ParseProcedureDefinition(const Tokens& tokens) {
  ProcedureDefinition definition;
  DottedName name = ReadDottedName(tokens, 2);
  if (name.parts.empty()) throw SyntaxError(At(tokens, 2), &tokens[1]);
  definition.name = name.Last();
  definition.database = name.Database();
  size_t i = name.end;
  if (At(tokens, i).IsSymbol(";")) {
    const Token& number = At(tokens, i + 1);
    std::optional<int> group =
        number.kind == TokenKind::kNumber ? GroupNumber(number.text) : std::nullopt;
    if (!group) throw SyntaxError(number, &tokens[i]);
    definition.number = *group;
    i += 2;
  }
  definition.parameters = ReadDeclarations(tokens, i, /*until_as=*/true);
  if (At(tokens, i).IsWord("with")) {
    do {
      const Token& option = At(tokens, ++i);
      if (option.IsWord("encryption")) {
        definition.encrypted = true;
      } else if (option.IsWord("recompile")) {
        definition.recompile = true;
      } else if (option.IsName()) {
        if (!definition.unknown_option) definition.unknown_option = option;
      } else {
        throw SyntaxError(option, &tokens[i - 1]);
      }
    } while (At(tokens, ++i).IsSymbol(","));
  }
  if (At(tokens, i).IsWord("for") && At(tokens, i + 1).IsWord("replication")) i += 2;
  if (!At(tokens, i).IsWord("as")) throw SyntaxError(At(tokens, i), &tokens[i - 1]);
  ++i;
  definition.body.assign(tokens.begin() + static_cast<std::ptrdiff_t>(std::min(i, tokens.size())),
                         tokens.end());
  if (definition.body.empty() || definition.body.back().kind != TokenKind::kEnd) {
    definition.body.emplace_back();
  }
  return definition;
}

std::vector<ParameterDeclaration> ParseParameterDeclarations(const Tokens& tokens) {
  size_t i = 0;
  std::vector<ParameterDeclaration> parameters = ReadDeclarations(tokens, i, false);
  if (i < tokens.size() && tokens[i].kind != TokenKind::kEnd) throw SyntaxError(tokens[i]);
  return parameters;
}

std::string TokensText(const Tokens& tokens) {
  std::string text;
  int line = tokens.empty() ? 1 : tokens.front().line;
  for (const Token& token : tokens) {
    if (token.kind == TokenKind::kEnd) break;
    if (token.line > line) {
      text.append(static_cast<size_t>(token.line - line), '\n');
      line = token.line;
    } else if (!text.empty()) {
      text.push_back(' ');
    }
    text += token.text;
    for (char c : token.text) line += c == '\n';
  }
  return text;
}

}  // namespace sqlengine::tsql
