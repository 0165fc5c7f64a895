#include "engine/exec/durable_results.h"

#include "engine/exec/session_connection.h"

namespace sqlengine::exec {

void DurableResults::BeginResult(const std::vector<Column>& columns) {
  connection_.MakeCommitsDurable();
  client_.BeginResult(columns);
}

void DurableResults::AddRow(const Row& row) {
  connection_.MakeCommitsDurable();
  client_.AddRow(row);
}

void DurableResults::Message(const ServerMessage& message) {
  connection_.MakeCommitsDurable();
  client_.Message(message);
}

void DurableResults::Done(const StatementDone& done) {
  connection_.MakeCommitsDurable();
  client_.Done(done);
}

void DurableResults::ReturnStatus(std::int32_t status) {
  connection_.MakeCommitsDurable();
  client_.ReturnStatus(status);
}

void DurableResults::ReturnValue(const OutputValue& value) {
  connection_.MakeCommitsDurable();
  client_.ReturnValue(value);
}

void DurableResults::Environment(const EnvChange& change) {
  connection_.MakeCommitsDurable();
  client_.Environment(change);
}

void DurableResults::BeginProcedure() { client_.BeginProcedure(); }

void DurableResults::EndProcedure(std::optional<std::int32_t> return_status) {
  // Its RETURNSTATUS and DONEPROC tell the client the procedure's work is done.
  if (return_status) connection_.MakeCommitsDurable();
  client_.EndProcedure(return_status);
}

}  // namespace sqlengine::exec
