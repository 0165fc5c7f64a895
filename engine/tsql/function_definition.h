#pragma once
// The parts of CREATE / ALTER FUNCTION: scalar functions, inline table-valued
// functions (RETURNS TABLE AS RETURN (query)) and multi-statement
// table-valued ones (RETURNS @t TABLE (...) AS BEGIN ... RETURN END).

#include <optional>
#include <string>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql {

enum class FunctionKind { kScalar, kInlineTable, kMultiStatementTable };

struct FunctionDefinition {
  std::string database;  // empty unless written
  std::string name;
  FunctionKind kind = FunctionKind::kScalar;
  std::vector<ParameterDeclaration> parameters;
  ColumnType returns;          // kScalar: the declared result type
  std::string table_variable;  // kMultiStatementTable: "@t"
  Tokens table_columns;        // kMultiStatementTable: inside TABLE ( ... )
  // kScalar and kMultiStatementTable: BEGIN ... END; kInlineTable: the query
  // after RETURN without the parentheses around it. Ends with a kEnd token.
  Tokens body;
  bool encrypted = false;  // WITH ENCRYPTION: its text is not shown
};

// The sysobjects type of a function: "FN", "IF" or "TF".
const char* FunctionObjectType(FunctionKind kind);

// tokens: CREATE|ALTER FUNCTION name ( [params] ) RETURNS ... [WITH ...] [AS] body.
// Throws SqlError 170/156 with the line, 2715 for an unknown type.
FunctionDefinition ParseFunctionDefinition(const Tokens& tokens);

// The columns a multi-statement table-valued function returns, from its
// TABLE ( ... ) declaration: names, types, NOT NULL / PRIMARY KEY / IDENTITY
// (table constraints are skipped). nullopt for a column this engine cannot
// type (a computed one, an unknown type).
std::optional<std::vector<Column>> TableFunctionColumns(const FunctionDefinition& definition);

// The expression of a scalar body that is nothing but BEGIN RETURN expr END,
// nullopt for a body with other statements. Ends with a kEnd token.
std::optional<Tokens> SingleReturnExpression(const FunctionDefinition& definition);

}  // namespace sqlengine::tsql
