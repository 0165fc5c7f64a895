// The stored form of exact numbers: every type's edges survive the round
// trip, raw values order as their numbers do, and what does not fit is
// refused rather than stored inexactly.
#include "engine/values/exact_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/tests/values/exact_test_types.h"

namespace sqlengine::values {
namespace {

using testing::DecimalType;
using testing::kMoney;
using testing::kSmallMoney;

// The text's raw form read back as text, or the fault's name.
std::string RoundTrip(std::string_view text, const ColumnType& type) {
  RawResult result = RawFromText(text, type);
  if (result.fault == ExactFault::kOverflow) return "overflow";
  if (result.fault == ExactFault::kNotANumber) return "not a number";
  return RawText(result.raw, type);
}

TEST(ExactStorage, EachTypeKeepsItsWholeRangeAndRefusesOnePast) {
  EXPECT_EQ(RoundTrip("922337203685477.5807", kMoney), "922337203685477.5807");
  EXPECT_EQ(RoundTrip("-922337203685477.5808", kMoney), "-922337203685477.5808");
  EXPECT_EQ(RoundTrip("922337203685477.5808", kMoney), "overflow");
  EXPECT_EQ(RoundTrip("-922337203685477.5809", kMoney), "overflow");
  EXPECT_EQ(RoundTrip("214748.3647", kSmallMoney), "214748.3647");
  EXPECT_EQ(RoundTrip("-214748.3648", kSmallMoney), "-214748.3648");
  EXPECT_EQ(RoundTrip("214748.3648", kSmallMoney), "overflow");
  EXPECT_EQ(RoundTrip("999999999999999999", DecimalType(18, 0)), "999999999999999999");
  EXPECT_EQ(RoundTrip("1000000000000000000", DecimalType(18, 0)), "overflow");
  const std::string nines(38, '9');
  EXPECT_EQ(RoundTrip(nines, DecimalType(38, 0)), nines);
  EXPECT_EQ(RoundTrip("-" + nines, DecimalType(38, 0)), "-" + nines);
  EXPECT_EQ(RoundTrip("1" + std::string(38, '0'), DecimalType(38, 0)), "overflow");
  EXPECT_EQ(RoundTrip("1234567890123456789012345678.0123456789", DecimalType(38, 10)),
            "1234567890123456789012345678.0123456789");
  // Rounding at the scale can carry a value past the precision.
  EXPECT_EQ(RoundTrip("99.995", DecimalType(4, 2)), "overflow");
  EXPECT_EQ(RoundTrip("99.994", DecimalType(4, 2)), "99.99");
}

TEST(ExactStorage, TextIsRoundedOnceHalfAwayFromZero) {
  EXPECT_EQ(RoundTrip("0.1249", DecimalType(10, 2)), "0.12");
  EXPECT_EQ(RoundTrip("0.125", DecimalType(10, 2)), "0.13");
  EXPECT_EQ(RoundTrip("-0.125", DecimalType(10, 2)), "-0.13");
  EXPECT_EQ(RoundTrip(" +7 ", DecimalType(5, 1)), "7.0");
  EXPECT_EQ(RoundTrip(".5", DecimalType(3, 0)), "1");
  EXPECT_EQ(RoundTrip("1.23456", kMoney), "1.2346");
  for (const char* text : {"", "abc", "1e5", "1.2.3", "-", ".", "1 2"})
    EXPECT_EQ(RoundTrip(text, DecimalType(10, 2)), "not a number") << text;
}

TEST(ExactStorage, NarrowTypesAreIntegersAndWideOnesKeys) {
  EXPECT_TRUE(StoredAsInteger(DecimalType(18, 4)));
  EXPECT_TRUE(StoredAsInteger(kMoney));
  EXPECT_TRUE(StoredAsInteger(kSmallMoney));
  EXPECT_FALSE(StoredAsInteger(DecimalType(19, 4)));
  RawResult money = RawFromText("-1.5", kMoney);
  ASSERT_EQ(money.fault, ExactFault::kNone);
  EXPECT_EQ(std::get<std::int64_t>(money.raw), -15000);
  RawResult wide = RawFromText("-1.5", DecimalType(38, 10));
  ASSERT_EQ(wide.fault, ExactFault::kNone);
  EXPECT_TRUE(std::holds_alternative<ExactKey>(wide.raw));
  EXPECT_EQ(RawText(RawExact{std::int64_t{5}}, DecimalType(10, 3)), "0.005");
  EXPECT_DOUBLE_EQ(RawToDouble(RawExact{std::int64_t{-15}}, DecimalType(10, 1)), -1.5);
}

TEST(ExactStorage, KeysOfOneTypeSortAsTheirNumbers) {
  const ColumnType type = DecimalType(38, 10);
  std::vector<std::string> ascending = {
      "-" + std::string(28, '9') + ".9999999999", "-1", "-0.0000000001", "0", "0.0000000001", "1",
      "1234567890123456789012345678.0123456789"};
  std::vector<ExactKey> keys;
  for (const std::string& text : ascending) {
    RawResult result = RawFromText(text, type);
    ASSERT_EQ(result.fault, ExactFault::kNone) << text;
    keys.push_back(std::get<ExactKey>(result.raw));
  }
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

TEST(ExactStorage, DecodingTakesRawValuesWiderThanTheType) {
  // An integer SUM over a decimal(5,2) column is still at scale 2.
  EXPECT_EQ(RawText(RawExact{std::int64_t{9'000'000'000'000'000'000}}, DecimalType(5, 2)),
            "90000000000000000.00");
  EXPECT_TRUE(InTypeRange(Decimal{999, 2}, DecimalType(3, 2)));
  EXPECT_FALSE(InTypeRange(Decimal{1000, 2}, DecimalType(3, 2)));
  EXPECT_FALSE(InTypeRange(Decimal{2147483648, 4}, kSmallMoney));
}

}  // namespace
}  // namespace sqlengine::values
