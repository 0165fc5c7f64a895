#include "message_log.h"

#include "error_mapping.h"

namespace dbplatform {

const ErrorItem& MessageLog::Item(int index) const {
  if (index < 0 || index >= Count()) throw ItemNotFoundError();
  return items_[static_cast<std::size_t>(index)];
}

void MessageLog::Add(const std::vector<DiagRecord>& records) {
  for (const DiagRecord& record : records) {
    items_.push_back(ErrorItem{record.native, record.text, record.sql_state});
  }
}

MessageSink MessageLog::SinkFor(const std::shared_ptr<MessageLog>& log) {
  int generation = log->generation_;
  return [log, generation](std::vector<DiagRecord> records) {
    if (log->generation_ == generation) log->Add(records);
  };
}

}  // namespace dbplatform
