#include "engine/tests/sql/odbc_client.h"

namespace sqlengine::testing {
namespace {

std::vector<DiagnosticRecord> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<DiagnosticRecord> records;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[4096] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    std::string message(reinterpret_cast<char*>(text));
    // Drop the driver's "[FreeTDS][SQL Server]" prefixes.
    size_t bracket = message.rfind(']');
    if (bracket != std::string::npos && message.rfind("[", 0) == 0)
      message = message.substr(bracket + 1);
    records.push_back({static_cast<int>(native), reinterpret_cast<char*>(state), message});
  }
  return records;
}

void Append(std::vector<DiagnosticRecord>& to, const std::vector<DiagnosticRecord>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// A result column's type as SQL Server declares it, from the server type
// name the driver reports.
std::string TypeText(SQLHSTMT stmt, SQLSMALLINT column, SQLULEN size, SQLSMALLINT digits) {
  SQLCHAR name[128] = {};
  SQLSMALLINT length = 0;
  SQLColAttribute(stmt, column, SQL_DESC_TYPE_NAME, name, sizeof name, &length, nullptr);
  std::string text(reinterpret_cast<char*>(name));
  if (text == "decimal" || text == "numeric") {
    return text + "(" + std::to_string(size) + "," + std::to_string(digits) + ")";
  }
  if (text == "char" || text == "varchar" || text == "nchar" || text == "nvarchar" ||
      text == "binary" || text == "varbinary") {
    return text + "(" + std::to_string(size) + ")";
  }
  return text;
}

}  // namespace

const DiagnosticRecord* BatchOutcome::Find(int native) const {
  for (const DiagnosticRecord& record : messages) {
    if (record.native == native) return &record;
  }
  return nullptr;
}

std::string BatchOutcome::Describe() const {
  std::string text;
  for (const DiagnosticRecord& record : messages) {
    text += std::to_string(record.native) + ": " + record.text + "\n";
  }
  return text;
}

OdbcClient::OdbcClient(int port, const std::string& user, const std::string& password,
                       const std::string& database) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                     ";UID=" + user + ";PWD=" + password + ";ClientCharset=UTF-8;TDS_Version=7.4";
  if (!database.empty()) text += ";Database=" + database;
  SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  login_messages_ = Diagnostics(SQL_HANDLE_DBC, dbc_);
  if (!SQL_SUCCEEDED(rc)) {
    std::vector<DiagnosticRecord> records = login_messages_;
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw OdbcError("login failed", records);
  }
  SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
}

OdbcClient::~OdbcClient() {
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void OdbcClient::Cancel() { SQLCancel(stmt_); }

BatchOutcome OdbcClient::Execute(const std::string& sql) {
  BatchOutcome outcome;
  SQLRETURN rc =
      SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  while (true) {
    if (rc == SQL_ERROR) outcome.failed = true;
    if (rc != SQL_NO_DATA) Append(outcome.messages, Diagnostics(SQL_HANDLE_STMT, stmt_));
    if (rc == SQL_NO_DATA) break;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt_, &columns);
    if (SQL_SUCCEEDED(rc) && columns > 0) {
      ResultSet result;
      for (SQLSMALLINT c = 1; c <= columns; ++c) {
        SQLCHAR name[256] = {};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(stmt_, c, name, sizeof name, &length, &type, &size, &digits, &nullable);
        result.columns.emplace_back(reinterpret_cast<char*>(name));
        result.types.push_back(TypeText(stmt_, c, size, digits));
        result.nullable.push_back(nullable != SQL_NO_NULLS);
      }
      while (true) {
        SQLRETURN fetched = SQLFetch(stmt_);
        if (fetched == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(fetched)) {
          outcome.failed = true;
          Append(outcome.messages, Diagnostics(SQL_HANDLE_STMT, stmt_));
          break;
        }
        std::vector<std::optional<std::string>> row;
        for (SQLSMALLINT c = 1; c <= columns; ++c) {
          std::string value;
          SQLLEN indicator = 0;
          char buffer[4096];
          bool null = false;
          while (true) {
            SQLRETURN got = SQLGetData(stmt_, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
            if (got == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(got)) {
              outcome.failed = true;
              break;
            }
            if (indicator == SQL_NULL_DATA) {
              null = true;
              break;
            }
            value += buffer;
            if (got == SQL_SUCCESS) break;
            // The FreeTDS driver reports a sql_variant of a fixed-length base
            // type as truncated on every call; a value that fit is whole.
            if (indicator != SQL_NO_TOTAL && indicator < static_cast<SQLLEN>(sizeof buffer)) break;
          }
          row.push_back(null ? std::nullopt : std::optional<std::string>(value));
        }
        result.rows.push_back(std::move(row));
      }
      outcome.results.push_back(std::move(result));
    } else if (SQL_SUCCEEDED(rc)) {
      SQLLEN count = -1;
      SQLRowCount(stmt_, &count);
      outcome.row_counts.push_back(static_cast<long>(count));
    }
    rc = SQLMoreResults(stmt_);
  }
  SQLFreeStmt(stmt_, SQL_CLOSE);
  return outcome;
}

}  // namespace sqlengine::testing
