#pragma once
// Adds lines to the end of a QListWidget in batches, so that a result of a
// million rows costs a few bulk insertions instead of one per line. The order
// and text of the lines are exactly those given to Add().

#include <QStringList>

class QListWidget;

namespace velmora {

class ListAppender {
 public:
  // `list` must outlive the appender.
  explicit ListAppender(QListWidget& list) : list_(list) {}
  // Flushes what is pending, so that lines added before a failure stay visible.
  ~ListAppender() { Flush(); }
  ListAppender(const ListAppender&) = delete;
  ListAppender& operator=(const ListAppender&) = delete;

  void Add(QString line);
  void Flush();

 private:
  static constexpr qsizetype kBatchLines = 65536;
  QListWidget& list_;
  QStringList pending_;
};

}  // namespace velmora
