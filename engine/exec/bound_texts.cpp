#include "engine/exec/bound_texts.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/bind/type_rules.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;

// Longer statements are rarely written again and again.
constexpr std::size_t kMaxShapeTokens = 400;
// Shapes remembered as seen once.
constexpr std::size_t kMaxSeenShapes = 4096;

// The type of a literal token whose value a shape leaves out: an integer
// the generator takes as a 64-bit value, a character string; nullopt for
// any other token.
std::optional<ColumnType> ShapedLiteralType(const Token& token) {
  switch (token.kind) {
    case TokenKind::kNumber: {
      const std::string& text = token.text;
      if (text.empty() || text.size() > 18 ||
          !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
      return tsql::bind::IntegerLiteralType(text);
    }
    case TokenKind::kString:
      return tsql::bind::StringLiteralType(token.value, false);
    case TokenKind::kNationalString:
      return tsql::bind::StringLiteralType(token.value, true);
    default:
      return std::nullopt;
  }
}

// The value such a token is bound as, as the generator binds it.
std::variant<std::int64_t, std::string> ShapedLiteralValue(const Token& token) {
  if (token.kind != TokenKind::kNumber) return token.value;
  std::int64_t value = 0;
  std::from_chars(token.text.data(), token.text.data() + token.text.size(), value);
  return value;
}

void AppendNumber(std::string& key, long long value) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  key.append(digits, end);
  key += ' ';
}

bool Holds(const tsql::StatementList& list, const tsql::Statement* statement);

bool Holds(const tsql::Statement& in, const tsql::Statement* statement) {
  return &in == statement || Holds(in.body, statement) ||
         (in.else_branch && Holds(*in.else_branch, statement));
}

bool Holds(const tsql::StatementList& list, const tsql::Statement* statement) {
  for (const auto& each : list) {
    if (each && Holds(*each, statement)) return true;
  }
  return false;
}

}  // namespace

bool SameColumnType(const ColumnType& a, const ColumnType& b) {
  // A member added to ColumnType must be compared here too.
  static_assert(sizeof(ColumnType) == 24, "compare every member of ColumnType");
  return a.type == b.type && a.length == b.length && a.precision == b.precision &&
         a.scale == b.scale && a.nullable == b.nullable && a.identity == b.identity &&
         a.case_sensitive == b.case_sensitive && a.binary_order == b.binary_order &&
         a.accent_insensitive == b.accent_insensitive && a.upper_first == b.upper_first &&
         a.row_version == b.row_version && a.numeric == b.numeric;
}

void BoundTexts::Keep(const Place& place, const StatementCache::Context& context,
                      std::string database, std::string schema, Notes notes,
                      const tsql::SqliteText& text) {
  if (!notes.keepable || !place.body || place.statement == nullptr) return;
  // A statement made for one run (a DROP list's part, a rewritten INSERT)
  // is no part of the body: its address may be another's next time.
  if (!Holds(*place.body, place.statement)) return;
  if (kept_.size() >= kKept && kept_.find(place.statement) == kept_.end()) kept_.clear();
  kept_.insert_or_assign(place.statement, Kept{place.body, context, std::move(database),
                                               std::move(schema), std::move(notes), text});
}

std::optional<tsql::SqliteText> BoundTexts::Find(const Place& place, const Present& present) const {
  auto it = kept_.find(place.statement);
  if (it == kept_.end()) return std::nullopt;
  const Kept& kept = it->second;
  if (!place.body || kept.body.lock() != place.body) return std::nullopt;
  if (!Answers(kept, present)) return std::nullopt;
  return kept.text;
}

bool BoundTexts::Answers(const Kept& kept, const Present& present) {
  if (!(kept.context == *present.context) || kept.database != *present.database ||
      kept.schema != *present.schema)
    return false;
  if (kept.notes.ansi_nulls && *kept.notes.ansi_nulls != present.ansi_nulls) return false;
  if (kept.notes.concat_null_yields_null &&
      *kept.notes.concat_null_yields_null != present.concat_null_yields_null)
    return false;
  for (const auto& [name, type] : kept.notes.variables) {
    std::optional<ColumnType> now = present.variable_type(name);
    if (now.has_value() != type.has_value() || (now && !SameColumnType(*now, *type))) return false;
  }
  return true;
}

std::string BoundTexts::ShapeKey(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  if (!statement.with.empty() || statement.drop_existing || tokens.empty() ||
      tokens.size() > kMaxShapeTokens)
    return {};
  std::string key;
  key.reserve(tokens.size() * 8 + 4);
  AppendNumber(key, static_cast<int>(statement.kind));
  int line = statement.line;
  for (const Token& token : tokens) {
    if (token.IsWord("option")) return {};
    if (token.line != line) {
      key += '\n';
      AppendNumber(key, token.line - line);
      line = token.line;
    }
    if (std::optional<ColumnType> type = ShapedLiteralType(token)) {
      key += '\x01';
      AppendNumber(key, static_cast<int>(token.kind));
      AppendNumber(key, static_cast<int>(type->type));
      AppendNumber(key, type->length);
      AppendNumber(key, type->precision);
      continue;
    }
    key += static_cast<char>('A' + static_cast<int>(token.kind));
    key += token.text;
    key += '\0';
  }
  return key;
}

bool BoundTexts::ShapeSeenBefore(const std::string& key) {
  if (shapes_.find(key) != shapes_.end()) return true;
  if (seen_shapes_.size() >= kMaxSeenShapes) seen_shapes_.clear();
  return !seen_shapes_.insert(std::hash<std::string>{}(key)).second;
}

void BoundTexts::KeepShape(const std::string& key, const tsql::Statement& statement,
                           const StatementCache::Context& context, std::string database,
                           std::string schema, Notes notes, const tsql::SqliteText& text) {
  if (!notes.keepable || key.empty() || text.literal_origins.size() != text.literals.size())
    return;
  const tsql::Tokens& tokens = statement.tokens;
  // Each left-out token is found by its offset, which must then be its own.
  std::vector<std::pair<std::size_t, std::size_t>> shaped;  // (offset, token)
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (ShapedLiteralType(tokens[k])) shaped.emplace_back(tokens[k].offset, k);
  }
  std::sort(shaped.begin(), shaped.end());
  for (std::size_t k = 1; k < shaped.size(); ++k) {
    if (shaped[k].first == shaped[k - 1].first) return;
  }
  enum : char { kUnused, kTaken, kWritten };
  std::vector<char> state(tokens.size(), kUnused);
  Shape shape;
  shape.from_token.assign(text.literals.size(), std::string::npos);
  for (std::size_t i = 0; i < text.literals.size(); ++i) {
    const tsql::SqliteText::LiteralOrigin& origin = text.literal_origins[i];
    if (origin.offset == tsql::bind::kNoOrigin) continue;
    auto found = std::lower_bound(shaped.begin(), shaped.end(),
                                  std::make_pair(origin.offset, std::size_t{0}));
    // A value of no literal token of the statement's own stays as it is.
    if (found == shaped.end() || found->first != origin.offset) continue;
    const std::size_t k = found->second;
    // Taken only while it is the token's own value and type, written where
    // only its type counts; any other use of the token keeps it as written.
    bool own = origin.value_free && SameColumnType(origin.type, *ShapedLiteralType(tokens[k])) &&
               ShapedLiteralValue(tokens[k]) == text.literals[i];
    state[k] = own && state[k] != kWritten ? kTaken : kWritten;
    shape.from_token[i] = k;
  }
  for (std::size_t offset : text.written_literals) {
    auto found = std::lower_bound(shaped.begin(), shaped.end(),
                                  std::make_pair(offset, std::size_t{0}));
    if (found != shaped.end() && found->first == offset) state[found->second] = kWritten;
  }
  for (std::size_t& k : shape.from_token) {
    if (k != std::string::npos && state[k] != kTaken) k = std::string::npos;
  }
  for (const auto& [offset, k] : shaped) {
    if (state[k] != kTaken) shape.written.emplace_back(k, tokens[k].text);
  }
  shape.line = statement.line;
  shape.kept = Kept{{}, context, std::move(database), std::move(schema), std::move(notes), text};
  shape.kept.text.literal_origins.clear();
  shape.kept.text.written_literals.clear();
  if (shapes_.size() >= kKept && shapes_.find(key) == shapes_.end()) shapes_.clear();
  shapes_.insert_or_assign(key, std::move(shape));
}

const BoundTexts::Shape* BoundTexts::FindShape(const std::string& key,
                                               const tsql::Statement& statement) const {
  if (key.empty()) return nullptr;
  auto it = shapes_.find(key);
  if (it == shapes_.end()) return nullptr;
  const tsql::Tokens& tokens = statement.tokens;
  for (const auto& [k, text] : it->second.written) {
    if (k >= tokens.size() || tokens[k].text != text) return nullptr;
  }
  return &it->second;
}

std::optional<tsql::SqliteText> BoundTexts::FindShape(const std::string& key,
                                                      const tsql::Statement& statement,
                                                      const Present& present) const {
  const Shape* shape = FindShape(key, statement);
  if (shape == nullptr || !Answers(shape->kept, present)) return std::nullopt;
  tsql::SqliteText text = shape->kept.text;
  for (std::size_t i = 0; i < text.literals.size(); ++i) {
    if (shape->from_token[i] != std::string::npos)
      text.literals[i] = ShapedLiteralValue(statement.tokens[shape->from_token[i]]);
  }
  for (auto& [offset, line] : text.lines) line += statement.line - shape->line;
  return text;
}

bool BoundTexts::ShapeParses(const std::string& key, const tsql::Statement& statement) const {
  return FindShape(key, statement) != nullptr;
}

}  // namespace sqlengine::exec
