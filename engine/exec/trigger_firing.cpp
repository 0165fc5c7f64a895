// Firing a data change statement's triggers: which ones, with what images,
// in which transaction and under whose rights.

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/identity_scope.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/session.h"
#include "engine/exec/table_shapes.h"
#include "engine/exec/view_change_capture.h"
#include "engine/tsql/definition_placement.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/trigger_definition.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;
using tsql::Tokens;

bool IsTable(sqlite3* db, const std::string& schema, const std::string& name) {
  if (std::optional<bool> known = KnownTable(db, schema, name.c_str())) return *known;
  SessionConnection::KeptRead query(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                            ".sqlite_master WHERE type = 'table' AND name = ? "
                                            "COLLATE NOCASE");
  if (query.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

// The index of the name an INSERT, UPDATE or DELETE changes, past TOP (n),
// INTO and FROM.
size_t TargetAt(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  size_t at = tsql::PastTopClause(tokens, 1);
  if (at < tokens.size() && tokens[at].IsAnyWord({"into", "from"})) ++at;
  return at;
}

// In `UPDATE a SET ... FROM t a` and `DELETE a FROM t AS a`, the table the
// alias stands for; nullopt when no FROM names it.
std::optional<std::string> AliasedTable(const Tokens& tokens, size_t after,
                                        const std::string& alias) {
  size_t from = after;
  int depth = 0;
  for (; from < tokens.size(); ++from) {
    if (tokens[from].IsSymbol("(")) ++depth;
    if (tokens[from].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[from].IsWord("from")) break;
  }
  for (size_t k = from + 2; k < tokens.size(); ++k) {
    if (!tokens[k].IsName() || !tsql::EqualsIgnoreCase(tokens[k].value, alias)) continue;
    size_t end = k - 1;
    if (tokens[end].IsWord("as")) --end;
    if (end <= from || !tokens[end].IsName()) continue;
    size_t start = end;
    while (start >= from + 3 && tokens[start - 1].IsSymbol(".")) {
      start -= tokens[start - 2].IsSymbol(".") ? 1 : 2;
    }
    tsql::DottedName name = tsql::ReadDottedName(tokens, start);
    if (!name.parts.empty() && name.end == end + 1) return name.Last();
  }
  return std::nullopt;
}

// "FF03" for columns 1-10 all set: bit n-1 of byte (n-1)/8 stands for column n.
std::string ColumnBitmap(const std::vector<std::string>& columns,
                         const std::function<bool(const std::string&)>& updated) {
  std::vector<unsigned> bytes((columns.size() + 7) / 8, 0);
  for (size_t i = 0; i < columns.size(); ++i) {
    if (updated(columns[i])) bytes[i / 8] |= 1u << (i % 8);
  }
  std::string hex;
  for (unsigned byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
  }
  return hex;
}

}  // namespace

std::optional<BatchExecutor::ChangedObject> BatchExecutor::ObjectChanged(
    const tsql::Statement& statement, const std::string& named_schema, bool before_binding) {
  StatementKind kind = statement.kind;
  if ((kind != StatementKind::kInsert && kind != StatementKind::kUpdate &&
       kind != StatementKind::kDelete) ||
      named_schema == "temp") {
    return std::nullopt;
  }
  const Tokens& tokens = statement.tokens;
  size_t at = TargetAt(statement);
  tsql::DottedName name = tsql::ReadDottedName(tokens, at);
  if (name.parts.empty()) return std::nullopt;
  sqlite3* db = session_.Connection().Handle();
  ChangedObject changed{named_schema, name.Last(), false};
  if (before_binding) {
    // The binder reads the same row of the schema next, and finds it remembered.
    std::optional<StoredTable> stored =
        FindStoredTable(session_.Connection(), changed.schema, changed.name);
    if (stored) {
      changed.view = stored->view;
      return changed;
    }
  }
  // A table known is neither a view nor an alias.
  const bool table = KnownTable(db, changed.schema, changed.name.c_str()) == true;
  if (!table && !before_binding) changed.view = IsView(db, changed.schema, changed.name);
  if (kind != StatementKind::kInsert && name.parts.size() == 1 && !changed.view && !table &&
      !IsTable(db, changed.schema, changed.name)) {
    std::optional<std::string> aliased = AliasedTable(tokens, name.end, changed.name);
    if (!aliased) return std::nullopt;
    changed.name = *aliased;
    changed.view = IsView(db, changed.schema, changed.name);
  }
  return changed;
}

namespace {

TriggerEvent EventOf(StatementKind kind) {
  return kind == StatementKind::kInsert   ? TriggerEvent::kInsert
         : kind == StatementKind::kUpdate ? TriggerEvent::kUpdate
                                          : TriggerEvent::kDelete;
}

// A table as generated SQL names it ("schema"."name"), read back; nullopt
// for anything else.
std::optional<SqliteTable> ReadQuotedTable(std::string_view sql) {
  std::vector<std::string> parts(1);
  bool quoted = false;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quoted && c == '"' && i + 1 < sql.size() && sql[i + 1] == '"') {
      parts.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      parts.back() += c;
    } else if (c == '.') {
      parts.emplace_back();
    } else {
      return std::nullopt;
    }
  }
  if (quoted || parts.size() != 2) return std::nullopt;
  return SqliteTable{parts[0], parts[1]};
}

}  // namespace

std::string BatchExecutor::SchemaWritten(const tsql::Statement& statement,
                                         const std::string& named_schema) {
  std::optional<ChangedObject> changed = ObjectChanged(statement, named_schema, true);
  if (!changed || !changed->view) return named_schema;
  sqlite3* db = session_.Connection().Handle();
  for (const StoredTrigger& trigger :
       TriggersFor(db, changed->schema, changed->name, EventOf(statement.kind))) {
    if (trigger.instead_of && !tsql::EqualsIgnoreCase(trigger.name, running_trigger_))
      return named_schema;
  }
  std::optional<SqliteTable> table =
      TableWrittenThrough(session_.Connection(), changed->schema, changed->name);
  return table ? table->schema : named_schema;
}

std::optional<BatchExecutor::ChangeTriggers> BatchExecutor::TriggersOfChange(
    const tsql::Statement& statement, const std::string& named_schema,
    const std::string& changed_table) {
  std::optional<ChangedObject> changed = ObjectChanged(statement, named_schema, false);
  if (!changed) return std::nullopt;
  sqlite3* db = session_.Connection().Handle();
  ChangeTriggers change;
  change.schema = changed->schema;
  change.table = changed->name;
  change.on_view = changed->view;
  change.event = EventOf(statement.kind);
  for (StoredTrigger& trigger : TriggersFor(db, change.schema, change.table, change.event)) {
    if (!trigger.instead_of) {
      change.after.push_back(std::move(trigger));
    } else if (!tsql::EqualsIgnoreCase(trigger.name, running_trigger_)) {
      // Inside its own INSTEAD OF trigger the statement changes the table itself.
      change.instead = std::move(trigger);
    }
  }
  // A view's AFTER triggers cannot exist; without its INSTEAD OF trigger the
  // statement changes what is under the view: a view further in that has
  // one, whose trigger takes the change, or else the table, whose triggers
  // fire, in whichever database it is.
  if (change.on_view && !change.instead) {
    std::optional<SqliteTable> written = ReadQuotedTable(changed_table);
    if (written && IsView(db, written->schema, written->table)) {
      for (StoredTrigger& trigger : TriggersFor(db, written->schema, written->table, change.event)) {
        if (trigger.instead_of && !tsql::EqualsIgnoreCase(trigger.name, running_trigger_))
          change.instead = std::move(trigger);
      }
      if (change.instead) {
        change.schema = written->schema;
        change.table = written->table;
      }
    }
  }
  if (change.on_view && !change.instead) {
    std::optional<SqliteTable> table =
        TableWrittenThrough(session_.Connection(), change.schema, change.table);
    // A view over a join writes the table the statement's columns are of.
    if (!table) table = ReadQuotedTable(changed_table);
    if (!table) return std::nullopt;
    change.schema = table->schema;
    change.table = table->table;
    change.on_view = false;
    change.after = TriggersFor(db, change.schema, change.table, change.event);
    std::erase_if(change.after, [](const StoredTrigger& trigger) { return trigger.instead_of; });
  }
  if (change.after.empty() && !change.instead) return std::nullopt;
  if (statement.kind == StatementKind::kUpdate)
    change.assigned_columns = tsql::AssignedColumns(statement.tokens);
  return change;
}

bool BatchExecutor::FireBulkInsertTriggers(const std::string& schema, const std::string& table,
                                           const RowImages& inserted, std::int64_t rows,
                                           bool instead, int line) {
  if (schema == "temp") return true;
  ChangeTriggers change;
  change.schema = schema;
  change.table = table;
  change.event = TriggerEvent::kInsert;
  sqlite3* db = session_.Connection().Handle();
  for (StoredTrigger& trigger : TriggersFor(db, schema, table, TriggerEvent::kInsert)) {
    if (trigger.instead_of != instead) continue;
    if (instead) {
      change.instead = std::move(trigger);
    } else {
      change.after.push_back(std::move(trigger));
    }
  }
  change.on_view = instead && IsView(db, schema, table);
  if (change.after.empty() && !change.instead) return true;
  return FireTriggers(change, inserted, {}, rows, line);
}

bool BatchExecutor::FireTriggers(const ChangeTriggers& change, const RowImages& inserted,
                                 const RowImages& deleted, std::int64_t rows, int line) {
  // With 'nested triggers' off, a trigger's own changes fire no AFTER
  // triggers; INSTEAD OF triggers fire regardless.
  if (trigger_context_ && !change.instead &&
      session_.ConfigurationInUse("nested triggers").value_or(1) == 0) {
    session_.RowCount() = rows;
    return true;
  }
  // Outside a user transaction the statement's own counts as one
  // (@@TRANCOUNT 1), which a ROLLBACK in the trigger ends.
  struct StatementCount {
    Session& session;
    bool implicit;
    ~StatementCount() {
      if (implicit && session.TranCount() > 0) --session.TranCount();
    }
  } count{session_, session_.TranCount() == 0};
  if (count.implicit) session_.TranCount() = 1;
  std::vector<const StoredTrigger*> firing;
  if (change.instead) {
    firing.push_back(&*change.instead);
  } else {
    for (const StoredTrigger& trigger : change.after) {
      if (!tsql::EqualsIgnoreCase(trigger.name, running_trigger_)) firing.push_back(&trigger);
    }
  }
  for (const StoredTrigger* trigger : firing) {
    if (!RunTrigger(*trigger, change, inserted, deleted, rows)) return false;
    if (session_.TranCount() == 0) {
      count.implicit = false;
      SqlError ended = MakeError(3609);
      ended.message().line = line;
      ReportError(ended);
      return false;
    }
  }
  session_.RowCount() = rows;
  return true;
}

bool BatchExecutor::RunTrigger(const StoredTrigger& trigger, const ChangeTriggers& change,
                               const RowImages& inserted, const RowImages& deleted,
                               std::int64_t rows) {
  auto end_in_error = [&](const SqlError& error, BatchExecutor& reporter) {
    reporter.ReportError(error);
    if (session_.TranCount() > 0) session_.RollbackTransaction(sink_, error.message().line);
    return false;
  };
  if (session_.NestingLevel() >= kMaxNesting) {
    return end_in_error(MakeError(217, {std::to_string(kMaxNesting)}), *this);
  }
  sqlite3* db = session_.Connection().Handle();
  std::vector<std::string> columns = TableColumns(db, change.schema, change.table);
  std::function<bool(const std::string&)> updated = [&](const std::string& column) {
    switch (change.event) {
      case TriggerEvent::kInsert:
        return true;
      case TriggerEvent::kUpdate:
        for (const std::string& assigned : change.assigned_columns) {
          if (tsql::EqualsIgnoreCase(assigned, column)) return true;
        }
        return false;
      default:
        return false;
    }
  };
  IdentityScope identity_scope(session_);
  BatchExecutor inner(session_, sink_);
  inner.procedure_ = trigger.name;
  inner.trigger_context_ = true;
  inner.running_trigger_ = trigger.name;
  tsql::StatementList body;
  try {
    tsql::TriggerDefinition definition =
        tsql::ParseTriggerDefinition(tsql::LexClientText(trigger.text));
    body = tsql::ParseBatch(
        tsql::BindUpdateFunctions(definition.body, updated, ColumnBitmap(columns, updated)));
  } catch (const SqlError& error) {
    return end_in_error(error, inner);
  }
  TriggerImages images(db, change.schema, change.table, inserted, deleted,
                       session_.NestingLevel() + 1);
  inner.after_rollback_ = [&images] { images.Restore(); };
  // The body reaches the objects it touches as the table's owner when that is
  // dbo (the ownership chain); a trigger of a user's table runs with its
  // caller's rights. Names without a database reach the table's database, not
  // the session's.
  std::string database = session_.Connection().DatabaseOfSchema(change.schema);
  std::optional<int> owner;
  if (!database.empty()) owner = session_.Rights().OwnerIn(database, change.schema, change.table);
  SessionRights::BodyScope body_rights(session_.Rights(), owner && *owner == kDboUid, database,
                                       owner);
  SessionConnection::UnqualifiedNamesIn names_in(session_.Connection(), change.schema);
  // Its own variables; the SET options it changes (SET NOCOUNT ON above all)
  // go back to the caller's when it ends, as in SQL Server.
  struct Scope {
    Session& session;
    ResultSink& sink;
    std::map<std::string, Variable> variables;
    bool no_count;
    SessionOptions options;
    std::int64_t caller_module;
    Scope(Session& s, ResultSink& r, std::int64_t module_id)
        : session(s),
          sink(r),
          no_count(s.NoCount()),
          options(s.Options()),
          caller_module(std::exchange(s.ModuleId(), module_id)) {
      std::swap(variables, session.Variables());
      ++session.NestingLevel();
      sink.BeginProcedure();
    }
    ~Scope() {
      sink.EndProcedure(std::nullopt);
      --session.NestingLevel();
      std::swap(variables, session.Variables());
      session.NoCount() = no_count;
      session.Options() = options;
      session.ModuleId() = caller_module;
    }
  } scope(session_, sink_, ModuleObjectId(db, change.schema, trigger.name, "TR"));
  session_.RowCount() = rows;
  try {
    inner.CheckSyntax(body);
    inner.RunList(body);
  } catch (const SqlError& error) {
    return end_in_error(error, inner);
  }
  return !inner.abort_callers_;
}

void BatchExecutor::CreateTrigger(const tsql::Statement& statement) {
  tsql::TriggerDefinition definition = tsql::ParseTriggerDefinition(statement.tokens);
  BatchExecutor body(session_, sink_);
  body.procedure_ = definition.name;
  std::vector<std::string> tested;  // the columns UPDATE() names
  auto any = [&](const std::string& column) {
    tested.push_back(column);
    return true;
  };
  tsql::StatementList statements =
      tsql::ParseBatch(tsql::BindUpdateFunctions(definition.body, any, "FF"));
  tsql::CheckDefinitionPlacement(statements, /*in_body=*/true);
  body.CheckSyntax(statements);
  std::vector<std::string> columns =
      TableColumns(session_.Connection().Handle(), "main", definition.table);
  for (const std::string& column : tested) {
    bool known = columns.empty();  // no such table: DefineTrigger says so
    for (const std::string& name : columns) known = known || tsql::EqualsIgnoreCase(name, column);
    if (!known) throw MakeError(207, {column});
  }
  if (!columns.empty() && definition.database.empty()) {
    // Bound as when it fires: its table's `inserted` and `deleted` images
    // at hand (empty), its names its table owner's.
    const RowImages none;
    TriggerImages images(session_.Connection().Handle(), "main", definition.table, none, none,
                         session_.NestingLevel() + 1);
    body.BindBodyBeforeStoring("", BodyOwner("", definition.table), {}, statements);
  }
  DefineTrigger(session_, statement, tsql::DefinitionText(source_text_, statement.tokens));
}

}  // namespace sqlengine::exec
