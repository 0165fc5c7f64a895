// BatchExecutor's T-SQL cursor statements: DECLARE CURSOR, SET @c = CURSOR,
// OPEN, FETCH, CLOSE, DEALLOCATE and the positioned UPDATE / DELETE.

#include <algorithm>

#include "engine/exec/batch_executor.h"
#include "engine/exec/captured_result.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/exec/front_end_select.h"
#include "engine/exec/keyset_in_database.h"
#include "engine/exec/scoped_value.h"
#include "engine/exec/session.h"
#include "engine/exec/value_conversion.h"
#include "engine/exec/variable_assignment.h"
#include "engine/tsql/cursor_statements.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

// The parameters a positioned change finds its row by; no client names a
// variable so.
constexpr std::string_view kRowKeyPrefix = "@sqlengine_cursor_key";

// The compiled statements of `cursor`, kept under the session's rules.
CursorSeeks& SeeksOf(TsqlCursor& cursor, Session& session) {
  return cursor.Seeks(session.Connection().SyntaxChecked().Rules());
}

// Values of the statement's own variables for as long as it runs.
class TemporaryVariables {
 public:
  TemporaryVariables(std::map<std::string, Variable>& variables,
                     const std::vector<RpcParam>& values)
      : variables_(variables) {
    for (const RpcParam& value : values) {
      std::string key = tsql::ToLower(value.name);
      variables_[key] = Variable{value.type, ConvertForType(value.value, value.type), std::nullopt};
      names_.push_back(std::move(key));
    }
  }
  ~TemporaryVariables() {
    for (const std::string& name : names_) variables_.erase(name);
  }
  TemporaryVariables(const TemporaryVariables&) = delete;
  TemporaryVariables& operator=(const TemporaryVariables&) = delete;

 private:
  std::map<std::string, Variable>& variables_;
  std::vector<std::string> names_;
};

Tokens WithoutEnd(Tokens tokens) {
  if (!tokens.empty() && tokens.back().kind == TokenKind::kEnd) tokens.pop_back();
  return tokens;
}

std::string_view DirectionName(tsql::FetchDirection direction) {
  switch (direction) {
    case tsql::FetchDirection::kNext:
      return "NEXT";
    case tsql::FetchDirection::kPrior:
      return "PRIOR";
    case tsql::FetchDirection::kFirst:
      return "FIRST";
    case tsql::FetchDirection::kLast:
      return "LAST";
    case tsql::FetchDirection::kAbsolute:
      return "ABSOLUTE";
    case tsql::FetchDirection::kRelative:
      return "RELATIVE";
  }
  return "";
}

int FetchTypeOf(tsql::FetchDirection direction) {
  switch (direction) {
    case tsql::FetchDirection::kNext:
      return kFetchNext;
    case tsql::FetchDirection::kPrior:
      return kFetchPrev;
    case tsql::FetchDirection::kFirst:
      return kFetchFirst;
    case tsql::FetchDirection::kLast:
      return kFetchLast;
    case tsql::FetchDirection::kAbsolute:
      return kFetchAbsolute;
    case tsql::FetchDirection::kRelative:
      return kFetchRelative;
  }
  return kFetchNext;
}

// One `column = expression` of an UPDATE's SET list.
struct SetItem {
  std::string column;
  Tokens expression;
};

// The SET list between `from` and `to`; nullopt for forms other than
// `column = expression` (variables assigned on the way, say).
std::optional<std::vector<SetItem>> ReadSetList(const Tokens& tokens, size_t from, size_t to) {
  std::vector<SetItem> items;
  size_t at = from;
  while (at < to) {
    size_t end = at;
    int depth = 0;
    while (end < to && !(depth == 0 && tokens[end].IsSymbol(","))) {
      if (tokens[end].IsSymbol("(")) ++depth;
      if (tokens[end].IsSymbol(")")) --depth;
      ++end;
    }
    // [alias.]column = expression
    size_t name = at;
    if (name + 2 < end && tokens[name + 1].IsSymbol(".")) name += 2;
    if (!tokens[name].IsName() || name + 2 >= end || !tokens[name + 1].IsSymbol("="))
      return std::nullopt;
    items.push_back(
        {tokens[name].value, Tokens(tokens.begin() + static_cast<std::ptrdiff_t>(name + 2),
                                    tokens.begin() + static_cast<std::ptrdiff_t>(end))});
    at = end + 1;
  }
  return items;
}

}  // namespace

BatchExecutor::SelectedRows BatchExecutor::SelectRows(const tsql::Statement& select) {
  CapturedResult captured(sink_);
  BatchExecutor inner(session_, captured);
  inner.procedure_ = procedure_;
  inner.PassThrough(select);
  if (captured.Failed() || !captured.Columns()) throw MakeError(16933);
  return {*captured.Columns(), std::move(captured.Rows())};
}

std::shared_ptr<TsqlCursor> BatchExecutor::FindCursor(const tsql::CursorReference& reference) {
  std::string key = tsql::ToLower(reference.name);
  if (reference.variable) {
    auto it = local_cursors_.find(key);
    if (it == local_cursors_.end()) {
      // A variable of another type where a cursor variable belongs.
      if (session_.Variables().count(key) != 0) throw MakeError(16948, {reference.name});
      throw MakeError(137, {reference.name});
    }
    if (!it->second) throw MakeError(16950, {reference.name});
    return it->second;
  }
  if (!reference.global) {
    auto it = local_cursors_.find(key);
    if (it != local_cursors_.end()) return it->second;
  }
  CursorMap& global = session_.Cursors().global;
  auto it = global.find(key);
  if (it == global.end()) throw MakeError(16916, {reference.name});
  return it->second;
}

void BatchExecutor::DeclareCursor(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  const Token& name = tokens[1];
  tsql::CursorDeclaration declaration = tsql::ParseCursorDeclaration(tokens, 2, statement.line);
  // The SQL-92 form's SCROLL offers every fetch, ABSOLUTE too, which a
  // dynamic cursor cannot: such a cursor keeps its members as KEYSET does.
  if (tokens.size() > 2 && tokens[2].IsWord("scroll") && declaration.kind == tsql::CursorKind::kDynamic)
    declaration.kind = tsql::CursorKind::kKeyset;
  if (declaration.for_update && declaration.read_only) throw MakeError(16957);
  // Without LOCAL or GLOBAL a cursor is GLOBAL, as the server's "default to
  // local cursor" option is off.
  CursorMap& scope =
      declaration.scope == tsql::CursorScope::kLocal ? local_cursors_ : session_.Cursors().global;
  std::string key = tsql::ToLower(name.value);
  if (scope.count(key) != 0) throw MakeError(16915, {name.value});
  scope[key] = std::make_shared<TsqlCursor>(name.value, std::move(declaration));
}

void BatchExecutor::DeclareCursorVariable(const Token& name) {
  std::string key = tsql::ToLower(name.text);
  if (local_cursors_.count(key) != 0 || session_.Variables().count(key) != 0) {
    SqlError error = MakeError(134, {name.text});
    error.message().line = name.line;
    throw error;
  }
  local_cursors_[key] = nullptr;
}

void BatchExecutor::SetCursorVariable(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  std::string key = tsql::ToLower(tokens[1].text);
  auto variable = local_cursors_.find(key);
  if (variable == local_cursors_.end()) throw MakeError(137, {tokens[1].text});
  if (tokens[3].IsWord("cursor")) {
    tsql::CursorDeclaration declaration = tsql::ParseCursorDeclaration(tokens, 3, statement.line);
    if (declaration.for_update && declaration.read_only) throw MakeError(16957);
    variable->second = std::make_shared<TsqlCursor>(tokens[1].text, std::move(declaration));
    return;
  }
  // SET @c = name | @other: the variable reaches that cursor too.
  size_t at = 3;
  tsql::CursorReference reference = tsql::ReadCursorReference(tokens, at);
  if (at < tokens.size()) throw tsql::SyntaxError(tokens[at], &tokens[at - 1]);
  variable->second = FindCursor(reference);
}

void BatchExecutor::OpenCursor(const tsql::Statement& statement) {
  std::shared_ptr<TsqlCursor> cursor = FindCursor(tsql::ParseCursorStatement(statement.tokens));
  if (cursor->IsOpen()) throw MakeError(16905);
  const tsql::CursorDeclaration& declaration = cursor->Declaration();
  std::optional<KeysetQuery> keyset;
  if (declaration.kind == tsql::CursorKind::kKeyset ||
      declaration.kind == tsql::CursorKind::kDynamic) {
    keyset = KeysetQueryOf(session_.Connection().Handle(), declaration.query);
    if (keyset) ReadInDatabase(*keyset, session_.CurrentDatabase());
  }
  if (!keyset) {
    SelectedRows selected = SelectRows(declaration.query);
    cursor->Open(std::move(selected.columns), std::move(selected.rows), session_.CurrentDatabase());
  } else {
    // A dynamic cursor reads no rows now: only the columns, from a seek for none.
    const bool fixed_members = declaration.kind == tsql::CursorKind::kKeyset || keyset->ordered;
    SelectedRows selected = fixed_members ? SelectRows(keyset->keyed)
                                          : SelectKeyed(Seek(*keyset, {}, nullptr, true, false, 0));
    const size_t key_count = keyset->key_columns.size();
    const size_t visible = selected.columns.size() - key_count;
    std::vector<Column> key_columns;
    for (size_t k = 0; k < key_count; ++k)
      key_columns.push_back({keyset->key_columns[k], selected.columns[visible + k].type});
    selected.columns.resize(visible);
    std::vector<Row> keys;
    for (KeyedRow& row : SplitKeyedRows(std::move(selected.rows), key_count))
      keys.push_back(std::move(row.key));
    cursor->OpenKeyed(fixed_members ? CursorVisibility::kKeyset : CursorVisibility::kDynamic,
                      std::move(selected.columns), std::move(key_columns), std::move(keys),
                      std::move(*keyset), session_.CurrentDatabase());
  }
  session_.Cursors().cursor_rows = cursor->RowsAfterOpen();
  session_.Cursors().Opened(cursor);
}

BatchExecutor::SelectedRows BatchExecutor::SelectKeyed(const KeyedStatement& keyed,
                                                       CursorSeeks* seeks) {
  TemporaryVariables parameters(session_.Variables(), keyed.values);
  if (seeks == nullptr) return SelectRows(keyed.statement);
  return SelectKept(keyed.statement, *seeks);
}

BatchExecutor::SelectedRows BatchExecutor::SelectKept(const tsql::Statement& select,
                                                      CursorSeeks& seeks) {
  seeks.FollowConnection(session_.Connection().Handle());
  const std::string key =
      CursorSeeks::KeyOf(session_.CurrentDatabase(), tsql::TokensText(select.tokens));
  if (const tsql::SqliteText* bound = seeks.Bound(key)) {
    std::optional<SelectedRows> rows = RunBoundSeek(*bound, seeks, select, true);
    if (rows) return std::move(*rows);
    seeks.Forget(key);
  }
  std::optional<tsql::SqliteText> bound = FrontEndSelect(select, session_);
  if (!bound) return SelectRows(select);
  seeks.Keep(key, *bound);
  return *RunBoundSeek(*bound, seeks, select, false);
}

std::vector<Row> BatchExecutor::RunCursorStatement(const tsql::Statement& select,
                                                   CursorSeeks& seeks) {
  return SelectKept(select, seeks).rows;
}

std::optional<BatchExecutor::SelectedRows> BatchExecutor::RunBoundSeek(
    const tsql::SqliteText& text, CursorSeeks& seeks, const tsql::Statement& select, bool kept) {
  CapturedResult captured(sink_);
  FailedStatement context{nullptr, "", session_.CurrentDatabase(), select.line};
  SessionConnection& connection = session_.Connection();
  // A fetch reads by the isolation level in force when it runs. The kept
  // statements are compiled on the session's own connection: a dirty read
  // compiles its own.
  if (sqlite3* dirty = DirtyReadConnection(select.tokens, text.sql)) {
    SqliteStatement query(dirty, connection.Authorizer(), text, context, *this);
    query.Stream(captured, session_.RowCountLimit());
    if (captured.Failed() || !captured.Columns()) throw MakeError(16933);
    return SelectedRows{*captured.Columns(), std::move(captured.Rows())};
  }
  try {
    SqliteStatement query(connection.Handle(), connection.Authorizer(), text, context, *this,
                          &seeks.Compiled());
    const int recompilations = query.Recompilations();
    query.Stream(captured, session_.RowCountLimit());
    // Compiled again, it reads a schema other than the one it was bound
    // against: its columns may not be what the binding says.
    if (kept && query.Recompilations() != recompilations) return std::nullopt;
    query.KeepIn(seeks.Compiled());
  } catch (const SqlError&) {
    // An old binding may name a database no longer attached: bound anew,
    // the statement attaches it (and fails again if it fails for itself).
    if (kept) return std::nullopt;
    throw;
  }
  if (captured.Failed() || !captured.Columns()) throw MakeError(16933);
  return SelectedRows{*captured.Columns(), std::move(captured.Rows())};
}

std::optional<Row> BatchExecutor::ReadKeyedRow(TsqlCursor& cursor, const Row& key) {
  SelectedRows read =
      SelectKeyed(RowByKey(cursor.Keyset(), cursor.KeyColumns(), key), &SeeksOf(cursor, session_));
  if (read.rows.empty()) return std::nullopt;
  return std::move(read.rows.front());
}

void BatchExecutor::FetchCursor(const tsql::Statement& statement) {
  tsql::FetchStatement fetch = tsql::ParseFetch(statement.tokens);
  std::shared_ptr<TsqlCursor> cursor = FindCursor(fetch.cursor);
  if (!cursor->IsOpen()) throw MakeError(16917);
  const tsql::CursorDeclaration& declaration = cursor->Declaration();
  if (!declaration.scroll && fetch.direction != tsql::FetchDirection::kNext)
    throw MakeError(16911, {"fetch", DirectionName(fetch.direction)});
  // A dynamic cursor's rows have no numbers to count from.
  if (cursor->Visibility() == CursorVisibility::kDynamic &&
      fetch.direction == tsql::FetchDirection::kAbsolute)
    throw MakeError(16925, {DirectionName(fetch.direction)});
  std::int64_t offset = 0;
  if (!fetch.offset.empty()) {
    Value value = ConvertForType(Evaluate(fetch.offset, statement.line), ColumnType{SqlType::kInt});
    const auto* number = std::get_if<std::int64_t>(&value);
    offset = number != nullptr ? *number : 0;
  }
  CursorRows& rows = cursor->Rows();
  if (!fetch.into.empty() && fetch.into.size() != rows.Columns().size()) throw MakeError(16924);
  // A keyed cursor reads its table at every fetch: not once the table has
  // been altered, indexed or dropped since it opened.
  if (cursor->Visibility() != CursorVisibility::kSnapshot) {
    SessionConnection& connection = session_.Connection();
    RequireSameTable(connection.Handle(), connection.SchemaFor(cursor->Database()),
                     cursor->Keyset());
  }
  std::vector<Variable*> targets;
  for (const std::string& name : fetch.into) {
    auto it = session_.Variables().find(tsql::ToLower(name));
    if (it == session_.Variables().end()) throw MakeError(137, {name});
    targets.push_back(&it->second);
  }
  std::optional<std::vector<Row>> fetched;
  if (cursor->Visibility() == CursorVisibility::kDynamic) {
    std::optional<std::vector<KeyedRow>> moved = cursor->Dynamic().Fetch(
        FetchTypeOf(fetch.direction), offset, 1,
        [&](const KeyedStatement& keyed) { return SelectKeyed(keyed, &SeeksOf(*cursor, session_)).rows; });
    fetched.emplace();
    for (KeyedRow& row : moved.value_or(std::vector<KeyedRow>()))
      fetched->push_back(std::move(row.values));
    cursor->LastRead() = fetched->empty() ? Row() : fetched->front();
  } else {
    fetched = rows.Fetch(FetchTypeOf(fetch.direction), offset, 1);
  }
  bool found = fetched && !fetched->empty();
  bool missing = false;  // a keyed member whose row is gone
  if (found && cursor->Visibility() == CursorVisibility::kKeyset) {
    std::optional<Row> current = ReadKeyedRow(*cursor, fetched->front());
    missing = !current;
    cursor->LastRead() = current.value_or(Row());
    if (current) fetched->front() = std::move(*current);
    found = !missing;
  }
  session_.Cursors().fetch_status = found ? 0 : missing ? -2 : -1;
  if (!fetch.into.empty()) {
    if (!found) return;
    const Row& row = fetched->front();
    // Converted first, so that a value that does not fit changes no variable.
    std::vector<Value> values;
    for (size_t k = 0; k < targets.size(); ++k)
      values.push_back(AssignedValue(row[k], targets[k]->type));
    for (size_t k = 0; k < targets.size(); ++k) targets[k]->value = std::move(values[k]);
    return;
  }
  sink_.BeginResult(rows.Columns());
  if (found) sink_.AddRow(fetched->front());
  Done(found ? 1 : 0);
}

void BatchExecutor::CloseCursor(const tsql::Statement& statement) {
  std::shared_ptr<TsqlCursor> cursor = FindCursor(tsql::ParseCursorStatement(statement.tokens));
  if (!cursor->IsOpen()) throw MakeError(16917);
  cursor->Close();
}

void BatchExecutor::DeallocateCursor(const tsql::Statement& statement) {
  tsql::CursorReference reference = tsql::ParseCursorStatement(statement.tokens);
  std::shared_ptr<TsqlCursor> cursor = FindCursor(reference);
  std::string key = tsql::ToLower(reference.name);
  if (reference.variable) {
    local_cursors_[key] = nullptr;
  } else if (!reference.global && local_cursors_.count(key) != 0) {
    local_cursors_.erase(key);
  } else {
    session_.Cursors().global.erase(key);
  }
  // A cursor no name or variable reaches any more is closed and freed.
  if (cursor.use_count() == 1) cursor->Close();
}

void BatchExecutor::PositionedChange(const tsql::Statement& statement, size_t where_at) {
  const Tokens& tokens = statement.tokens;
  size_t at = where_at + 3;
  tsql::CursorReference reference = tsql::ReadCursorReference(tokens, at);
  if (at < tokens.size()) throw tsql::SyntaxError(tokens[at], &tokens[at - 1]);
  std::shared_ptr<TsqlCursor> cursor = FindCursor(reference);
  if (!cursor->IsOpen()) throw MakeError(16917);
  const tsql::CursorDeclaration& declaration = cursor->Declaration();
  if (declaration.read_only) throw MakeError(16929);
  CursorRows& rows = cursor->Rows();
  const Row* current_row = cursor->Current();
  if (current_row == nullptr) throw MakeError(16930);
  // A snapshot's row by its index, for its copy to follow the change.
  const std::optional<std::size_t> current = rows.BufferRow(1);
  const Row current_values = *current_row;

  const bool update = tokens[0].IsWord("update");
  size_t table_from = !update && tokens.size() > 1 && tokens[1].IsWord("from") ? 2 : 1;
  size_t table_end = table_from;
  while (table_end < where_at && !tokens[table_end].IsAnyWord({"set", "from", "with"})) ++table_end;
  if (table_end == table_from) throw tsql::SyntaxError(tokens[table_from], &tokens[table_from - 1]);
  const Tokens table(tokens.begin() + static_cast<std::ptrdiff_t>(table_from),
                     tokens.begin() + static_cast<std::ptrdiff_t>(table_end));
  auto select_from = [&](Tokens list, const Tokens& condition) {
    tsql::Statement select;
    select.kind = tsql::StatementKind::kSelect;
    select.line = statement.line;
    select.tokens.push_back(tsql::WordToken("SELECT", statement.line));
    select.tokens.insert(select.tokens.end(), list.begin(), list.end());
    select.tokens.push_back(tsql::WordToken("FROM", statement.line));
    select.tokens.insert(select.tokens.end(), table.begin(), table.end());
    select.tokens.insert(select.tokens.end(), condition.begin(), condition.end());
    return select;
  };

  // The row is found by the values the cursor read from it.
  const std::vector<Column> table_columns =
      SelectRows(select_from(WithoutEnd(tsql::Lex("*")), WithoutEnd(tsql::Lex("WHERE 1 = 0"))))
          .columns;
  // A keyed cursor finds the row by its key, and (as an optimistic cursor)
  // only while it still holds the values the last FETCH read.
  const bool keyed = cursor->Visibility() != CursorVisibility::kSnapshot;
  std::vector<ColumnAssignment> identity =
      keyed ? RowIdentity(cursor->KeyColumns(), current_values, table_columns)
            : std::vector<ColumnAssignment>();
  for (ColumnAssignment& read :
       RowIdentity(rows.Columns(), keyed ? cursor->LastRead() : current_values, table_columns)) {
    bool known = std::any_of(identity.begin(), identity.end(), [&](const ColumnAssignment& key) {
      return tsql::EqualsIgnoreCase(key.column, read.column);
    });
    if (!known) identity.push_back(std::move(read));
  }
  if (identity.empty()) throw MakeError(16933);
  ParameterisedStatement condition = RowCondition(identity, kRowKeyPrefix);
  const Tokens condition_tokens = WithoutEnd(tsql::Lex(condition.text));
  TemporaryVariables keys(session_.Variables(), condition.values);

  // An UPDATE's new values are read from the row first, for the cursor's copy.
  std::optional<std::vector<SetItem>> assigned;
  Tokens probe_list = WithoutEnd(tsql::Lex("1"));
  if (update) {
    size_t set_at = table_end;
    if (set_at >= where_at || !tokens[set_at].IsWord("set"))
      throw tsql::SyntaxError(tokens[std::min(set_at, where_at)], &tokens[set_at - 1]);
    size_t list_end = set_at + 1;
    int depth = 0;
    while (list_end < where_at && !(depth == 0 && tokens[list_end].IsWord("from"))) {
      if (tokens[list_end].IsSymbol("(")) ++depth;
      if (tokens[list_end].IsSymbol(")")) --depth;
      ++list_end;
    }
    assigned = ReadSetList(tokens, set_at + 1, list_end);
    if (assigned && !declaration.update_columns.empty()) {
      for (const SetItem& item : *assigned) {
        bool listed = std::any_of(
            declaration.update_columns.begin(), declaration.update_columns.end(),
            [&](const std::string& column) { return tsql::EqualsIgnoreCase(column, item.column); });
        if (!listed) throw MakeError(16932);
      }
    }
    if (assigned && list_end == where_at && !assigned->empty()) {
      probe_list.clear();
      for (const SetItem& item : *assigned) {
        if (!probe_list.empty()) probe_list.push_back(tsql::Lex(",").front());
        probe_list.insert(probe_list.end(), item.expression.begin(), item.expression.end());
      }
    } else {
      assigned.reset();
    }
  }
  SelectedRows probe = SelectRows(select_from(probe_list, condition_tokens));
  if (probe.rows.empty()) throw MakeError(16934);

  tsql::Statement change;
  change.kind = statement.kind;
  change.line = statement.line;
  change.with = statement.with;
  change.tokens.assign(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(where_at));
  change.tokens.insert(change.tokens.end(), condition_tokens.begin(), condition_tokens.end());
  {
    ScopedValue<std::int64_t> one_row(session_.RowCountLimit(), 1);
    PassThrough(change);
  }
  // A trigger of the change may have closed the cursor meanwhile.
  if (!cursor->IsOpen() || cursor->Current() == nullptr) return;
  if (!keyed && (!current || *current >= static_cast<std::size_t>(cursor->Rows().Count()))) return;
  if (!update) {
    // A keyset cursor keeps the member: its next FETCH finds it gone (-2).
    // A dynamic one has a hole where it stood, until it moves.
    if (cursor->Visibility() == CursorVisibility::kDynamic) cursor->Dynamic().Forget(1);
    if (keyed) {
      cursor->LastRead().clear();
    } else {
      cursor->Rows().Erase(*current);
    }
    return;
  }
  if (!assigned) return;
  Row& changed = keyed ? cursor->LastRead() : cursor->Rows().RowValues(*current);
  if (changed.size() != cursor->Rows().Columns().size()) return;
  const std::vector<Column>& columns = cursor->Rows().Columns();
  for (size_t k = 0; k < assigned->size(); ++k) {
    const Column* column = FindColumn(columns, (*assigned)[k].column);
    if (column == nullptr) continue;
    changed[static_cast<size_t>(column - columns.data())] =
        ConvertForType(probe.rows.front()[k], column->type);
  }
}

}  // namespace sqlengine::exec
