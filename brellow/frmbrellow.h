#pragma once
// Brellow's main window: runs the login window modally, lists the server's
// user databases and shrinks all of them or the selected ones, reporting each
// outcome in one message.
//
// Form_Load must be called once before the window is shown; it returns after
// calling ProgramEnd::EndNow when the login did not succeed or the list
// cannot be read. The factory, state, messages and program end must outlive
// the window. UI thread only.

#include <QWidget>
#include <array>

#include "brellow/baspublic.h"
#include "brellow/messages.h"
#include "brellow/program_end.h"
#include "dbplatform/object.h"

class QGroupBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace brellow {

class frmBrellow : public QWidget {
  Q_OBJECT

 public:
  frmBrellow(dbplatform::ObjectFactory& factory, basPublic& program, Messages& messages,
             ProgramEnd& program_end, QWidget* parent = nullptr);

  void Form_Load();
  void optWhich_Click(int Index);
  void lstDatabases_Click();
  // Shrinks the chosen databases one by one on basPublic::cnSQL. Pending
  // events are processed between databases; the button stays disabled for
  // the whole run, so a run is never entered twice.
  void cmdShrink_Click();
  void cmdClose_Click();

  QGroupBox* Frame1;
  std::array<QRadioButton*, 2> optWhich;
  QListWidget* lstDatabases;
  QGroupBox* Frame2;
  std::array<QRadioButton*, 2> optType;
  QPushButton* cmdShrink;
  QPushButton* cmdClose;

 protected:
  // The title bar's close box ends the program as Close does.
  void closeEvent(QCloseEvent* event) override;

 private:
  void NameControls();
  bool AnyDatabaseSelected() const;

  dbplatform::ObjectFactory& factory_;
  basPublic& program_;
  Messages& messages_;
  ProgramEnd& program_end_;
  bool shrink_running_ = false;
  // Set by Close: a run in progress stops before the next database.
  bool closed_ = false;
};

}  // namespace brellow
