// Exact decimal arithmetic: results at the scale the type rules give, digits
// never lost before the final rounding, faults where SQL Server has them.
#include "engine/values/exact_arithmetic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/values/number_text.h"

namespace sqlengine::values {
namespace {

Decimal D(std::string_view text) {
  size_t point = text.find('.');
  int scale = point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
  std::optional<Decimal> value = DecimalFromText(text, scale);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(Decimal{});
}

std::string Text(const ExactResult& result) {
  if (result.fault == ArithmeticFault::kOverflow) return "overflow";
  if (result.fault == ArithmeticFault::kDivideByZero) return "divide by zero";
  return DecimalText(result.value);
}

const std::string kNines38(38, '9');

TEST(ExactArithmetic, SumsAndDifferencesAreExactAtEveryWidth) {
  EXPECT_EQ(Text(Add(D("0.1"), D("0.2"), 10, 1)), "0.3");
  EXPECT_EQ(Text(Subtract(D("1.5"), D("2.25"), 4, 2)), "-0.75");
  EXPECT_EQ(Text(Add(D("-1.5"), D("1.5"), 3, 1)), "0.0");
  EXPECT_EQ(Text(Add(D("1234567890123456789012345678.0123456789"),
                     D("1234567890123456789012345678.0123456789"), 38, 10)),
            "2469135780246913578024691356.0246913578");
  // decimal(38,0) at its edges: the largest value and one past it.
  EXPECT_EQ(Text(Subtract(D(kNines38), D("1"), 38, 0)), std::string(37, '9') + "8");
  EXPECT_EQ(Text(Add(D(kNines38), D("1"), 38, 0)), "overflow");
  EXPECT_EQ(Text(Subtract(D("-" + kNines38), D("1"), 38, 0)), "overflow");
  // money at its edges, as decimal(19,4) values checked against its range.
  ExactResult largest = Add(D("922337203685477.5806"), D("0.0001"), 19, 4);
  EXPECT_EQ(Text(largest), "922337203685477.5807");
  EXPECT_TRUE(FitsMoney(largest.value));
  EXPECT_FALSE(FitsMoney(Add(largest.value, D("0.0001"), 19, 4).value));
  EXPECT_TRUE(FitsSmallMoney(D("-214748.3648")));
  EXPECT_FALSE(FitsSmallMoney(D("214748.3648")));
}

TEST(ExactArithmetic, ProductsKeepEveryDigitUntilRoundedToTheResultScale) {
  // decimal(38,10) * decimal(38,10) is decimal(38,6): the product's 20
  // digits of scale round, half away from zero, to 6.
  EXPECT_EQ(Text(Multiply(D("1234567890.0123456789"), D("2.0000000000"), 38, 6)),
            "2469135780.024691");
  EXPECT_EQ(Text(Multiply(D("0.0000005"), D("1"), 38, 6)), "0.000001");
  EXPECT_EQ(Text(Multiply(D("-0.0000005"), D("1"), 38, 6)), "-0.000001");
  EXPECT_EQ(Text(Multiply(D("0.0000004"), D("-1"), 38, 6)), "0.000000");
  // Two 38-digit operands: the 76-digit product exists before rounding.
  EXPECT_EQ(Text(Multiply(D("0." + kNines38), D("0." + kNines38), 38, 38)),
            "0." + std::string(37, '9') + "8");
  EXPECT_EQ(Text(Multiply(D("10000000000000000000"), D("10000000000000000000"), 38, 0)),
            "overflow");
  EXPECT_EQ(Text(Multiply(D("9999999999999999999"), D("10000000000000000000"), 38, 0)),
            "9999999999999999999" + std::string(19, '0'));
}

TEST(ExactArithmetic, QuotientsAreTruncatedAtTheResultScale) {
  // decimal(38,10) / decimal(38,10) is decimal(38,6), and SQL Server gives
  // 0.000167 for 1.67574 / 10000 there (not 0.000168).
  EXPECT_EQ(Text(Divide(D("1.6757400000"), D("10000.0000000000"), 38, 6)), "0.000167");
  EXPECT_EQ(Text(Divide(D("2.0"), D("3"), 8, 6)), "0.666666");
  EXPECT_EQ(Text(Divide(D("-2.0"), D("3"), 8, 6)), "-0.666666");
  EXPECT_EQ(Text(Divide(D("1"), D("0.1"), 38, 6)), "10.000000");
  EXPECT_EQ(Text(Divide(D("1"), D("0.00"), 38, 6)), "divide by zero");
  // The scaled numerator (10^76 here) is never formed; the quotient is
  // checked as its digits appear.
  EXPECT_EQ(Text(Divide(D("1"), D("0." + std::string(37, '0') + "1"), 38, 0)), "overflow");
  EXPECT_EQ(Text(Divide(D(kNines38), D(kNines38), 38, 37)), "1." + std::string(37, '0'));
  EXPECT_EQ(Text(Divide(D("10000000000000000000000000000000000000"), D("0.001"), 38, 6)),
            "overflow");
  // A result scale below the operands' drops digits before dividing.
  EXPECT_EQ(Text(Divide(D("7.99"), D("2"), 10, 0)), "3");
}

TEST(ExactArithmetic, RemaindersTakeTheDividendsSign) {
  EXPECT_EQ(Text(Remainder(D("7.5"), D("2"), 3, 1)), "1.5");
  EXPECT_EQ(Text(Remainder(D("-7.5"), D("2"), 3, 1)), "-1.5");
  EXPECT_EQ(Text(Remainder(D("6"), D("-2"), 3, 0)), "0");
  EXPECT_EQ(Text(Remainder(D(kNines38), D("7"), 38, 0)), "1");
  // Aligned to scale 38 the dividend is 10^75, past 128 bits.
  EXPECT_EQ(
      Text(Remainder(D("1" + std::string(37, '0')), D("0." + std::string(37, '0') + "3"), 38, 38)),
      "0." + std::string(37, '0') + "1");
  EXPECT_EQ(Text(Remainder(D("1"), D("0"), 1, 0)), "divide by zero");
}

TEST(ExactArithmetic, ComparisonIsByValueWhateverTheScales) {
  EXPECT_EQ(Compare(D("1.50"), D("1.5")), 0);
  EXPECT_EQ(Compare(D("-2"), D("1.999")), -1);
  EXPECT_EQ(Compare(D("-2.01"), D("-2.001")), -1);
  EXPECT_EQ(Compare(D("0." + kNines38), D("1")), -1);
  EXPECT_EQ(Compare(D(kNines38), D("0." + kNines38)), 1);
  EXPECT_TRUE(FitsPrecision(D("99.99"), 4));
  EXPECT_FALSE(FitsPrecision(D("100.00"), 4));
}

TEST(ExactArithmetic, OrderedKeysSortAsTheirValues) {
  std::vector<Decimal> values = {
      D("-" + kNines38),         D("-1"),    D("-0.5"), D("0"), D("0.5"), D("1"),
      D("12345678901234567890"), D(kNines38)};
  for (Decimal& value : values) value = Rescaled(value, 0);
  std::vector<std::array<std::uint8_t, 16>> keys;
  for (const Decimal& value : values) keys.push_back(OrderedKey(value));
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  for (const Decimal& value : values) EXPECT_EQ(FromOrderedKey(OrderedKey(value), 0), value);
}

TEST(ExactArithmetic, SumsAndAveragesOverManyRows) {
  DecimalSum tenths;
  const Decimal tenth = D("0.1");
  for (int i = 0; i < 1000000; ++i) ASSERT_TRUE(tenths.Add(tenth));
  EXPECT_EQ(DecimalText(*tenths.Total()), "100000.0");
  EXPECT_EQ(DecimalText(*tenths.Average(6)), "0.100000");

  DecimalSum thirds;
  for (const char* value : {"1", "1", "2"}) thirds.Add(D(value));
  EXPECT_EQ(DecimalText(*thirds.Average(6)), "1.333333");

  DecimalSum mixed;  // a wider scale later takes the total with it
  mixed.Add(D("1.5"));
  mixed.Add(D("0.25"));
  EXPECT_EQ(DecimalText(*mixed.Total()), "1.75");

  DecimalSum edge;
  EXPECT_EQ(edge.Total(), std::nullopt);
  EXPECT_TRUE(edge.Add(D(std::string(37, '9') + "8")));
  EXPECT_TRUE(edge.Add(D("1")));
  EXPECT_FALSE(edge.Add(D("1")));
  EXPECT_EQ(edge.Total(), std::nullopt);
  EXPECT_FALSE(edge.Add(D("-5")));  // a lost total stays lost
}

}  // namespace
}  // namespace sqlengine::values
