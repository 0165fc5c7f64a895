#include "engine/exec/per_row_variables.h"

#include <vector>

#include "engine/common/error.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/exec/variable_assignment.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

// The scopes open on this thread, innermost last.
thread_local std::vector<PerRowVariables*> open_scopes;

std::string TextArgument(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(sqlite3_value_bytes(value)));
}

template <typename Work>
void InScope(sqlite3_context* context, Work work) {
  if (open_scopes.empty())
    return sqlite3_result_error(context, "no statement is assigning variables", -1);
  try {
    work(*open_scopes.back());
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

void AssignFunction(sqlite3_context* context, int, sqlite3_value** args) {
  InScope(context, [&](PerRowVariables& scope) {
    scope.Assign(context, TextArgument(args[0]), args[1]);
  });
}

void ReadFunction(sqlite3_context* context, int, sqlite3_value** args) {
  InScope(context, [&](PerRowVariables& scope) { scope.Read(context, TextArgument(args[0])); });
}

// sqlengine_row(key, assignment...): the key, once every assignment (each
// an argument, evaluated in order) has run.
void RowFunction(sqlite3_context* context, int count, sqlite3_value** args) {
  if (count < 1) return sqlite3_result_null(context);
  sqlite3_result_value(context, args[0]);
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_assign", 2, AssignFunction, false},
    {"sqlengine_variable", 1, ReadFunction, false},
    {"sqlengine_row", -1, RowFunction, false},
};

class EchoReset {
 public:
  explicit EchoReset(sqlite3_stmt* echo) : echo_(echo) {}
  ~EchoReset() {
    sqlite3_reset(echo_);
    sqlite3_clear_bindings(echo_);
  }
  EchoReset(const EchoReset&) = delete;
  EchoReset& operator=(const EchoReset&) = delete;

 private:
  sqlite3_stmt* echo_;
};

}  // namespace

PerRowVariables::PerRowVariables(sqlite3* db, std::map<std::string, Variable>& variables,
                                 const tsql::SqliteText& text)
    : variables_(variables),
      exact_stored_form_(text.exact_stored_form),
      echo_(catalog::Prepare(db, "SELECT ?1")) {
  for (const tsql::SqliteText::RowValue& held : text.row_values) {
    if (held.type) column_values_[held.name] = Variable{*held.type, Value{}, std::nullopt};
  }
  open_scopes.push_back(this);
}

PerRowVariables::~PerRowVariables() {
  if (!open_scopes.empty() && open_scopes.back() == this) open_scopes.pop_back();
}

PerRowVariables::Held PerRowVariables::Find(const std::string& name) {
  auto column = column_values_.find(name);
  if (column != column_values_.end()) return {&column->second.value, &column->second.type};
  auto variable = variables_.find(name);
  if (variable == variables_.end()) throw MakeError(137, {name});
  return {&variable->second.value, &variable->second.type};
}

void PerRowVariables::Assign(sqlite3_context* context, const std::string& name,
                             sqlite3_value* value) {
  Held held = Find(name);
  *held.value = AssignedValue(FromSqlite(value, *held.type), *held.type);
  Answer(context, *held.value, *held.type);
}

void PerRowVariables::Read(sqlite3_context* context, const std::string& name) {
  Held held = Find(name);
  Answer(context, *held.value, *held.type);
}

Value PerRowVariables::FromSqlite(sqlite3_value* value, const ColumnType& type) {
  if (sqlite3_value_type(value) == SQLITE_NULL) return Value{};
  EchoReset reset(echo_.get());
  sqlite3_bind_value(echo_.get(), 1, value);
  if (sqlite3_step(echo_.get()) != SQLITE_ROW) throw std::runtime_error("SELECT ?1 gave no row");
  return exact_stored_form_ ? GeneratedColumnValue(echo_.get(), 0, type)
                            : ColumnValue(echo_.get(), 0, type);
}

void PerRowVariables::Answer(sqlite3_context* context, const Value& value,
                             const ColumnType& type) {
  if (std::holds_alternative<std::monostate>(value)) return sqlite3_result_null(context);
  EchoReset reset(echo_.get());
  // As SqliteStatement binds a variable the text reads.
  if (exact_stored_form_ && values::IsExactType(type.type)) {
    BindRaw(echo_.get(), 1, FitDecimal(value, type), type);
  } else {
    BindValue(echo_.get(), 1, value);
  }
  if (sqlite3_step(echo_.get()) != SQLITE_ROW) throw std::runtime_error("SELECT ?1 gave no row");
  sqlite3_result_value(context, sqlite3_column_value(echo_.get(), 0));
}

void RegisterPerRowVariableFunctions(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
