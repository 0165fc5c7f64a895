#include "brellow/settings_store.h"

#include <sys/stat.h>

#include <QFile>
#include <QSettings>

namespace brellow {
namespace {

QString KeyPath(const QString& section, const QString& key) {
  return section + QLatin1Char('/') + key;
}

// Files and folders created while this lives are private to the user.
class PrivateFileCreation {
 public:
  PrivateFileCreation() : previous_(umask(077)) {}
  ~PrivateFileCreation() { umask(previous_); }
  PrivateFileCreation(const PrivateFileCreation&) = delete;
  PrivateFileCreation& operator=(const PrivateFileCreation&) = delete;

 private:
  mode_t previous_;
};

}  // namespace

QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& fallback) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, application, application);
  const QVariant value = settings.value(KeyPath(section, key));
  if (!value.isValid()) return fallback;
  return value.toString();
}

bool SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, application, application);
  settings.setValue(KeyPath(section, key), value);
  {
    PrivateFileCreation private_files;
    settings.sync();
  }
  // An existing file keeps its permissions across a rewrite; narrow them too.
  QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return settings.status() == QSettings::NoError;
}

QString SettingsFileName(const QString& application) {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, application, application)
      .fileName();
}

}  // namespace brellow
