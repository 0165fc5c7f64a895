#pragma once
// Option buttons and check boxes whose caption breaks onto further lines
// when it is wider than the control (see caption_lines.h), drawn beside the
// style's indicator. A click anywhere on the control toggles it, as on the
// classic toolkit. Behaviour otherwise that of QRadioButton and QCheckBox.

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>

namespace classic_ui {

// The style elements that differ between an option button and a check box.
struct IndicatorKind {
  QStyle::PrimitiveElement indicator;
  QStyle::SubElement indicator_area;
  QStyle::SubElement caption_area;
};

inline constexpr IndicatorKind kOptionButtonKind{QStyle::PE_IndicatorRadioButton,
                                                 QStyle::SE_RadioButtonIndicator,
                                                 QStyle::SE_RadioButtonContents};
inline constexpr IndicatorKind kCheckBoxKind{
    QStyle::PE_IndicatorCheckBox, QStyle::SE_CheckBoxIndicator, QStyle::SE_CheckBoxContents};

// The area beside the indicator that the caption may use.
QRect CaptionAreaOf(const QAbstractButton& button, const QStyleOptionButton& option,
                    const IndicatorKind& kind);
// Paints the indicator and the caption's lines; `option` as the button's
// own initStyleOption fills it.
void PaintWithWrappedCaption(QAbstractButton& button, QStyleOptionButton option,
                             const IndicatorKind& kind);

template <class Button, const IndicatorKind& kKind>
class WrappingCaptionButton : public Button {
 public:
  explicit WrappingCaptionButton(const QString& caption, QWidget* parent = nullptr)
      : Button(caption, parent) {}

  QRect CaptionArea() const {
    QStyleOptionButton option;
    this->initStyleOption(&option);
    return CaptionAreaOf(*this, option, kKind);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStyleOptionButton option;
    this->initStyleOption(&option);
    PaintWithWrappedCaption(*this, option, kKind);
  }
  bool hitButton(const QPoint& position) const override { return this->rect().contains(position); }
};

using WrappingOptionButton = WrappingCaptionButton<QRadioButton, kOptionButtonKind>;
using WrappingCheckBox = WrappingCaptionButton<QCheckBox, kCheckBoxKind>;

}  // namespace classic_ui
