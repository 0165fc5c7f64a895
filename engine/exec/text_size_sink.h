#pragma once
// SET TEXTSIZE for what a request sends: a ResultSink in front of the
// client's that cuts text, ntext and image values, and the MAX types, to the
// session's text size in bytes (ntext and nvarchar(max) to whole UCS-2
// characters), as SQL Server does. Other values pass unchanged. Lives for
// one request, on the session's thread; forwards every call, and what the
// client's sink throws.

#include <cstdint>
#include <vector>

#include "engine/common/forwarding_sink.h"

namespace sqlengine::exec {

// The size SET TEXTSIZE 0 restores, in bytes.
inline constexpr std::int64_t kDefaultTextSize = 4096;
// What a session starts with (ODBC and DB-Library clients see no limit).
inline constexpr std::int64_t kUnlimitedTextSize = 2147483647;

class TextSizeSink final : public ForwardingSink {
 public:
  // `text_size` is read at every row, so a SET TEXTSIZE within the request applies to
  // the results after it.
  TextSizeSink(ResultSink& client, const std::int64_t& text_size)
      : ForwardingSink(client), text_size_(text_size) {}

  void BeginResult(const std::vector<Column>& columns) override;
  void AddRow(const Row& row) override;

 private:
  const std::int64_t& text_size_;
  std::vector<ColumnType> types_;
};

}  // namespace sqlengine::exec
