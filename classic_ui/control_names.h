#pragma once
// Names by which tests, accessibility tools and screen readers find the
// controls of the fixed-layout windows. A control's object name is its
// designed name ("Text1", "cmdAttchDB"); a member of a control array is
// named with its index in parentheses ("optNT(0)"). Its accessible name is
// its caption, or for a box the caption of the label that names it, without
// the mnemonic marker, a closing colon or closing blanks.

#include <QString>

class QWidget;

namespace classic_ui {

QString ArrayMemberName(const QString& array, int index);

// The caption as a screen reader should say it.
QString SpokenCaption(const QString& caption);

// Sets `control`'s object name and its accessible name from its own caption
// (label, button, check box, option button, frame).
void NameControl(QWidget& control, const QString& name);
// The same with an accessible name of its own (a box named by a label, a
// list, a frame without caption).
void NameControl(QWidget& control, const QString& name, const QString& caption);

}  // namespace classic_ui
