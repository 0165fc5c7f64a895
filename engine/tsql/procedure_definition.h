#pragma once
// The parts of CREATE / ALTER PROCEDURE, and parameter declaration lists
// such as sp_executesql's "@P1 int, @P2 nvarchar(10) OUTPUT".

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/statement.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql {

struct ParameterDeclaration {
  std::string name;  // as written, "@Code"
  ColumnType type;
  Tokens default_value;  // empty: none
  bool output = false;
};

struct ProcedureDefinition {
  std::string database;  // empty unless written
  std::string name;
  // Its number in the group of procedures of that name (CREATE PROC p;2).
  int number = 1;
  // WITH ENCRYPTION: its text is not shown. WITH RECOMPILE: no plan is kept
  // (none is here either).
  bool encrypted = false;
  bool recompile = false;
  // The first option after WITH that is none of those (CREATE refuses it).
  std::optional<Token> unknown_option;
  // The stored procedure's object id (@@PROCID inside it); 0 for dynamic SQL.
  std::int64_t object_id = 0;
  std::vector<ParameterDeclaration> parameters;
  Tokens body;  // the statements after AS, ending with a kEnd token
  // `body` split into its statements, when kept from an earlier call of the
  // same text; null: split it for the call.
  std::shared_ptr<const StatementList> statements;
  // Dynamic SQL (sp_executesql, EXEC (string)): runs with the caller's
  // rights, and a USE inside it lasts until it ends.
  bool dynamic = false;
  // Dynamic SQL: the text `body` was read from, which a CREATE PROCEDURE,
  // VIEW, FUNCTION or TRIGGER run by it keeps as written.
  std::string source;
};

// tokens: CREATE|ALTER PROC[EDURE] name [;n] [(] params [)]
// [WITH {RECOMPILE | ENCRYPTION} [, ...]] [FOR REPLICATION] AS body.
// Throws SqlError 170/156 with the line, 2715 for an unknown type.
ProcedureDefinition ParseProcedureDefinition(const Tokens& tokens);

// A procedure's number in its group, from the digits after ';': 1 to 32767.
std::optional<int> GroupNumber(std::string_view digits);

// "@a int, @b varchar(5) = 'x' OUTPUT" (tokens without a terminating kEnd are fine).
std::vector<ParameterDeclaration> ParseParameterDeclarations(const Tokens& tokens);

// The statement's text rebuilt from its tokens, one source line per line,
// so lines inside the procedure keep their numbers.
std::string TokensText(const Tokens& tokens);

}  // namespace sqlengine::tsql
