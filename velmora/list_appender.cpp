#include "velmora/list_appender.h"

#include <QListWidget>

namespace velmora {

void ListAppender::Add(QString line) {
  pending_.append(std::move(line));
  if (pending_.size() >= kBatchLines) Flush();
}

void ListAppender::Flush() {
  if (pending_.isEmpty()) return;
  list_.addItems(pending_);
  pending_.clear();
}

}  // namespace velmora
