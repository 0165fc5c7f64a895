#pragma once
// Measures every caption and default text of a window against the client
// area of its control, in the control's own font and style: labels, buttons,
// option buttons and check boxes (beside their indicator), frame titles, and
// the text of one-line and multi-line boxes. Captions that the control breaks
// onto further lines are measured line by line, and the lines' ink must fit
// the control's height.

#include <QSize>
#include <QString>
#include <vector>

class QWidget;

namespace classic_ui_test {

struct Misfit {
  QString control;  // object name
  QString text;
  QSize needed;
  QSize room;
};

std::vector<Misfit> CaptionMisfits(QWidget& window);

// How many texts CaptionMisfits measured in `window`; guards against a walk
// that silently finds nothing.
int MeasuredTextCount(QWidget& window);

// The scale factor the process was started with (QT_SCALE_FACTOR, 1 when
// unset).
double RequestedScaleFactor();

}  // namespace classic_ui_test
