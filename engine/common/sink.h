#pragma once
// What the executor produces while it runs a request. The wire layer owns the
// encoding: it picks DONE / DONEINPROC / DONEPROC, sets the MORE bit once it
// knows something follows, and closes a result set with its own DONE before a
// message that arrives after rows, so ODBC clients see that message.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine {

// An INFO (severity <= 10) or ERROR (severity >= 11) message.
struct ServerMessage {
  std::int32_t number = 0;
  int severity = 0;  // as in the message table; the wire layer sends 10 as 0
  int state = 1;
  std::string text;
  std::string procedure;  // empty for ad-hoc batches
  int line = 1;
};

struct StatementDone {
  std::optional<std::int64_t> row_count;  // set: DONE_COUNT
  bool error = false;                      // DONE_ERROR
};

struct OutputValue {
  int ordinal = 0;     // 0-based position in the RPC parameter list
  std::string name;    // "@x", or empty for positional ODBC calls
  ColumnType type;
  Value value;
};

// Where a result's columns come from, as a cursor result tells it (TABNAME
// and COLINFO after its COLMETADATA): the base tables by name, and for each
// column its table (1-based; 0 for none) and whether the client asked for it.
// A hidden column (a cursor's row status) follows the ones asked for.
struct ResultOrigins {
  struct ColumnOrigin {
    int table = 0;
    bool expression = false;  // computed, so no change can go to it
    bool hidden = false;
  };
  std::vector<std::vector<std::string>> tables;  // each in parts, at least one part
  std::vector<ColumnOrigin> columns;             // one per column of the result
};

enum class EnvChangeKind {
  kDatabase,
  kLanguage,
  kBeginTransaction,
  kCommitTransaction,
  kRollbackTransaction
};

struct EnvChange {
  EnvChangeKind kind = EnvChangeKind::kDatabase;
  std::string new_value;  // database or language name; empty for transactions
  std::string old_value;
  std::uint64_t transaction_descriptor = 0;  // for transaction changes (TDS 7.2+)
};

// Called on the session's own thread, in the order the client must see.
// Row() may block while the client is slow to read (back-pressure); every
// method may throw ClientGone when the connection has broken, which the
// executor lets propagate after rolling back what it must.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void BeginResult(const std::vector<Column>& columns) = 0;
  virtual void AddRow(const Row& row) = 0;
  virtual void Message(const ServerMessage& message) = 0;
  // Ends one statement (a SELECT's result set, an INSERT's count, ...).
  virtual void Done(const StatementDone& done) = 0;
  virtual void ReturnStatus(std::int32_t status) = 0;
  virtual void ReturnValue(const OutputValue& value) = 0;
  virtual void Environment(const EnvChange& change) = 0;
  // Follows BeginResult for a result whose columns' origins the client
  // learns; sinks that keep no wire form ignore it.
  virtual void Origins(const ResultOrigins& /*origins*/) {}
  // Bracket the body of a procedure that T-SQL runs with EXEC[UTE]: the
  // statements inside end in DONEINPROC, and the outermost procedure of a
  // batch ends in RETURNSTATUS and DONEPROC. EndProcedure(nullopt) abandons
  // the procedure (a batch-ending error, an exception): nothing more is sent
  // for it, and it writes nothing, so it never throws. A sink that passes
  // calls on to another must pass these on too.
  virtual void BeginProcedure() {}
  virtual void EndProcedure(std::optional<std::int32_t> /*return_status*/) {}
};

// Takes everything it is sent and drops it.
class DiscardingSink final : public ResultSink {
 public:
  void BeginResult(const std::vector<Column>&) override {}
  void AddRow(const Row&) override {}
  void Message(const ServerMessage&) override {}
  void Done(const StatementDone&) override {}
  void ReturnStatus(std::int32_t) override {}
  void ReturnValue(const OutputValue&) override {}
  void Environment(const EnvChange&) override {}
};

// Thrown by a ResultSink when the client connection is gone.
struct ClientGone {};

}  // namespace sqlengine
