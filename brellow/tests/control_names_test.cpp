// Every control of Brellow's windows can be found by its designed name
// through the accessibility interface (a member of a control array as
// "optNT(0)"), and is announced by its caption or by the label beside it.

#include <gtest/gtest.h>

#include <QTimer>
#include <map>

#include "brellow/frmsqllogin.h"
#include "brellow/tests/main_window_fixture.h"
#include "brellow/tests/test_seams.h"
#include "classic_ui/tests/accessible_controls.h"

namespace brellow_test {
namespace {

using Names = std::map<QString, QString>;
using ControlNamesTest = OfflineWindowTest;

TEST_F(ControlNamesTest, EveryControlOfBothWindowsIsFoundByNameWithItsSpokenCaption) {
  ScopedSettingsFolder settings;
  brellow::frmSQLlogin login(objects_, program_, messages_);
  login.Form_Load();
  login.show();
  const Names login_window = {
      {"frmSQLlogin", "SQL Server Login Information"},
      {"Label1", "Server Name"},
      {"txtServerName", "Server Name"},
      {"optNT(0)", "Use NT Security"},
      {"optNT(1)", "Use SQL Server Security"},
      {"fraSQL", "SQL Server login"},
      {"lblLoginName", "SQL Login"},
      {"txtLoginName", "SQL Login"},
      {"lblPassword", "Password"},
      {"txtPassword", "Password"},
      {"cmdLogin", "Login"},
      {"cmdCancel", "Cancel"},
  };
  EXPECT_EQ(classic_ui_test::AccessibleControls(login), login_window);
  EXPECT_EQ(login.tmrLogin->objectName(), "tmrLogin");

  List({"sales"});
  window_.show();
  const Names main_window = {
      {"frmBrellow", "Shrink SQL Databases ...."},
      {"Frame1", "Which databases do you want to shrink?"},
      {"optWhich(0)", "All User Databases"},
      {"optWhich(1)", "Selected Databases"},
      {"lstDatabases", "Databases"},
      {"Frame2", "Shrink Method"},
      {"optType(0)", "Remove free space at end (fastest but may not free much space)"},
      {"optType(1)", "Compact database then remove space (slowest but frees the most space)"},
      {"cmdShrink", "Shrink"},
      {"cmdClose", "Close"},
  };
  EXPECT_EQ(classic_ui_test::AccessibleControls(window_), main_window);
}

}  // namespace
}  // namespace brellow_test
