#pragma once
// A ResultSink that passes every call on to the client's sink; a sink that
// changes some of what passes through (cuts values, reshapes a result)
// derives from it and overrides only those calls.

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine {

class ForwardingSink : public ResultSink {
 public:
  explicit ForwardingSink(ResultSink& client) : client_(client) {}

  void BeginResult(const std::vector<Column>& columns) override { client_.BeginResult(columns); }
  void AddRow(const Row& row) override { client_.AddRow(row); }
  void Message(const ServerMessage& message) override { client_.Message(message); }
  void Done(const StatementDone& done) override { client_.Done(done); }
  void ReturnStatus(std::int32_t status) override { client_.ReturnStatus(status); }
  void ReturnValue(const OutputValue& value) override { client_.ReturnValue(value); }
  void Environment(const EnvChange& change) override { client_.Environment(change); }
  void Origins(const ResultOrigins& origins) override { client_.Origins(origins); }
  void BeginProcedure() override { client_.BeginProcedure(); }
  void EndProcedure(std::optional<std::int32_t> status) override { client_.EndProcedure(status); }

 protected:
  ResultSink& client_;
};

}  // namespace sqlengine
