#pragma once
// Form1: Velmora's main window. Every operation is one click handler that
// reads the window's boxes, creates the outside objects it needs through the
// factory, releases them before it returns and reports in message boxes.
// Runs on the GUI thread only; each handler blocks until its outside calls end.

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dbplatform {
class ObjectFactory;
}

namespace velmora {

class ListBox;
class Messages;
class ProgramEnd;
class frmSQL;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  // `factory`, `messages` and `program_end` must outlive the window.
  Form1(dbplatform::ObjectFactory& factory, Messages& messages, ProgramEnd& program_end,
        QWidget* parent = nullptr);
  ~Form1() override;

  // The open backup and restore window, or null when none is open.
  frmSQL* BackupRestoreWindow() const;

  // Controls, owned by the window (Qt parent).
  QLabel* Label1;
  QLineEdit* Text1;
  QPushButton* Command1;
  QPushButton* cmdAttchDB;
  QPushButton* cmdDetachDB;
  QGroupBox* Frame1;
  QLabel* Label2;
  QLineEdit* Text2;
  QPushButton* Command2;
  QLineEdit* txtSQL;
  QPushButton* cmdConnectToDB;
  ListBox* List1;
  QGroupBox* Frame2;
  QLabel* Label4;
  QLineEdit* txtName;
  QLabel* Label5;
  QLineEdit* txtPos;
  QPushButton* cmdADD;
  QPushButton* cmdDel;
  QGroupBox* Frame3;
  QPushButton* cmdKnowDB;
  QCheckBox* chkTables;
  QPushButton* cmdDBRB;
  QPushButton* cmdExit;

 private slots:
  void Command1_Click();
  void cmdAttchDB_Click();
  void cmdConnectToDB_Click();
  void cmdADD_Click();
  void cmdDel_Click();
  void cmdDetachDB_Click();
  void Command2_Click();
  void cmdKnowDB_Click();
  void cmdDBRB_Click();
  void cmdExit_Click();

 private:
  void CreateControls();
  void NameControls();
  void ConnectHandlers();

  void sStartMSDE(const std::string& sSvrName, const std::string& sUID, const std::string& sPWD);
  void sCopyMDF(const std::string& sSvrName, const std::string& sUID, const std::string& sPWD,
                const std::string& sMDFName, const std::string& sDBName);
  void sCreateConnection(const std::string& sSvrName, const std::string& sUID,
                         const std::string& sPWD, const std::string& sDatabase);
  void DoOperation(std::int16_t Opn);

  void Report(const QString& text);

  dbplatform::ObjectFactory& factory_;
  Messages& messages_;
  ProgramEnd& program_end_;
  QPointer<frmSQL> frmSQL_;
};

}  // namespace velmora
