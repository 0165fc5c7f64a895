#include "engine/exec/cursor_row_changes.h"

#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

// Collects the parameters of one statement and names them in order.
class ParameterList {
 public:
  explicit ParameterList(ParameterisedStatement& statement, std::string_view prefix = "@c")
      : statement_(statement), prefix_(prefix) {}

  std::string Add(const ColumnAssignment& assignment) {
    std::string name = prefix_ + std::to_string(statement_.values.size());
    if (!statement_.declarations.empty()) statement_.declarations += ", ";
    statement_.declarations += name + " " + tsql::TypeDeclaration(assignment.type);
    RpcParam param;
    param.name = name;
    param.type = assignment.type;
    param.value = assignment.value;
    statement_.values.push_back(std::move(param));
    return name;
  }

 private:
  ParameterisedStatement& statement_;
  std::string prefix_;
};

std::string WhereClause(const std::vector<ColumnAssignment>& identity, ParameterList& parameters) {
  std::string where;
  for (const ColumnAssignment& key : identity) {
    if (!IdentifiesRows(key.type)) continue;
    where += where.empty() ? " WHERE " : " AND ";
    where += BracketQuoted(key.column);
    where += IsNull(key.value) ? " IS NULL" : " = " + parameters.Add(key);
  }
  return where;
}

}  // namespace

std::string BracketQuoted(std::string_view name) {
  std::string quoted = "[";
  for (char c : name) {
    quoted += c;
    if (c == ']') quoted += ']';
  }
  return quoted + "]";
}

const Column* FindColumn(const std::vector<Column>& columns, std::string_view name) {
  for (const Column& column : columns) {
    if (tsql::EqualsIgnoreCase(column.name, name)) return &column;
  }
  return nullptr;
}

std::vector<ColumnAssignment> RowIdentity(const std::vector<Column>& columns, const Row& row,
                                          const std::vector<Column>& table_columns) {
  std::vector<ColumnAssignment> identity;
  for (std::size_t k = 0; k < columns.size() && k < row.size(); ++k) {
    const Column* column = FindColumn(table_columns, columns[k].name);
    if (column != nullptr && IdentifiesRows(column->type))
      identity.push_back({column->name, column->type, row[k]});
  }
  return identity;
}

ParameterisedStatement RowCondition(const std::vector<ColumnAssignment>& identity,
                                    std::string_view prefix) {
  ParameterisedStatement statement;
  ParameterList parameters(statement, prefix);
  statement.text = WhereClause(identity, parameters);
  return statement;
}

bool IdentifiesRows(const ColumnType& type) {
  return type.type != SqlType::kText && type.type != SqlType::kNText &&
         type.type != SqlType::kImage;
}

ParameterisedStatement UpdateRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& set,
                                          const std::vector<ColumnAssignment>& identity) {
  ParameterisedStatement statement;
  ParameterList parameters(statement);
  statement.text = "UPDATE " + std::string(table) + " SET ";
  for (size_t k = 0; k < set.size(); ++k) {
    if (k > 0) statement.text += ", ";
    statement.text += BracketQuoted(set[k].column) + " = " + parameters.Add(set[k]);
  }
  statement.text += WhereClause(identity, parameters);
  return statement;
}

ParameterisedStatement DeleteRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& identity) {
  ParameterisedStatement statement;
  ParameterList parameters(statement);
  statement.text = "DELETE FROM " + std::string(table) + WhereClause(identity, parameters);
  return statement;
}

ParameterisedStatement InsertRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& values) {
  ParameterisedStatement statement;
  ParameterList parameters(statement);
  if (values.empty()) {
    statement.text = "INSERT INTO " + std::string(table) + " DEFAULT VALUES";
    return statement;
  }
  std::string columns, placeholders;
  for (size_t k = 0; k < values.size(); ++k) {
    if (k > 0) {
      columns += ", ";
      placeholders += ", ";
    }
    columns += BracketQuoted(values[k].column);
    placeholders += parameters.Add(values[k]);
  }
  statement.text =
      "INSERT INTO " + std::string(table) + " (" + columns + ") VALUES (" + placeholders + ")";
  return statement;
}

}  // namespace sqlengine::exec
