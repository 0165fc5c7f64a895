#include "statement_cursor.h"

#include <cstddef>
#include <utility>

namespace dbplatform {
namespace {

constexpr int kMaxDrainSteps = 1 << 20;

bool StopsDraining(const std::vector<DiagRecord>& records) {
  for (const DiagRecord& record : records) {
    if (record.sql_state.rfind("08", 0) == 0 || record.sql_state.rfind("HY", 0) == 0) return true;
  }
  return false;
}

// Reads a long value in pieces; `c_type` is SQL_C_CHAR or SQL_C_BINARY.
// Returns false for NULL.
bool ReadPieces(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT c_type, std::string& out) {
  out.clear();
  char buffer[8192];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement, column, c_type, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) throw StatementFailure(ReadDiagnostics(SQL_HANDLE_STMT, statement));
    if (indicator == SQL_NULL_DATA) return false;
    std::size_t room = c_type == SQL_C_CHAR ? sizeof buffer - 1 : sizeof buffer;
    std::size_t got = (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room)
                          ? room
                          : static_cast<std::size_t>(indicator);
    out.append(buffer, got);
    if (rc == SQL_SUCCESS) return true;
  }
}

Value ReadValue(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT sql_type) {
  const SQLSMALLINT c_type = FetchCType(sql_type);
  if (const std::size_t size = FixedSize(c_type); size != 0) {
    alignas(std::max_align_t) char buffer[sizeof(SQL_TIMESTAMP_STRUCT)] = {};
    SQLLEN indicator = 0;
    SQLRETURN rc =
        SQLGetData(statement, column, c_type, buffer, static_cast<SQLLEN>(size), &indicator);
    if (!SQL_SUCCEEDED(rc)) throw StatementFailure(ReadDiagnostics(SQL_HANDLE_STMT, statement));
    if (indicator == SQL_NULL_DATA) return Null{};
    return DecodeValue(sql_type, buffer, size);
  }
  std::string bytes;
  if (!ReadPieces(statement, column, c_type, bytes)) return Null{};
  return DecodeValue(sql_type, bytes.data(), bytes.size());
}

// What a block read reports for a value longer than its buffer: the value
// would be listed cut, so the read fails instead.
DiagRecord CutValueRecord() { return DiagRecord{"22001", 0, "String data, right truncated"}; }

}  // namespace

StatementCursor::StatementCursor(std::shared_ptr<OdbcSession> session, int query_timeout,
                                 MessageSink sink)
    : session_(std::move(session)), sink_(std::move(sink)) {
  session_->DrainPendingStatement();
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, session_->Handle(), &statement_))) {
    statement_ = SQL_NULL_HSTMT;
    throw StatementFailure(ReadDiagnostics(SQL_HANDLE_DBC, session_->Handle()));
  }
  SQLSetStmtAttr(statement_, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(query_timeout)), 0);
  session_->SetPending(this);
}

StatementCursor::~StatementCursor() { Finish(); }

void StatementCursor::Collect(SQLRETURN rc) {
  if (rc == SQL_SUCCESS) return;
  std::vector<DiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement_);
  std::erase_if(records, [](const DiagRecord& r) { return r.sql_state == "01004"; });
  if (!records.empty() && sink_) sink_(std::move(records));
}

void StatementCursor::FailAndFinish(std::vector<DiagRecord> records) {
  if (sink_) sink_(records);
  Finish();
  OdbcFailure failure = StatementFailure(std::move(records));
  // The driver reports a write to a broken connection as a generic error.
  if (failure.Kind() == FailureKind::kDriverError && session_->IsDead()) {
    throw OdbcFailure(FailureKind::kConnectionLost, failure.Records());
  }
  throw failure;
}

void StatementCursor::Execute(const std::string& sql) {
  std::string text = sql;
  PositionOnFirstRowSet(SQLExecDirect(statement_, reinterpret_cast<SQLCHAR*>(text.data()),
                                      static_cast<SQLINTEGER>(text.size())));
}

void StatementCursor::DescribeProcedure(const std::string& catalog, const std::string& schema,
                                        const std::string& name) {
  auto part = [](const std::string& text) {
    return text.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
  };
  auto length = [](const std::string& text) {
    return text.empty() ? SQLSMALLINT{0} : static_cast<SQLSMALLINT>(text.size());
  };
  PositionOnFirstRowSet(SQLProcedureColumns(statement_, part(catalog), length(catalog),
                                            part(schema), length(schema), part(name), length(name),
                                            nullptr, 0));
}

void StatementCursor::PositionOnFirstRowSet(SQLRETURN rc) {
  for (int step = 0; step < kMaxDrainSteps; ++step) {
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
      FailAndFinish(ReadDiagnostics(SQL_HANDLE_STMT, statement_));
    }
    Collect(rc);
    if (rc != SQL_NO_DATA) {
      SQLSMALLINT count = 0;
      SQLNumResultCols(statement_, &count);
      if (count > 0) {
        DescribeColumns(count);
        block_ = RowBlock::Bind(statement_, columns_);
        at_end_ = false;
        FetchRow();
        return;
      }
    }
    rc = SQLMoreResults(statement_);
    if (rc == SQL_NO_DATA) break;
  }
  Finish();
}

void StatementCursor::DescribeColumns(SQLSMALLINT count) {
  columns_.clear();
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLCHAR name[1024] = {};
    SQLSMALLINT name_length = 0;
    ColumnInfo column;
    SQLSMALLINT nullable = 0;
    SQLDescribeCol(statement_, i, name, sizeof name, &name_length, &column.sql_type, &column.size,
                   &column.decimal_digits, &nullable);
    column.name.assign(
        reinterpret_cast<const char*>(name),
        std::min<std::size_t>(static_cast<std::size_t>(name_length), sizeof name - 1));
    columns_.push_back(std::move(column));
  }
}

void StatementCursor::EndOfRows() {
  at_end_ = true;
  row_.clear();
  Finish();
}

void StatementCursor::FetchRow() {
  if (block_) {
    FetchRowOfBlock();
    return;
  }
  SQLRETURN rc = SQLFetch(statement_);
  if (rc == SQL_NO_DATA) {
    EndOfRows();
    return;
  }
  if (!SQL_SUCCEEDED(rc)) FailAndFinish(ReadDiagnostics(SQL_HANDLE_STMT, statement_));
  Collect(rc);
  row_.clear();
  try {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      row_.push_back(ReadValue(statement_, static_cast<SQLUSMALLINT>(i + 1), columns_[i].sql_type));
    }
  } catch (const OdbcFailure& failure) {
    at_end_ = true;
    FailAndFinish(failure.Records());
  }
}

void StatementCursor::FetchBlock() {
  block_row_ = 0;
  block_usable_rows_ = 0;
  SQLRETURN rc = block_->Fetch();
  if (rc == SQL_NO_DATA) return;
  if (!SQL_SUCCEEDED(rc)) FailAndFinish(ReadDiagnostics(SQL_HANDLE_STMT, statement_));
  while (block_usable_rows_ < block_->Rows() && block_->RowReadable(block_usable_rows_) &&
         !block_->RowCut(block_usable_rows_)) {
    ++block_usable_rows_;
  }
  if (block_usable_rows_ == block_->Rows()) {
    Collect(rc);
    return;
  }
  // The rows before the failing one are still handed out, as a row-at-a-time
  // read would; the failure comes when the reader moves onto that row.
  block_failure_ =
      rc == SQL_SUCCESS ? std::vector<DiagRecord>{} : ReadDiagnostics(SQL_HANDLE_STMT, statement_);
  if (block_->RowReadable(block_usable_rows_)) {
    block_failure_.push_back(CutValueRecord());
  }
}

void StatementCursor::FetchRowOfBlock() {
  if (++block_row_ >= block_usable_rows_) {
    if (block_usable_rows_ < block_->Rows()) FailAndFinish(std::move(block_failure_));
    if (block_->Rows() > 0 && block_->EndedRows()) {
      EndOfRows();
      return;
    }
    FetchBlock();
    if (block_usable_rows_ == 0 && block_->Rows() == 0) {
      EndOfRows();
      return;
    }
    if (block_usable_rows_ == 0) FailAndFinish(std::move(block_failure_));
  }
  block_->Decode(block_row_, row_);
}

void StatementCursor::MoveNext() {
  if (at_end_) return;
  FetchRow();
}

void StatementCursor::Finish() noexcept {
  if (statement_ == SQL_NULL_HSTMT) return;
  at_end_ = true;
  for (int step = 0; step < kMaxDrainSteps; ++step) {
    SQLRETURN rc = SQLMoreResults(statement_);
    if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE) break;
    if (rc == SQL_SUCCESS) continue;
    std::vector<DiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement_);
    bool stop = rc == SQL_ERROR && StopsDraining(records);
    std::erase_if(records, [](const DiagRecord& r) { return r.sql_state == "01004"; });
    if (!records.empty() && sink_) {
      try {
        sink_(std::move(records));
      } catch (...) {
      }
    }
    if (stop) break;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, statement_);
  statement_ = SQL_NULL_HSTMT;
  session_->ClearPending(this);
  if (on_finished_) {
    auto hook = std::move(on_finished_);
    on_finished_ = nullptr;
    try {
      hook();
    } catch (...) {
    }
  }
}

}  // namespace dbplatform
