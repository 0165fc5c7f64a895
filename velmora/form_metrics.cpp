#include "velmora/form_metrics.h"

#include <QWidget>
#include <algorithm>

namespace velmora {

void PlaceInTwips(QWidget& widget, int left, int top, int width, int height) {
  widget.setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                     TwipsToPixels(height));
}

void SetClientSizeInTwips(QWidget& window, int width, int height) {
  window.resize(TwipsToPixels(width), TwipsToPixels(height));
}

void FitToText(QWidget& label) {
  const QSize fitting = label.sizeHint();
  label.resize(std::max(label.width(), fitting.width()),
               std::max(label.height(), fitting.height()));
}

void SetGraphicalBackColor(QWidget& button, const QColor& color) {
  // A style sheet, because not every widget style paints a button's palette.
  button.setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 2px outset %2; "
                                      "} QPushButton:pressed { border-style: inset; }")
                           .arg(color.name(), color.darker(160).name()));
}

}  // namespace velmora
