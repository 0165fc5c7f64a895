#pragma once
// Test doubles for the seams a test cannot drive through real windows: the
// message boxes, ending the program, and outside objects that fail in ways a
// real engine cannot be made to (an object that cannot be created, a closing
// call that fails).

#include <QString>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dbplatform/object.h"
#include "velmora/messages.h"
#include "velmora/program_end.h"

// Lets GoogleTest print texts in failure messages (found by argument lookup).
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace velmora_test {

struct ShownMessage {
  QString text;
  velmora::Messages::Icon icon;
};

// Records each message instead of showing a box. `while_shown`, when set, runs
// after recording, as if the user acted while the modal box was open.
class RecordingMessages : public velmora::Messages {
 public:
  void Show(const QString& text, Icon icon) override {
    shown.push_back({text, icon});
    if (while_shown) while_shown(text);
  }
  std::vector<QString> Texts() const;
  std::vector<ShownMessage> shown;
  std::function<void(const QString&)> while_shown;
};

// Counts the requests to end the program; returns to the caller.
class RecordingEnd : public velmora::ProgramEnd {
 public:
  void EndNow() override { ++calls; }
  int calls = 0;
};

// Hands out the real objects of `real`, except that the identifiers given to
// FailCreating() cannot be created and, after FailClosingCalls(), every server
// object's Close and DisConnect throw after doing their work. `real` must
// outlive the factory.
class FaultyFactory : public dbplatform::ObjectFactory {
 public:
  static constexpr std::int32_t kClosingFailure = -2147199999;

  explicit FaultyFactory(dbplatform::ObjectFactory& real) : real_(real) {}
  void FailCreating(std::string prog_id) { failing_.insert(std::move(prog_id)); }
  void FailClosingCalls() { closing_fails_ = true; }
  std::unique_ptr<dbplatform::AutomationObject> CreateObject(std::string_view prog_id) override;

 private:
  dbplatform::ObjectFactory& real_;
  std::set<std::string, std::less<>> failing_;
  bool closing_fails_ = false;
};

}  // namespace velmora_test
