#include "velmora/list_appender.h"

#include "velmora/text_lines_model.h"

namespace velmora {

void ListAppender::Add(std::string_view utf8) {
  lines_.Stage(utf8);
  if (++pending_ >= kBatchLines) Flush();
}

void ListAppender::Flush() {
  lines_.Publish();
  pending_ = 0;
}

}  // namespace velmora
