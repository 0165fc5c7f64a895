#include "row_block.h"

#include <algorithm>

namespace dbplatform {
namespace {

// Rows of one block, and the buffer bytes a block may take: a wide result
// gets fewer rows a block rather than more memory.
constexpr std::size_t kMostRows = 1024;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

void Unbind(SQLHSTMT statement) {
  SQLFreeStmt(statement, SQL_UNBIND);
  SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
  SQLSetStmtAttr(statement, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

}  // namespace

std::unique_ptr<RowBlock> RowBlock::Bind(SQLHSTMT statement,
                                         const std::vector<ColumnInfo>& columns) {
  if (columns.empty()) return nullptr;
  std::vector<std::size_t> widths;
  std::size_t row_bytes = 0;
  for (const ColumnInfo& column : columns) {
    const std::optional<std::size_t> width = BoundBufferSize(column);
    if (!width) return nullptr;
    widths.push_back(*width);
    row_bytes += *width + sizeof(SQLLEN);
  }
  const std::size_t capacity = std::clamp<std::size_t>(kBlockBytes / row_bytes, 1, kMostRows);

  std::unique_ptr<RowBlock> block(new RowBlock(statement, capacity));
  block->row_status_ = std::make_unique<SQLUSMALLINT[]>(capacity);
  bool bound =
      SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROW_BIND_TYPE,
                                   reinterpret_cast<SQLPOINTER>(SQLULEN{SQL_BIND_BY_COLUMN}), 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE,
                                   reinterpret_cast<SQLPOINTER>(SQLULEN{capacity}), 0)) &&
      SQL_SUCCEEDED(
          SQLSetStmtAttr(statement, SQL_ATTR_ROW_STATUS_PTR, block->row_status_.get(), 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, &block->rows_fetched_, 0));
  for (std::size_t i = 0; bound && i < columns.size(); ++i) {
    ColumnBuffer buffer;
    buffer.sql_type = columns[i].sql_type;
    buffer.c_type = FetchCType(buffer.sql_type);
    buffer.width = widths[i];
    if (FixedSize(buffer.c_type) == 0) {
      buffer.room = buffer.c_type == SQL_C_CHAR ? buffer.width - 1 : buffer.width;
    }
    // operator new[] aligns for every fixed-size C type; widths of fixed
    // types are multiples of their alignment, so every row's value is aligned.
    buffer.values = std::make_unique_for_overwrite<char[]>(capacity * buffer.width);
    buffer.lengths = std::make_unique_for_overwrite<SQLLEN[]>(capacity);
    bound = SQL_SUCCEEDED(SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), buffer.c_type,
                                     buffer.values.get(), static_cast<SQLLEN>(buffer.width),
                                     buffer.lengths.get()));
    block->columns_.push_back(std::move(buffer));
  }
  if (!bound) {
    Unbind(statement);
    return nullptr;
  }
  return block;
}

SQLRETURN RowBlock::Fetch() {
  rows_fetched_ = 0;
  return SQLFetch(statement_);
}

bool RowBlock::RowReadable(std::size_t row) const {
  const SQLUSMALLINT status = row_status_[row];
  return status == SQL_ROW_SUCCESS || status == SQL_ROW_SUCCESS_WITH_INFO;
}

bool RowBlock::RowCut(std::size_t row) const {
  for (const ColumnBuffer& column : columns_) {
    if (column.room == 0) continue;
    const SQLLEN length = column.lengths[row];
    if (length == SQL_NULL_DATA) continue;
    if (length < 0 || static_cast<std::size_t>(length) > column.room) return true;
  }
  return false;
}

void RowBlock::Decode(std::size_t row, std::vector<Value>& values) const {
  values.clear();
  for (const ColumnBuffer& column : columns_) {
    const SQLLEN length = column.lengths[row];
    if (length == SQL_NULL_DATA) {
      values.emplace_back(Null{});
      continue;
    }
    values.push_back(DecodeValue(column.sql_type, column.values.get() + row * column.width,
                                 static_cast<std::size_t>(length)));
  }
}

}  // namespace dbplatform
