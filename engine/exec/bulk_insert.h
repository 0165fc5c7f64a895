#pragma once
// Bulk copy into a table: the rows of a BULKLOAD message inserted as the
// INSERT BULK before it asked, as SQL Server does it:
// - all rows of one message (one client batch) or none: a row that fails
//   rolls the whole message back;
// - an identity column listed among the columns is given new values unless
//   KEEPIDENTITY (or SET IDENTITY_INSERT ON for the table) keeps the sent ones;
// - a NULL for a column with a default takes the default unless KEEP_NULLS;
// - CHECK and FOREIGN KEY constraints are checked only with
//   CHECK_CONSTRAINTS (foreign keys are always checked inside a user
//   transaction, where SQLite cannot switch them off);
// - values convert to the column's type by T-SQL's rules; text or binary
//   longer than its column is SQL Server's 4815 for that column;
// - the table's AFTER INSERT triggers fire once for the message's rows only
//   with FIRE_TRIGGERS (foreign keys are then checked, as the triggers'
//   own statements must be); with FIRE_TRIGGERS an INSTEAD OF INSERT
//   trigger of the table or view loaded takes the rows instead, without it
//   the rows go in as if it were not there;
// - into a view, the rows go to the one table under it (of a join view, the
//   table the loaded columns come from: 4405 when two), and a view made
//   WITH CHECK OPTION refuses with 550 a row it would not show, whatever
//   CHECK_CONSTRAINTS says.
// One prepared INSERT serves every row with the same NULL pattern; it is
// kept on the connection for the next batch of the same columns.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/common/engine_api.h"
#include "engine/exec/bulk_insert_statement.h"
#include "engine/exec/row_images.h"

namespace sqlengine::exec {

class Session;

// A statement's table and columns as resolved, with the catalog context
// they were resolved in (defined in bulk_insert.cpp). The session keeps it
// from an INSERT BULK for its rows and for the next batch's INSERT BULK.
struct ResolvedBulkTarget;
using KeptBulkTarget = std::shared_ptr<const ResolvedBulkTarget>;

// Resolves the statement's table and columns and checks that the login may
// insert into it, so that a bad INSERT BULK fails before its rows come.
// Returns `kept` instead when that was resolved for the same statement of a
// table in the present catalog context (no DDL, USE, attachment or change of
// rights since). Throws SqlError 208 (no such table), 207 (no such column),
// 229 (no INSERT permission).
KeptBulkTarget CheckBulkInsertTarget(Session& session, const BulkInsertStatement& statement,
                                     const KeptBulkTarget& kept);

// Fires the triggers of a load with FIRE_TRIGGERS: the table's (or view's)
// SQLite schema and name, the images of the rows loaded, their number, and
// whether its INSTEAD OF INSERT trigger takes them (they were not kept).
// Returns false when the triggers ended the load
// (BatchExecutor::FireBulkInsertTriggers).
using BulkTriggerFiring =
    std::function<bool(const std::string& schema, const std::string& table,
                       const RowImages& inserted, std::int64_t rows, bool instead)>;

// Inserts the rows of `rows` into the statement's table, as `kept` found it
// when that is still good (resolved in the present catalog context; else it
// is resolved again and `kept` replaced); returns how many, nullopt when its
// triggers (FIRE_TRIGGERS, through `fire`) ended the load. Throws SqlError
// for the first row that fails (everything inserted by this call is rolled
// back first), Cancelled when the session was cancelled.
std::optional<std::int64_t> InsertBulkRows(Session& session, const BulkInsertStatement& statement,
                                           KeptBulkTarget& kept, BulkRowSource& rows,
                                           const BulkTriggerFiring& fire);

}  // namespace sqlengine::exec
