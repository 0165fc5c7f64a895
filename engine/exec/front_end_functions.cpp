// The session's user functions as the front end's binder sees them.
#include "engine/common/error.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/session.h"
#include "engine/exec/user_functions.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {

std::optional<tsql::bind::FunctionShape> SessionCatalog::FindFunction(
    const std::vector<std::string>& name) {
  std::optional<tsql::FunctionDefinition> definition = exec::FindFunction(session_, name);
  if (!definition) return std::nullopt;
  // Calling a scalar function takes EXECUTE on it, reading a table-valued
  // one SELECT (229 otherwise).
  if (name.size() < 3 || name.front().empty()) {
    session_.Rights().Require(definition->name, definition->kind == tsql::FunctionKind::kScalar
                                                    ? Access::kExecute
                                                    : Access::kSelect);
  }
  tsql::bind::FunctionShape shape;
  shape.name = definition->name;
  shape.kind = definition->kind;
  shape.parameters = definition->parameters;
  shape.returns = definition->returns;
  if (std::optional<std::vector<Column>> columns = tsql::TableFunctionColumns(*definition))
    shape.table_columns = std::move(*columns);
  // A body the front end does not parse leaves the shape without one; the
  // binder then refuses the call.
  try {
    if (std::optional<tsql::Tokens> returned = tsql::SingleReturnExpression(*definition))
      shape.expression = tsql::parse::ParseExpression(*returned);
    if (definition->kind == tsql::FunctionKind::kInlineTable)
      shape.query = tsql::parse::ParseSelect(definition->body);
  } catch (const tsql::parse::NotParsed&) {
  } catch (const SqlError&) {
  }
  return shape;
}

}  // namespace sqlengine::exec
