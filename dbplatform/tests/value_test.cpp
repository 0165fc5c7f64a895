#include "dbplatform/value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

namespace dbplatform {
namespace {

TEST(ValueText, IntegersBooleansNullAndText) {
  EXPECT_EQ(ToText(Null{}), "");
  EXPECT_EQ(ToText(true), "True");
  EXPECT_EQ(ToText(false), "False");
  EXPECT_EQ(ToText(std::int16_t{-32768}), "-32768");
  EXPECT_EQ(ToText(std::int32_t{2147483647}), "2147483647");
  EXPECT_EQ(ToText(std::int64_t{-9223372036854775807LL - 1}), "-9223372036854775808");
  EXPECT_EQ(ToText(DecimalText{"12.50"}), "12.50");
  EXPECT_EQ(ToText(std::string("h\xC3\xA9llo | x")), "h\xC3\xA9llo | x");
}

TEST(ValueText, FloatingValuesAreShortestAndReadBack) {
  EXPECT_EQ(ToText(0.1), "0.1");
  EXPECT_EQ(ToText(1.5), "1.5");
  EXPECT_EQ(ToText(-2.0), "-2");
  EXPECT_EQ(ToText(0.0), "0");
  EXPECT_EQ(ToText(100000.0), "100000");
  EXPECT_EQ(ToText(123456789012345.0), "123456789012345");
  EXPECT_EQ(ToText(1e20), "1E+20");
  EXPECT_EQ(ToText(-1.25e-7), "-1.25E-07");
  EXPECT_EQ(ToText(0.00012), "0.00012");
  for (double v : {1.0 / 3.0, 2.0 / 3.0, 6.02214076e23, 1e-300, 123.456, 0.30000000000000004,
                   std::numeric_limits<double>::max(), std::numeric_limits<double>::min()}) {
    std::string text = ToText(v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
}

TEST(ValueText, DatesAndBytes) {
  EXPECT_EQ(ToText(DateTime{2024, 2, 29, 7, 5, 3, 0}), "2024-02-29 07:05:03");
  EXPECT_EQ(ToText(DateTime{1753, 1, 1, 23, 59, 59, 997}), "1753-01-01 23:59:59.997");
  EXPECT_EQ(ToText(DateTime{2000, 12, 31, 0, 0, 0, 7}), "2000-12-31 00:00:00.007");
  EXPECT_EQ(ToText(Bytes{}), "0x");
  EXPECT_EQ(ToText(Bytes{0x00, 0xAB, 0x0f, 0xFF}), "0x00AB0FFF");
}

}  // namespace
}  // namespace dbplatform
