#pragma once
// One open ODBC connection. Shared (std::shared_ptr) by the objects that use
// it, so a record set outlives the connection object that made it. Not
// thread-safe.

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <vector>

#include "connection_text.h"
#include "odbc_diagnostics.h"

namespace dbplatform {

class StatementCursor;

class OdbcSession {
 public:
  // Connects, waiting at most `login_timeout` seconds. Informational messages
  // of the login go to *messages. Throws OdbcFailure (ConnectFailure).
  static std::shared_ptr<OdbcSession> Open(const OdbcLogin& login, int login_timeout,
                                           std::vector<DiagRecord>* messages);
  ~OdbcSession();
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  SQLHDBC Handle() const { return dbc_; }
  // Whether the driver knows the connection to be broken.
  bool IsDead() const;

  // The driver runs one statement at a time on a connection: before a new one
  // starts, the cursor whose results are still pending is drained (never
  // cancelled). Cursors register and unregister themselves.
  void DrainPendingStatement();
  void SetPending(StatementCursor* cursor) { pending_ = cursor; }
  void ClearPending(StatementCursor* cursor) {
    if (pending_ == cursor) pending_ = nullptr;
  }

 private:
  OdbcSession(std::shared_ptr<void> environment, SQLHDBC dbc);
  std::shared_ptr<void> environment_;  // keeps the ODBC environment alive
  SQLHDBC dbc_;
  StatementCursor* pending_ = nullptr;
};

}  // namespace dbplatform
