#pragma once
// Stored procedures of a database: kept as their CREATE text in the
// database's own procedures table, found by name, and bound to the
// arguments of a call.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Whether the database reached as `schema` has its procedures table (files
// made before it existed lack it until the first CREATE PROCEDURE).
bool HasStoredProcedures(sqlite3* db, const std::string& schema);

// Procedure n > 1 of the group `name` (CREATE PROC name;n) is kept in the
// procedures table under a key no name can be, longer than an identifier's
// 128 characters: ';'s, n, ';' and the group's name. Number 1 is kept under
// the name itself, and the group has the one sysobjects row. So groups need
// no column or table of their own.
std::string GroupMemberKey(std::string_view name, int number);
// The group's name and number a procedures-table key stands for.
std::pair<std::string, int> GroupMemberOf(std::string_view key);
// The same as SQL expressions over the SQL expression `key`.
std::string GroupNameSql(std::string_view key);
std::string GroupNumberSql(std::string_view key);

// One argument of EXEC or of an RPC call.
struct CallArgument {
  std::string name;  // "@p" (any case) or empty for a positional one
  Value value;
  bool is_default = false;  // DEFAULT given
  bool output = false;      // OUTPUT given
};

// CREATE / ALTER PROCEDURE: stores the definition in the current database
// (or the one the name gives). Throws 2714 when CREATE finds the name taken,
// 208 when ALTER finds none. `written` is the text it keeps (sp_helptext).
void DefineProcedure(Session& session, const tsql::Statement& statement,
                     const std::string& written);
// DROP PROC[EDURE] name [, ...]. Throws 3701 for a missing one.
void DropProcedures(Session& session, const tsql::Statement& statement);

// The sysobjects id of the procedure, function or trigger `name` of the
// database reached as `schema`, whose xtype is among `xtypes` ("P", "FN IF TF",
// "TR"); 0 when it has none.
std::int64_t ModuleObjectId(sqlite3* db, const std::string& schema, std::string_view name,
                            std::string_view xtypes);

// The procedure called `name` ("p", "dbo.p", "db..p"), nullopt when none.
std::optional<tsql::ProcedureDefinition> FindProcedure(Session& session, std::string_view name);
// The same for a name already read into its parts (a delimited one may hold
// spaces or dots: [Sales by Year]), `number` of its group.
std::optional<tsql::ProcedureDefinition> FindProcedure(Session& session,
                                                       const tsql::DottedName& name,
                                                       int number = 1);

// A procedure name as an RPC request carries it: "p", "dbo.p", "db..p",
// "[Sales by Year]", or a name with spaces as it stands ("Sales by Year").
// A ";n" group number is set in `number` (1 without one).
tsql::DottedName ReadRpcProcedureName(std::string_view written, int* number = nullptr);

// EXEC (string [+ string ...]): the text as a procedure body of its own,
// without parameters.
tsql::ProcedureDefinition DynamicBatch(const std::string& text);

// EXEC sp_executesql [@stmt =] statement [, [@params =] declarations, values ...]
// as a procedure called sp_executesql whose body is the statement. `taken` is
// set to the number of leading arguments that were the statement and the
// declarations; the values follow them. Throws 201 without a statement.
tsql::ProcedureDefinition DynamicStatement(const std::vector<CallArgument>& arguments,
                                           size_t& taken);

// An argument converted to its parameter's type. Text that is no value of
// the type is 8114 "Error converting data type varchar to <type>", as SQL
// Server reports it for a parameter, whatever a CONVERT would have said.
Value ArgumentForParameter(const Value& argument, const ColumnType& type);

// The parameters' values for a call, in parameter order: arguments matched
// by name or position, defaults filled in (evaluated by `evaluate`), values
// converted to the parameter types. Throws 201, 8144, 8145.
template <typename Evaluate>
std::vector<Value> BindArguments(const tsql::ProcedureDefinition& definition,
                                 const std::vector<CallArgument>& arguments, Evaluate evaluate);

// For each parameter, the index of the argument bound to it, or -1.
std::vector<int> ArgumentPositions(const tsql::ProcedureDefinition& definition,
                                   const std::vector<CallArgument>& arguments);

}  // namespace sqlengine::exec

#include "engine/common/error.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {

template <typename Evaluate>
std::vector<Value> BindArguments(const tsql::ProcedureDefinition& definition,
                                 const std::vector<CallArgument>& arguments, Evaluate evaluate) {
  std::vector<int> positions = ArgumentPositions(definition, arguments);
  std::vector<Value> values(definition.parameters.size());
  for (size_t k = 0; k < definition.parameters.size(); ++k) {
    const tsql::ParameterDeclaration& parameter = definition.parameters[k];
    const CallArgument* argument =
        positions[k] < 0 ? nullptr : &arguments[static_cast<size_t>(positions[k])];
    if (argument == nullptr || argument->is_default) {
      if (parameter.default_value.empty()) {
        if (argument == nullptr || !parameter.output)
          throw MakeError(201, {definition.name, parameter.name});
      } else {
        values[k] = ArgumentForParameter(evaluate(parameter.default_value), parameter.type);
      }
      continue;
    }
    values[k] = ArgumentForParameter(argument->value, parameter.type);
  }
  return values;
}

}  // namespace sqlengine::exec
