// Numbers from text: exactly the whole text, rounding half away from zero.
#include "engine/values/number_text.h"

#include <gtest/gtest.h>

namespace sqlengine::values {
namespace {

TEST(NumberText, WholeNumbersAreTheWholeText) {
  EXPECT_EQ(WholeNumberFromText(" +42 "), 42);
  EXPECT_EQ(WholeNumberFromText("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(WholeNumberFromText("9223372036854775808"), std::nullopt);
  EXPECT_EQ(WholeNumberFromText("4 2"), std::nullopt);
  EXPECT_EQ(WholeNumberFromText("1.0"), std::nullopt);
  EXPECT_EQ(WholeNumberFromText(""), std::nullopt);
}

TEST(NumberText, DecimalsRoundHalfAwayFromZeroAtTheScale) {
  EXPECT_EQ(DecimalText(*DecimalFromText("2.345", 2)), "2.35");
  EXPECT_EQ(DecimalText(*DecimalFromText("-2.345", 2)), "-2.35");
  EXPECT_EQ(DecimalText(*DecimalFromText("2.3449", 2)), "2.34");
  EXPECT_EQ(DecimalText(*DecimalFromText(".5", 0)), "1");
  EXPECT_EQ(DecimalText(*DecimalFromText("7", 4)), "7.0000");
  EXPECT_EQ(DecimalText(*DecimalFromText("-0.001", 3)), "-0.001");
  EXPECT_EQ(DecimalFromText("1e5", 0), std::nullopt);
  EXPECT_EQ(DecimalFromText("1.2.3", 2), std::nullopt);
  EXPECT_EQ(DecimalFromText("-", 2), std::nullopt);
  EXPECT_EQ(DecimalFromText(std::string(39, '9'), 0), std::nullopt);
  EXPECT_TRUE(DecimalFromText(std::string(38, '9'), 0).has_value());
}

TEST(NumberText, RescalingRoundsBothWays) {
  EXPECT_EQ(DecimalText(Rescaled(Decimal{12345, 4}, 2)), "1.23");
  EXPECT_EQ(DecimalText(Rescaled(Decimal{-12355, 4}, 2)), "-1.24");
  EXPECT_EQ(DecimalText(Rescaled(Decimal{5, 0}, 3)), "5.000");
}

TEST(NumberText, FloatsAreTheWholeText) {
  EXPECT_EQ(FloatFromText(" 1.5e3 "), 1500.0);
  EXPECT_EQ(FloatFromText("1.5x"), std::nullopt);
  EXPECT_EQ(FloatFromText("  "), std::nullopt);
}

}  // namespace
}  // namespace sqlengine::values
