#pragma once
// Builds one result set of a system procedure and sends it, rows and row
// count, in one go.

#include <utility>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine::exec {

class ResultBuilder {
 public:
  explicit ResultBuilder(std::vector<Column> columns) : columns_(std::move(columns)) {}
  void Add(Row row) { rows_.push_back(std::move(row)); }
  bool Empty() const { return rows_.empty(); }
  void Send(ResultSink& sink) const {
    sink.BeginResult(columns_);
    for (const Row& row : rows_) sink.AddRow(row);
    StatementDone done;
    done.row_count = static_cast<std::int64_t>(rows_.size());
    sink.Done(done);
  }

 private:
  std::vector<Column> columns_;
  std::vector<Row> rows_;
};

}  // namespace sqlengine::exec
