#pragma once
// frmSQL: the backup and restore window. It composes backup and restore
// statements as text, and backs up and restores through the administration
// objects; every outcome goes into txtResult (no message boxes). Top-level and
// ownerless; it deletes itself when closed. GUI thread only.

#include <QWidget>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace dbplatform {
class ObjectFactory;
}

namespace velmora {

class frmSQL : public QWidget {
  Q_OBJECT

 public:
  // `factory` must outlive the window.
  explicit frmSQL(dbplatform::ObjectFactory& factory);

  // txtResult's content, with its line breaks as CR LF.
  QString ResultText() const;

  // Controls, owned by the window (Qt parent).
  QLineEdit* txtSvrName;
  QLabel* CompName;
  QLineEdit* txtDBName;
  QPushButton* cmdBackup;
  QPushButton* cmdRestore;
  QPlainTextEdit* txtResult;
  QPushButton* cmdClose;
  QLabel* Label2;
  QPushButton* cmdBK;
  QPushButton* cmdRT;

 private slots:
  void cmdBackup_Click();
  void cmdRestore_Click();
  void cmdBK_Click();
  void cmdRT_Click();
  void cmdClose_Click();

 private:
  void CreateControls();
  void NameControls();
  void ConnectHandlers();
  // Replaces txtResult's whole content; `text` breaks its lines with CR LF.
  void SetResultText(const QString& text);
  QString StatementResult(const QString& heading, const QString& statement) const;
  // The program folder, "/", the typed name and "_DB.bak".
  std::string ObjectModelBackupPath() const;

  dbplatform::ObjectFactory& factory_;
};

}  // namespace velmora
