#pragma once
// A Brellow main window loaded against a real engine, as the program starts
// (Form_Load opens the login window, the test logs in through it), and one
// without a server.

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <initializer_list>
#include <vector>

#include "brellow/frmbrellow.h"
#include "brellow/frmsqllogin.h"
#include "brellow/tests/engine_test.h"
#include "brellow/tests/scripted_objects.h"
#include "brellow/tests/test_seams.h"

namespace brellow_test {

class MainWindowTest : public EngineTest {
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

  ScopedSettingsFolder settings_;
  RecordingMessages messages_;
  RecordingEnd end_;
  brellow::basPublic program_;
  brellow::frmBrellow window_;
  QString login_caption_;
  bool login_sa_required_ = false;
};

// Without a server: the window's list is filled by the test and the
// connection, where one is needed, is a scripted stand-in.
class OfflineWindowTest : public ::testing::Test {
 protected:
  OfflineWindowTest();

  void UseConnection(ScriptedConnection::ExecuteScript script);
  // Fills the list as Load would and chooses the default options.
  void List(std::initializer_list<const char*> names);

  UncreatableObjects objects_;
  RecordingMessages messages_;
  RecordingEnd end_;
  brellow::basPublic program_;
  brellow::frmBrellow window_;
  ScriptedConnection* connection_ = nullptr;
};

}  // namespace brellow_test
