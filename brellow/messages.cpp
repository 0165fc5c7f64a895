#include "brellow/messages.h"

#include <QApplication>
#include <QMessageBox>

#include "brellow/program_info.h"

namespace brellow {

void MessageBoxes::Show(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, kProgramName, shown, QMessageBox::Ok,
                  QApplication::activeWindow());
  // Texts carry names the user typed or the server returned, never markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace brellow
