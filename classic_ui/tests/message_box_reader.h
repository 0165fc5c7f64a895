#pragma once
// Reads the message boxes a piece of code opens, as the user sees them: runs
// the code, and each time a modal QMessageBox opens, takes down its title and
// its text as displayed (what a screen reader reads from the box's label, so
// markup that the box would render is not in it) and presses OK.

#include <QString>
#include <functional>
#include <vector>

namespace classic_ui_test {

struct ShownBox {
  QString title;
  QString displayed_text;
  QString raw_text;
};

// `act` must open its boxes modally on this thread; a box is closed within
// a few milliseconds of opening.
std::vector<ShownBox> ReadMessageBoxes(const std::function<void()>& act);

}  // namespace classic_ui_test
