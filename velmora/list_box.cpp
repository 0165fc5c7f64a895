#include "velmora/list_box.h"

namespace velmora {

ListBox::ListBox(QWidget* parent) : QListView(parent) {
  setModel(&lines_);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void ListBox::AddItem(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  lines_.Stage(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  lines_.Publish();
}

void ListBox::Clear() { lines_.Clear(); }

int ListBox::Count() const { return lines_.rowCount(); }

QString ListBox::Text(int row) const { return lines_.Line(row); }

}  // namespace velmora
