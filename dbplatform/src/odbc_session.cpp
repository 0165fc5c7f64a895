#include "odbc_session.h"

#include <string>

#include "statement_cursor.h"

namespace dbplatform {
namespace {

// The process-wide ODBC environment, created on first use.
std::shared_ptr<void> Environment() {
  static std::shared_ptr<void> environment = [] {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
      throw OdbcFailure(FailureKind::kDriverMissing,
                        {DiagRecord{"IM004", 0, "The ODBC environment cannot be created."}});
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return std::shared_ptr<void>(env, [](void* handle) { SQLFreeHandle(SQL_HANDLE_ENV, handle); });
  }();
  return environment;
}

}  // namespace

std::shared_ptr<OdbcSession> OdbcSession::Open(const OdbcLogin& login, int login_timeout,
                                               std::vector<DiagRecord>* messages) {
  std::shared_ptr<void> environment = Environment();
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &dbc))) {
    throw ConnectFailure(ReadDiagnostics(SQL_HANDLE_ENV, environment.get()), login.trusted);
  }
  std::shared_ptr<OdbcSession> session(new OdbcSession(environment, dbc));
  if (login_timeout > 0) {
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout)), 0);
  }
  std::string text = DriverConnectionText(login);
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                  static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                  SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    std::vector<DiagRecord> records = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
    session->dbc_ = SQL_NULL_HDBC;
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    throw ConnectFailure(std::move(records), login.trusted);
  }
  if (rc == SQL_SUCCESS_WITH_INFO && messages != nullptr) {
    for (DiagRecord& record : ReadDiagnostics(SQL_HANDLE_DBC, dbc)) {
      if (record.FromServer()) messages->push_back(std::move(record));
    }
  }
  return session;
}

OdbcSession::OdbcSession(std::shared_ptr<void> environment, SQLHDBC dbc)
    : environment_(std::move(environment)), dbc_(dbc) {}

OdbcSession::~OdbcSession() {
  if (dbc_ != SQL_NULL_HDBC) {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
}

bool OdbcSession::IsDead() const {
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLRETURN rc = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, sizeof dead, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

void OdbcSession::DrainPendingStatement() {
  if (pending_ != nullptr) pending_->Finish();
}

}  // namespace dbplatform
