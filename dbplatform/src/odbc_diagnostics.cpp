#include "odbc_diagnostics.h"

#include <array>
#include <string_view>

namespace dbplatform {
namespace {

// Tags that drivers and driver managers put before a message.
bool IsDriverTag(std::string_view tag) {
  static constexpr std::array<std::string_view, 8> kTags = {
      "[FreeTDS]",    "[unixODBC]", "[Driver Manager]",         "[Microsoft]",
      "[SQL Server]", "[DBNETLIB]", "[ODBC SQL Server Driver]", "[SQL Native Client]"};
  for (std::string_view known : kTags) {
    if (tag == known) return true;
  }
  return tag.rfind("[ODBC Driver ", 0) == 0 || tag.rfind("[SQL Server Native Client", 0) == 0;
}

bool IsDriverNative(std::int32_t native) { return native >= 20000 && native < 21000; }

bool HasState(const std::vector<DiagRecord>& records, std::string_view state) {
  for (const DiagRecord& record : records) {
    if (record.sql_state == state) return true;
  }
  return false;
}

bool HasNative(const std::vector<DiagRecord>& records, std::int32_t native) {
  for (const DiagRecord& record : records) {
    if (record.native == native) return true;
  }
  return false;
}

bool HasServerError(const std::vector<DiagRecord>& records) {
  for (const DiagRecord& record : records) {
    if (record.FromServer() && !record.Informational()) return true;
  }
  return false;
}

}  // namespace

bool DiagRecord::FromServer() const {
  if (IsDriverNative(native)) return false;
  if (sql_state.rfind("IM", 0) == 0 || sql_state.rfind("HY", 0) == 0) return false;
  if (sql_state.rfind("08", 0) == 0) return native != 0;
  return true;
}

std::string StripDriverPrefixes(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == '[') {
    std::size_t close = text.find(']', start);
    if (close == std::string::npos) break;
    std::string_view tag(text.data() + start, close - start + 1);
    if (!IsDriverTag(tag)) break;
    start = close + 1;
    // The server's own text follows its tag verbatim, brackets and all.
    if (tag == "[SQL Server]") break;
  }
  return text.substr(start);
}

std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::vector<DiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT index = 1;; ++index) {
    SQLCHAR state[8] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::string message(1024, '\0');
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, index, state, &native,
                                 reinterpret_cast<SQLCHAR*>(message.data()),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<std::size_t>(length) + 1, '\0');
      rc = SQLGetDiagRec(handle_type, handle, index, state, &native,
                         reinterpret_cast<SQLCHAR*>(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(length), message.size()));
    records.push_back({reinterpret_cast<const char*>(state), native, StripDriverPrefixes(message)});
  }
  return records;
}

OdbcFailure::OdbcFailure(FailureKind kind, std::vector<DiagRecord> records, std::size_t primary)
    : std::runtime_error(records.empty() ? "ODBC failure" : records.front().text),
      kind_(kind),
      records_(std::move(records)),
      primary_(primary) {}

const DiagRecord* OdbcFailure::Primary() const {
  if (primary_ < records_.size()) return &records_[primary_];
  for (const DiagRecord& record : records_) {
    if (!record.Informational()) return &record;
  }
  return records_.empty() ? nullptr : &records_.front();
}

OdbcFailure StatementFailure(std::vector<DiagRecord> records) {
  if (HasState(records, "HYT00") || HasState(records, "HYT01")) {
    return OdbcFailure(FailureKind::kTimeout, std::move(records));
  }
  if (HasServerError(records)) return OdbcFailure(FailureKind::kServerError, std::move(records));
  if (HasState(records, "08S01") || HasState(records, "08003")) {
    return OdbcFailure(FailureKind::kConnectionLost, std::move(records));
  }
  return OdbcFailure(FailureKind::kDriverError, std::move(records));
}

OdbcFailure ConnectFailure(std::vector<DiagRecord> records, bool trusted) {
  for (const DiagRecord& record : records) {
    if (record.sql_state == "IM002" || record.sql_state == "IM003" || record.sql_state == "IM004") {
      return OdbcFailure(FailureKind::kDriverMissing, std::move(records));
    }
  }
  // A database that cannot be opened explains a refused login better than
  // the 18456 that comes with it.
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].native == 4060) {
      return OdbcFailure(FailureKind::kServerError, std::move(records), i);
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const DiagRecord& record = records[i];
    if (record.FromServer() && !record.Informational()) {
      bool login = record.native >= 18450 && record.native <= 18499;
      return OdbcFailure(login ? FailureKind::kLoginFailed : FailureKind::kServerError,
                         std::move(records), i);
    }
  }
  if (HasState(records, "HYT00")) return OdbcFailure(FailureKind::kTimeout, std::move(records));
  // The driver gives up on an integrated login before it reaches the server
  // (no Kerberos ticket): the server was there, the login was not possible.
  if (trusted && !HasNative(records, 20009)) {
    records.insert(records.begin(),
                   DiagRecord{"28000", 18452,
                              "Login failed for user '(null)'. Reason: Not associated with a "
                              "trusted SQL Server connection."});
    return OdbcFailure(FailureKind::kLoginFailed, std::move(records));
  }
  return OdbcFailure(FailureKind::kUnreachable, std::move(records));
}

}  // namespace dbplatform
