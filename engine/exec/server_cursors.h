#pragma once
// API server cursors: sp_cursoropen, sp_cursorfetch, sp_cursor,
// sp_cursoroption, sp_cursorclose and the prepared forms sp_cursorprepare,
// sp_cursorexecute, sp_cursorprepexec and sp_cursorunprepare, called by
// name or by procedure id (1..9) as ODBC drivers send them.
//
// Every query runs through the session (its permissions, its SET options).
// A KEYSET cursor over one table with a unique key keeps its members' keys
// and reads their current values at each fetch (a member gone since comes
// back as a missing row); a DYNAMIC one seeks from the key of its buffer at
// each fetch, so it sees inserts, updates and deletes; any other query, and
// STATIC, FORWARD_ONLY and FAST_FORWARD cursors, keep the rows read at the
// open (see keyset_query.h for which queries have keys, and the granted
// scroll option for what a cursor became). Every fetched row carries a
// hidden last column, ROWSTAT: 1 for a row, 2 for a missing one. Changes
// through the cursor run as the session's own UPDATE, DELETE and INSERT
// statements on the row's base table, which find the row by its key and by
// the values the cursor read. Handles belong to the session: they are freed
// by sp_cursorclose and with the session; an open that fails leaves none
// behind. Used on the session's thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engine_api.h"

namespace sqlengine::exec {

class Session;
class CallParameters;
struct KeyedStatement;
struct ParameterisedStatement;

class ServerCursors {
 public:
  explicit ServerCursors(Session& session);
  ~ServerCursors();
  ServerCursors(const ServerCursors&) = delete;
  ServerCursors& operator=(const ServerCursors&) = delete;

  // Runs `call` when it is a cursor procedure (by id, or by `name` in lower
  // case without owner), sending its results, return status and OUTPUT
  // parameters to `sink`; false for any other call. Throws SqlError for a
  // call that fails as a whole (16999 an unknown cursor, 8179 an unknown
  // prepared handle, 16902 a parameter value it cannot take ...).
  bool Run(const RpcCall& call, std::string_view name, ResultSink& sink);

  // Closes every open cursor (a COMMIT or ROLLBACK under
  // CURSOR_CLOSE_ON_COMMIT): fetches and changes then fail with 16917 until
  // sp_cursorclose frees the handle.
  void CloseAll();

  // Open cursors (for tests of handle lifetimes).
  std::size_t OpenCount() const { return cursors_.size(); }

 private:
  struct Cursor;
  struct Prepared {
    std::string statement;
    std::string declarations;
    int scroll = 0;
    int concurrency = 0;
  };
  // The options an open asked for, and on return those it got.
  struct OpenOptions {
    int scroll = 0;
    int concurrency = 0;
    std::int64_t rowcount = 0;
  };

  void Open(CallParameters& call, ResultSink& sink);
  void Prepare(CallParameters& call, ResultSink& sink, bool execute);
  void Execute(CallParameters& call, ResultSink& sink);
  void Unprepare(CallParameters& call, ResultSink& sink);
  void Fetch(CallParameters& call, ResultSink& sink);
  void Change(CallParameters& call, ResultSink& sink);
  void Option(CallParameters& call, ResultSink& sink);
  void Close(CallParameters& call, ResultSink& sink);

  struct Target;

  // Opens a cursor on `statement` and sends its columns; returns its handle,
  // 0 when the statement is no single SELECT (it then runs directly, after
  // the INFO 16954), nullopt when it failed (its errors reached the sink).
  std::optional<int> OpenCursor(const std::string& statement, const std::string& declarations,
                                const std::vector<RpcParam>& values, OpenOptions& options,
                                ResultSink& sink);
  // Sends the handle, the granted options and the row count of an open to
  // the OUTPUT parameters at `slots` (cursor, scrollopt, ccopt, rowcount).
  void ReportOpen(CallParameters& call, int handle, const OpenOptions& options,
                  const std::vector<size_t>& slots, ResultSink& sink);
  // Runs one of the cursor's own queries (its statement's parameters, then
  // `keyed`'s) and returns its rows; throws QueryFailed when it failed (its
  // errors reached the sink).
  std::vector<Row> RunKeyed(const Cursor& cursor, const KeyedStatement& keyed, ResultSink& sink);
  // Sends `rows` (the cursor's columns; nullopt for a missing row) as a
  // result with the hidden ROWSTAT column.
  void SendRows(const Cursor& cursor, const std::vector<std::optional<Row>>& rows,
                ResultSink& sink);
  // sp_cursor's UPDATE, DELETE or INSERT on `targets`; the cursor's copy of
  // the rows follows. False when a statement failed (its errors reached the
  // sink). Throws 16934 when a row is no longer as the cursor read it, 207
  // for a column the table lacks.
  bool ChangeRows(Cursor& cursor, int operation, std::vector<Target>& targets, CallParameters& call,
                  ResultSink& sink);
  // The columns of `table` (T-SQL text); nullopt when it cannot be read.
  std::optional<std::vector<Column>> TableColumns(const std::string& table, ResultSink& sink);
  // Runs one change as the session, SET ROWCOUNT 1; the rows it changed, or
  // nullopt when it failed.
  std::optional<std::int64_t> RunChange(const ParameterisedStatement& statement, ResultSink& sink);
  Cursor& Find(std::optional<std::int64_t> handle, std::string_view procedure);
  const Prepared& FindPrepared(std::optional<std::int64_t> handle);

  Session& session_;
  std::map<int, std::unique_ptr<Cursor>> cursors_;
  std::map<int, Prepared> prepared_;
  int next_cursor_;
  int next_prepared_ = 1;
};

}  // namespace sqlengine::exec
