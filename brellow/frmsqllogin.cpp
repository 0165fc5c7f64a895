#include "brellow/frmsqllogin.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>

#include "brellow/classic_look.h"
#include "brellow/connection_text.h"
#include "brellow/program_info.h"
#include "brellow/settings_store.h"
#include "classic_ui/control_names.h"
#include "classic_ui/wrapping_buttons.h"
#include "dbplatform/error.h"
#include "dbplatform/value.h"

namespace brellow {
namespace {

constexpr char kSection[] = "Login";
constexpr char kTestQuery[] = "Select * from sysdatabases";
constexpr char kPrivilegeCheck[] =
    "IF IS_SRVROLEMEMBER ('sysadmin') = 1 SELECT 'SYSADMIN' As [Usertype] "
    "ELSE IF IS_SRVROLEMEMBER ('sysadmin') = 0 SELECT 'NORMAL' As [Usertype] "
    "ELSE IF IS_SRVROLEMEMBER ('sysadmin') IS NULL SELECT 'ERROR' As [Usertype] ";

QString ReadLoginSetting(const char* key) {
  return GetSetting(QString::fromLatin1(kProgramName), QString::fromLatin1(kSection),
                    QString::fromLatin1(key), QString());
}

void WriteLoginSetting(const char* key, const QString& value) {
  // A failed write is skipped; the login still succeeds.
  SaveSetting(QString::fromLatin1(kProgramName), QString::fromLatin1(kSection),
              QString::fromLatin1(key), value);
}

// The number a saved mode starts with (after leading spaces, with an
// optional sign), 0 when it does not start with one.
int LeadingNumber(const QString& text) {
  int position = 0;
  while (position < text.size() && text[position] == QLatin1Char(' ')) ++position;
  int sign = 1;
  if (position < text.size() &&
      (text[position] == QLatin1Char('-') || text[position] == QLatin1Char('+'))) {
    if (text[position] == QLatin1Char('-')) sign = -1;
    ++position;
  }
  long long value = 0;
  while (position < text.size() && text[position].isDigit() && value < 1000000) {
    value = value * 10 + text[position].digitValue();
    ++position;
  }
  return static_cast<int>(sign * value);
}

// Closes (failure ignored) and releases the program-wide connection.
void DropConnection(basPublic& program) {
  if (program.cnSQL) {
    try {
      program.cnSQL->Close();
    } catch (const dbplatform::Error&) {
    }
  }
  program.cnSQL.reset();
}

}  // namespace

frmSQLlogin::frmSQLlogin(dbplatform::ObjectFactory& factory, basPublic& program, Messages& messages,
                         QWidget* parent)
    : QDialog(parent), factory_(factory), program_(program), messages_(messages) {
  setWindowTitle(QStringLiteral("SQL Server Login Information"));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
  UseClassicFont(*this);
  FixClientAreaInTwips(*this, 6900, 2808);

  Label1 = new QLabel(QStringLiteral("Server Name:"), this);
  PlaceInTwips(*Label1, 720, 300, 1152, 192);
  txtServerName = new QLineEdit(this);
  PlaceInTwips(*txtServerName, 1860, 240, 2772, 312);
  optNT[0] = new classic_ui::WrappingOptionButton(QStringLiteral("Use NT Security"), this);
  PlaceInTwips(*optNT[0], 720, 780, 3792, 192);
  optNT[1] = new classic_ui::WrappingOptionButton(QStringLiteral("Use SQL Server Security"), this);
  PlaceInTwips(*optNT[1], 720, 1140, 3792, 192);

  fraSQL = new QGroupBox(this);
  PlaceInTwips(*fraSQL, 180, 1500, 5472, 1212);
  lblLoginName = new QLabel(QStringLiteral("SQL Login:"), fraSQL);
  PlaceInTwips(*lblLoginName, 540, 360, 912, 192);
  txtLoginName = new QLineEdit(fraSQL);
  PlaceInTwips(*txtLoginName, 1680, 300, 2712, 312);
  lblPassword = new QLabel(QStringLiteral("Password:"), fraSQL);
  PlaceInTwips(*lblPassword, 540, 720, 912, 192);
  txtPassword = new QLineEdit(fraSQL);
  PlaceInTwips(*txtPassword, 1680, 660, 2712, 312);
  txtPassword->setEchoMode(QLineEdit::Password);
  txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"

  cmdLogin = new QPushButton(QStringLiteral("Login"), this);
  PlaceInTwips(*cmdLogin, 5940, 1800, 852, 432);
  cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  PlaceInTwips(*cmdCancel, 5940, 2280, 852, 432);
  // No button answers Enter; Esc is Cancel.
  cmdLogin->setAutoDefault(false);
  cmdCancel->setAutoDefault(false);

  for (QWidget* text : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(optNT[0]),
                        static_cast<QWidget*>(optNT[1]), static_cast<QWidget*>(fraSQL)}) {
    UseHighlightText(*text);
  }

  tmrLogin = new QTimer(this);
  tmrLogin->setInterval(500);
  NameControls();

  // Focusable controls in tab-index order.
  setTabOrder(txtServerName, optNT[0]);
  setTabOrder(optNT[0], optNT[1]);
  setTabOrder(optNT[1], txtLoginName);
  setTabOrder(txtLoginName, txtPassword);
  setTabOrder(txtPassword, cmdCancel);
  setTabOrder(cmdCancel, cmdLogin);
  txtServerName->setFocus();

  auto* security_group = new QButtonGroup(this);
  security_group->addButton(optNT[0], 0);
  security_group->addButton(optNT[1], 1);
  connect(security_group, &QButtonGroup::idClicked, this, &frmSQLlogin::optNT_Click);
  connect(tmrLogin, &QTimer::timeout, this, &frmSQLlogin::tmrLogin_Timer);
  connect(cmdCancel, &QPushButton::clicked, this, &frmSQLlogin::cmdCancel_Click);
  connect(cmdLogin, &QPushButton::clicked, this, &frmSQLlogin::cmdLogin_Click);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, cmdCancel, &QPushButton::click);
}

void frmSQLlogin::NameControls() {
  using classic_ui::NameControl;
  setObjectName(QStringLiteral("frmSQLlogin"));
  NameControl(*Label1, QStringLiteral("Label1"));
  NameControl(*txtServerName, QStringLiteral("txtServerName"), Label1->text());
  for (int index = 0; index < static_cast<int>(optNT.size()); ++index) {
    NameControl(*optNT[index], classic_ui::ArrayMemberName(QStringLiteral("optNT"), index));
  }
  NameControl(*fraSQL, QStringLiteral("fraSQL"), QStringLiteral("SQL Server login"));
  NameControl(*lblLoginName, QStringLiteral("lblLoginName"));
  NameControl(*txtLoginName, QStringLiteral("txtLoginName"), lblLoginName->text());
  NameControl(*lblPassword, QStringLiteral("lblPassword"));
  NameControl(*txtPassword, QStringLiteral("txtPassword"), lblPassword->text());
  NameControl(*cmdLogin, QStringLiteral("cmdLogin"));
  NameControl(*cmdCancel, QStringLiteral("cmdCancel"));
  tmrLogin->setObjectName(QStringLiteral("tmrLogin"));
  Label1->setBuddy(txtServerName);
  lblLoginName->setBuddy(txtLoginName);
  lblPassword->setBuddy(txtPassword);
  for (QLabel* label : {Label1, lblLoginName, lblPassword}) label->setWordWrap(true);
}

void frmSQLlogin::Form_Load() {
  txtServerName->setText(ReadLoginSetting("Servername"));
  txtLoginName->setText(ReadLoginSetting("UserName"));
  txtPassword->setText(ReadLoginSetting("Password"));
  const QString saved_mode =
      GetSetting(QString::fromLatin1(kProgramName), QString::fromLatin1(kSection),
                 QStringLiteral("Mode"), QStringLiteral("0"));
  // Only 1 chooses SQL Server security; anything else is NT security.
  const int mode = LeadingNumber(saved_mode) == 1 ? 1 : 0;
  optNT[mode]->setChecked(true);
  optNT_Click(mode);
  tmrLogin->start();
}

void frmSQLlogin::optNT_Click(int Index) {
  const bool sql_login = Index == 1;
  for (QWidget* control :
       {static_cast<QWidget*>(lblLoginName), static_cast<QWidget*>(lblPassword),
        static_cast<QWidget*>(txtLoginName), static_cast<QWidget*>(txtPassword)}) {
    control->setEnabled(sql_login);
  }
  // While the window is hidden (during Load) the focus stays where it is.
  if (sql_login && txtLoginName->isVisible()) txtLoginName->setFocus();
}

void frmSQLlogin::tmrLogin_Timer() {
  const bool has_server = !txtServerName->text().isEmpty();
  if (optNT[0]->isChecked()) {
    cmdLogin->setEnabled(has_server);
  } else {
    cmdLogin->setEnabled(has_server && !txtLoginName->text().isEmpty());
  }
}

void frmSQLlogin::cmdCancel_Click() {
  tmrLogin->stop();
  DropConnection(program_);
  program_.strConnect.clear();
  reject();
}

void frmSQLlogin::cmdLogin_Click() {
  tmrLogin->stop();
  cmdLogin->setEnabled(false);
  setCursor(Qt::WaitCursor);
  QCoreApplication::processEvents();

  DropConnection(program_);
  program_.strConnect = BrellowConnectString(optNT[0]->isChecked(), txtServerName->text(),
                                             txtLoginName->text(), txtPassword->text());

  try {
    program_.cnSQL =
        dbplatform::CreateObjectAs<dbplatform::Connection>(factory_, "ADODB.Connection");
    program_.cnSQL->SetConnectionString(program_.strConnect);
    program_.cnSQL->Open("", "", "", -1);
  } catch (const dbplatform::Error& failure) {
    FailLogin(QStringLiteral("Error connecting to server .... ") +
              QString::fromStdString(failure.Description()));
    return;
  }

  try {
    program_.cnSQL->Execute(kTestQuery);
  } catch (const dbplatform::Error& failure) {
    FailLogin(QStringLiteral("Error reading database list ... ") +
              QString::fromStdString(failure.Description()));
    return;
  }

  if (SArequired) {
    std::unique_ptr<dbplatform::Recordset> usertype_set;
    try {
      usertype_set = program_.cnSQL->Execute(kPrivilegeCheck);
    } catch (const dbplatform::Error& failure) {
      FailLogin(QStringLiteral("Unable to determine security settings ... ") +
                QString::fromStdString(failure.Description()));
      return;
    }
    bool is_sysadmin = false;
    try {
      is_sysadmin =
          usertype_set != nullptr &&
          dbplatform::ToText(usertype_set->Fields().Item("usertype").GetValue()) == "SYSADMIN";
    } catch (const dbplatform::Error&) {
      is_sysadmin = false;
    }
    if (!is_sysadmin) {
      FailLogin(QStringLiteral(
          "This application requires SQL 'sysadmin' privileges ... Please contact system "
          "administrator for more information."));
      return;
    }
  }

  SaveLoginSettings();
  accept();
}

void frmSQLlogin::SaveLoginSettings() {
  WriteLoginSetting("Servername", txtServerName->text());
  WriteLoginSetting("UserName", txtLoginName->text());
  WriteLoginSetting("Password", txtPassword->text());
  WriteLoginSetting("Mode", optNT[0]->isChecked() ? QStringLiteral("0") : QStringLiteral("1"));
}

void frmSQLlogin::FailLogin(const QString& message) {
  messages_.Show(message);
  DropConnection(program_);
  program_.strConnect.clear();
  tmrLogin->start();
  unsetCursor();
}

}  // namespace brellow
