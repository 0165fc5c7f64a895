#pragma once
// A Brellow main window loaded against a real engine, as the program starts:
// Form_Load opens the login window, the test logs in through it.

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <vector>

#include "brellow/frmbrellow.h"
#include "brellow/frmsqllogin.h"
#include "brellow/tests/test_seams.h"
#include "testing/test_engine.h"

namespace brellow_test {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest();

  // Runs Form_Load, logging in as sa with SQL Server security, then runs
  // `after_login` while the login window's loop is still running. Shows the
  // window unless the program was ended.
  void LoadAsSa(const std::function<void(brellow::frmSQLlogin&)>& after_login = {});
  // Runs Form_Load with `act` performed on the login window instead.
  void LoadWith(const std::function<void(brellow::frmSQLlogin&)>& act);

  std::vector<QString> Entries() const;
  std::vector<QString> SelectedEntries() const;
  void Select(const QString& name, bool selected);
  // Clicks an entry as the user does, toggling its selection.
  void ClickEntry(const QString& name);

  testing_support::TestEngine engine_;
  ScopedSettingsFolder settings_;
  RecordingMessages messages_;
  RecordingEnd end_;
  brellow::basPublic program_;
  brellow::frmBrellow window_;
  QString login_caption_;
  bool login_sa_required_ = false;
};

}  // namespace brellow_test
