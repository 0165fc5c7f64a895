#include "brellow/frmbrellow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeySequence>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <optional>

#include "brellow/classic_look.h"
#include "brellow/frmsqllogin.h"
#include "brellow/program_info.h"
#include "brellow/shrink_command.h"
#include "classic_ui/control_names.h"
#include "classic_ui/wrapping_buttons.h"
#include "dbplatform/error.h"
#include "dbplatform/value.h"

namespace brellow {
namespace {

constexpr char kListQuery[] =
    "Select [Name] FROM master..sysdatabases WHERE [Name] NOT IN ('master','msdb','model') "
    "ORDER BY name";
constexpr char kCompletionMarker[] = "execution completed";
constexpr int kShrinkTimeoutSeconds = 1000;
const QString kLineBreak = QStringLiteral("\r\n");

// Informational messages (SQL state class 01) are not failures.
bool IsInformational(const dbplatform::ErrorItem& message) {
  return message.SQLState.rfind("01", 0) == 0;
}

// The failure description of one shrink command, or nothing when the
// database shrank. The engine's messages decide: the completion message,
// reached with nothing but informational messages before it (such as "file
// skipped, nothing to reclaim"), means success; so does no message at all
// after a command that ran. Otherwise the first error, or the first message
// when there is none, is the reason. A command that failed without leaving
// any message is a failure with the error it raised.
std::optional<std::string> ShrinkDatabase(dbplatform::Connection* connection,
                                          const std::string& command) {
  if (connection == nullptr) return std::string("Not connected to a server.");
  try {
    connection->SetCommandTimeout(kShrinkTimeoutSeconds);
  } catch (const dbplatform::Error&) {
  }
  std::optional<dbplatform::Error> raised;
  try {
    connection->Execute(command);
  } catch (const dbplatform::Error& failure) {
    raised = failure;
  }
  const dbplatform::ErrorCollection& messages = connection->Errors();
  try {
    const dbplatform::ErrorItem& first = messages.Item(0);
    for (int index = 0; index < messages.Count(); ++index) {
      const dbplatform::ErrorItem& message = messages.Item(index);
      if (message.Text().find(kCompletionMarker) != std::string::npos) return std::nullopt;
      if (!IsInformational(message)) return message.Description;
    }
    return first.Description;
  } catch (const dbplatform::Error&) {
    if (raised) return raised->Description();
    return std::nullopt;
  }
}

}  // namespace

frmBrellow::frmBrellow(dbplatform::ObjectFactory& factory, basPublic& program, Messages& messages,
                       ProgramEnd& program_end, QWidget* parent)
    : QWidget(parent),
      factory_(factory),
      program_(program),
      messages_(messages),
      program_end_(program_end) {
  setWindowTitle(QStringLiteral("Shrink SQL Databases ...."));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
  UseClassicFont(*this);
  FixClientAreaInTwips(*this, 6528, 4080);

  Frame1 = new QGroupBox(QStringLiteral("Which databases do you want to shrink?  "), this);
  PlaceInTwips(*Frame1, 60, 120, 5292, 2532);
  optWhich[0] = new classic_ui::WrappingOptionButton(QStringLiteral("All User Databases"), Frame1);
  PlaceInTwips(*optWhich[0], 300, 240, 3972, 192);
  optWhich[1] = new classic_ui::WrappingOptionButton(QStringLiteral("Selected Databases"), Frame1);
  PlaceInTwips(*optWhich[1], 300, 540, 3972, 192);
  lstDatabases = new QListWidget(Frame1);
  PlaceInTwips(*lstDatabases, 360, 840, 4512, 1392);
  lstDatabases->setSelectionMode(QAbstractItemView::MultiSelection);

  Frame2 = new QGroupBox(QStringLiteral("Shrink Method  "), this);
  PlaceInTwips(*Frame2, 60, 2700, 5292, 1272);
  optType[0] = new classic_ui::WrappingOptionButton(
      QStringLiteral("Remove free space at end (fastest but may not free much space)"), Frame2);
  PlaceInTwips(*optType[0], 180, 300, 4932, 312);
  optType[1] = new classic_ui::WrappingOptionButton(
      QStringLiteral("Compact database then remove space (slowest but frees the most space)"),
      Frame2);
  PlaceInTwips(*optType[1], 180, 660, 4812, 372);

  cmdShrink = new QPushButton(QStringLiteral("Shrink"), this);
  PlaceInTwips(*cmdShrink, 5580, 3180, 792, 372);
  cmdClose = new QPushButton(QStringLiteral("Close"), this);
  PlaceInTwips(*cmdClose, 5580, 3600, 792, 372);

  NameControls();

  // The frames' captions and the option texts; the list keeps its own colours.
  UseHighlightText(*Frame1);
  UseHighlightText(*Frame2);

  // Focusable controls in tab-index order.
  setTabOrder(cmdShrink, cmdClose);
  setTabOrder(cmdClose, optWhich[0]);
  setTabOrder(optWhich[0], optWhich[1]);
  setTabOrder(optWhich[1], lstDatabases);
  setTabOrder(lstDatabases, optType[0]);
  setTabOrder(optType[0], optType[1]);

  auto* which_group = new QButtonGroup(this);
  which_group->addButton(optWhich[0], 0);
  which_group->addButton(optWhich[1], 1);
  auto* type_group = new QButtonGroup(this);
  type_group->addButton(optType[0], 0);
  type_group->addButton(optType[1], 1);
  connect(which_group, &QButtonGroup::idClicked, this, &frmBrellow::optWhich_Click);
  connect(lstDatabases, &QListWidget::itemSelectionChanged, this, &frmBrellow::lstDatabases_Click);
  connect(cmdShrink, &QPushButton::clicked, this, &frmBrellow::cmdShrink_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmBrellow::cmdClose_Click);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, cmdClose, &QPushButton::click);
}

void frmBrellow::NameControls() {
  using classic_ui::ArrayMemberName;
  using classic_ui::NameControl;
  setObjectName(QStringLiteral("frmBrellow"));
  NameControl(*Frame1, QStringLiteral("Frame1"));
  NameControl(*lstDatabases, QStringLiteral("lstDatabases"), QStringLiteral("Databases"));
  NameControl(*Frame2, QStringLiteral("Frame2"));
  for (int index = 0; index < 2; ++index) {
    NameControl(*optWhich[index], ArrayMemberName(QStringLiteral("optWhich"), index));
    NameControl(*optType[index], ArrayMemberName(QStringLiteral("optType"), index));
  }
  NameControl(*cmdShrink, QStringLiteral("cmdShrink"));
  NameControl(*cmdClose, QStringLiteral("cmdClose"));
}

void frmBrellow::Form_Load() {
  lstDatabases->clear();
  program_.strConnect.clear();
  const QString version = ProgramVersionText();
  setWindowTitle(QStringLiteral("Brellow V") + version);

  {
    frmSQLlogin login(factory_, program_, messages_);
    login.SArequired = true;
    login.setWindowTitle(login.windowTitle().trimmed() + QStringLiteral(" - Brellow V") + version);
    login.Form_Load();
    login.exec();
  }

  if (program_.strConnect.empty()) {
    hide();
    program_end_.EndNow();
    return;
  }

  lstDatabases->clear();
  std::unique_ptr<dbplatform::Recordset> databases;
  try {
    databases = program_.cnSQL->Execute(kListQuery);
  } catch (const dbplatform::Error&) {
    databases.reset();
  }
  if (!databases) {
    messages_.Show(QStringLiteral("Cannot read database list ... exiting."));
    hide();
    program_end_.EndNow();
    return;
  }

  // A row that cannot be read ends the list there.
  try {
    while (!databases->Eof()) {
      lstDatabases->addItem(
          QString::fromStdString(dbplatform::ToText(databases->Fields().Item("Name").GetValue())));
      databases->MoveNext();
    }
  } catch (const dbplatform::Error&) {
  }
  try {
    databases->Close();
  } catch (const dbplatform::Error&) {
  }

  optWhich[0]->setChecked(true);
  optWhich_Click(0);
  optType[0]->setChecked(true);
  cmdShrink->setFocus();
}

bool frmBrellow::AnyDatabaseSelected() const {
  for (int index = 0; index < lstDatabases->count(); ++index) {
    if (lstDatabases->item(index)->isSelected()) return true;
  }
  return false;
}

void frmBrellow::optWhich_Click(int Index) {
  lstDatabases->setEnabled(Index == 1);
  if (shrink_running_) return;
  cmdShrink->setEnabled(Index == 0 || AnyDatabaseSelected());
}

void frmBrellow::lstDatabases_Click() {
  if (shrink_running_) return;
  cmdShrink->setEnabled(AnyDatabaseSelected());
}

void frmBrellow::cmdShrink_Click() {
  if (shrink_running_) return;
  shrink_running_ = true;
  setCursor(Qt::WaitCursor);
  cmdShrink->setEnabled(false);
  if (optWhich[0]->isChecked()) {
    for (int index = 0; index < lstDatabases->count(); ++index) {
      lstDatabases->item(index)->setSelected(true);
    }
  }
  lstDatabases->setEnabled(true);
  QCoreApplication::processEvents();

  QString report;
  const int entry_count = lstDatabases->count();
  for (int index = 0; index < entry_count && !closed_; ++index) {
    QListWidgetItem* entry = lstDatabases->item(index);
    if (entry == nullptr || !entry->isSelected()) continue;
    const QString name = entry->text();
    const std::string command = ShrinkCommand(name.toStdString(), optType[0]->isChecked());
    const std::optional<std::string> failure = ShrinkDatabase(program_.cnSQL.get(), command);
    if (!failure) {
      entry->setSelected(false);
      report += name + QStringLiteral(" - OK.") + kLineBreak;
    } else {
      report += name + QStringLiteral(" - ") + QString::fromStdString(*failure) + kLineBreak;
    }
    QCoreApplication::processEvents();
  }

  unsetCursor();
  cmdShrink->setEnabled(true);
  shrink_running_ = false;
  if (closed_) return;
  QCoreApplication::processEvents();

  const QString summary = AnyDatabaseSelected() ? QStringLiteral("Errors occurred. ")
                                                : QStringLiteral("Selected databases shrunk OK.");
  messages_.Show(summary + kLineBreak + kLineBreak + report);
}

void frmBrellow::cmdClose_Click() {
  closed_ = true;
  hide();
  program_end_.EndNow();
}

void frmBrellow::closeEvent(QCloseEvent* event) {
  event->accept();
  cmdClose_Click();
}

}  // namespace brellow
