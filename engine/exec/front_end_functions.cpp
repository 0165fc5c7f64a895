// The session's user functions as the front end's binder sees them.
#include <algorithm>

#include "engine/common/error.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/session.h"
#include "engine/exec/user_functions.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {

std::optional<tsql::bind::FunctionShape> SessionCatalog::FindFunction(
    const std::vector<std::string>& written) {
  Unkeepable();
  std::vector<std::string> name = InBodyDatabase(written);
  std::optional<tsql::FunctionDefinition> definition = exec::FindFunction(session_, name);
  if (!definition) return std::nullopt;
  std::string schema =
      session_.Connection().SchemaOf(name.size() == 3 ? name.front() : std::string());
  // Calling a scalar function takes EXECUTE on it, reading a table-valued
  // one SELECT (229 otherwise); from the body of a view or function of the
  // same owner, the ownership chain reaches it.
  std::string database = session_.Connection().DatabaseOfSchema(schema);
  bool chained = !bodies_.empty() && bodies_.back().schema == schema && !database.empty() &&
                 session_.Rights().OwnerIn(database, schema, bodies_.back().name) ==
                     session_.Rights().OwnerIn(database, schema, definition->name);
  if (!chained && !session_.Rights().IsSysadmin()) {
    Access access =
        definition->kind == tsql::FunctionKind::kScalar ? Access::kExecute : Access::kSelect;
    // The right is the caller's in the function's own database, also where
    // that is not the session's.
    session_.Rights().In(database, schema);
    if (std::optional<SqlError> refused =
            session_.Rights().Check(schema, definition->name, access, {}))
      throw *refused;
  }
  Note(schema, definition->name,
       definition->kind == tsql::FunctionKind::kScalar ? tsql::ObjectReach::Kind::kScalarFunction
                                                       : tsql::ObjectReach::Kind::kTableFunction);
  tsql::bind::FunctionShape shape;
  shape.name = definition->name;
  shape.schema = schema;
  // The engine's call names another database's function by its database.
  if (!tsql::EqualsIgnoreCase(schema, session_.Connection().UnqualifiedSchema()))
    shape.database = session_.Connection().DatabaseOfSchema(schema);
  shape.kind = definition->kind;
  shape.parameters = definition->parameters;
  shape.returns = definition->returns;
  if (std::optional<std::vector<Column>> columns = tsql::TableFunctionColumns(*definition))
    shape.table_columns = std::move(*columns);
  // A body the front end does not parse leaves the shape without one; the
  // binder then refuses the call.
  try {
    // @@PROCID names the function only where its body runs on its own.
    std::optional<tsql::Tokens> returned = tsql::SingleReturnExpression(*definition);
    bool names_itself = returned && std::any_of(returned->begin(), returned->end(),
                                                [](const tsql::Token& token) {
                                                  return token.kind ==
                                                             tsql::TokenKind::kSystemVariable &&
                                                         tsql::EqualsIgnoreCase(token.value,
                                                                                "@@procid");
                                                });
    if (returned && !names_itself) shape.expression = tsql::parse::ParseExpression(*returned);
    if (definition->kind == tsql::FunctionKind::kInlineTable)
      shape.query = tsql::parse::ParseSelect(definition->body);
  } catch (const tsql::parse::NotParsed&) {
  } catch (const SqlError&) {
  }
  return shape;
}

}  // namespace sqlengine::exec
