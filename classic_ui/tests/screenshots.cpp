#include "classic_ui/tests/screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace classic_ui_test {

void SaveScreenshotIfRequested(QWidget& window, const QString& name) {
  const QString folder = qEnvironmentVariable("WINDOW_SCREENSHOTS");
  if (folder.isEmpty()) return;
  window.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

}  // namespace classic_ui_test
