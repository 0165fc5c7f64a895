#pragma once
// The messages of a connection's last Open or Execute, shared by the
// connection and the record sets it made: a record set read to its end or
// released later adds its late messages, but only while its Execute is still
// the connection's last one.

#include <memory>
#include <vector>

#include "dbplatform/data_access.h"
#include "statement_cursor.h"

namespace dbplatform {

class MessageLog final : public ErrorCollection {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  const ErrorItem& Item(int index) const override;

  // Forgets the previous request's messages; sinks made before stop adding.
  void StartRequest() {
    ++generation_;
    items_.clear();
  }
  void Add(const std::vector<DiagRecord>& records);

  // A sink for the current request. Holds the log alive.
  static MessageSink SinkFor(const std::shared_ptr<MessageLog>& log);

 private:
  int generation_ = 0;
  std::vector<ErrorItem> items_;
};

}  // namespace dbplatform
