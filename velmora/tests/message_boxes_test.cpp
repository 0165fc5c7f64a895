// Velmora's real message boxes show their texts exactly as composed: a name
// that looks like markup is shown as typed, never rendered.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "classic_ui/tests/message_box_reader.h"
#include "velmora/messages.h"
#include "velmora/tests/engine_fixture.h"

namespace velmora_test {
namespace {

using MessageBoxTest = EngineTest;

TEST_F(MessageBoxTest, ANameThatLooksLikeMarkupIsShownAsTyped) {
  velmora::MessageBoxMessages boxes;
  velmora::Form1 form(factory_, boxes, end_);
  form.Text1->setText(QString::fromStdString(ServerName()));
  const QString typed = QStringLiteral("<b>x</b> &lt;y&gt;");
  form.Text2->setText(typed);

  const auto shown = classic_ui_test::ReadMessageBoxes([&] { form.Command2->click(); });

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Velmora");
  EXPECT_EQ(shown[0].displayed_text, "The given DB '" + typed + "' does not exist");
}

TEST_F(MessageBoxTest, AnInformationBoxKeepsItsLineBreaksAndMarkupAsText) {
  velmora::MessageBoxMessages boxes;
  const QString text = QStringLiteral("<i>first</i>\r\n\r\na &amp; b");
  const auto shown = classic_ui_test::ReadMessageBoxes(
      [&] { boxes.Show(text, velmora::Messages::Icon::kInformation); });
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].displayed_text, "<i>first</i>\n\na &amp; b");
}

}  // namespace
}  // namespace velmora_test
