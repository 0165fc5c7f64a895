#pragma once
// SQL Server enforces no FOREIGN KEY of a local or global temporary table:
// CREATE TABLE #t and ALTER TABLE #t ADD make the table or its columns
// without the constraint and send 1756 (severity 10) for each one left out,
// naming the constraint, or the table when the constraint has no name. The
// referenced table is never looked at, so it need not exist.

#include <string>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

struct SkippedForeignKeys {
  std::vector<std::string> names;  // in the order written
  bool nothing_left = false;       // an ALTER TABLE that added FOREIGN KEYs only
};

// Takes the FOREIGN KEY constraints (a column's REFERENCES too) out of a
// CREATE TABLE or ALTER TABLE ... ADD statement of a temporary table; any
// other statement, or one that does not parse (its reader reports that
// later), is left as it is.
SkippedForeignKeys DropTemporaryForeignKeys(Tokens& statement);

}  // namespace sqlengine::tsql
