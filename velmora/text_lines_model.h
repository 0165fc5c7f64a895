#pragma once
// The lines of a list box, kept compactly: their UTF-8 text in 64 KiB blocks
// and one 2-byte offset per line, about the text's own size in all (a list of
// a million result lines takes tens of megabytes, not hundreds). A line turns
// into a QString only when a view asks for it. Lines are added at the end in
// two steps, so that many lines cost one row insertion: Stage() stores a
// line, Publish() makes every staged line a row. GUI thread only.

#include <QAbstractListModel>
#include <QString>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora {

class TextLinesModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  void Stage(std::string_view utf8);
  void Publish();
  // Removes every line, staged or published.
  void Clear();
  // The text of published row `row` (0 <= row < rowCount()).
  QString Line(int row) const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
    std::size_t capacity = 0;
    int first_line = 0;
  };
  // Small enough that a line's start in its block fits 16 bits; a longer
  // line gets a block of its own.
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
  static constexpr std::size_t kLatestStart = 0xFFFF;

  std::string_view LineText(int line) const;

  std::vector<Block> blocks_;
  // Where each line starts in its block; it ends where the next line of the
  // same block starts, or at the block's end. A deque grows without copying,
  // so a long listing never holds the old and the new offsets at once.
  std::deque<quint16> starts_;
  int published_ = 0;
};

}  // namespace velmora
