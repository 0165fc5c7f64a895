#include "classic_ui/control_names.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace classic_ui {
namespace {

QString OwnCaption(const QWidget& control) {
  if (const auto* label = qobject_cast<const QLabel*>(&control)) return label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) return button->text();
  if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) return frame->title();
  return {};
}

}  // namespace

QString ArrayMemberName(const QString& array, int index) {
  return array + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

QString SpokenCaption(const QString& caption) {
  QString spoken;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    // "&&" is a literal ampersand; a single "&" marks the mnemonic.
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    spoken += caption[i];
  }
  spoken = spoken.trimmed();
  if (spoken.endsWith(QLatin1Char(':'))) spoken.chop(1);
  return spoken.trimmed();
}

void NameControl(QWidget& control, const QString& name) {
  NameControl(control, name, OwnCaption(control));
}

void NameControl(QWidget& control, const QString& name, const QString& caption) {
  control.setObjectName(name);
  control.setAccessibleName(SpokenCaption(caption));
}

}  // namespace classic_ui
