#include "classic_ui/caption_lines.h"

#include <QTextLayout>
#include <QTextOption>
#include <algorithm>

namespace classic_ui {

QStringList CaptionLines(const QFont& font, const QString& caption, int width) {
  if (QFontMetrics(font).horizontalAdvance(caption) <= width) return {caption};
  QTextLayout layout(caption, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines << caption.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  lines.removeAll(QString());
  return lines.isEmpty() ? QStringList{caption} : lines;
}

int LineStep(const QFontMetrics& metrics) {
  return std::max(metrics.lineSpacing(), metrics.ascent() + metrics.descent());
}

int BlockHeight(const QFontMetrics& metrics, int line_count) {
  return (line_count - 1) * LineStep(metrics) + metrics.height();
}

int BlockTop(const QFontMetrics& metrics, int line_count, const QRect& area) {
  const int block = BlockHeight(metrics, line_count);
  if (block <= area.height()) return area.top() + (area.height() - block) / 2;
  return area.top() + area.height() - block;
}

}  // namespace classic_ui
