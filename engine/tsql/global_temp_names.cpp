#include "engine/tsql/global_temp_names.h"

#include <cstddef>

#include "engine/tsql/dotted_name.h"

namespace sqlengine::tsql {

void QualifyGlobalTempNames(Tokens& tokens) {
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& name = tokens[i];
    if (!name.IsName() || !IsGlobalTempName(name.value)) continue;
    if (i > 0 && tokens[i - 1].IsSymbol(".")) continue;
    if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol(".")) continue;
    Token database = WordToken("tempdb", name.line);
    database.offset = name.offset;
    Token dot = database;
    dot.kind = TokenKind::kSymbol;
    dot.text = dot.value = ".";
    tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(i), {database, dot, dot});
    i += 3;
  }
}

}  // namespace sqlengine::tsql
