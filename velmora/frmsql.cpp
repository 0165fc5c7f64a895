#include "velmora/frmsql.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "classic_ui/classic_font.h"
#include "classic_ui/control_names.h"
#include "dbplatform/administration.h"
#include "dbplatform/object.h"
#include "dbplatform/platform.h"
#include "velmora/error_report.h"
#include "velmora/form_metrics.h"
#include "velmora/velmora_login.h"

namespace velmora {
namespace {

using dbplatform::CreateObjectAs;

const QString kCrLf = QStringLiteral("\r\n");

QString ProgramFolder() { return QString::fromStdString(dbplatform::ProgramFolder()); }

// The objects of one backup or restore run. Create() makes them in this
// order; after a failure the ones made so far stay for the closing step.
template <class Operation>
struct AdministrationRun {
  void Create(dbplatform::ObjectFactory& factory, const char* operation_id) {
    server = CreateObjectAs<dbplatform::SQLServer>(factory, "SQLDMO.SQLServer");
    operation = CreateObjectAs<Operation>(factory, operation_id);
    file_system =
        CreateObjectAs<dbplatform::FileSystemObject>(factory, "Scripting.FileSystemObject");
  }
  std::unique_ptr<dbplatform::SQLServer> server;
  std::unique_ptr<Operation> operation;
  std::unique_ptr<dbplatform::FileSystemObject> file_system;
};

// Ends a run's connection; a failure here must leave the result box and the
// window as they are.
void DisconnectQuietly(dbplatform::SQLServer* server) {
  if (server == nullptr) return;
  try {
    server->DisConnect();
  } catch (const dbplatform::Error&) {
  }
}

}  // namespace

frmSQL::frmSQL(dbplatform::ObjectFactory& factory) : QWidget(nullptr), factory_(factory) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Form2"));
  setObjectName(QStringLiteral("frmSQL"));
  setFont(classic_ui::WindowFont());
  SetClientSizeInTwips(*this, 6405, 4455);
  CreateControls();
  NameControls();
  ConnectHandlers();
  txtSvrName->setFocus();
}

void frmSQL::CreateControls() {
  txtSvrName = CreateInTwips<QLineEdit>(this, 1080, 360, 1215, 285,
                                        QString::fromLatin1(kDefaultComputerName));
  txtSvrName->setToolTip(QStringLiteral("1"));
  CompName = CreateInTwips<QLabel>(this, 1080, 120, 930, 195, QStringLiteral("Server Name"));
  CompName->setWordWrap(true);
  txtDBName = CreateInTwips<QLineEdit>(this, 2760, 360, 1695, 285, QStringLiteral("TestProjSQL"));
  txtDBName->setToolTip(QStringLiteral("2"));
  cmdBackup =
      CreateInTwips<QPushButton>(this, 1080, 840, 1575, 255, QStringLiteral("SQL - BackUP"));
  cmdBackup->setToolTip(QStringLiteral("3"));
  cmdRestore =
      CreateInTwips<QPushButton>(this, 2880, 840, 1575, 255, QStringLiteral("SQL - Restore"));
  cmdRestore->setToolTip(QStringLiteral("4"));
  txtResult = CreateInTwips<QPlainTextEdit>(this, 120, 1680, 6135, 2175);
  txtResult->setToolTip(QStringLiteral("5"));
  txtResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtResult->setTabChangesFocus(true);
  SetResultText(QStringLiteral("Note: It assumes that the respective server is ON."));
  cmdClose = CreateInTwips<QPushButton>(this, 2760, 4080, 975, 255, QStringLiteral("Close"));
  SetGraphicalBackColor(*cmdClose, QColor(255, 224, 192));
  Label2 = CreateInTwips<QLabel>(this, 2760, 120, 1155, 195, QStringLiteral("Database Name"));
  Label2->setWordWrap(true);
  cmdBK = CreateInTwips<QPushButton>(this, 1080, 1200, 1575, 255, QStringLiteral("SQL-DMO Backup"));
  cmdRT =
      CreateInTwips<QPushButton>(this, 2880, 1200, 1575, 255, QStringLiteral("SQL-DMO Restore"));

  QWidget* const order[] = {txtSvrName, txtDBName, cmdBackup, cmdRestore,
                            txtResult,  cmdClose,  cmdBK,     cmdRT};
  for (std::size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmSQL::NameControls() {
  using classic_ui::NameControl;
  NameControl(*txtSvrName, QStringLiteral("txtSvrName"), CompName->text());
  NameControl(*CompName, QStringLiteral("CompName"));
  NameControl(*txtDBName, QStringLiteral("txtDBName"), Label2->text());
  NameControl(*cmdBackup, QStringLiteral("cmdBackup"));
  NameControl(*cmdRestore, QStringLiteral("cmdRestore"));
  NameControl(*txtResult, QStringLiteral("txtResult"), QStringLiteral("Result"));
  NameControl(*cmdClose, QStringLiteral("cmdClose"));
  NameControl(*Label2, QStringLiteral("Label2"));
  NameControl(*cmdBK, QStringLiteral("cmdBK"));
  NameControl(*cmdRT, QStringLiteral("cmdRT"));
  CompName->setBuddy(txtSvrName);
  Label2->setBuddy(txtDBName);
}

void frmSQL::ConnectHandlers() {
  connect(cmdBackup, &QPushButton::clicked, this, &frmSQL::cmdBackup_Click);
  connect(cmdRestore, &QPushButton::clicked, this, &frmSQL::cmdRestore_Click);
  connect(cmdBK, &QPushButton::clicked, this, &frmSQL::cmdBK_Click);
  connect(cmdRT, &QPushButton::clicked, this, &frmSQL::cmdRT_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmSQL::cmdClose_Click);
}

void frmSQL::SetResultText(const QString& text) {
  // The text box breaks lines with LF alone on this platform.
  QString shown = text;
  txtResult->setPlainText(shown.replace(kCrLf, QStringLiteral("\n")));
}

QString frmSQL::ResultText() const {
  return txtResult->toPlainText().replace(QStringLiteral("\n"), kCrLf);
}

QString frmSQL::StatementResult(const QString& heading, const QString& statement) const {
  return heading + kCrLf + kCrLf + QStringLiteral("Connection To: ") + txtSvrName->text() +
         QStringLiteral(" / ") + txtDBName->text() + kCrLf + kCrLf +
         QStringLiteral("Copy-Paste the following ADO SQL statement: ") + kCrLf + kCrLf + statement;
}

std::string frmSQL::ObjectModelBackupPath() const {
  return dbplatform::ProgramFolder() + dbplatform::kPathSeparator +
         txtDBName->text().toStdString() + "_DB.bak";
}

void frmSQL::cmdBackup_Click() {
  try {
    const QString statement = QStringLiteral("BACKUP DATABASE ") + txtDBName->text() +
                              QStringLiteral(" to DISK = '") + ProgramFolder() +
                              QChar(dbplatform::kPathSeparator) + txtDBName->text() +
                              QStringLiteral("DB.bak") + QStringLiteral("' with init");
    SetResultText(StatementResult(QStringLiteral("Generate SQL for BACKUP:"), statement));
  } catch (const dbplatform::Error& error) {
    SetResultText(QStringLiteral("Database backup is not successful") + kCrLf + ErrorReport(error));
  }
}

void frmSQL::cmdRestore_Click() {
  try {
    const QString statement = QStringLiteral("RESTORE DATABASE FROM DISK = '") + ProgramFolder() +
                              QChar(dbplatform::kPathSeparator) + txtDBName->text() +
                              QStringLiteral(".bak") + QStringLiteral("' [WITH REPLACE]");
    SetResultText(StatementResult(QStringLiteral("Generate SQL for RESTORE:"), statement));
  } catch (const dbplatform::Error& error) {
    SetResultText(QStringLiteral("Database restore is not successful") + kCrLf +
                  ErrorReport(error));
  }
}

void frmSQL::cmdBK_Click() {
  QString result;
  AdministrationRun<dbplatform::Backup> run;
  try {
    run.Create(factory_, "SQLDMO.Backup");
    run.server->Connect(txtSvrName->text().toStdString(), kLogin, kPassword);
    if (run.file_system->FileExists(ObjectModelBackupPath())) {
      result = QStringLiteral("Backup of '") + txtDBName->text() + QStringLiteral("' on '") +
               txtSvrName->text() + QStringLiteral("' is already taken.");
    } else {
      dbplatform::Backup& oBackup = *run.operation;
      oBackup.SetDatabase(txtDBName->text().toStdString());
      oBackup.SetPercentCompleteNotification(1);
      oBackup.SetBackupSetName("");
      oBackup.SetFiles(ObjectModelBackupPath());
      result = QStringLiteral("Generated SQL: ") + kCrLf +
               QString::fromStdString(oBackup.GenerateSQL()) + kCrLf + kCrLf;
      oBackup.SQLBackup(*run.server);
      result += QStringLiteral("Backup of '") + txtDBName->text() + QStringLiteral("' on '") +
                txtSvrName->text() + QStringLiteral("' is successful.");
    }
    SetResultText(result);
  } catch (const dbplatform::Error& error) {
    SetResultText(result +
                  QStringLiteral("Some problem occurred while taking the database backup: ") +
                  kCrLf + kCrLf + ErrorReport(error));
  }
  DisconnectQuietly(run.server.get());
}

void frmSQL::cmdRT_Click() {
  QString result;
  AdministrationRun<dbplatform::Restore> run;
  try {
    run.Create(factory_, "SQLDMO.restore");
    run.server->Connect(txtSvrName->text().toStdString(), kLogin, kPassword);
    if (!run.file_system->FileExists(ObjectModelBackupPath())) {
      result = QStringLiteral("Database backup file for restore doesn't exist.");
    } else {
      dbplatform::Restore& oRestore = *run.operation;
      oRestore.SetDatabase(txtDBName->text().toStdString());
      oRestore.SetRestoreAs("");
      oRestore.SetFiles(ObjectModelBackupPath());
      oRestore.SetReplaceDatabase(true);
      result = QStringLiteral("Generated SQL: ") + kCrLf +
               QString::fromStdString(oRestore.GenerateSQL()) + kCrLf + kCrLf;
      oRestore.SQLRestore(*run.server);
      result += QStringLiteral("Restore of '") + txtDBName->text() + QStringLiteral("_NEW' on '") +
                txtSvrName->text() + QStringLiteral("' is successful.");
    }
    SetResultText(result);
  } catch (const dbplatform::Error& error) {
    SetResultText(result +
                  QStringLiteral("Some problem occurred while performing the database restore: ") +
                  kCrLf + kCrLf + ErrorReport(error));
  }
  DisconnectQuietly(run.server.get());
}

void frmSQL::cmdClose_Click() { close(); }

}  // namespace velmora
