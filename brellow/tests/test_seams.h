#pragma once
// Test doubles for the two seams a test cannot drive through real windows
// (message boxes and ending the program), a private settings store per test,
// and a way to act on the modal login window that frmBrellow::Form_Load opens.

#include <QString>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "brellow/frmsqllogin.h"
#include "brellow/messages.h"
#include "brellow/program_end.h"

// Lets test failures show texts readably.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace brellow_test {

// Records each message instead of showing a box.
class RecordingMessages : public brellow::Messages {
 public:
  void Show(const QString& text) override { shown.push_back(text); }
  std::vector<QString> shown;
};

// Counts the requests to end the program; returns to the caller.
class RecordingEnd : public brellow::ProgramEnd {
 public:
  void EndNow() override { ++calls; }
  int calls = 0;
};

// Points the per-user settings store at a fresh temporary folder for the
// lifetime of the object and removes the folder afterwards.
class ScopedSettingsFolder {
 public:
  ScopedSettingsFolder();
  ~ScopedSettingsFolder();
  ScopedSettingsFolder(const ScopedSettingsFolder&) = delete;
  ScopedSettingsFolder& operator=(const ScopedSettingsFolder&) = delete;
  const std::filesystem::path& Folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
};

// Brellow's saved login value for `key`, or "<missing>" when there is none.
QString SavedLogin(const char* key);
void SaveLogin(const char* key, const QString& value);

// Once a modal frmSQLlogin is active, runs `act` on it (from inside its event
// loop). If the window is still open after `act`, it is rejected, so a test
// cannot hang in the modal loop.
void WhenLoginOpens(std::function<void(brellow::frmSQLlogin&)> act);

// Processes events until `done` holds or `milliseconds` have passed.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 3000);

}  // namespace brellow_test
