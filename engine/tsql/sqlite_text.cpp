#include "engine/tsql/sqlite_text.h"

namespace sqlengine::tsql {

int SqliteText::LineAt(std::size_t offset) const {
  int line = lines.empty() ? 1 : lines.front().second;
  for (const auto& [start, source_line] : lines) {
    if (start > offset) break;
    line = source_line;
  }
  return line;
}

}  // namespace sqlengine::tsql
