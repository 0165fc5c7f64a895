#include "classic_ui/tests/accessible_controls.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QWidget>

namespace classic_ui_test {
namespace {

void Collect(QAccessibleInterface* node, std::map<QString, QString>& controls, int depth) {
  if (node == nullptr || depth > 32) return;
  if (QObject* object = node->object()) {
    const QString name = object->objectName();
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) {
      controls[name] = node->text(QAccessible::Name);
    }
  }
  for (int i = 0; i < node->childCount(); ++i) Collect(node->child(i), controls, depth + 1);
}

}  // namespace

std::map<QString, QString> AccessibleControls(QWidget& window) {
  std::map<QString, QString> controls;
  Collect(QAccessible::queryAccessibleInterface(&window), controls, 0);
  return controls;
}

}  // namespace classic_ui_test
