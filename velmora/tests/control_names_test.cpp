// Every control of Velmora's windows can be found by its designed name
// through the accessibility interface, and is announced by its caption or by
// the label beside it.

#include <gtest/gtest.h>

#include <QPushButton>
#include <map>

#include "classic_ui/tests/accessible_controls.h"
#include "dbplatform/object.h"
#include "velmora/form1.h"
#include "velmora/frmsql.h"
#include "velmora/tests/test_seams.h"

namespace velmora_test {
namespace {

using Names = std::map<QString, QString>;

TEST(ControlNames, EveryControlOfBothWindowsIsFoundByNameWithItsSpokenCaption) {
  RecordingMessages messages;
  RecordingEnd end;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, end);
  form.show();
  const Names main_window = {
      {"Form1", "MSDE Example"},
      {"Label1", "Computer Name"},
      {"Text1", "Computer Name"},
      {"Command1", "Turn On MSDE Service"},
      {"cmdAttchDB", "Attach DB"},
      {"cmdDetachDB", "Detach DB"},
      {"Frame1", "Delete Database If Exists"},
      {"Label2", "Database Name"},
      {"Text2", "Database Name"},
      {"Command2", "Delete DB"},
      {"txtSQL", "SQL statement"},
      {"cmdConnectToDB", "Execute SQL statement"},
      {"List1", "Results"},
      {"Frame2", "Add/Delete Operation"},
      {"Label4", "Name"},
      {"txtName", "Name"},
      {"Label5", "Position"},
      {"txtPos", "Position"},
      {"cmdADD", "ADD"},
      {"cmdDel", "DELETE"},
      {"Frame3", "Server Information"},
      {"cmdKnowDB", "Available Databases"},
      {"chkTables", "Show Tables"},
      {"cmdDBRB", "DB Restore/BackUP"},
      {"cmdExit", "EXIT"},
  };
  EXPECT_EQ(classic_ui_test::AccessibleControls(form), main_window);

  form.cmdDBRB->click();
  ASSERT_NE(form.BackupRestoreWindow(), nullptr);
  const Names backup_window = {
      {"frmSQL", "Form2"},           {"txtSvrName", "Server Name"},
      {"CompName", "Server Name"},   {"txtDBName", "Database Name"},
      {"cmdBackup", "SQL - BackUP"}, {"cmdRestore", "SQL - Restore"},
      {"txtResult", "Result"},       {"cmdClose", "Close"},
      {"Label2", "Database Name"},   {"cmdBK", "SQL-DMO Backup"},
      {"cmdRT", "SQL-DMO Restore"},
  };
  EXPECT_EQ(classic_ui_test::AccessibleControls(*form.BackupRestoreWindow()), backup_window);
}

}  // namespace
}  // namespace velmora_test
