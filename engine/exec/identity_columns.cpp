#include "engine/exec/identity_columns.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

struct IdentitySpec {
  long long seed = 1;
  long long increment = 1;
};

// A possibly signed integer at `i`; advances i past it.
std::optional<long long> ReadInteger(const tsql::Tokens& tokens, size_t& i) {
  bool negative = false;
  if (i < tokens.size() && (tokens[i].IsSymbol("-") || tokens[i].IsSymbol("+"))) {
    negative = tokens[i].IsSymbol("-");
    ++i;
  }
  if (i >= tokens.size() || tokens[i].kind != tsql::TokenKind::kNumber) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(tokens[i].text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0') return std::nullopt;
  ++i;
  return negative ? -value : value;
}

std::optional<IdentitySpec> FindIdentity(const tsql::Tokens& tokens) {
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!tokens[i].IsWord("identity") || !tokens[i + 1].IsSymbol("(")) continue;
    size_t k = i + 2;
    std::optional<long long> seed = ReadInteger(tokens, k);
    if (!seed || k >= tokens.size() || !tokens[k].IsSymbol(",")) return std::nullopt;
    ++k;
    std::optional<long long> increment = ReadInteger(tokens, k);
    if (!increment || k >= tokens.size() || !tokens[k].IsSymbol(")")) return std::nullopt;
    return IdentitySpec{*seed, *increment};
  }
  return std::nullopt;
}

}  // namespace

void ApplyIdentitySeed(sqlite3* db, const std::string& schema, const std::string& table,
                       const tsql::Tokens& definition) {
  std::optional<IdentitySpec> identity = FindIdentity(definition);
  if (!identity || identity->seed <= 1) return;
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto seed = catalog::Prepare(
      db, "INSERT INTO " + quoted_schema + ".sqlite_sequence (name, seq) VALUES (?, ?)");
  sqlite3_bind_text(seed.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(seed.get(), 2, identity->seed - 1);
  if (sqlite3_step(seed.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

std::optional<std::int64_t> AssignedIdentity(sqlite3* db, std::string_view insert_sql) {
  std::string table = WrittenTable(insert_sql);
  if (table.empty()) return std::nullopt;
  int autoincrement = 0;
  if (sqlite3_table_column_metadata(db, nullptr, table.c_str(), "rowid", nullptr, nullptr, nullptr,
                                    nullptr, &autoincrement) != SQLITE_OK ||
      !autoincrement) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(sqlite3_last_insert_rowid(db));
}

}  // namespace sqlengine::exec
