#pragma once
// A list box of text lines (Velmora's List1): a QListView over a
// TextLinesModel with rows of one height, so that a result of a million
// lines stays small and quick to show and scroll. The view owns its model.
// GUI thread only.

#include <QListView>

#include "velmora/text_lines_model.h"

namespace velmora {

class ListBox : public QListView {
  Q_OBJECT

 public:
  explicit ListBox(QWidget* parent = nullptr);

  // Appends one line and shows it at once. For many lines use Lines() with
  // ListAppender.
  void AddItem(const QString& line);
  void Clear();
  int Count() const;
  // The text of line `row` (0 <= row < Count()).
  QString Text(int row) const;
  TextLinesModel& Lines() { return lines_; }

 private:
  TextLinesModel lines_;
};

}  // namespace velmora
