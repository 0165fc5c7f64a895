#pragma once
// The ResultSink of one request: turns what the executor reports into tokens.
// It owns the DONE rules: a statement's DONE is held back until the next
// token shows whether MORE must be set; informational messages that arrive
// while a result set is open follow it after its own DONE(MORE|COUNT), so
// ODBC clients see them and no row is cut off, while an error follows the
// rows at once and ends the result with the statement's DONE(ERROR); statements end in DONE in a batch and DONEINPROC
// inside a procedure (an RPC, or one a batch runs with EXEC); an RPC, and the
// outermost procedure a batch runs, end in RETURNSTATUS and DONEPROC. After an
// ATTENTION the sink drops output and the response ends in DONE(ATTN). Used on
// the session's worker thread only.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/sink.h"
#include "engine/server/response_writer.h"
#include "engine/tds/tokens.h"
#include "engine/tds/version.h"

namespace sqlengine::server {

enum class RequestKind { kBatch, kRpc };

class WireSink : public ResultSink {
 public:
  // `cancelled` is raised by the session when an ATTENTION arrives.
  WireSink(ResponseWriter& out, tds::TdsVersion version, const std::string& server_name,
           RequestKind kind, const std::atomic<bool>& cancelled);

  void BeginResult(const std::vector<Column>& columns) override;
  void AddRow(const Row& row) override;
  void Message(const ServerMessage& message) override;
  void Done(const StatementDone& done) override;
  void ReturnStatus(std::int32_t status) override;
  void ReturnValue(const OutputValue& value) override;
  void Environment(const EnvChange& change) override;
  void Origins(const ResultOrigins& origins) override;
  void BeginProcedure() override;
  void EndProcedure(std::optional<std::int32_t> return_status) override;

  // Writes the closing DONE (or DONEPROC) and, when `end_of_message`, sends
  // the last packet. `more_follows` keeps MORE set (another RPC of the same
  // request follows). After an ATTENTION it writes DONE(ATTN) instead.
  void Finish(bool more_follows, bool end_of_message);

 private:
  struct HeldDone {
    tds::Token token;
    std::uint16_t status;
    std::uint16_t command;
    std::uint64_t count;
  };
  bool Dropping() const { return cancelled_; }
  // Writes the held DONE with MORE: something follows it.
  void ReleaseHeld();
  void WriteDone(const HeldDone& done, bool more);
  void Written() { out_.TokenWritten(); }

  ResponseWriter& out_;
  tds::TdsVersion version_;
  const std::string& server_name_;
  RequestKind kind_;
  const std::atomic<bool>& cancelled_;

  std::optional<HeldDone> held_;
  bool result_open_ = false;
  std::vector<ServerMessage> pending_messages_;  // arrived while a result was open
  bool skipping_rows_ = false;
  std::vector<tds::TypeInfo> types_;
  std::uint64_t rows_ = 0;
  bool error_since_done_ = false;
  bool any_error_ = false;
  int procedure_depth_ = 0;          // procedures a batch's EXEC runs, nested
  bool error_in_procedure_ = false;  // since the outermost one began
};

}  // namespace sqlengine::server
