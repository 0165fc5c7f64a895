#include "engine/exec/server_cursors.h"

#include <algorithm>
#include <cstdio>

#include "engine/common/error.h"
#include "engine/exec/captured_result.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/exec/cursor_rows.h"
#include "engine/exec/scoped_value.h"
#include "engine/exec/session.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"

namespace sqlengine::exec {

// sp_cursoropen's scrollopt and ccopt values.
enum ScrollOption : int {
  kKeyset = 0x01,
  kDynamic = 0x02,
  kForwardOnly = 0x04,
  kStatic = 0x08,
  kFastForward = 0x10,
  kScrollTypes = 0x1F,
  kParameterized = 0x1000,
};
enum ConcurrencyOption : int {
  kReadOnly = 0x01,
  kScrollLocks = 0x02,
  kOptimistic = 0x04,
  kOptimisticValues = 0x08,
  kConcurrencyTypes = 0x0F,
};
// sp_cursor's optype values.
enum ChangeOperation : int {
  kUpdate = 0x01,
  kDelete = 0x02,
  kInsert = 0x04,
  kRefresh = 0x08,
  kLock = 0x10,
  kSetPosition = 0x20,
  kAbsolute = 0x40,
};
// sp_cursoroption's codes.
enum CursorOptionCode : int {
  kTextPointerOnly = 1,
  kCursorName = 2,
  kTextData = 3,
  kScrollOptionCode = 4,
  kConcurrencyCode = 5,
  kRowCountCode = 6,
};

struct ServerCursors::Cursor {
  CursorRows rows;
  std::string statement;
  int scroll = kKeyset;
  int concurrency = kOptimisticValues;
  std::string name;      // sp_cursoroption CURSOR_NAME
  std::string database;  // current when it opened: its changes go there
};

// The parameters of one call matched to the procedure's formal parameters:
// by name when the client names them, else by position. Parameters that
// match no formal one (the values of a parameterised statement) are Rest().
// OUTPUT values are collected and sent after the return status by Finish().
class CallParameters {
 public:
  CallParameters(std::string_view procedure, const RpcCall& call,
                 std::vector<std::string_view> formals)
      : procedure_(procedure), params_(call.params), slots_(formals.size()) {
    size_t position = 0;
    for (size_t i = 0; i < params_.size(); ++i) {
      const RpcParam& param = params_[i];
      size_t slot = formals.size();
      if (!param.name.empty()) {
        for (size_t k = 0; k < formals.size(); ++k) {
          if (tsql::EqualsIgnoreCase(param.name, formals[k])) slot = k;
        }
      } else if (position < formals.size()) {
        slot = position++;
      }
      if (slot < formals.size() && !slots_[slot]) {
        slots_[slot] = i;
      } else {
        rest_.push_back(param);
      }
    }
  }

  std::string_view Procedure() const { return procedure_; }
  bool Given(size_t formal) const {
    return slots_[formal] && !params_[*slots_[formal]].is_default &&
           !IsNull(params_[*slots_[formal]].value);
  }
  // The value as an integer; nullopt when not given or NULL. Throws 16902
  // (naming `parameter`) for a value that is no integer.
  std::optional<std::int64_t> Integer(size_t formal, std::string_view parameter) const {
    if (!Given(formal)) return std::nullopt;
    const Value& value = params_[*slots_[formal]].value;
    if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
    try {
      const Value converted = ConvertForType(value, ColumnType{SqlType::kBigInt});
      if (const auto* number = std::get_if<std::int64_t>(&converted)) return *number;
    } catch (const SqlError&) {
    }
    throw MakeError(16902, {procedure_, parameter});
  }
  std::string Text(size_t formal) const {
    return Given(formal) ? ValueText(params_[*slots_[formal]].value) : std::string();
  }
  const std::vector<RpcParam>& Rest() const { return rest_; }

  // Sends `value` back for `formal` when the client passed it as OUTPUT.
  void Output(size_t formal, Value value) {
    if (!slots_[formal] || !params_[*slots_[formal]].output) return;
    const size_t index = *slots_[formal];
    const RpcParam& param = params_[index];
    outputs_.push_back(OutputValue{static_cast<int>(index), param.name, param.type,
                                   ConvertForType(value, param.type)});
  }
  void Finish(ResultSink& sink, std::int32_t status = 0) {
    sink.ReturnStatus(status);
    std::sort(outputs_.begin(), outputs_.end(),
              [](const OutputValue& a, const OutputValue& b) { return a.ordinal < b.ordinal; });
    for (const OutputValue& output : outputs_) sink.ReturnValue(output);
  }

 private:
  std::string_view procedure_;
  const std::vector<RpcParam>& params_;
  std::vector<std::optional<size_t>> slots_;
  std::vector<RpcParam> rest_;
  std::vector<OutputValue> outputs_;
};

namespace {

// A handle as SQL Server's own look: large, and not reused by a session.
constexpr int kFirstCursorHandle = 180150001;

// One SELECT (with or without a WITH list) that writes nothing: what a
// cursor can be opened on. Throws SqlError for text that does not parse.
bool IsCursorSelect(const std::string& statement) {
  tsql::StatementList statements = tsql::ParseBatch(statement);
  if (statements.size() != 1 || statements.front()->kind != tsql::StatementKind::kSelect)
    return false;
  const tsql::Tokens& tokens = statements.front()->tokens;
  return std::none_of(tokens.begin(), tokens.end(),
                      [](const tsql::Token& token) { return token.IsWord("into"); });
}

int ScrollType(std::optional<std::int64_t> requested) {
  const int types = static_cast<int>(requested.value_or(kKeyset)) & kScrollTypes;
  if (types == 0) return kKeyset;
  return types & -types;  // the lowest bit asked for
}

// Static and fast-forward cursors are read-only, as in SQL Server; every
// other asks for an updatable cursor get optimistic concurrency by values,
// which is how changes through a cursor find their row here.
int Concurrency(std::optional<std::int64_t> requested, int scroll) {
  if (scroll == kStatic || scroll == kFastForward) return kReadOnly;
  const int types = static_cast<int>(requested.value_or(kOptimistic)) & kConcurrencyTypes;
  return (types & kReadOnly) != 0 ? kReadOnly : kOptimisticValues;
}

bool KnowsItsRowCount(int scroll) { return scroll == kKeyset || scroll == kStatic; }

std::string HexHandle(std::int64_t handle) {
  char text[24];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(handle));
  return text;
}

// The base table a change through the cursor goes to, written as T-SQL:
// `given` (sp_cursor's table parameter) or else the first table of the
// statement's FROM clause, in `database` (where the cursor was opened) unless
// the name says another. Throws 16933 when there is none.
std::string ChangedTable(const std::string& given, const std::string& statement,
                         const std::string& database) {
  tsql::Tokens tokens;
  size_t at = 0;
  if (!given.empty()) {
    tokens = tsql::Lex(given);
  } else {
    tokens = tsql::Lex(statement);
    int depth = 0;
    at = tokens.size();
    for (size_t k = 0; k < tokens.size(); ++k) {
      if (tokens[k].IsSymbol("(")) ++depth;
      if (tokens[k].IsSymbol(")")) --depth;
      if (depth == 0 && tokens[k].IsWord("from")) {
        at = k + 1;
        break;
      }
    }
  }
  tsql::DottedName name = tsql::ReadDottedName(tokens, at);
  const bool whole =
      name.end >= tokens.size() || tokens[name.end].kind == tsql::TokenKind::kEnd || given.empty();
  if (name.parts.empty() || !whole || name.Last().empty()) throw MakeError(16933);
  std::string written;
  if (name.parts.size() < 3 && !database.empty())
    written = BracketQuoted(database) + (name.parts.size() == 1 ? ".." : ".");
  for (size_t k = 0; k < name.parts.size(); ++k) {
    if (k > 0) written += ".";
    if (!name.parts[k].empty()) written += BracketQuoted(name.parts[k]);
  }
  return written;
}

bool IsWrittenChange(const std::vector<RpcParam>& values) {
  if (values.size() != 1 || !values.front().name.empty()) return false;
  const auto* text = std::get_if<std::string>(&values.front().value);
  if (text == nullptr) return false;
  try {
    const tsql::Tokens tokens = tsql::Lex(*text);
    return !tokens.empty() && tokens.front().IsAnyWord({"update", "insert"});
  } catch (const SqlError&) {
    return false;  // no statement: a value with an odd quote, say
  }
}

}  // namespace

ServerCursors::ServerCursors(Session& session)
    : session_(session), next_cursor_(kFirstCursorHandle) {}

ServerCursors::~ServerCursors() = default;

bool ServerCursors::Run(const RpcCall& call, std::string_view name, ResultSink& sink) {
  auto is = [&](SpecialProc id, std::string_view procedure) {
    return call.proc_id == id || (call.proc_id == SpecialProc::kNone && name == procedure);
  };
  if (is(SpecialProc::kCursorOpen, "sp_cursoropen")) {
    CallParameters parameters("sp_cursoropen", call,
                              {"@cursor", "@stmt", "@scrollopt", "@ccopt", "@rowcount"});
    Open(parameters, sink);
  } else if (is(SpecialProc::kCursorFetch, "sp_cursorfetch")) {
    CallParameters parameters("sp_cursorfetch", call,
                              {"@cursor", "@fetchtype", "@rownum", "@nrows"});
    Fetch(parameters, sink);
  } else if (is(SpecialProc::kCursor, "sp_cursor")) {
    CallParameters parameters("sp_cursor", call, {"@cursor", "@optype", "@rownum", "@table"});
    Change(parameters, sink);
  } else if (is(SpecialProc::kCursorOption, "sp_cursoroption")) {
    CallParameters parameters("sp_cursoroption", call, {"@cursor", "@code", "@value"});
    Option(parameters, sink);
  } else if (is(SpecialProc::kCursorClose, "sp_cursorclose")) {
    CallParameters parameters("sp_cursorclose", call, {"@cursor"});
    Close(parameters, sink);
  } else if (is(SpecialProc::kCursorPrepare, "sp_cursorprepare")) {
    CallParameters parameters(
        "sp_cursorprepare", call,
        {"@prepared_handle", "@params", "@stmt", "@options", "@scrollopt", "@ccopt"});
    Prepare(parameters, sink, false);
  } else if (is(SpecialProc::kCursorPrepExec, "sp_cursorprepexec")) {
    CallParameters parameters("sp_cursorprepexec", call,
                              {"@prepared_handle", "@cursor", "@params", "@stmt", "@options",
                               "@scrollopt", "@ccopt", "@rowcount"});
    Prepare(parameters, sink, true);
  } else if (is(SpecialProc::kCursorExecute, "sp_cursorexecute")) {
    CallParameters parameters("sp_cursorexecute", call,
                              {"@prepared_handle", "@cursor", "@scrollopt", "@ccopt", "@rowcount"});
    Execute(parameters, sink);
  } else if (is(SpecialProc::kCursorUnprepare, "sp_cursorunprepare")) {
    CallParameters parameters("sp_cursorunprepare", call, {"@prepared_handle"});
    Unprepare(parameters, sink);
  } else {
    return false;
  }
  return true;
}

std::optional<int> ServerCursors::OpenCursor(const std::string& statement,
                                             const std::string& declarations,
                                             const std::vector<RpcParam>& values,
                                             OpenOptions& options, ResultSink& sink) {
  options.scroll = ScrollType(options.scroll);
  options.concurrency = Concurrency(options.concurrency, options.scroll);
  options.rowcount = -1;
  if (!IsCursorSelect(statement)) {
    sink.Message(FormatMessage(16954));
    session_.RunParameterised(statement, declarations, values, 0, sink);
    return 0;
  }
  CapturedResult captured(sink);
  session_.RunParameterised(statement, declarations, values, 0, captured);
  // A cancelled open leaves no cursor: the client never sees its handle.
  if (captured.Failed() || session_.Cancelled()) return std::nullopt;
  if (!captured.Columns()) return 0;
  auto cursor =
      std::make_unique<Cursor>(Cursor{CursorRows(*captured.Columns(), std::move(captured.Rows())),
                                      statement,
                                      options.scroll,
                                      options.concurrency,
                                      {},
                                      session_.CurrentDatabase()});
  if (KnowsItsRowCount(options.scroll)) options.rowcount = cursor->rows.Count();
  sink.BeginResult(cursor->rows.Columns());
  sink.Done({});
  const int handle = next_cursor_++;
  cursors_[handle] = std::move(cursor);
  return handle;
}

void ServerCursors::Open(CallParameters& call, ResultSink& sink) {
  if (!call.Given(1)) throw MakeError(16902, {call.Procedure(), "stmt"});
  OpenOptions options;
  const std::optional<std::int64_t> scroll = call.Integer(2, "scrollopt");
  options.scroll = static_cast<int>(scroll.value_or(kKeyset));
  options.concurrency = static_cast<int>(call.Integer(3, "ccopt").value_or(kOptimistic));
  // A parameterised statement has its declarations first among the rest.
  std::string declarations;
  std::vector<RpcParam> values = call.Rest();
  if (scroll && (*scroll & kParameterized) != 0 && !values.empty()) {
    declarations = IsNull(values.front().value) ? "" : ValueText(values.front().value);
    values.erase(values.begin());
  }
  const std::optional<int> handle = OpenCursor(call.Text(1), declarations, values, options, sink);
  if (!handle) return;
  call.Output(0, static_cast<std::int64_t>(*handle));
  call.Output(2, static_cast<std::int64_t>(options.scroll));
  call.Output(3, static_cast<std::int64_t>(options.concurrency));
  call.Output(4, options.rowcount);
  call.Finish(sink);
}

void ServerCursors::Prepare(CallParameters& call, ResultSink& sink, bool execute) {
  // sp_cursorprepexec has the cursor handle second; the rest moves by one.
  const size_t shift = execute ? 1 : 0;
  const size_t params = 1 + shift, stmt = 2 + shift, options = 3 + shift, scroll = 4 + shift,
               concurrency = 5 + shift, rowcount = 6 + shift;
  if (!call.Given(stmt)) throw MakeError(16902, {call.Procedure(), "stmt"});
  Prepared prepared;
  prepared.statement = call.Text(stmt);
  prepared.declarations = call.Text(params);
  prepared.scroll = ScrollType(call.Integer(scroll, "scrollopt"));
  prepared.concurrency = Concurrency(call.Integer(concurrency, "ccopt"), prepared.scroll);
  const std::int64_t describe = call.Integer(options, "options").value_or(0) & 0x0001;
  // Syntax errors show at once, as SQL Server compiles the statement here.
  IsCursorSelect(prepared.statement);
  const int handle = next_prepared_++;
  prepared_[handle] = prepared;
  call.Output(0, static_cast<std::int64_t>(handle));
  if (execute) {
    OpenOptions opened{prepared.scroll, prepared.concurrency, 0};
    const std::optional<int> cursor =
        OpenCursor(prepared.statement, prepared.declarations, call.Rest(), opened, sink);
    if (!cursor) return;
    call.Output(1, static_cast<std::int64_t>(*cursor));
    call.Output(rowcount, opened.rowcount);
  } else if (describe != 0) {
    session_.DescribeResult(prepared.statement, prepared.declarations, sink);
  }
  call.Output(scroll, static_cast<std::int64_t>(prepared.scroll));
  call.Output(concurrency, static_cast<std::int64_t>(prepared.concurrency));
  call.Finish(sink);
}

void ServerCursors::Execute(CallParameters& call, ResultSink& sink) {
  const Prepared& prepared = FindPrepared(call.Integer(0, "prepared_handle"));
  OpenOptions options;
  options.scroll = static_cast<int>(call.Integer(2, "scrollopt").value_or(kKeyset));
  options.concurrency = static_cast<int>(call.Integer(3, "ccopt").value_or(kOptimistic));
  const std::optional<int> handle =
      OpenCursor(prepared.statement, prepared.declarations, call.Rest(), options, sink);
  if (!handle) return;
  call.Output(1, static_cast<std::int64_t>(*handle));
  call.Output(2, static_cast<std::int64_t>(options.scroll));
  call.Output(3, static_cast<std::int64_t>(options.concurrency));
  call.Output(4, options.rowcount);
  call.Finish(sink);
}

void ServerCursors::Unprepare(CallParameters& call, ResultSink& sink) {
  const std::optional<std::int64_t> handle = call.Integer(0, "prepared_handle");
  FindPrepared(handle);
  prepared_.erase(static_cast<int>(*handle));
  call.Finish(sink);
}

void ServerCursors::Fetch(CallParameters& call, ResultSink& sink) {
  Cursor& cursor = Find(call.Integer(0, "cursor"), call.Procedure());
  const int fetch_type = static_cast<int>(call.Integer(1, "fetchtype").value_or(kFetchNext));
  if ((fetch_type & kFetchInfo) != 0) {
    call.Output(2, cursor.rows.BufferStart());
    call.Output(3, KnowsItsRowCount(cursor.scroll) ? cursor.rows.Count() : std::int64_t{-1});
    call.Finish(sink);
    return;
  }
  const std::int64_t rownum = call.Integer(2, "rownum").value_or(0);
  const std::int64_t nrows = call.Integer(3, "nrows").value_or(20);
  if (nrows < 0) throw MakeError(16902, {call.Procedure(), "nrows"});
  const int direction = fetch_type & ~kFetchSkipUpdateConcurrency;
  if ((cursor.scroll == kForwardOnly || cursor.scroll == kFastForward) &&
      direction != kFetchFirst && direction != kFetchNext && direction != kFetchRefresh) {
    std::string_view kind = direction == kFetchLast       ? "LAST"
                            : direction == kFetchAbsolute ? "ABSOLUTE"
                            : direction == kFetchRelative ? "RELATIVE"
                                                          : "PREV";
    throw MakeError(16911, {call.Procedure(), kind});
  }
  std::optional<std::vector<Row>> rows = cursor.rows.Fetch(fetch_type, rownum, nrows);
  if (!rows) throw MakeError(16902, {call.Procedure(), "fetchtype"});
  sink.BeginResult(cursor.rows.Columns());
  for (const Row& row : *rows) sink.AddRow(row);
  sink.Done(StatementDone{static_cast<std::int64_t>(rows->size()), false});
  call.Finish(sink);
}

void ServerCursors::Change(CallParameters& call, ResultSink& sink) {
  Cursor& cursor = Find(call.Integer(0, "cursor"), call.Procedure());
  const std::optional<std::int64_t> optype = call.Integer(1, "optype");
  if (!optype) throw MakeError(16902, {call.Procedure(), "optype"});
  const int operation = static_cast<int>(*optype) & (kUpdate | kDelete | kInsert | kRefresh);
  const bool changes = (operation & (kUpdate | kDelete | kInsert)) != 0;
  if (changes && cursor.concurrency == kReadOnly) throw MakeError(16929);
  if ((operation & (operation - 1)) != 0) throw MakeError(16902, {call.Procedure(), "optype"});

  // The rows it applies to: one of the fetch buffer (or of the cursor, with
  // ABSOLUTE), or with row number 0 the whole buffer.
  const std::int64_t rownum = call.Integer(2, "rownum").value_or(0);
  std::vector<std::size_t> targets;
  if (operation != kInsert && operation != 0) {
    if ((*optype & kAbsolute) != 0) {
      std::optional<std::size_t> row = cursor.rows.RowAt(rownum);
      if (!row) throw MakeError(16930);
      targets.push_back(*row);
    } else if (rownum == 0) {
      for (std::int64_t k = 1; k <= cursor.rows.BufferSize(); ++k) {
        if (std::optional<std::size_t> row = cursor.rows.BufferRow(k)) targets.push_back(*row);
      }
      if (targets.empty()) throw MakeError(16931);
    } else {
      std::optional<std::size_t> row = cursor.rows.BufferRow(rownum);
      if (!row) throw MakeError(16930);
      targets.push_back(*row);
    }
  }
  if (operation == kRefresh) {
    sink.BeginResult(cursor.rows.Columns());
    for (std::size_t row : targets) sink.AddRow(cursor.rows.RowValues(row));
    sink.Done(StatementDone{static_cast<std::int64_t>(targets.size()), false});
  }
  if (changes && !ChangeRows(cursor, operation, targets, call, sink)) return;
  call.Finish(sink);
}

std::optional<std::vector<Column>> ServerCursors::TableColumns(const std::string& table,
                                                               ResultSink& sink) {
  CapturedResult captured(sink);
  session_.RunParameterised("SELECT * FROM " + table + " WHERE 1 = 0", "", {}, 0, captured);
  if (captured.Failed() || !captured.Columns()) return std::nullopt;
  return *captured.Columns();
}

std::optional<std::int64_t> ServerCursors::RunChange(const ParameterisedStatement& statement,
                                                     ResultSink& sink) {
  CapturedResult captured(sink);
  {
    ScopedValue<std::int64_t> one_row(session_.RowCountLimit(), 1);
    session_.RunParameterised(statement.text, statement.declarations, statement.values, 0,
                              captured);
  }
  if (captured.Failed()) return std::nullopt;
  return session_.RowCount();
}

bool ServerCursors::ChangeRows(Cursor& cursor, int operation,
                               const std::vector<std::size_t>& targets, CallParameters& call,
                               ResultSink& sink) {
  const std::string table = ChangedTable(call.Text(3), cursor.statement, cursor.database);
  const std::optional<std::vector<Column>> table_columns = TableColumns(table, sink);
  if (!table_columns) return false;
  const std::vector<Column>& columns = cursor.rows.Columns();
  auto cursor_column = [&](std::string_view name) -> std::optional<std::size_t> {
    const Column* column = FindColumn(columns, name);
    if (column == nullptr) return std::nullopt;
    return static_cast<std::size_t>(column - columns.data());
  };

  // SQL Server also takes the change as one text, "UPDATE [table] SET ..." or
  // "INSERT [table] VALUES ...". The engine does not: that text would
  // otherwise be taken for the first column's new value.
  if (IsWrittenChange(call.Rest())) throw MakeError(16902, {call.Procedure(), "value"});

  // The new values, named @column or given in the order of the cursor's columns.
  std::vector<ColumnAssignment> given;
  std::size_t position = 0;
  for (const RpcParam& value : call.Rest()) {
    std::string name;
    if (!value.name.empty()) {
      name = value.name.substr(value.name.front() == '@' ? 1 : 0);
    } else if (position < columns.size()) {
      name = columns[position++].name;
    } else {
      throw MakeError(8144, {call.Procedure()});
    }
    const Column* column = FindColumn(*table_columns, name);
    if (column == nullptr) throw MakeError(207, {name});
    given.push_back({column->name, column->type, value.value});
  }
  if (operation == kInsert) return RunChange(InsertRowStatement(table, given), sink).has_value();

  std::vector<std::size_t> deleted;
  for (std::size_t target : targets) {
    Row& row = cursor.rows.RowValues(target);
    const std::vector<ColumnAssignment> identity = RowIdentity(columns, row, *table_columns);
    if (identity.empty()) throw MakeError(16933);
    ParameterisedStatement statement;
    if (operation == kDelete) {
      statement = DeleteRowStatement(table, identity);
    } else {
      std::vector<ColumnAssignment> set;
      for (const ColumnAssignment& value : given) {
        // Clients send every bound column back; an identity column sent
        // with the value it has is no change to it.
        std::optional<std::size_t> k = cursor_column(value.column);
        if (value.type.identity && k && !IsNull(value.value) &&
            ValueText(row[*k]) == ValueText(value.value))
          continue;
        set.push_back(value);
      }
      if (set.empty()) continue;
      statement = UpdateRowStatement(table, set, identity);
    }
    const std::optional<std::int64_t> changed = RunChange(statement, sink);
    if (!changed) return false;
    if (*changed == 0) throw MakeError(16934);
    if (operation == kDelete) {
      deleted.push_back(target);
      continue;
    }
    for (const ColumnAssignment& value : given) {
      if (std::optional<std::size_t> k = cursor_column(value.column))
        row[*k] = ConvertForType(value.value, columns[*k].type);
    }
  }
  std::sort(deleted.rbegin(), deleted.rend());
  for (std::size_t row : deleted) cursor.rows.Erase(row);
  return true;
}

void ServerCursors::Option(CallParameters& call, ResultSink& sink) {
  Cursor& cursor = Find(call.Integer(0, "cursor"), call.Procedure());
  const std::optional<std::int64_t> code = call.Integer(1, "code");
  switch (code.value_or(0)) {
    case kTextPointerOnly:
    case kTextData:
    case kRowCountCode:
      // Text, ntext and image values always come as data, and every fetch
      // says how many rows it returns.
      break;
    case kCursorName: {
      const std::string name = call.Text(2);
      if (name.empty()) throw MakeError(16902, {call.Procedure(), "value"});
      for (const auto& [handle, other] : cursors_) {
        if (other.get() != &cursor && tsql::EqualsIgnoreCase(other->name, name))
          throw MakeError(16915, {name});
      }
      cursor.name = name;
      break;
    }
    case kScrollOptionCode:
      if (ScrollType(call.Integer(2, "value")) != cursor.scroll)
        throw MakeError(16902, {call.Procedure(), "value"});
      break;
    case kConcurrencyCode: {
      const int concurrency = Concurrency(call.Integer(2, "value"), cursor.scroll);
      if (cursor.scroll == kStatic || cursor.scroll == kFastForward) break;
      cursor.concurrency = concurrency;
      break;
    }
    default:
      throw MakeError(16902, {call.Procedure(), "code"});
  }
  call.Finish(sink);
}

void ServerCursors::Close(CallParameters& call, ResultSink& sink) {
  const std::optional<std::int64_t> handle = call.Integer(0, "cursor");
  Find(handle, call.Procedure());
  cursors_.erase(static_cast<int>(*handle));
  call.Finish(sink);
}

ServerCursors::Cursor& ServerCursors::Find(std::optional<std::int64_t> handle,
                                           std::string_view procedure) {
  auto it = handle && *handle > 0 && *handle <= INT32_MAX ? cursors_.find(static_cast<int>(*handle))
                                                          : cursors_.end();
  if (it == cursors_.end()) throw MakeError(16999, {procedure, HexHandle(handle.value_or(0))});
  return *it->second;
}

const ServerCursors::Prepared& ServerCursors::FindPrepared(std::optional<std::int64_t> handle) {
  auto it = handle && *handle > 0 && *handle <= INT32_MAX
                ? prepared_.find(static_cast<int>(*handle))
                : prepared_.end();
  if (it == prepared_.end())
    throw MakeError(8179, {handle ? std::to_string(*handle) : std::string("NULL")});
  return it->second;
}

}  // namespace sqlengine::exec
