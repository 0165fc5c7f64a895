#include "engine/server/wire_sink.h"

#include "engine/common/error.h"
#include "engine/tds/value_codec.h"

namespace sqlengine::server {
namespace {

constexpr std::uint16_t kSelectCommand = 0xC1;
constexpr std::uint16_t kExecuteCommand = 0xE0;

// SQL Server's error for a value that its column's type cannot represent.
ServerMessage ConversionMessage(const tds::ValueConversionError& error) {
  const std::string& type = error.type_name();
  if (error.kind() == tds::ValueConversionError::Kind::kNotAValue && error.text()) {
    if (type == "datetime" || type == "smalldatetime") return FormatMessage(241);
    if (type == "uniqueidentifier") return FormatMessage(8169);
    return FormatMessage(245, {*error.text(), type});
  }
  if (error.kind() == tds::ValueConversionError::Kind::kNotAValue && !type.empty())
    return FormatMessage(8114, {"expression", type});
  return FormatMessage(8115, {"expression", type});
}

}  // namespace

WireSink::WireSink(ResponseWriter& out, tds::TdsVersion version, const std::string& server_name,
                   RequestKind kind, const std::atomic<bool>& cancelled)
    : out_(out), version_(version), server_name_(server_name), kind_(kind), cancelled_(cancelled) {}

void WireSink::WriteDone(const HeldDone& done, bool more) {
  std::uint16_t status = done.status | (more ? tds::kDoneMore : 0);
  tds::WriteDone(done.token, status, done.command, done.count, tds::HasWideCounts(version_),
                 out_.Tokens());
  Written();
}

void WireSink::ReleaseHeld() {
  if (!held_) return;
  WriteDone(*held_, true);
  held_.reset();
}

void WireSink::BeginResult(const std::vector<Column>& columns) {
  if (Dropping()) return;
  if (result_open_) Done({});
  ReleaseHeld();
  types_ = tds::WriteColMetadata(columns, version_, out_.Tokens());
  Written();
  result_open_ = true;
  skipping_rows_ = false;
  rows_ = 0;
}

void WireSink::Origins(const ResultOrigins& origins) {
  // Only right after the COLMETADATA it describes.
  if (Dropping() || !result_open_ || rows_ != 0) return;
  tds::WriteOrigins(origins, out_.Tokens());
  Written();
}

void WireSink::AddRow(const Row& row) {
  if (Dropping() || !result_open_ || skipping_rows_) return;
  try {
    tds::WriteRow(types_, row, out_.Tokens());
  } catch (const tds::ValueConversionError& e) {
    // The statement fails here, as a conversion error would end it; the
    // rows already sent stay valid.
    skipping_rows_ = true;
    Message(ConversionMessage(e));
    return;
  }
  ++rows_;
  Written();
}

void WireSink::Message(const ServerMessage& message) {
  if (Dropping()) return;
  if (message.severity > 10) {
    error_since_done_ = true;
    any_error_ = true;
    if (procedure_depth_ > 0) error_in_procedure_ = true;
  }
  if (result_open_ && message.severity <= 10) {
    // Sent once the result set is closed by its own DONE(MORE|COUNT): an
    // informational message between or right after rows never reaches ODBC
    // applications.
    pending_messages_.push_back(message);
    return;
  }
  // An error ends the statement whose rows are open: it follows them at once,
  // and the statement's DONE(ERROR) closes the result, as in SQL Server.
  ReleaseHeld();
  tds::WriteMessage(message, server_name_, tds::HasWideCounts(version_), out_.Tokens());
  Written();
}

void WireSink::Done(const StatementDone& done) {
  if (Dropping()) return;
  ReleaseHeld();
  const tds::Token token = kind_ == RequestKind::kRpc || procedure_depth_ > 0
                               ? tds::Token::kDoneInProc
                               : tds::Token::kDone;
  const bool had_result = result_open_;
  HeldDone held{token, 0, static_cast<std::uint16_t>(had_result ? kSelectCommand : 0), 0};
  std::uint64_t count = done.row_count ? static_cast<std::uint64_t>(*done.row_count) : rows_;
  bool counted = done.row_count.has_value() || had_result;
  if (had_result && !pending_messages_.empty()) {
    // rows, DONE(MORE|COUNT), messages, DONE: the count is reported once.
    WriteDone({token, tds::kDoneCount, kSelectCommand, count}, true);
    for (const ServerMessage& m : pending_messages_) {
      tds::WriteMessage(m, server_name_, tds::HasWideCounts(version_), out_.Tokens());
      Written();
    }
    pending_messages_.clear();
    counted = false;
  }
  if (counted) {
    held.status |= tds::kDoneCount;
    held.count = count;
  }
  if (done.error || error_since_done_) held.status |= tds::kDoneError;
  if (done.error) {
    any_error_ = true;
    if (procedure_depth_ > 0) error_in_procedure_ = true;
  }
  held_ = held;
  result_open_ = false;
  error_since_done_ = false;
}

void WireSink::ReturnStatus(std::int32_t status) {
  if (Dropping()) return;
  if (result_open_) Done({});
  ReleaseHeld();
  tds::WriteReturnStatus(status, out_.Tokens());
  Written();
}

void WireSink::ReturnValue(const OutputValue& value) {
  if (Dropping()) return;
  if (result_open_) Done({});
  ReleaseHeld();
  try {
    tds::WriteReturnValue(value, version_, out_.Tokens());
  } catch (const tds::ValueConversionError& e) {
    Message(ConversionMessage(e));
    return;
  }
  Written();
}

void WireSink::Environment(const EnvChange& change) {
  if (Dropping()) return;
  // Transaction descriptors exist only from 7.2; 7.1 clients track
  // transactions by the T-SQL they send.
  if (change.kind != EnvChangeKind::kDatabase && change.kind != EnvChangeKind::kLanguage &&
      !tds::HasAllHeaders(version_))
    return;
  if (result_open_) Done({});
  ReleaseHeld();
  tds::WriteEnvChange(change, out_.Tokens());
  Written();
}

void WireSink::BeginProcedure() {
  if (procedure_depth_++ == 0) error_in_procedure_ = false;
}

void WireSink::EndProcedure(std::optional<std::int32_t> return_status) {
  // Procedures nested in another, and those an RPC runs, end inside the
  // caller's own DONEPROC.
  const bool outermost = procedure_depth_ == 1 && kind_ == RequestKind::kBatch;
  if (!outermost || !return_status || Dropping()) {
    if (procedure_depth_ > 0) --procedure_depth_;
    return;
  }
  if (result_open_) Done({});  // still inside: DONEINPROC
  --procedure_depth_;
  ReturnStatus(*return_status);
  const bool failed = error_in_procedure_ || error_since_done_;
  error_since_done_ = false;
  held_ = HeldDone{tds::Token::kDoneProc, static_cast<std::uint16_t>(failed ? tds::kDoneError : 0),
                   kExecuteCommand, 0};
}

void WireSink::Finish(bool more_follows, bool end_of_message) {
  if (cancelled_) {
    held_.reset();
    pending_messages_.clear();
    WriteDone({tds::Token::kDone, tds::kDoneAttention, 0, 0}, false);
  } else if (kind_ == RequestKind::kRpc) {
    if (result_open_) Done({});
    ReleaseHeld();
    std::uint16_t status = any_error_ || error_since_done_ ? tds::kDoneError : 0;
    WriteDone({tds::Token::kDoneProc, status, kExecuteCommand, 0}, more_follows);
  } else {
    if (result_open_ || !held_ || error_since_done_) Done({});
    WriteDone(*held_, more_follows);
    held_.reset();
  }
  if (end_of_message) out_.Finish();
}

}  // namespace sqlengine::server
