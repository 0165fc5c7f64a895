#include "velmora/text_lines_model.h"

#include <algorithm>
#include <cstring>

namespace velmora {

int TextLinesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : published_;
}

QVariant TextLinesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= published_) return {};
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  return Line(index.row());
}

void TextLinesModel::Stage(std::string_view utf8) {
  if (blocks_.empty() || blocks_.back().used > kLatestStart ||
      blocks_.back().capacity - blocks_.back().used < utf8.size()) {
    Block block;
    block.capacity = std::max(kBlockBytes, utf8.size());
    block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
    block.first_line = static_cast<int>(starts_.size());
    blocks_.push_back(std::move(block));
  }
  Block& block = blocks_.back();
  if (!utf8.empty()) std::memcpy(block.bytes.get() + block.used, utf8.data(), utf8.size());
  starts_.push_back(static_cast<quint16>(block.used));
  block.used += utf8.size();
}

void TextLinesModel::Publish() {
  const int staged = static_cast<int>(starts_.size());
  if (staged == published_) return;
  beginInsertRows(QModelIndex(), published_, staged - 1);
  published_ = staged;
  endInsertRows();
}

void TextLinesModel::Clear() {
  beginResetModel();
  blocks_.clear();
  starts_ = {};
  published_ = 0;
  endResetModel();
}

QString TextLinesModel::Line(int row) const {
  const std::string_view text = LineText(row);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view TextLinesModel::LineText(int line) const {
  // The last block whose first line is not after `line`.
  const auto after =
      std::upper_bound(blocks_.begin(), blocks_.end(), line,
                       [](int wanted, const Block& block) { return wanted < block.first_line; });
  const Block& block = *(after - 1);
  const bool last_of_block = after == blocks_.end() ? line + 1 == static_cast<int>(starts_.size())
                                                    : line + 1 == after->first_line;
  const std::size_t start = starts_[line];
  const std::size_t end = last_of_block ? block.used : starts_[line + 1];
  return {block.bytes.get() + start, end - start};
}

}  // namespace velmora
