#include "brellow/classic_look.h"

#include <QPalette>
#include <QWidget>

#include "classic_ui/classic_font.h"

namespace brellow {

int TwipsToPixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
               TwipsToPixels(height));
}

QSize TwipsSize(int width, int height) {
  return QSize(TwipsToPixels(width), TwipsToPixels(height));
}

void PlaceInTwips(QWidget& widget, int left, int top, int width, int height) {
  widget.setGeometry(TwipsRect(left, top, width, height));
}

void FixClientAreaInTwips(QWidget& window, int width, int height) {
  window.setFixedSize(TwipsSize(width, height));
}

void UseClassicFont(QWidget& window) { window.setFont(classic_ui::WindowFont()); }

void UseHighlightText(QWidget& widget) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
  widget.setPalette(palette);
}

}  // namespace brellow
