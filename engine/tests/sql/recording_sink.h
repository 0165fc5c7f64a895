#pragma once
// A ResultSink that keeps what an in-process session sends, for tests that
// drive OpenEngine / SqlSession directly. An optional hook runs on each row
// (to stall like a slow client).

#include <functional>
#include <string>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine::testing {

class RecordingSink : public ResultSink {
 public:
  void BeginResult(const std::vector<Column>& columns) override {
    results.emplace_back();
    results.back().columns = columns;
  }
  void AddRow(const Row& row) override {
    results.back().rows.push_back(row);
    if (on_row) on_row();
  }
  void Message(const ServerMessage& message) override { messages.push_back(message); }
  void Done(const StatementDone& done) override { dones.push_back(done); }
  void ReturnStatus(std::int32_t status) override { statuses.push_back(status); }
  void ReturnValue(const OutputValue& value) override { values.push_back(value); }
  void Environment(const EnvChange& change) override { changes.push_back(change); }

  bool HasError() const {
    for (const ServerMessage& message : messages) {
      if (message.severity > 10) return true;
    }
    return false;
  }

  struct Result {
    std::vector<Column> columns;
    std::vector<Row> rows;
  };
  std::vector<Result> results;
  std::vector<ServerMessage> messages;
  std::vector<StatementDone> dones;
  std::vector<std::int32_t> statuses;
  std::vector<OutputValue> values;
  std::vector<EnvChange> changes;
  std::function<void()> on_row;
};

}  // namespace sqlengine::testing
