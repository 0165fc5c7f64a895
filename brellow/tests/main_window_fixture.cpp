#include "brellow/tests/main_window_fixture.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

namespace brellow_test {

MainWindowTest::MainWindowTest()
    : window_(dbplatform::DefaultFactory(), program_, messages_, end_) {}

void MainWindowTest::LoadWith(const std::function<void(brellow::frmSQLlogin&)>& act) {
  WhenLoginOpens([this, act](brellow::frmSQLlogin& login) {
    login_caption_ = login.windowTitle();
    login_sa_required_ = login.SArequired;
    act(login);
  });
  window_.Form_Load();
  if (end_.calls == 0) window_.show();
}

void MainWindowTest::LoadAsSa(const std::function<void(brellow::frmSQLlogin&)>& after_login) {
  const QString server = QString::fromStdString(engine_->ServerName());
  LoadWith([server, after_login](brellow::frmSQLlogin& login) {
    login.optNT[1]->click();
    login.txtServerName->setText(server);
    login.txtLoginName->setText(QStringLiteral("sa"));
    login.txtPassword->clear();
    login.cmdLogin->click();
    if (after_login) after_login(login);
  });
}

std::vector<QString> MainWindowTest::Entries() const {
  std::vector<QString> names;
  for (int index = 0; index < window_.lstDatabases->count(); ++index) {
    names.push_back(window_.lstDatabases->item(index)->text());
  }
  return names;
}

std::vector<QString> MainWindowTest::SelectedEntries() const {
  std::vector<QString> names;
  for (int index = 0; index < window_.lstDatabases->count(); ++index) {
    if (window_.lstDatabases->item(index)->isSelected()) {
      names.push_back(window_.lstDatabases->item(index)->text());
    }
  }
  return names;
}

void MainWindowTest::Select(const QString& name, bool selected) {
  const auto found = window_.lstDatabases->findItems(name, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << name.toStdString();
  found.front()->setSelected(selected);
}

void MainWindowTest::ClickEntry(const QString& name) {
  const auto found = window_.lstDatabases->findItems(name, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << name.toStdString();
  QListWidget* list = window_.lstDatabases;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(found.front()).center());
}

OfflineWindowTest::OfflineWindowTest() : window_(objects_, program_, messages_, end_) {}

void OfflineWindowTest::UseConnection(ScriptedConnection::ExecuteScript script) {
  auto connection = std::make_unique<ScriptedConnection>(std::move(script));
  connection_ = connection.get();
  program_.cnSQL = std::move(connection);
  program_.strConnect = "scripted";
}

void OfflineWindowTest::List(std::initializer_list<const char*> names) {
  for (const char* name : names) window_.lstDatabases->addItem(QString::fromLatin1(name));
  window_.optWhich[0]->setChecked(true);
  window_.optWhich_Click(0);
  window_.optType[0]->setChecked(true);
}

}  // namespace brellow_test
