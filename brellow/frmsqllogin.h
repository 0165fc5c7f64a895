#pragma once
// The login window: server name, security mode (NT or SQL Server login),
// remembered per user; its Login button opens the program-wide connection
// and, when SArequired, accepts only logins in the server role sysadmin.
//
// Shown modally by the main window's load step (exec()). It closes itself
// with accept() after a successful login and with reject() on Cancel, Esc or
// the close box; success is read from basPublic::strConnect, not from the
// dialog result. The factory, state and messages must outlive the window.
// UI thread only.

#include <QDialog>
#include <QString>
#include <array>

#include "brellow/baspublic.h"
#include "brellow/messages.h"
#include "dbplatform/object.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace brellow {

class frmSQLlogin : public QDialog {
  Q_OBJECT

 public:
  frmSQLlogin(dbplatform::ObjectFactory& factory, basPublic& program, Messages& messages,
              QWidget* parent = nullptr);

  // When true, a login is accepted only if it holds the server role sysadmin.
  bool SArequired = false;

  // Fills the boxes from the saved settings, chooses the saved mode and starts
  // tmrLogin. Call once, before the window is shown.
  void Form_Load();

  void optNT_Click(int Index);
  void tmrLogin_Timer();
  void cmdCancel_Click();
  // Connects, checks the privilege, saves the settings and closes the window;
  // on failure shows one message and returns to waiting with no connection.
  void cmdLogin_Click();

  QLabel* Label1;
  QLineEdit* txtServerName;
  std::array<QRadioButton*, 2> optNT;
  QGroupBox* fraSQL;
  QLabel* lblLoginName;
  QLineEdit* txtLoginName;
  QLabel* lblPassword;
  QLineEdit* txtPassword;
  QPushButton* cmdLogin;
  QPushButton* cmdCancel;
  QTimer* tmrLogin;

 private:
  void NameControls();
  void SaveLoginSettings();
  void FailLogin(const QString& message);

  dbplatform::ObjectFactory& factory_;
  basPublic& program_;
  Messages& messages_;
};

}  // namespace brellow
