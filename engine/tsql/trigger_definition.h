#pragma once
// The parts of CREATE / ALTER TRIGGER, and the trigger-only functions of a
// body (UPDATE(column), COLUMNS_UPDATED()) replaced by what one firing
// knows.

#include <string>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

struct TriggerDefinition {
  std::string name;
  std::string table;     // the table's own name, without owner
  std::string database;  // empty unless the table's name gives one
  bool instead_of = false;
  bool on_insert = false;
  bool on_update = false;
  bool on_delete = false;
  bool encrypted = false;  // WITH ENCRYPTION
  Tokens body;             // the statements after AS, ending with a kEnd token
};

// tokens: CREATE|ALTER TRIGGER [owner.]name ON [owner.]table [WITH ENCRYPTION]
// FOR|AFTER|INSTEAD OF INSERT|UPDATE|DELETE [, ...] [WITH APPEND]
// [NOT FOR REPLICATION] AS body. Throws SqlError 170/156 with the line.
TriggerDefinition ParseTriggerDefinition(const Tokens& tokens);

// The body with every `UPDATE ( column )` replaced by a true or false
// predicate (`updated` decides, by column name) and `COLUMNS_UPDATED ( )` by
// the binary bitmap `columns_updated` (bit n-1 of byte (n-1)/8 for column n).
template <typename Updated>
Tokens BindUpdateFunctions(const Tokens& body, Updated updated, const std::string& columns_updated);

// The names a statement's SET list assigns (UPDATE t SET a = 1, t.b = 2).
std::vector<std::string> AssignedColumns(const Tokens& update);

// Helpers of BindUpdateFunctions.
Tokens PredicateTokens(bool holds, int line);
Token BinaryToken(const std::string& hex_digits, int line);

template <typename Updated>
Tokens BindUpdateFunctions(const Tokens& body, Updated updated,
                           const std::string& columns_updated) {
  Tokens out;
  for (size_t i = 0; i < body.size(); ++i) {
    const Token& token = body[i];
    auto at = [&](size_t k) -> const Token* { return k < body.size() ? &body[k] : nullptr; };
    if (token.IsWord("update") && at(i + 1) && at(i + 1)->IsSymbol("(") && at(i + 2) &&
        at(i + 2)->IsName() && at(i + 3) && at(i + 3)->IsSymbol(")")) {
      Tokens predicate = PredicateTokens(updated(at(i + 2)->value), token.line);
      out.insert(out.end(), predicate.begin(), predicate.end());
      i += 3;
      continue;
    }
    if (token.IsWord("columns_updated") && at(i + 1) && at(i + 1)->IsSymbol("(") && at(i + 2) &&
        at(i + 2)->IsSymbol(")")) {
      out.push_back(BinaryToken(columns_updated, token.line));
      i += 2;
      continue;
    }
    out.push_back(token);
  }
  return out;
}

}  // namespace sqlengine::tsql
