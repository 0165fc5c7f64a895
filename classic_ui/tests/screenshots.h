#pragma once
// With $WINDOW_SCREENSHOTS naming a folder, a window test writes what the
// window shows there as <name>.png (at the screen's device pixel ratio), for
// a person to look at the windows as a user sees them.

#include <QString>

class QWidget;

namespace classic_ui_test {

void SaveScreenshotIfRequested(QWidget& window, const QString& name);

}  // namespace classic_ui_test
