#include "engine/exec/server_cursors.h"

#include <algorithm>
#include <cstdio>

#include "engine/common/error.h"
#include "engine/exec/captured_result.h"
#include "engine/exec/cursor_call_parameters.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/exec/cursor_rows.h"
#include "engine/exec/dynamic_cursor_rows.h"
#include "engine/exec/keyset_in_database.h"
#include "engine/exec/keyset_query.h"
#include "engine/exec/scoped_value.h"
#include "engine/exec/session.h"
#include "engine/exec/tsql_cursors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/cursor_statements.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/procedure_definition.h"

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

// sp_cursorfetch's row status values (the hidden ROWSTAT column).
enum RowStatus : std::int64_t {
  kRowFetched = 1,
  kRowMissing = 2,
};

struct ServerCursors::Cursor {
  Cursor() : rows({}, {}) {}

  // A snapshot's rows, a keyset's members' keys; a dynamic cursor keeps only
  // the columns here.
  CursorRows rows;
  std::string statement;
  std::string declarations;      // of its parameters ...
  std::vector<RpcParam> values;  // ... and their values, for every query it runs again
  int scroll = kKeyset;
  int concurrency = kOptimisticValues;
  std::string name;      // sp_cursoroption CURSOR_NAME
  std::string database;  // current when it opened: its changes go there
  CursorVisibility visibility = CursorVisibility::kSnapshot;
  std::optional<KeysetQuery> keyset;  // keyed cursors
  std::vector<Column> key_columns;    // keyed cursors, as the keyed query typed them
  std::optional<DynamicCursorRows> dynamic;
  // Keyed cursors: what the last fetch read of each buffer row; nullopt for
  // a missing one.
  std::vector<std::optional<Row>> read;
  ResultOrigins origins;  // sent after each result's columns
  // Keyed cursors: the statements fetches run, kept compiled (a cache,
  // filled by fetches on a cursor they otherwise leave as it is).
  mutable std::optional<CursorSeeks> seeks;
  // Closed by a COMMIT or ROLLBACK (CURSOR_CLOSE_ON_COMMIT): its handle stays
  // until sp_cursorclose, its rows are gone.
  bool closed = false;
};

// A row sp_cursor applies to: its place in the buffer (1-based; 0 for one
// named by its position in the cursor), its index into a snapshot's rows,
// and a keyed cursor's key and the values it expects the row to hold.
struct ServerCursors::Target {
  std::int64_t slot = 0;
  std::optional<std::size_t> index;
  std::optional<Row> key;
  std::optional<Row> values;
};

// A query of an open cursor failed; its errors reached the client.
struct QueryFailed {};

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
  tsql::RefuseCursorForXml(tokens, statements.front()->line);
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

// The first table of the statement's FROM clause, in parts; empty when none.
std::vector<std::string> FirstTable(const std::string& statement) {
  try {
    const tsql::Tokens tokens = tsql::Lex(statement);
    int depth = 0;
    for (size_t k = 0; k < tokens.size(); ++k) {
      if (tokens[k].IsSymbol("(")) ++depth;
      if (tokens[k].IsSymbol(")")) --depth;
      if (depth == 0 && tokens[k].IsWord("from")) {
        size_t at = k + 1;
        if (at >= tokens.size() || !tokens[at].IsName()) return {};
        return tsql::ReadDottedName(tokens, at).parts;
      }
    }
  } catch (const SqlError&) {
  }
  return {};
}

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
  auto cursor = std::make_unique<Cursor>();
  cursor->statement = statement;
  cursor->declarations = declarations;
  cursor->values = values;
  cursor->database = session_.CurrentDatabase();

  // KEYSET and DYNAMIC need a keyed query; without one the cursor becomes
  // STATIC (and so read-only), and a DYNAMIC one over an ordered query
  // becomes KEYSET, as SQL Server converts them.
  if (options.scroll == kKeyset || options.scroll == kDynamic) {
    cursor->keyset =
        KeysetQueryOf(session_.Connection().Handle(), *tsql::ParseBatch(statement).front());
    if (cursor->keyset) ReadInDatabase(*cursor->keyset, cursor->database);
    if (!cursor->keyset) {
      options.scroll = kStatic;
      options.concurrency = kReadOnly;
    } else if (options.scroll == kDynamic && cursor->keyset->ordered) {
      options.scroll = kKeyset;
    }
  }
  cursor->scroll = options.scroll;
  cursor->concurrency = options.concurrency;

  CapturedResult captured(sink);
  if (!cursor->keyset) {
    session_.RunParameterised(statement, declarations, values, 0, captured);
  } else {
    // A dynamic cursor reads no rows now: only the columns, from a seek for none.
    const std::string keyed =
        options.scroll == kKeyset
            ? tsql::TokensText(cursor->keyset->keyed.tokens)
            : tsql::TokensText(Seek(*cursor->keyset, {}, nullptr, true, false, 0).statement.tokens);
    session_.RunParameterised(keyed, declarations, values, 0, captured);
  }
  // A cancelled open leaves no cursor: the client never sees its handle.
  if (captured.Failed() || session_.Cancelled()) return std::nullopt;
  if (!captured.Columns()) return 0;

  std::vector<Column> columns = *captured.Columns();
  std::vector<Row> rows = std::move(captured.Rows());
  if (cursor->keyset) {
    const std::size_t key_count = cursor->keyset->key_columns.size();
    const std::size_t visible = columns.size() - key_count;
    for (std::size_t k = 0; k < key_count; ++k)
      cursor->key_columns.push_back({cursor->keyset->key_columns[k], columns[visible + k].type});
    columns.resize(visible);
    std::vector<Row> keys;
    for (KeyedRow& row : SplitKeyedRows(std::move(rows), key_count))
      keys.push_back(std::move(row.key));
    rows = std::move(keys);
    if (options.scroll == kDynamic) {
      cursor->visibility = CursorVisibility::kDynamic;
      cursor->dynamic.emplace(*cursor->keyset, cursor->key_columns);
    } else {
      cursor->visibility = CursorVisibility::kKeyset;
    }
  }
  cursor->rows = CursorRows(columns, std::move(rows));

  // Where the columns come from: the base table's columns, and expressions
  // that no change can go to; ROWSTAT hidden after them.
  const std::vector<std::string> table =
      cursor->keyset ? cursor->keyset->table : FirstTable(statement);
  cursor->origins.tables.push_back(table);
  std::optional<std::vector<Column>> table_columns;
  if (cursor->keyset) {
    // Only for the origins: a failure here (a column the login may not
    // read) leaves every column unmarked and tells the client nothing.
    DiscardingSink quiet;
    CapturedResult described(quiet);
    session_.RunParameterised("SELECT * " + tsql::TokensText(cursor->keyset->from) + " WHERE 1 = 0",
                              "", {}, 0, described);
    if (!described.Failed() && described.Columns()) table_columns = *described.Columns();
  }
  for (const Column& column : columns) {
    ResultOrigins::ColumnOrigin origin;
    if (table_columns) {
      const bool base = FindColumn(*table_columns, column.name) != nullptr;
      origin.table = base ? 1 : 0;
      origin.expression = !base;
    }
    cursor->origins.columns.push_back(origin);
  }
  cursor->origins.columns.push_back({0, true, true});

  if (KnowsItsRowCount(options.scroll)) options.rowcount = cursor->rows.Count();
  SendRows(*cursor, {}, sink);
  const int handle = next_cursor_++;
  cursors_[handle] = std::move(cursor);
  return handle;
}

void ServerCursors::ReportOpen(CallParameters& call, int handle, const OpenOptions& options,
                               const std::vector<size_t>& slots, ResultSink& sink) {
  call.Output(slots[0], static_cast<std::int64_t>(handle));
  call.Output(slots[1], static_cast<std::int64_t>(options.scroll));
  call.Output(slots[2], static_cast<std::int64_t>(options.concurrency));
  call.Output(slots[3], options.rowcount);
  call.Finish(sink);
}

std::vector<Row> ServerCursors::RunKeyed(const Cursor& cursor, const KeyedStatement& keyed,
                                         ResultSink& sink) {
  std::string declarations = cursor.declarations;
  if (!declarations.empty() && !keyed.declarations.empty()) declarations += ", ";
  declarations += keyed.declarations;
  std::vector<RpcParam> values = cursor.values;
  values.insert(values.end(), keyed.values.begin(), keyed.values.end());
  if (!cursor.seeks) cursor.seeks.emplace(session_.Connection().SyntaxChecked().Rules());
  CapturedResult captured(sink);
  std::optional<std::vector<Row>> rows =
      session_.RunCursorStatement(keyed.statement, declarations, values, *cursor.seeks, captured);
  if (!rows || captured.Failed()) throw QueryFailed{};
  return std::move(*rows);
}

void ServerCursors::SendRows(const Cursor& cursor, const std::vector<std::optional<Row>>& rows,
                             ResultSink& sink) {
  std::vector<Column> columns = cursor.rows.Columns();
  columns.push_back({"ROWSTAT", ColumnType{SqlType::kInt}});
  sink.BeginResult(columns);
  sink.Origins(cursor.origins);
  for (const std::optional<Row>& row : rows) {
    Row sent = row.value_or(Row(cursor.rows.Columns().size()));
    sent.emplace_back(std::in_place_type<std::int64_t>, row ? kRowFetched : kRowMissing);
    sink.AddRow(sent);
  }
  sink.Done(StatementDone{static_cast<std::int64_t>(rows.size()), false});
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
  ReportOpen(call, *handle, options, {0, 2, 3, 4}, sink);
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
  if (!execute) {
    if (describe != 0) session_.DescribeResult(prepared.statement, prepared.declarations, sink);
    call.Output(scroll, static_cast<std::int64_t>(prepared.scroll));
    call.Output(concurrency, static_cast<std::int64_t>(prepared.concurrency));
    call.Finish(sink);
    return;
  }
  OpenOptions opened{prepared.scroll, prepared.concurrency, 0};
  const std::optional<int> cursor =
      OpenCursor(prepared.statement, prepared.declarations, call.Rest(), opened, sink);
  if (!cursor) return;
  ReportOpen(call, *cursor, opened, {1, scroll, concurrency, rowcount}, sink);
}

void ServerCursors::Execute(CallParameters& call, ResultSink& sink) {
  const Prepared& prepared = FindPrepared(call.Integer(0, "prepared_handle"));
  OpenOptions options;
  options.scroll = static_cast<int>(call.Integer(2, "scrollopt").value_or(kKeyset));
  options.concurrency = static_cast<int>(call.Integer(3, "ccopt").value_or(kOptimistic));
  const std::optional<int> handle =
      OpenCursor(prepared.statement, prepared.declarations, call.Rest(), options, sink);
  if (!handle) return;
  ReportOpen(call, *handle, options, {1, 2, 3, 4}, sink);
}

void ServerCursors::Unprepare(CallParameters& call, ResultSink& sink) {
  const std::optional<std::int64_t> handle = call.Integer(0, "prepared_handle");
  FindPrepared(handle);
  prepared_.erase(static_cast<int>(*handle));
  call.Finish(sink);
}

void ServerCursors::Fetch(CallParameters& call, ResultSink& sink) {
  Cursor& cursor = Find(call.Integer(0, "cursor"), call.Procedure());
  if (cursor.closed) throw MakeError(16917);
  const int fetch_type = static_cast<int>(call.Integer(1, "fetchtype").value_or(kFetchNext));
  if ((fetch_type & kFetchInfo) != 0) {
    call.Output(2, cursor.dynamic ? cursor.dynamic->Position() : cursor.rows.BufferStart());
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
  // A dynamic cursor's rows have no numbers to count from.
  if (cursor.dynamic && direction == kFetchAbsolute) throw MakeError(16925, {"ABSOLUTE"});
  if (cursor.keyset) {
    SessionConnection& connection = session_.Connection();
    RequireSameTable(connection.Handle(), connection.SchemaFor(cursor.database), *cursor.keyset);
  }
  std::vector<std::optional<Row>> rows;
  try {
    if (cursor.dynamic) {
      std::optional<std::vector<KeyedRow>> moved = cursor.dynamic->Fetch(
          fetch_type, rownum, nrows,
          [&](const KeyedStatement& keyed) { return RunKeyed(cursor, keyed, sink); });
      if (!moved) throw MakeError(16902, {call.Procedure(), "fetchtype"});
      for (KeyedRow& row : *moved) rows.emplace_back(std::move(row.values));
    } else {
      std::optional<std::vector<Row>> fetched = cursor.rows.Fetch(fetch_type, rownum, nrows);
      if (!fetched) throw MakeError(16902, {call.Procedure(), "fetchtype"});
      for (Row& row : *fetched) {
        if (cursor.visibility == CursorVisibility::kSnapshot) {
          rows.emplace_back(std::move(row));
          continue;
        }
        // A keyset member as it is now; missing once deleted or its key changed.
        std::vector<Row> current =
            RunKeyed(cursor, RowByKey(*cursor.keyset, cursor.key_columns, row), sink);
        if (current.empty()) {
          rows.emplace_back();
        } else {
          rows.emplace_back(std::move(current.front()));
        }
      }
    }
  } catch (const QueryFailed&) {
    return;
  }
  if (cursor.visibility != CursorVisibility::kSnapshot) cursor.read = rows;
  SendRows(cursor, rows, sink);
  call.Finish(sink);
}

void ServerCursors::Change(CallParameters& call, ResultSink& sink) {
  Cursor& cursor = Find(call.Integer(0, "cursor"), call.Procedure());
  if (cursor.closed) throw MakeError(16917);
  const std::optional<std::int64_t> optype = call.Integer(1, "optype");
  if (!optype) throw MakeError(16902, {call.Procedure(), "optype"});
  const int operation = static_cast<int>(*optype) & (kUpdate | kDelete | kInsert | kRefresh);
  const bool changes = (operation & (kUpdate | kDelete | kInsert)) != 0;
  if (changes && cursor.concurrency == kReadOnly) throw MakeError(16929);
  if ((operation & (operation - 1)) != 0) throw MakeError(16902, {call.Procedure(), "optype"});

  // The rows it applies to: one of the fetch buffer (or of the cursor, with
  // ABSOLUTE), or with row number 0 the whole buffer.
  const std::int64_t rownum = call.Integer(2, "rownum").value_or(0);
  const bool keyed = cursor.visibility != CursorVisibility::kSnapshot;
  auto buffer_row = [&](std::int64_t slot) -> std::optional<Target> {
    Target target;
    target.slot = slot;
    if (cursor.dynamic) {
      const Row* key = cursor.dynamic->BufferKey(slot);
      if (key == nullptr) return std::nullopt;
      target.key = *key;
    } else {
      target.index = cursor.rows.BufferRow(slot);
      if (!target.index) return std::nullopt;
      if (keyed) target.key = cursor.rows.RowValues(*target.index);
    }
    if (keyed && static_cast<std::size_t>(slot) <= cursor.read.size())
      target.values = cursor.read[static_cast<std::size_t>(slot - 1)];
    return target;
  };
  std::vector<Target> targets;
  if (operation != kInsert && operation != 0) {
    if ((*optype & kAbsolute) != 0) {
      Target target;
      target.index = cursor.dynamic ? std::nullopt : cursor.rows.RowAt(rownum);
      if (!target.index) throw MakeError(16930);
      if (keyed) target.key = cursor.rows.RowValues(*target.index);
      targets.push_back(std::move(target));
    } else if (rownum == 0) {
      const std::int64_t size =
          cursor.dynamic ? cursor.dynamic->BufferSize() : cursor.rows.BufferSize();
      for (std::int64_t k = 1; k <= size; ++k) {
        if (std::optional<Target> target = buffer_row(k)) targets.push_back(std::move(*target));
      }
      if (targets.empty()) throw MakeError(16931);
    } else {
      std::optional<Target> target = buffer_row(rownum);
      if (!target) throw MakeError(16930);
      targets.push_back(std::move(*target));
    }
  }
  try {
    // A keyed row named by its position alone is read now, for the values
    // a change expects it to hold.
    for (Target& target : targets) {
      if (!keyed || (target.slot != 0 && operation != kRefresh)) continue;
      std::vector<Row> current =
          RunKeyed(cursor, RowByKey(*cursor.keyset, cursor.key_columns, *target.key), sink);
      target.values = current.empty() ? std::nullopt : std::optional<Row>(current.front());
      if (target.slot != 0 && target.slot <= static_cast<std::int64_t>(cursor.read.size()))
        cursor.read[static_cast<std::size_t>(target.slot - 1)] = target.values;
    }
  } catch (const QueryFailed&) {
    return;
  }
  if (operation == kRefresh) {
    std::vector<std::optional<Row>> rows;
    for (const Target& target : targets)
      rows.push_back(keyed ? target.values : cursor.rows.RowValues(*target.index));
    SendRows(cursor, rows, sink);
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

bool ServerCursors::ChangeRows(Cursor& cursor, int operation, std::vector<Target>& targets,
                               CallParameters& call, ResultSink& sink) {
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

  const bool keyed = cursor.visibility != CursorVisibility::kSnapshot;
  std::vector<std::size_t> deleted;
  for (Target& target : targets) {
    // A keyed row is found by its key and, as an optimistic cursor, only
    // while it holds the values the cursor read; a missing one is no more.
    if (keyed && !target.values) throw MakeError(16934);
    Row& row = keyed ? *target.values : cursor.rows.RowValues(*target.index);
    std::vector<ColumnAssignment> identity =
        keyed ? RowIdentity(cursor.key_columns, *target.key, *table_columns)
              : std::vector<ColumnAssignment>();
    for (ColumnAssignment& read : RowIdentity(columns, row, *table_columns)) {
      const bool known =
          std::any_of(identity.begin(), identity.end(), [&](const ColumnAssignment& key) {
            return tsql::EqualsIgnoreCase(key.column, read.column);
          });
      if (!known) identity.push_back(std::move(read));
    }
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
      if (!keyed) {
        deleted.push_back(*target.index);
      } else if (target.slot != 0) {
        // A keyset member stays, missing; a dynamic cursor has a hole until it moves.
        cursor.read[static_cast<std::size_t>(target.slot - 1)].reset();
        if (cursor.dynamic) cursor.dynamic->Forget(target.slot);
      }
      continue;
    }
    for (const ColumnAssignment& value : given) {
      if (std::optional<std::size_t> k = cursor_column(value.column))
        row[*k] = ConvertForType(value.value, columns[*k].type);
    }
    if (keyed && target.slot != 0) cursor.read[static_cast<std::size_t>(target.slot - 1)] = row;
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

void ServerCursors::CloseAll() {
  for (auto& [handle, cursor] : cursors_) {
    cursor->closed = true;
    cursor->rows = CursorRows(cursor->rows.Columns(), {});
    cursor->dynamic.reset();
    cursor->keyset.reset();
    cursor->seeks.reset();
    cursor->read.clear();
  }
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
