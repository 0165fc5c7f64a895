// Brellow: log in to a SQL Server-family engine as a sysadmin and shrink its
// user databases.

#include <QApplication>

#include "brellow/baspublic.h"
#include "brellow/frmbrellow.h"
#include "brellow/messages.h"
#include "brellow/program_end.h"
#include "brellow/program_info.h"
#include "dbplatform/object.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  brellow::RegisterProgramInfo();
  brellow::basPublic program;
  brellow::MessageBoxes messages;
  brellow::ProcessEnd program_end;
  brellow::frmBrellow window(dbplatform::DefaultFactory(), program, messages, program_end);
  window.Form_Load();
  window.show();
  return app.exec();
}
