#include "velmora/messages.h"

#include <QMessageBox>

namespace velmora {

void MessageBoxMessages::Show(const QString& text, Icon icon) {
  // The box breaks lines at LF alone; a CR left in would show as a glyph.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon == Icon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
                  QString::fromLatin1(kProgramTitle), shown, QMessageBox::Ok, parent_);
  // Texts carry names the user typed or the server returned; "<b>x" is a
  // database name, not markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace velmora
