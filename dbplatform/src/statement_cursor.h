#pragma once
// One statement on an OdbcSession, read forward: every result of the batch is
// consumed in order, and every message (informational ones and errors) is
// handed to the sink in arrival order. Finish drains what is left instead of
// cancelling, so a statement always runs to its end on the server. Rows are
// fetched in blocks (RowBlock) when every column has a bounded size, else one
// at a time; either way the rows, values and failures are the same.

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "column_value.h"
#include "dbplatform/value.h"
#include "odbc_diagnostics.h"
#include "odbc_session.h"
#include "row_block.h"

namespace dbplatform {

using MessageSink = std::function<void(std::vector<DiagRecord>)>;

class StatementCursor {
 public:
  // `query_timeout` in seconds, 0 for none. The sink is called on this thread
  // and must not throw.
  StatementCursor(std::shared_ptr<OdbcSession> session, int query_timeout, MessageSink sink);
  ~StatementCursor();  // Finish()
  StatementCursor(const StatementCursor&) = delete;
  StatementCursor& operator=(const StatementCursor&) = delete;

  // The statement handle, for binding parameters before Execute.
  SQLHSTMT Handle() const { return statement_; }

  // Runs `sql` and positions on the first row of the first result that has
  // columns (results without columns before it are passed over, their
  // messages collected). Throws OdbcFailure when the server rejects the text
  // or a result before the first row set fails; the statement is then finished.
  void Execute(const std::string& sql);
  // The same for the driver's description of a procedure's parameters
  // (SQLProcedureColumns); empty parts are not given to the driver.
  void DescribeProcedure(const std::string& catalog, const std::string& schema,
                         const std::string& name);

  // Columns of the current row set; empty when the statement gave none.
  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  bool AtEnd() const { return at_end_; }
  const std::vector<Value>& Row() const { return row_; }
  // Throws OdbcFailure when the next row cannot be read (the statement is
  // then finished); at the end of the row set the rest of the batch is drained.
  void MoveNext();

  // Reads and drops whatever results remain, passing on their messages, then
  // frees the statement and runs the finish hook. Idempotent; never throws.
  void Finish() noexcept;
  // Runs once the server has sent everything (output parameters are then set).
  void SetOnFinished(std::function<void()> hook) { on_finished_ = std::move(hook); }

 private:
  void PositionOnFirstRowSet(SQLRETURN rc);
  void Collect(SQLRETURN rc);
  void DescribeColumns(SQLSMALLINT count);
  void FetchRow();
  void FetchRowOfBlock();
  void FetchBlock();
  void EndOfRows();
  [[noreturn]] void FailAndFinish(std::vector<DiagRecord> records);

  std::shared_ptr<OdbcSession> session_;
  MessageSink sink_;
  SQLHSTMT statement_ = SQL_NULL_HSTMT;
  std::vector<ColumnInfo> columns_;
  std::vector<Value> row_;
  std::unique_ptr<RowBlock> block_;  // null: rows are read one at a time
  std::size_t block_row_ = 0;        // the current row's index in the block
  // Rows of the block before the first one that cannot be listed; reaching
  // it fails the statement with block_failure_.
  std::size_t block_usable_rows_ = 0;
  std::vector<DiagRecord> block_failure_;
  bool at_end_ = true;
  std::function<void()> on_finished_;
};

}  // namespace dbplatform
