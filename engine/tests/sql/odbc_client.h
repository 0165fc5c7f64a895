#pragma once
// A small ODBC client for engine tests: the unixODBC C API with the FreeTDS
// driver, as applications reach the engine. Not thread-safe per object; one
// object per connection.

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sqlengine::testing {

struct DiagnosticRecord {
  int native = 0;  // the server's message number
  std::string state;
  std::string text;
};

struct ResultSet {
  std::vector<std::string> columns;
  // Each column's type as SQL Server writes it: "int", "varchar(30)",
  // "decimal(38,2)", from the driver's type name, size and digits.
  std::vector<std::string> types;
  std::vector<bool> nullable;  // as SQLDescribeCol reports each column
  std::vector<std::vector<std::optional<std::string>>> rows;  // nullopt: NULL
};

// Everything one batch produced, in order.
struct BatchOutcome {
  std::vector<ResultSet> results;
  std::vector<long> row_counts;  // SQLRowCount of each statement without a result set
  std::vector<DiagnosticRecord> messages;
  bool failed = false;  // some call returned SQL_ERROR

  // The first message with that number, or nullptr.
  const DiagnosticRecord* Find(int native) const;
  // Lines "number: text" of every message, for assertion output.
  std::string Describe() const;
};

class OdbcError : public std::runtime_error {
 public:
  OdbcError(const std::string& what, std::vector<DiagnosticRecord> records)
      : std::runtime_error(what), records(std::move(records)) {}
  std::vector<DiagnosticRecord> records;
};

class OdbcClient {
 public:
  // Connects to 127.0.0.1:port. Throws OdbcError with the server's messages
  // when the login fails.
  OdbcClient(int port, const std::string& user, const std::string& password,
             const std::string& database = "");
  ~OdbcClient();
  OdbcClient(const OdbcClient&) = delete;
  OdbcClient& operator=(const OdbcClient&) = delete;

  // Runs one batch and collects every result, count and message.
  BatchOutcome Execute(const std::string& sql);
  // Asks the server to cancel the statement running on this connection;
  // callable from another thread while Execute runs.
  void Cancel();
  // The connection handle, for tests that drive ODBC calls themselves.
  SQLHDBC Connection() const { return dbc_; }
  // The messages of the login (5701, 5703).
  const std::vector<DiagnosticRecord>& LoginMessages() const { return login_messages_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<DiagnosticRecord> login_messages_;
};

}  // namespace sqlengine::testing
