#pragma once
// Velmora's message boxes: modal, OK only, titled with the program's name.
// Windows report through this interface so that tests can record the texts
// without running a modal loop.

#include <QString>

class QWidget;

namespace velmora {

inline constexpr char kProgramTitle[] = "Velmora";

class Messages {
 public:
  enum class Icon { kNone, kInformation };
  virtual ~Messages() = default;
  // Returns when the user has acknowledged the text.
  virtual void Show(const QString& text, Icon icon = Icon::kNone) = 0;
};

// Production: a QMessageBox, application-modal unless `parent` is given.
// `parent` must outlive this object.
class MessageBoxMessages : public Messages {
 public:
  explicit MessageBoxMessages(QWidget* parent = nullptr) : parent_(parent) {}
  void Show(const QString& text, Icon icon = Icon::kNone) override;

 private:
  QWidget* parent_;
};

}  // namespace velmora
