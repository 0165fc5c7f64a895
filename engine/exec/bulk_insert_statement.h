#pragma once
// INSERT BULK, the statement a bulk-copy client sends before its BULKLOAD
// message: the target table, the columns the rows will carry (with the types
// the client will send them in) and the load's options.
//   INSERT BULK table (column type [COLLATE c] [NULL | NOT NULL], ...)
//     [WITH (CHECK_CONSTRAINTS, FIRE_TRIGGERS, KEEP_NULLS, KEEPIDENTITY,
//            TABLOCK, ROWS_PER_BATCH = n, KILOBYTES_PER_BATCH = n,
//            ORDER (column [ASC | DESC], ...))]

#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

struct BulkInsertStatement {
  std::vector<std::string> table;    // one to three parts as written, "" for an omitted one
  std::vector<std::string> columns;  // the table columns the rows fill, in row order
  bool check_constraints = false;    // CHECK and FOREIGN KEY constraints are checked
  bool fire_triggers = false;
  bool keep_nulls = false;     // NULL stays NULL where the column has a default
  bool keep_identity = false;  // the identity column takes the values sent
  bool table_lock = false;
  int line = 1;
  bool operator==(const BulkInsertStatement&) const = default;
};

// Whether the batch's tokens start with INSERT BULK.
bool IsInsertBulk(const tsql::Tokens& tokens);

// Reads the statement from `tokens` (a whole batch that IsInsertBulk).
// Throws the engine's syntax error (170) for anything else after it.
BulkInsertStatement ParseInsertBulk(const tsql::Tokens& tokens);

}  // namespace sqlengine::exec
