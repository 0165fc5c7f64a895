#pragma once
// The per-user settings store: text values addressed by application name,
// section and key. Backed by QSettings in its native per-user location
// (on Linux $XDG_CONFIG_HOME/<application>/<application>.conf). The file is
// kept readable and writable by its owner only, because it may hold a
// password in plain text.

#include <QString>

namespace brellow {

// The stored text, or `fallback` when the key is missing or unreadable.
QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& fallback);

// Writes and flushes the value; false when the store could not be written.
bool SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value);

// The file that holds `application`'s settings.
QString SettingsFileName(const QString& application);

}  // namespace brellow
