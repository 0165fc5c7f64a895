#include "velmora/form1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "classic_ui/classic_font.h"
#include "classic_ui/control_names.h"
#include "classic_ui/wrapping_buttons.h"
#include "dbplatform/administration.h"
#include "dbplatform/data_access.h"
#include "dbplatform/object.h"
#include "dbplatform/platform.h"
#include "dbplatform/value.h"
#include "velmora/error_report.h"
#include "velmora/form_metrics.h"
#include "velmora/frmsql.h"
#include "velmora/list_appender.h"
#include "velmora/list_box.h"
#include "velmora/messages.h"
#include "velmora/program_end.h"
#include "velmora/velmora_login.h"

namespace velmora {
namespace {

using dbplatform::CreateObjectAs;

constexpr char kColumnSeparator[] = " | ";
constexpr int kLoginTimeoutSeconds = 60;

// The data access connection text; the pieces are joined as they are, without
// quoting.
std::string ConnectionString(const std::string& sPWD, const std::string& sUID,
                             const std::string& sDatabase, const std::string& sSvrName) {
  return "PROVIDER=SQLOLEDB.1;PASSWORD=" + sPWD + ";PERSIST SECURITY INFO=TRUE;USER ID=" + sUID +
         ";INITIAL CATALOG=" + sDatabase + ";DATA SOURCE=" + sSvrName;
}

std::string TextOf(const QLineEdit* box) { return box->text().toStdString(); }

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

bool SameNameIgnoringCase(const std::string& server_name, const QString& typed) {
  return ToQString(server_name).toLower() == typed.toLower();
}

bool SameNameIgnoringCase(const std::string& server_name, const std::string& typed) {
  return SameNameIgnoringCase(server_name, ToQString(typed));
}

std::unique_ptr<dbplatform::SQLServer> CreateServer(dbplatform::ObjectFactory& factory) {
  return CreateObjectAs<dbplatform::SQLServer>(factory, "SQLDMO.SQLServer");
}

std::unique_ptr<dbplatform::FileSystemObject> CreateFileSystem(dbplatform::ObjectFactory& factory) {
  return CreateObjectAs<dbplatform::FileSystemObject>(factory, "Scripting.FileSystemObject");
}

}  // namespace

Form1::Form1(dbplatform::ObjectFactory& factory, Messages& messages, ProgramEnd& program_end,
             QWidget* parent)
    : QWidget(parent), factory_(factory), messages_(messages), program_end_(program_end) {
  setWindowTitle(QStringLiteral("MSDE Example"));
  setObjectName(QStringLiteral("Form1"));
  setFont(classic_ui::WindowFont());
  SetClientSizeInTwips(*this, 8610, 4455);
  CreateControls();
  NameControls();
  ConnectHandlers();
  Text1->setFocus();
}

Form1::~Form1() { delete frmSQL_.data(); }

frmSQL* Form1::BackupRestoreWindow() const { return frmSQL_.data(); }

void Form1::CreateControls() {
  Label1 = CreateInTwips<QLabel>(this, 240, 120, 1410, 195, QStringLiteral("Computer Name:"));
  Label1->setFont(classic_ui::WindowFont(true));
  FitToText(*Label1);
  Text1 = CreateInTwips<QLineEdit>(this, 240, 360, 1095, 285,
                                   QString::fromLatin1(kDefaultComputerName));
  Command1 = CreateInTwips<QPushButton>(this, 1560, 360, 2055, 255,
                                        QStringLiteral("Turn On MSDE Service"));
  cmdAttchDB = CreateInTwips<QPushButton>(this, 240, 840, 1575, 255, QStringLiteral("Attach DB"));
  cmdDetachDB = CreateInTwips<QPushButton>(this, 2040, 840, 1575, 255, QStringLiteral("Detach DB"));

  Frame1 = CreateInTwips<QGroupBox>(this, 3960, 120, 4455, 855,
                                    QStringLiteral("Delete Database If Exists"));
  Frame1->setFont(classic_ui::WindowFont(true));
  Label2 = CreateInTwips<QLabel>(Frame1, 120, 360, 1155, 195, QStringLiteral("Database Name"));
  Label2->setWordWrap(true);
  Text2 = CreateInTwips<QLineEdit>(Frame1, 1320, 360, 1455, 285, QStringLiteral("TestProjSQL"));
  Command2 = CreateInTwips<QPushButton>(Frame1, 2880, 360, 1335, 255, QStringLiteral("Delete DB"));

  txtSQL =
      CreateInTwips<QLineEdit>(this, 240, 1320, 4815, 285, QStringLiteral("Select * from Test"));
  cmdConnectToDB = CreateInTwips<QPushButton>(this, 5280, 1320, 2055, 255,
                                              QStringLiteral("Execute SQL statement"));
  List1 = CreateInTwips<ListBox>(this, 240, 1800, 4815, 1620);
  List1->setSelectionMode(QAbstractItemView::SingleSelection);

  Frame2 = CreateInTwips<QGroupBox>(this, 5280, 1800, 3135, 1575,
                                    QStringLiteral("Add/Delete Operation"));
  Frame2->setFont(classic_ui::WindowFont(true));
  Label4 = CreateInTwips<QLabel>(Frame2, 120, 360, 465, 195, QStringLiteral("Name:"));
  FitToText(*Label4);
  txtName = CreateInTwips<QLineEdit>(Frame2, 120, 600, 1335, 285, QStringLiteral("Lena T"));
  Label5 = CreateInTwips<QLabel>(Frame2, 1800, 360, 555, 195, QStringLiteral("Position"));
  FitToText(*Label5);
  txtPos = CreateInTwips<QLineEdit>(Frame2, 1800, 600, 1215, 285, QStringLiteral("Monitor"));
  cmdADD = CreateInTwips<QPushButton>(Frame2, 120, 1080, 1095, 255, QStringLiteral("ADD"));
  cmdDel = CreateInTwips<QPushButton>(Frame2, 1800, 1080, 1095, 255, QStringLiteral("DELETE"));

  Frame3 =
      CreateInTwips<QGroupBox>(this, 240, 3600, 6015, 735, QStringLiteral("Server Information"));
  Frame3->setFont(classic_ui::WindowFont(true));
  cmdKnowDB = CreateInTwips<QPushButton>(Frame3, 240, 360, 1935, 255,
                                         QStringLiteral("Available Databases"));
  chkTables = CreateInTwips<classic_ui::WrappingCheckBox>(Frame3, 2400, 360, 1335, 255,
                                                          QStringLiteral("Show Tables"));
  cmdDBRB =
      CreateInTwips<QPushButton>(Frame3, 3840, 360, 2055, 255, QStringLiteral("DB Restore/BackUP"));

  cmdExit = CreateInTwips<QPushButton>(this, 6960, 3840, 855, 255, QStringLiteral("EXIT"));
  SetGraphicalBackColor(*cmdExit, QColor(255, 224, 192));

  // Focus order of the controls that take the focus, by their tab index.
  const QWidget* const order[] = {Text1,  Command1,       cmdAttchDB, cmdDetachDB, Text2,  Command2,
                                  txtSQL, cmdConnectToDB, List1,      txtName,     txtPos, cmdADD,
                                  cmdDel, cmdKnowDB,      chkTables,  cmdExit,     cmdDBRB};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
  }
}

void Form1::NameControls() {
  using classic_ui::NameControl;
  NameControl(*Label1, QStringLiteral("Label1"));
  NameControl(*Text1, QStringLiteral("Text1"), Label1->text());
  NameControl(*Command1, QStringLiteral("Command1"));
  NameControl(*cmdAttchDB, QStringLiteral("cmdAttchDB"));
  NameControl(*cmdDetachDB, QStringLiteral("cmdDetachDB"));
  NameControl(*Frame1, QStringLiteral("Frame1"));
  NameControl(*Label2, QStringLiteral("Label2"));
  NameControl(*Text2, QStringLiteral("Text2"), Label2->text());
  NameControl(*Command2, QStringLiteral("Command2"));
  NameControl(*txtSQL, QStringLiteral("txtSQL"), QStringLiteral("SQL statement"));
  NameControl(*cmdConnectToDB, QStringLiteral("cmdConnectToDB"));
  NameControl(*List1, QStringLiteral("List1"), QStringLiteral("Results"));
  NameControl(*Frame2, QStringLiteral("Frame2"));
  NameControl(*Label4, QStringLiteral("Label4"));
  NameControl(*txtName, QStringLiteral("txtName"), Label4->text());
  NameControl(*Label5, QStringLiteral("Label5"));
  NameControl(*txtPos, QStringLiteral("txtPos"), Label5->text());
  NameControl(*cmdADD, QStringLiteral("cmdADD"));
  NameControl(*cmdDel, QStringLiteral("cmdDel"));
  NameControl(*Frame3, QStringLiteral("Frame3"));
  NameControl(*cmdKnowDB, QStringLiteral("cmdKnowDB"));
  NameControl(*chkTables, QStringLiteral("chkTables"));
  NameControl(*cmdDBRB, QStringLiteral("cmdDBRB"));
  NameControl(*cmdExit, QStringLiteral("cmdExit"));
  Label1->setBuddy(Text1);
  Label2->setBuddy(Text2);
  Label4->setBuddy(txtName);
  Label5->setBuddy(txtPos);
}

void Form1::ConnectHandlers() {
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(cmdAttchDB, &QPushButton::clicked, this, &Form1::cmdAttchDB_Click);
  connect(cmdConnectToDB, &QPushButton::clicked, this, &Form1::cmdConnectToDB_Click);
  connect(cmdADD, &QPushButton::clicked, this, &Form1::cmdADD_Click);
  connect(cmdDel, &QPushButton::clicked, this, &Form1::cmdDel_Click);
  connect(cmdDetachDB, &QPushButton::clicked, this, &Form1::cmdDetachDB_Click);
  connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(cmdKnowDB, &QPushButton::clicked, this, &Form1::cmdKnowDB_Click);
  connect(cmdDBRB, &QPushButton::clicked, this, &Form1::cmdDBRB_Click);
  connect(cmdExit, &QPushButton::clicked, this, &Form1::cmdExit_Click);
}

void Form1::Report(const QString& text) { messages_.Show(text); }

void Form1::Command1_Click() { sStartMSDE(TextOf(Text1), kLogin, kPassword); }

void Form1::sStartMSDE(const std::string& sSvrName, const std::string& sUID,
                       const std::string& sPWD) {
  std::unique_ptr<dbplatform::SQLServer> oSQLServer;
  try {
    oSQLServer = CreateServer(factory_);
  } catch (const dbplatform::Error& error) {
    // A silent end would read as a successful start, so this is reported too.
    Report(ErrorReport(error));
    return;
  }
  try {
    oSQLServer->SetLoginTimeout(kLoginTimeoutSeconds);
    oSQLServer->Start(true, sSvrName, sUID, sPWD);
    return;
  } catch (const dbplatform::Error& error) {
    if (error.Number() == dbplatform::kServiceAlreadyRunning) {
      try {
        oSQLServer->Connect(sSvrName, sUID, sPWD);
      } catch (const dbplatform::Error& connect_error) {
        // Silence would read as a successful start, so the refusal is reported.
        Report(ErrorReport(connect_error));
        return;
      }
      Report(QStringLiteral("Server was on already. Database is connected."));
    } else {
      Report(QStringLiteral("Please check the machine name: ") + ToQString(error.Description()));
    }
  }
  try {
    oSQLServer->DisConnect();
  } catch (const dbplatform::Error&) {
    // The outcome has been reported; a failing disconnect only ends the click.
  }
}

void Form1::cmdAttchDB_Click() {
  sCopyMDF(TextOf(Text1), kLogin, kPassword, TextOf(Text2) + ".mdf", TextOf(Text2));
}

void Form1::sCopyMDF(const std::string& sSvrName, const std::string& sUID, const std::string& sPWD,
                     const std::string& sMDFName, const std::string& sDBName) {
  std::unique_ptr<dbplatform::FileSystemObject> oFSO;
  std::unique_ptr<dbplatform::SQLServer> oSQLServer;
  try {
    oFSO = CreateFileSystem(factory_);
    oSQLServer = CreateServer(factory_);
    oSQLServer->Connect(sSvrName, sUID, sPWD);

    bool found = false;
    bool attached_in_other_case = false;
    dbplatform::DatabaseCollection& databases = oSQLServer->Databases();
    const int count = databases.Count();
    for (int position = 1; position <= count && !found; ++position) {
      const std::string name = databases.Item(position).Name();
      found = name == sDBName;
      attached_in_other_case = attached_in_other_case || SameNameIgnoringCase(name, sDBName);
    }

    if (found) {
      Report(QStringLiteral("Database already existing."));
    } else {
      Report(QStringLiteral("Database do not exist"));
      const std::string program_folder = dbplatform::ProgramFolder();
      const std::string data_folder = oSQLServer->Databases().Item("master").PrimaryFilePath();
      const std::string data_file = data_folder + sMDFName;
      // Nothing here locks an attached database's data file, so a copy over it
      // would destroy the live database: it fails as a file in use does.
      if (attached_in_other_case && oFSO->FileExists(data_file)) {
        throw dbplatform::Error(dbplatform::kPermissionDenied, "Permission denied");
      }
      oFSO->CopyFile(program_folder + dbplatform::kPathSeparator + sMDFName, data_file, true);
      Report(ToQString(oSQLServer->AttachDB(sDBName, data_file)));
      Report(QStringLiteral("Database installed successfully"));
    }
  } catch (const dbplatform::Error& error) {
    Report(ToQString(error.Description()));
  }
  if (!oSQLServer) return;
  try {
    oSQLServer->Close();
  } catch (const dbplatform::Error& error) {
    Report(ToQString(error.Description()));
  }
}

void Form1::cmdConnectToDB_Click() {
  sCreateConnection(TextOf(Text1), kLogin, kPassword, TextOf(Text2));
}

void Form1::sCreateConnection(const std::string& sSvrName, const std::string& sUID,
                              const std::string& sPWD, const std::string& sDatabase) {
  std::unique_ptr<dbplatform::Connection> cnSQL;
  std::unique_ptr<dbplatform::Recordset> rsSQL;
  try {
    cnSQL = CreateObjectAs<dbplatform::Connection>(factory_, "ADODB.Connection");
    cnSQL->Open(ConnectionString(sPWD, sUID, sDatabase, sSvrName), "", "", -1);
    List1->Clear();
    // Declared after the clear: on a failure, its destructor shows the lines
    // listed so far before the report.
    ListAppender lines(List1->Lines());
    rsSQL = cnSQL->Execute(TextOf(txtSQL));

    std::string line;
    const int field_count = rsSQL->Fields().Count();
    for (int i = 0; i < field_count; ++i) {
      line += rsSQL->Fields().Item(i).Name();
      line += kColumnSeparator;
    }
    lines.Add(line);
    while (!rsSQL->Eof()) {
      line.clear();
      dbplatform::FieldCollection& fields = rsSQL->Fields();
      for (int i = 0; i < field_count; ++i) {
        dbplatform::AppendText(fields.Item(i).GetValue(), line);
        line += kColumnSeparator;
      }
      lines.Add(line);
      rsSQL->MoveNext();
    }
    lines.Flush();
    rsSQL->Close();
    cnSQL->Close();
  } catch (const dbplatform::Error& error) {
    Report(ErrorReport(error));
  }
  rsSQL.reset();
  cnSQL.reset();
}

void Form1::cmdADD_Click() { DoOperation(1); }

void Form1::cmdDel_Click() { DoOperation(2); }

void Form1::DoOperation(std::int16_t Opn) {
  std::unique_ptr<dbplatform::Connection> cnSQL;
  std::unique_ptr<dbplatform::Command> cmdSQL;
  try {
    cnSQL = CreateObjectAs<dbplatform::Connection>(factory_, "ADODB.Connection");
    cmdSQL = CreateObjectAs<dbplatform::Command>(factory_, "ADODB.Command");
    cnSQL->SetConnectionString(ConnectionString(kPassword, kLogin, TextOf(Text2), TextOf(Text1)));
    if (Opn == 1 || Opn == 2) {
      cmdSQL->SetActiveConnection(cnSQL->ConnectionString());
      cmdSQL->SetCommandText("DoOperation");
      cmdSQL->SetCommandType(dbplatform::Command::kStoredProcedure);
      dbplatform::ParameterCollection& parameters = cmdSQL->Parameters();
      parameters.Item(1).SetValue(dbplatform::Value(Opn));
      parameters.Item(2).SetValue(dbplatform::Value(TextOf(txtName)));
      parameters.Item(3).SetValue(dbplatform::Value(TextOf(txtPos)));
      cmdSQL->Execute();
      const QString first_piece = Opn == 1 ? QStringLiteral("Record added successfully. Name =")
                                           : QStringLiteral("Record successfully deleted. Name =");
      Report(first_piece + txtName->text() + QStringLiteral(" Position= ") + txtPos->text());
      sCreateConnection(TextOf(Text1), kLogin, kPassword, TextOf(Text2));
    }
  } catch (const dbplatform::Error& error) {
    Report(ErrorReport(error));
  }
}

void Form1::cmdDetachDB_Click() {
  std::unique_ptr<dbplatform::SQLServer> oSQLServer;
  std::unique_ptr<dbplatform::FileSystemObject> oFSO;
  try {
    oSQLServer = CreateServer(factory_);
    oFSO = CreateFileSystem(factory_);
    oSQLServer->Connect(TextOf(Text1), kLogin, kPassword);

    bool found = false;
    std::string data_folder;
    // Each Databases() call is a snapshot that stays valid while the server
    // object lives, so master's path can be fetched during the walk.
    dbplatform::DatabaseCollection& databases = oSQLServer->Databases();
    const int count = databases.Count();
    for (int position = 1; position <= count; ++position) {
      dbplatform::Database& database = databases.Item(position);
      if (!SameNameIgnoringCase(database.Name(), Text2->text())) continue;
      Report(QStringLiteral("DB exists. Trying to detach it..."));
      Report(ToQString(oSQLServer->DetachDB(database.Name(), true)));
      data_folder = oSQLServer->Databases().Item("master").PrimaryFilePath();
      found = true;
    }

    if (found) {
      oFSO->DeleteFile(data_folder + TextOf(Text2) + ".mdf", false);
      oFSO->DeleteFile(data_folder + TextOf(Text2) + "_log.ldf", false);
      Report(QStringLiteral("DB detached successfully"));
    } else {
      Report(QStringLiteral("No DB to detach"));
    }
    oSQLServer->Close();
  } catch (const dbplatform::Error& error) {
    Report(ErrorReport(error));
  }
}

void Form1::Command2_Click() {
  std::unique_ptr<dbplatform::SQLServer> oSQLServer;
  try {
    oSQLServer = CreateServer(factory_);
    oSQLServer->Connect(TextOf(Text1), kLogin, kPassword);
    const int count = oSQLServer->Databases().Count();
    for (int position = 1; position <= count; ++position) {
      if (!SameNameIgnoringCase(oSQLServer->Databases().Item(position).Name(), Text2->text())) {
        continue;
      }
      Report(QStringLiteral("DB exists"));
      oSQLServer->Databases().Item(position).Remove();
      Report(QStringLiteral("DB Removed"));
      return;
    }
    oSQLServer->Close();
    Report(QStringLiteral("The given DB '") + Text2->text() + QStringLiteral("' does not exist"));
  } catch (const dbplatform::Error& error) {
    Report(ErrorReport(error));
  }
}

void Form1::cmdKnowDB_Click() {
  std::unique_ptr<dbplatform::SQLServer> oSQLServer;
  try {
    oSQLServer = CreateServer(factory_);
    oSQLServer->Connect(TextOf(Text1), kLogin, kPassword);
    List1->Clear();
    List1->AddItem(QStringLiteral("Existing Databases on : ") + Text1->text());
    dbplatform::DatabaseCollection& databases = oSQLServer->Databases();
    const int count = databases.Count();
    for (int position = 1; position <= count; ++position) {
      dbplatform::Database& database = databases.Item(position);
      List1->AddItem(ToQString(database.Name()) + QStringLiteral(", ") +
                     QStringLiteral("Tables: ") + QString::number(database.Tables().Count()));
      if (chkTables->checkState() != Qt::Checked || database.Tables().Count() == 0) continue;
      const int table_count = database.Tables().Count();
      for (int table = 1; table <= table_count; ++table) {
        List1->AddItem(QStringLiteral("\t") + ToQString(database.Tables().Item(table).Name()));
      }
    }
  } catch (const dbplatform::Error& error) {
    messages_.Show(QStringLiteral("The MSDE server on '") + Text1->text() +
                       QStringLiteral("' is not ON. Please turn on the server to proceed.") +
                       QStringLiteral("\r\n\r\n") + ToQString(error.Description()),
                   Messages::Icon::kInformation);
  }
  if (!oSQLServer) return;
  try {
    oSQLServer->DisConnect();
  } catch (const dbplatform::Error&) {
    // Whatever the listing showed stands; a failing disconnect ends the click.
  }
}

void Form1::cmdDBRB_Click() {
  if (!frmSQL_) frmSQL_ = new frmSQL(factory_);
  frmSQL_->show();
  frmSQL_->raise();
  frmSQL_->activateWindow();
}

void Form1::cmdExit_Click() {
  close();
  program_end_.EndNow();
}

}  // namespace velmora
