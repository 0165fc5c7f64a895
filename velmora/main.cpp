// Velmora: starts with the main window; the program ends with "EXIT" or when
// its last window closes.

#include <QApplication>

#include "dbplatform/object.h"
#include "velmora/form1.h"
#include "velmora/messages.h"
#include "velmora/program_end.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(velmora::kProgramTitle));
  velmora::MessageBoxMessages messages;
  velmora::QuitApplication program_end;
  velmora::Form1 form1(dbplatform::DefaultFactory(), messages, program_end);
  form1.show();
  return QApplication::exec();
}
