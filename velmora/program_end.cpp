#include "velmora/program_end.h"

#include <QApplication>
#include <QWidget>

namespace velmora {

void QuitApplication::EndNow() {
  // hide() sends no close event, so no window's close handling runs.
  for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
  QCoreApplication::exit(0);
}

}  // namespace velmora
