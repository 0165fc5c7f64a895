#include "velmora/form_metrics.h"

#include <QFont>
#include <QPalette>
#include <QWidget>

namespace velmora {

void PlaceInTwips(QWidget& widget, int left, int top, int width, int height) {
  widget.setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                     TwipsToPixels(height));
}

void SetClientSizeInTwips(QWidget& window, int width, int height) {
  window.resize(TwipsToPixels(width), TwipsToPixels(height));
}

void SetGraphicalBackColor(QWidget& button, const QColor& color) {
  QPalette palette = button.palette();
  palette.setColor(QPalette::Button, color);
  button.setPalette(palette);
  button.setAutoFillBackground(true);
}

QFont WindowFont(bool bold) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

}  // namespace velmora
