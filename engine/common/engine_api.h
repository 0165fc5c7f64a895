#pragma once
// The boundary between the wire layer (tds/, server/) and the SQL side
// (tsql/, exec/, catalog/). The wire layer decodes requests into these
// structs and hands them to a SqlSession together with a ResultSink.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/log.h"
#include "engine/common/sink.h"
#include "engine/common/types.h"

namespace sqlengine {

struct LoginRequest {
  std::string user;
  std::string password;
  std::string database;      // empty: the login's default database
  std::string app_name;
  std::string host_name;
  std::uint32_t client_pid = 0;
  bool integrated = false;  // fIntSecurity: refused with 18452
  bool odbc = false;        // fODBC: the session starts with CURSOR_CLOSE_ON_COMMIT OFF
  std::string client_address;
};

struct RpcParam {
  std::string name;  // "@p" or empty for positional
  ColumnType type;
  Value value;
  bool output = false;      // by-reference (status bit 0x01)
  bool is_default = false;  // the parameter's default is wanted (status bit 0x02)
};

// Well-known procedure ids of an RPC sent by id instead of by name.
enum class SpecialProc : std::uint16_t {
  kNone = 0,
  kCursor = 1,
  kCursorOpen = 2,
  kCursorPrepare = 3,
  kCursorExecute = 4,
  kCursorPrepExec = 5,
  kCursorUnprepare = 6,
  kCursorFetch = 7,
  kCursorOption = 8,
  kCursorClose = 9,
  kExecuteSql = 10,
  kPrepare = 11,
  kExecute = 12,
  kPrepExec = 13,
  kPrepExecRpc = 14,
  kUnprepare = 15,
};

struct RpcCall {
  std::string name;  // set when called by name (may be "dbo.p", "[db]..p")
  SpecialProc proc_id = SpecialProc::kNone;
  std::uint16_t option_flags = 0;  // fWithRecomp 0x01, fNoMetaData 0x02
  std::vector<RpcParam> params;
};

enum class TransactionRequest { kBegin, kCommit, kRollback, kSave, kGetDtcAddress, kPropagate };

struct TmCall {
  TransactionRequest request = TransactionRequest::kBegin;
  std::string name;                // transaction / savepoint name
  bool begin_new_after = false;    // commit/rollback with fBeginXact
  std::uint64_t descriptor = 0;    // from ALL_HEADERS
};

// The rows of one bulk-load message (the BULKLOAD data a client sends after
// INSERT BULK), read one at a time so that a large load is never held as
// values all at once. Borrows the message: it must outlive the source.
class BulkRowSource {
 public:
  virtual ~BulkRowSource() = default;
  // The columns the client describes, in the order of each row's values;
  // the name is the table column the values go to.
  virtual const std::vector<Column>& Columns() const = 0;
  // Reads the next row into `row`; false once the rows have ended. Throws
  // SqlError (4002 stream ended early or out of order, 4815 invalid length
  // or value, 4816 invalid type) when the data cannot be read; no more rows
  // come after that.
  virtual bool Next(Row& row) = 0;
};

// One per client connection. All methods except Cancel() are called on the
// session's own thread, one at a time. Errors that belong to the client are
// reported through the sink (Message with severity >= 11 and Done.error);
// methods throw only ClientGone (from the sink) or on an internal fault.
class SqlSession {
 public:
  virtual ~SqlSession() = default;
  virtual void ExecuteBatch(const std::string& sql_utf8, ResultSink& sink) = 0;
  virtual void ExecuteRpc(const RpcCall& call, ResultSink& sink) = 0;
  virtual void Transaction(const TmCall& call, ResultSink& sink) = 0;
  // The data of the INSERT BULK the session's previous request announced.
  // A stream that fails to read is reported through the sink like any error.
  virtual void BulkLoad(BulkRowSource& rows, ResultSink& sink) = 0;
  // Thread-safe. Asks the running request to stop soon; the request then
  // returns normally (the wire layer answers with DONE_ATTN). Harmless when
  // nothing runs.
  virtual void Cancel() = 0;
  virtual std::string CurrentDatabase() const = 0;
  virtual int Spid() const = 0;
  // Called once by the connection's owner after login: how another session's
  // KILL ends this connection. `disconnect` is thread-safe and stays valid
  // until the session is destroyed.
  virtual void SetDisconnect(std::function<void()> /*disconnect*/) {}
  // Called once by the connection's owner after login: whether the client has
  // closed its end of the connection, so that what runs after the client's
  // disconnect no longer counts the session in. Thread-safe and valid until
  // the session is destroyed.
  virtual void SetClientGone(std::function<bool()> /*client_gone*/) {}
};

struct LoginResult {
  std::unique_ptr<SqlSession> session;   // null when the login failed
  std::vector<ServerMessage> messages;   // failure: the ERRORs; success: 5701 etc.
};

// One per instance home; shared by all sessions. Thread-safe.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual LoginResult Login(const LoginRequest& request) = 0;
  // True while some sysadmin login has an empty password (the server then
  // refuses to listen on a non-loopback address).
  virtual bool SysadminHasEmptyPassword() = 0;
  // Told before the server listens: while true, the engine refuses to give a
  // sysadmin login an empty password or a login with one the sysadmin role.
  virtual void SetListensBeyondLoopback(bool beyond) = 0;
  // The 'user connections' setting as stored (sp_configure): the most
  // connections the server accepts at once from its next start, 0 for the
  // maximum.
  virtual int ConfiguredUserConnections() { return 0; }
  virtual std::filesystem::path Home() const = 0;
  // Called by the service before it serves: how SHUTDOWN stops it, the way
  // `sqlengine stop` does. `stop` is thread-safe and returns at once.
  virtual void SetShutdown(std::function<void()> /*stop*/) {}
};

// Opens (and on first use initialises) the instance home: data/master.mdf,
// the system databases, the login sa. Throws std::runtime_error with a clear
// message when the home cannot be used.
std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& home, Log& log);

}  // namespace sqlengine
