#pragma once
// API server cursors: sp_cursoropen, sp_cursorfetch, sp_cursor,
// sp_cursoroption, sp_cursorclose and the prepared forms sp_cursorprepare,
// sp_cursorexecute, sp_cursorprepexec and sp_cursorunprepare, called by
// name or by procedure id (1..9) as ODBC drivers send them.
//
// A cursor reads its rows once, when it opens, through the session (its
// permissions, its SET options); every scroll type then moves over that
// snapshot, and changes through the cursor run as the session's own UPDATE,
// DELETE and INSERT statements on the row's base table, which find the row
// by the values the cursor read. Handles belong to the session: they are
// freed by sp_cursorclose and with the session; an open that fails leaves
// none behind. Used on the session's thread only.

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

  // Opens a cursor on `statement` and sends its columns; returns its handle,
  // 0 when the statement is no single SELECT (it then runs directly, after
  // the INFO 16954), nullopt when it failed (its errors reached the sink).
  std::optional<int> OpenCursor(const std::string& statement, const std::string& declarations,
                                const std::vector<RpcParam>& values, OpenOptions& options,
                                ResultSink& sink);
  // sp_cursor's UPDATE, DELETE or INSERT on the rows `targets` (indexes into
  // the cursor's rows); the cursor's copy of the rows follows. False when a
  // statement failed (its errors reached the sink). Throws 16934 when a row
  // is no longer as the cursor read it, 207 for a column the table lacks.
  bool ChangeRows(Cursor& cursor, int operation, const std::vector<std::size_t>& targets,
                  CallParameters& call, ResultSink& sink);
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
