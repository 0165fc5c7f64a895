#include "brellow/tests/test_seams.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <QtTest/QTest>

#include "brellow/program_info.h"
#include "brellow/settings_store.h"
#include "testing/test_engine.h"

namespace brellow_test {

ScopedSettingsFolder::ScopedSettingsFolder()
    : folder_(testing_support::MakeTempFolder("brellow-settings")) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(folder_.string()));
}

ScopedSettingsFolder::~ScopedSettingsFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

QString SavedLogin(const char* key) {
  return brellow::GetSetting(QString::fromLatin1(brellow::kProgramName), QStringLiteral("Login"),
                             QString::fromLatin1(key), QStringLiteral("<missing>"));
}

void SaveLogin(const char* key, const QString& value) {
  brellow::SaveSetting(QString::fromLatin1(brellow::kProgramName), QStringLiteral("Login"),
                       QString::fromLatin1(key), value);
}

void WhenLoginOpens(std::function<void(brellow::frmSQLlogin&)> act) {
  auto* poll = new QTimer();
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* login = qobject_cast<brellow::frmSQLlogin*>(QApplication::activeModalWidget());
    if (login == nullptr) return;
    poll->stop();
    poll->deleteLater();
    act(*login);
    if (login->isVisible()) login->reject();
  });
  poll->start();
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
  return QTest::qWaitFor(done, milliseconds);
}

}  // namespace brellow_test
