#pragma once
// Reads a result's rows in blocks: every column bound to an array of buffers
// (column-wise binding with SQL_ATTR_ROW_ARRAY_SIZE), so that one SQLFetch
// brings many rows and no value needs its own driver call. Only for results
// whose every column has a bounded size (BoundBufferSize); a statement with
// long values is read a row at a time instead.
//
// The block owns the buffers the driver writes into: it must outlive every
// fetch on the statement it is bound to, and is used by one thread.

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "column_value.h"

namespace dbplatform {

class RowBlock {
 public:
  // Binds `columns` of `statement`'s current result; nothing when a column
  // cannot be bound or the driver refuses a binding (the statement is then
  // left unbound, to be read a row at a time).
  static std::unique_ptr<RowBlock> Bind(SQLHSTMT statement, const std::vector<ColumnInfo>& columns);

  RowBlock(const RowBlock&) = delete;
  RowBlock& operator=(const RowBlock&) = delete;

  // Fetches the next block; returns SQLFetch's result. After success,
  // Rows() rows are in the buffers.
  SQLRETURN Fetch();
  std::size_t Rows() const { return rows_fetched_; }
  // Whether the last block fetched ended the row set: it holds fewer rows than
  // asked for. The row set must then not be fetched again: the driver would
  // read on into the next result and drop the messages that precede it.
  bool EndedRows() const { return rows_fetched_ < capacity_; }
  // Whether row `row` (< Rows()) was fetched without an error.
  bool RowReadable(std::size_t row) const;
  // Whether a value of row `row` did not fit its buffer (it would be cut).
  bool RowCut(std::size_t row) const;
  // Replaces `values` with the values of row `row` (< Rows()).
  void Decode(std::size_t row, std::vector<Value>& values) const;

 private:
  struct ColumnBuffer {
    SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
    SQLSMALLINT c_type = SQL_C_CHAR;
    std::size_t width = 0;  // bytes of one row's buffer
    // The most bytes a whole value takes; 0 for fixed-size types.
    std::size_t room = 0;
    std::unique_ptr<char[]> values;
    std::unique_ptr<SQLLEN[]> lengths;
  };

  RowBlock(SQLHSTMT statement, std::size_t capacity) : statement_(statement), capacity_(capacity) {}

  SQLHSTMT statement_;
  std::size_t capacity_;
  std::vector<ColumnBuffer> columns_;
  std::unique_ptr<SQLUSMALLINT[]> row_status_;
  SQLULEN rows_fetched_ = 0;
};

}  // namespace dbplatform
