#pragma once
// The one way Brellow shows a message box: modal, OK only, no icon, titled
// with the program's name. Show returns when the user has closed the box.
// Texts use CR LF line breaks.

#include <QString>

namespace brellow {

class Messages {
 public:
  virtual ~Messages() = default;
  virtual void Show(const QString& text) = 0;
};

// The production boxes (QMessageBox), parented to the active window.
class MessageBoxes : public Messages {
 public:
  void Show(const QString& text) override;
};

}  // namespace brellow
