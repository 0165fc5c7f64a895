#pragma once
// Diagnostic records of ODBC handles, and the one internal failure type that
// the ODBC code throws. The data access and administration layers turn an
// OdbcFailure into their own error numbers (error_mapping.h).

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace dbplatform {

struct DiagRecord {
  std::string sql_state;
  std::int32_t native = 0;  // the server's message number, or the driver's own (200xx)
  std::string text;         // driver prefixes removed
  // Informational (SQLSTATE class 01): PRINT, 2528, 5701 and the like.
  bool Informational() const { return sql_state.rfind("01", 0) == 0; }
  // A message the server sent, as opposed to one the driver or driver manager made.
  bool FromServer() const;
};

// Every record of a handle, oldest first. Never throws.
std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// "[FreeTDS][SQL Server]Invalid object name 'x'." -> "Invalid object name 'x'.". Only the
// tags of drivers and driver managers are removed; brackets of the server's own text stay.
std::string StripDriverPrefixes(const std::string& text);

enum class FailureKind {
  kServerError,     // the server rejected the request: `records` holds its message(s)
  kUnreachable,     // no server answered at that address
  kLoginFailed,     // the server refused the login (or an integrated login was impossible)
  kTimeout,         // the login or query time-out expired
  kConnectionLost,  // the connection broke while a request ran
  kDriverMissing,   // the ODBC driver is not installed
  kDriverError,     // any other failure the driver reports
};

class OdbcFailure : public std::runtime_error {
 public:
  // `primary`: index of the explaining record; by default the first
  // non-informational one.
  OdbcFailure(FailureKind kind, std::vector<DiagRecord> records,
              std::size_t primary = static_cast<std::size_t>(-1));
  FailureKind Kind() const { return kind_; }
  const std::vector<DiagRecord>& Records() const { return records_; }
  // The record that explains the failure.
  const DiagRecord* Primary() const;

 private:
  FailureKind kind_;
  std::vector<DiagRecord> records_;
  std::size_t primary_;
};

// Classifies the records of a failed statement call.
OdbcFailure StatementFailure(std::vector<DiagRecord> records);

// Classifies the records of a failed connect; `trusted` says whether an
// integrated login was asked for.
OdbcFailure ConnectFailure(std::vector<DiagRecord> records, bool trusted);

}  // namespace dbplatform
