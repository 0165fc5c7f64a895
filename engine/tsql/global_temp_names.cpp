#include "engine/tsql/global_temp_names.h"

#include <cstddef>
#include <optional>

#include "engine/tsql/dotted_name.h"

namespace sqlengine::tsql {

namespace {

// Where the owner or database written before the ##name at tokens[at]
// begins (`owner.##g`, `db..##g`, `db.owner.##g`); `at` for a name without
// one, nullopt for a longer name, whose parts are left as written.
std::optional<std::size_t> QualifierStart(const Tokens& tokens, std::size_t at) {
  auto dot = [&](std::size_t k) { return k < tokens.size() && tokens[k].IsSymbol("."); };
  auto name = [&](std::size_t k) { return k < tokens.size() && tokens[k].IsName(); };
  if (at == 0 || !dot(at - 1)) return at;
  std::size_t start;
  if (at >= 2 && name(at - 2)) {
    start = at - 2;  // owner.##g
    if (start >= 2 && dot(start - 1) && name(start - 2)) start -= 2;  // db.owner.##g
  } else if (at >= 3 && dot(at - 2) && name(at - 3)) {
    start = at - 3;  // db..##g
  } else {
    return std::nullopt;
  }
  if (start > 0 && dot(start - 1)) return std::nullopt;
  return start;
}

}  // namespace

void QualifyGlobalTempNames(Tokens& tokens) {
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& name = tokens[i];
    if (!name.IsName() || !IsGlobalTempName(name.value)) continue;
    if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol(".")) continue;
    // A ##table is tempdb's under any owner, and SQL Server takes it from
    // tempdb whatever database is written before it.
    std::optional<std::size_t> start = QualifierStart(tokens, i);
    if (!start) continue;
    Token database = WordToken("tempdb", tokens[*start].line);
    database.offset = tokens[*start].offset;
    Token dot = database;
    dot.kind = TokenKind::kSymbol;
    dot.text = dot.value = ".";
    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(*start),
                 tokens.begin() + static_cast<std::ptrdiff_t>(i));
    tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(*start), {database, dot, dot});
    i = *start + 3;
  }
}

}  // namespace sqlengine::tsql
