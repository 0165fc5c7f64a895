#pragma once
// The server object behind "SQLDMO.SQLServer": an ODBC session to the
// server's master database, over which every administration request runs as
// T-SQL. Errors in SQL-DMO numbering (error_mapping.h).

#include <memory>
#include <string>
#include <vector>

#include "dbplatform/administration.h"
#include "dbplatform/value.h"
#include "odbc_session.h"

namespace dbplatform {

// Rows of the first row set of a request and the texts of all its messages.
struct RequestOutcome {
  std::vector<std::vector<Value>> rows;
  std::vector<std::string> messages;
};

class SqlServerObject : public SQLServer {
 public:
  // Runs `sql` to its end on the connected session. Throws Error: SQL-DMO
  // numbering for server errors, kDmoNotConnected when not connected.
  virtual RequestOutcome Run(const std::string& sql) = 0;
};

inline constexpr std::int32_t kDmoNotConnected = static_cast<std::int32_t>(0x80045800);

std::unique_ptr<SQLServer> MakeSqlServer();

// The server object a backup or restore was handed, as the one that can run
// requests; another implementation throws Error(13, "Type mismatch").
SqlServerObject& AsRequestRunner(SQLServer& server);

}  // namespace dbplatform
