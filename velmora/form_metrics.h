#pragma once
// The window geometry of Velmora is designed in twips (1440 to the inch); this
// is the one place where twips become logical pixels (15 twips per pixel).

#include <QColor>
#include <QWidget>
#include <utility>

#include "classic_ui/classic_font.h"

namespace velmora {

inline constexpr int kTwipsPerPixel = 15;

constexpr int TwipsToPixels(int twips) { return twips / kTwipsPerPixel; }

// Positions `widget` relative to its parent (a window or a frame).
void PlaceInTwips(QWidget& widget, int left, int top, int width, int height);

// Sizes a top-level window's client area; the window stays resizable.
void SetClientSizeInTwips(QWidget& window, int width, int height);

// A label sized to its text: it keeps its place and grows, never shrinks, to
// fit its text in this platform's font.
void FitToText(QWidget& label);

// The graphical button style with a back colour of its own.
void SetGraphicalBackColor(QWidget& button, const QColor& color);

// Creates a control as a child of `parent` (a window or a frame), placed in
// twips, with the regular window font set on the control itself so that a
// bold frame does not pass its weight on. `args` precede the parent in the
// control's constructor; the parent owns the control.
template <class Control, class... Args>
Control* CreateInTwips(QWidget* parent, int left, int top, int width, int height, Args&&... args) {
  auto* control = new Control(std::forward<Args>(args)..., parent);
  control->setFont(classic_ui::WindowFont());
  PlaceInTwips(*control, left, top, width, height);
  return control;
}

}  // namespace velmora
