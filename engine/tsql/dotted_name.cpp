#include "engine/tsql/dotted_name.h"

#include "engine/common/error.h"
#include "engine/tsql/lexer.h"

namespace sqlengine::tsql {

std::string DottedName::Written() const {
  // A ##name the parser placed in tempdb is named as it was written.
  if (parts.size() == 3 && parts[1].empty() && IsGlobalTempName(parts[2]) &&
      EqualsIgnoreCase(parts[0], "tempdb"))
    return parts[2];
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text.push_back('.');
    text += parts[i];
  }
  return text;
}

std::string DottedName::Database() const {
  return parts.size() >= 3 ? parts[parts.size() - 3] : std::string();
}

DottedName ReadDottedName(const Tokens& tokens, std::size_t begin) {
  DottedName name;
  name.end = begin;
  if (begin >= tokens.size() || !tokens[begin].IsName()) return name;
  name.parts.push_back(tokens[begin].value);
  size_t i = begin + 1;
  while (i < tokens.size() && tokens[i].IsSymbol(".")) {
    if (i + 1 < tokens.size() && tokens[i + 1].IsName()) {
      name.parts.push_back(tokens[i + 1].value);
      i += 2;
    } else if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol(".")) {
      name.parts.emplace_back();
      i += 1;
    } else {
      break;
    }
  }
  name.end = i;
  return name;
}

DottedName ReadWrittenName(std::string_view written) {
  try {
    Tokens tokens = Lex(written);
    DottedName name = ReadDottedName(tokens, 0);
    bool whole = !name.parts.empty() &&
                 (name.end >= tokens.size() || tokens[name.end].kind == TokenKind::kEnd);
    if (whole) return name;
  } catch (const SqlError&) {
    // Not readable as T-SQL (an unbalanced quote): the text as it stands.
  }
  DottedName name;
  name.parts.emplace_back(written);
  return name;
}

}  // namespace sqlengine::tsql
