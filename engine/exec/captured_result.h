#pragma once
// A ResultSink that keeps what a statement returns instead of sending it:
// the first result's columns and rows, and the changed-row count. Messages
// go on to the client at once (an error the statement reports is the
// client's to see); everything else stays here.

#include <optional>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine::exec {

class CapturedResult final : public ResultSink {
 public:
  explicit CapturedResult(ResultSink& client) : client_(client) {}

  void BeginResult(const std::vector<Column>& columns) override {
    if (!columns_) columns_ = columns;
    ++results_;
  }
  void AddRow(const Row& row) override {
    if (results_ == 1) rows_.push_back(row);
  }
  void Message(const ServerMessage& message) override {
    if (message.severity >= 11) failed_ = true;
    client_.Message(message);
  }
  void Done(const StatementDone& done) override {
    if (done.error) failed_ = true;
  }
  void ReturnStatus(std::int32_t) override {}
  void ReturnValue(const OutputValue&) override {}
  void Environment(const EnvChange& change) override { client_.Environment(change); }

  // Whether any statement reported an error.
  bool Failed() const { return failed_; }
  // The first result's columns; nullopt when the statement returned none.
  const std::optional<std::vector<Column>>& Columns() const { return columns_; }
  std::vector<Row>& Rows() { return rows_; }

 private:
  ResultSink& client_;
  std::optional<std::vector<Column>> columns_;
  std::vector<Row> rows_;
  int results_ = 0;
  bool failed_ = false;
};

}  // namespace sqlengine::exec
