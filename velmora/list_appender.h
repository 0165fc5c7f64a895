#pragma once
// Adds lines to the end of a list box's lines in batches, so that a result
// of a million rows costs a few row insertions instead of one per line. The
// order and text of the lines are exactly those given to Add().

#include <string_view>

namespace velmora {

class TextLinesModel;

class ListAppender {
 public:
  // `lines` must outlive the appender.
  explicit ListAppender(TextLinesModel& lines) : lines_(lines) {}
  // Shows what is pending, so that lines added before a failure stay visible.
  ~ListAppender() { Flush(); }
  ListAppender(const ListAppender&) = delete;
  ListAppender& operator=(const ListAppender&) = delete;

  // `utf8` is copied.
  void Add(std::string_view utf8);
  void Flush();

 private:
  static constexpr int kBatchLines = 65536;
  TextLinesModel& lines_;
  int pending_ = 0;
};

}  // namespace velmora
