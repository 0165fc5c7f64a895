#include "classic_ui/tests/message_box_reader.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace classic_ui_test {

std::vector<ShownBox> ReadMessageBoxes(const std::function<void()>& act) {
  std::vector<ShownBox> shown;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&shown] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    ShownBox read{box->windowTitle(), {}, box->text()};
    // QMessageBox draws its text in this label.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      if (QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(label)) {
        read.displayed_text = spoken->text(QAccessible::Name);
      }
    }
    shown.push_back(read);
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  act();
  poll.stop();
  return shown;
}

}  // namespace classic_ui_test
