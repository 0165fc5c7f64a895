#pragma once
// The fixed look of Brellow's windows: geometry given in twips (15 to a
// logical pixel), the small sans-serif font, texts in the highlight colour.
// Every twips figure of the program goes through these functions.

#include <QRect>
#include <QSize>

class QWidget;

namespace brellow {

inline constexpr int kTwipsPerPixel = 15;

int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);
QSize TwipsSize(int width, int height);

// Places `widget` at the twips rectangle, relative to its parent.
void PlaceInTwips(QWidget& widget, int left, int top, int width, int height);
// Fixes a window's client area at the twips size; the window cannot be resized.
void FixClientAreaInTwips(QWidget& window, int width, int height);

// The classic window font (classic_ui/classic_font.h), for a window and its
// children.
void UseClassicFont(QWidget& window);
// Draws the widget's own text (label, frame caption, option text) in the
// system highlight colour; children of a frame inherit it.
void UseHighlightText(QWidget& widget);

}  // namespace brellow
