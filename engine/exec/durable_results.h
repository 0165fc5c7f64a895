#pragma once
// The sink a session hands its executor: passes everything on to the
// client's sink, but first makes the session's commits durable (see
// SessionConnection::MakeCommitsDurable), so no client hears of a commit
// (its DONE, a row read after it, the end of the request) before its log is
// on disk, while the commit itself ran without syncing under the write lock.

#include "engine/common/sink.h"

namespace sqlengine::exec {

class SessionConnection;

class DurableResults final : public ResultSink {
 public:
  // Both must outlive this sink.
  DurableResults(ResultSink& client, SessionConnection& connection)
      : client_(client), connection_(connection) {}

  void BeginResult(const std::vector<Column>& columns) override;
  void AddRow(const Row& row) override;
  void Message(const ServerMessage& message) override;
  void Done(const StatementDone& done) override;
  void ReturnStatus(std::int32_t status) override;
  void ReturnValue(const OutputValue& value) override;
  void Environment(const EnvChange& change) override;
  void Origins(const ResultOrigins& origins) override { client_.Origins(origins); }
  void BeginProcedure() override;
  void EndProcedure(std::optional<std::int32_t> return_status) override;

 private:
  ResultSink& client_;
  SessionConnection& connection_;
};

}  // namespace sqlengine::exec
