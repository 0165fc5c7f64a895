#pragma once
// SET FMTONLY ON, which bulk-copy clients send around `SELECT * FROM table`
// to learn a table's columns: a SELECT describes its result (column
// metadata, no rows), SET, DECLARE and USE run, and every other statement is
// read but not run, so nothing is changed.

#include <cstdint>

#include "engine/common/forwarding_sink.h"
#include "engine/exec/session_options.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

enum class UnderFormatOnly { kRun, kDescribe, kSkip };

UnderFormatOnly FormatOnlyHandling(const tsql::Statement& statement);

// Passes a described statement's output on without its rows or its count.
class FormatOnlySink final : public ForwardingSink {
 public:
  explicit FormatOnlySink(ResultSink& out) : ForwardingSink(out) {}
  void AddRow(const Row&) override {}
  void Done(const StatementDone& done) override { client_.Done({std::nullopt, done.error}); }
  void Origins(const ResultOrigins&) override {}
};

// While a SELECT is described: FMTONLY is off for it and it reads at most
// one row (which the sink drops), so a large table is not read through.
class DescribingScope {
 public:
  DescribingScope(SessionOptions& options, std::int64_t& row_limit)
      : options_(options), row_limit_(row_limit), saved_limit_(row_limit) {
    options_.format_only = false;
    row_limit_ = 1;
  }
  ~DescribingScope() {
    options_.format_only = true;
    row_limit_ = saved_limit_;
  }
  DescribingScope(const DescribingScope&) = delete;
  DescribingScope& operator=(const DescribingScope&) = delete;

 private:
  SessionOptions& options_;
  std::int64_t& row_limit_;
  std::int64_t saved_limit_;
};

}  // namespace sqlengine::exec
