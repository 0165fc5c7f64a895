#pragma once
// How a caption sits in a fixed-size control, as the classic toolkit draws an
// option button's, check box's or label's caption: one line while it is no
// wider than the control; otherwise broken at blanks onto further lines. The
// block of lines is centred vertically; when it is taller than the control it
// keeps its last line whole and gives up the blank leading above the first.

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QStringList>

namespace classic_ui {

// `caption` broken into lines no wider than `width` where blanks allow; a
// word wider than `width` stays whole on a line of its own.
QStringList CaptionLines(const QFont& font, const QString& caption, int width);

// Distance from one line's top to the next line's top.
int LineStep(const QFontMetrics& metrics);

// Height of the line boxes of `line_count` lines.
int BlockHeight(const QFontMetrics& metrics, int line_count);

// Top of the first line box when `line_count` lines are placed in `area`.
int BlockTop(const QFontMetrics& metrics, int line_count, const QRect& area);

}  // namespace classic_ui
