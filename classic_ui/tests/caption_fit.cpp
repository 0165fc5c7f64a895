#include "classic_ui/tests/caption_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTextDocument>
#include <algorithm>
#include <optional>

#include "classic_ui/caption_lines.h"
#include "classic_ui/wrapping_buttons.h"

namespace classic_ui_test {
namespace {

// A text in the area it is drawn in; `wraps` when the control breaks it onto
// further lines and the lines may use the area's height.
struct Measured {
  QString text;
  QRect room;
  bool wraps = false;
  bool height_counts = true;
  // A wrapping button keeps its last line whole when the lines are taller
  // than the control, giving up the blank rows above the first line's ink.
  bool keeps_last_line = false;
};

// Pixels from the top of the first line box to the first inked row.
int BlankAboveInk(const QFontMetrics& metrics, const QString& first_line) {
  return std::max(0, metrics.ascent() + metrics.tightBoundingRect(first_line).top());
}

QRect ButtonCaptionRoom(QAbstractButton& button, QStyle::SubElement element) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  return button.style()->subElementRect(element, &option, &button);
}

std::optional<Measured> MeasureOf(QWidget& control) {
  if (auto* label = qobject_cast<QLabel*>(&control)) {
    const int margin = label->margin();
    return Measured{label->text(), label->contentsRect().adjusted(margin, margin, -margin, -margin),
                    label->wordWrap()};
  }
  if (auto* option = qobject_cast<QRadioButton*>(&control)) {
    const bool wraps = dynamic_cast<classic_ui::WrappingOptionButton*>(option) != nullptr;
    return Measured{option->text(), ButtonCaptionRoom(*option, QStyle::SE_RadioButtonContents),
                    wraps, true, wraps};
  }
  if (auto* check = qobject_cast<QCheckBox*>(&control)) {
    const bool wraps = dynamic_cast<classic_ui::WrappingCheckBox*>(check) != nullptr;
    return Measured{check->text(), ButtonCaptionRoom(*check, QStyle::SE_CheckBoxContents), wraps,
                    true, wraps};
  }
  if (auto* button = qobject_cast<QPushButton*>(&control)) {
    return Measured{button->text(), ButtonCaptionRoom(*button, QStyle::SE_PushButtonContents)};
  }
  if (auto* frame = qobject_cast<QGroupBox*>(&control)) {
    if (frame->title().isEmpty()) return std::nullopt;
    // The title may use the frame's width less the style's frame and title
    // margins; the style places the label at the left of that.
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = frame->alignment();
    const QRect label = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, frame);
    QRect room = frame->rect();
    room.setLeft(label.left());
    room.setRight(frame->rect().right() - (label.left() - frame->rect().left()));
    room.setTop(std::max(0, label.top()));
    room.setHeight(label.height());
    return Measured{frame->title(), room};
  }
  if (auto* box = qobject_cast<QLineEdit*>(&control)) {
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth =
        box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box) : 0;
    // QLineEdit keeps 2 pixels beside and 1 above and below its text.
    const QMargins margins = box->textMargins() + QMargins(2, 1, 2, 1);
    const QRect room =
        box->style()->subElementRect(QStyle::SE_LineEditContents, &option, box) - margins;
    return Measured{box->displayText(), room};
  }
  if (auto* box = qobject_cast<QPlainTextEdit*>(&control)) {
    // The box breaks its text at the viewport's width and scrolls down.
    const int margin = static_cast<int>(box->document()->documentMargin());
    const QRect room = box->viewport()->rect().adjusted(margin, margin, -margin, -margin);
    return Measured{box->toPlainText(), room, true, false};
  }
  return std::nullopt;
}

// The texts of `window`'s named controls; Qt's inner widgets (named "qt_...")
// and unnamed helpers are not controls.
std::vector<std::pair<QWidget*, Measured>> MeasuredTexts(QWidget& window) {
  std::vector<std::pair<QWidget*, Measured>> texts;
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (control->window() != &window) continue;
    const QString name = control->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
    std::optional<Measured> measured = MeasureOf(*control);
    if (measured && !measured->text.isEmpty()) texts.emplace_back(control, *measured);
  }
  return texts;
}

std::optional<Misfit> MisfitOf(QWidget& control, const Measured& measured) {
  const QFontMetrics metrics(control.font());
  QStringList lines;
  for (const QString& paragraph : measured.text.split(QLatin1Char('\n'))) {
    lines << (measured.wraps
                  ? classic_ui::CaptionLines(control.font(), paragraph, measured.room.width())
                  : QStringList{paragraph});
  }
  int widest = 0;
  for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
  const int line_count = static_cast<int>(lines.size());
  int needed_height = classic_ui::BlockHeight(metrics, line_count);
  if (measured.keeps_last_line && needed_height > measured.room.height()) {
    needed_height -= BlankAboveInk(metrics, lines.first());
  }
  const bool fits = widest <= measured.room.width() &&
                    (!measured.height_counts || needed_height <= measured.room.height());
  if (fits) return std::nullopt;
  return Misfit{control.objectName(), measured.text, QSize(widest, needed_height),
                measured.room.size()};
}

}  // namespace

std::vector<Misfit> CaptionMisfits(QWidget& window) {
  std::vector<Misfit> misfits;
  for (const auto& [control, measured] : MeasuredTexts(window)) {
    if (std::optional<Misfit> misfit = MisfitOf(*control, measured)) misfits.push_back(*misfit);
  }
  return misfits;
}

int MeasuredTextCount(QWidget& window) { return static_cast<int>(MeasuredTexts(window).size()); }

double RequestedScaleFactor() {
  bool ok = false;
  const double factor = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
  return ok ? factor : 1.0;
}

}  // namespace classic_ui_test
