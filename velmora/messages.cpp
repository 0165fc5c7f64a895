#include "velmora/messages.h"

#include <QMessageBox>

namespace velmora {

void MessageBoxMessages::Show(const QString& text, Icon icon) {
  QMessageBox box(icon == Icon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
                  QString::fromLatin1(kProgramTitle), text, QMessageBox::Ok, parent_);
  box.exec();
}

}  // namespace velmora
