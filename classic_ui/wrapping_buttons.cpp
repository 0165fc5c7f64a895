#include "classic_ui/wrapping_buttons.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "classic_ui/caption_lines.h"

namespace classic_ui {

QRect CaptionAreaOf(const QAbstractButton& button, const QStyleOptionButton& option,
                    const IndicatorKind& kind) {
  return button.style()->subElementRect(kind.caption_area, &option, &button);
}

void PaintWithWrappedCaption(QAbstractButton& button, QStyleOptionButton option,
                             const IndicatorKind& kind) {
  QStylePainter painter(&button);
  const QString caption = option.text;
  option.text.clear();  // the caption is drawn below, line by line
  QStyleOptionButton indicator = option;
  indicator.rect = button.style()->subElementRect(kind.indicator_area, &option, &button);
  painter.drawPrimitive(kind.indicator, indicator);

  const QRect area = CaptionAreaOf(button, option, kind);
  const QFontMetrics metrics = button.fontMetrics();
  const QStringList lines = CaptionLines(button.font(), caption, area.width());
  const int step = LineStep(metrics);
  int top = BlockTop(metrics, static_cast<int>(lines.size()), area);
  QRect used;
  painter.setClipRect(button.rect());
  for (const QString& line : lines) {
    const QRect line_box(area.left(), top, area.width(), metrics.height());
    painter.drawItemText(line_box, Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic,
                         option.palette, button.isEnabled(), line, QPalette::WindowText);
    used |= QRect(line_box.topLeft(), QSize(metrics.horizontalAdvance(line), line_box.height()));
    top += step;
  }
  if (button.hasFocus() && !used.isEmpty()) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.rect = used.adjusted(-1, 0, 1, 0).intersected(button.rect());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

}  // namespace classic_ui
