#pragma once
// The controls of a window as accessibility tools see them: walks the
// window's tree of QAccessibleInterface children and reports each control
// that carries an object name, with its accessible name.

#include <QString>
#include <map>

class QWidget;

namespace classic_ui_test {

// Object name -> accessible name (QAccessible::Name), for every named
// control reachable from `window`'s accessible interface. Qt's inner widgets
// (named "qt_...") are left out.
std::map<QString, QString> AccessibleControls(QWidget& window);

}  // namespace classic_ui_test
