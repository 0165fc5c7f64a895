// The stored form of sql_variant values: every base type round-trips with
// its properties, and a blob that is not wholly a stored form is not taken
// for one.
#include "engine/values/variant_value.h"

#include <gtest/gtest.h>

namespace sqlengine::values {
namespace {

TEST(VariantValue, EveryBaseTypeRoundTrips) {
  const std::pair<ColumnType, Value> cases[] = {
      {{SqlType::kTinyInt}, std::int64_t{255}},
      {{SqlType::kBigInt}, std::int64_t{-9223372036854775807LL - 1}},
      {{SqlType::kReal}, 0.5},
      {{SqlType::kDecimal, 0, 38, 10}, Decimal{-(__int128{1} << 100), 10}},
      {{SqlType::kSmallMoney}, Decimal{-2147483648LL, 4}},
      {{SqlType::kDateTime}, DateTime{9999, 12, 31, 23, 59, 59, 997}},
      {{SqlType::kChar, 8000}, std::string("x")},
      {{SqlType::kNVarChar, 3}, std::string("ñü")},
      {{SqlType::kVarBinary, 2}, Bytes{}},
      {{SqlType::kUniqueIdentifier}, std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF")}};
  for (const auto& [base, value] : cases) {
    SCOPED_TRACE(SystemTypeId(base.type));
    std::optional<VariantValue> decoded = DecodeVariant(EncodeVariant(base, value));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->base.type, base.type);
    EXPECT_EQ(decoded->base.length, base.length);
    EXPECT_EQ(decoded->base.precision, base.precision);
    EXPECT_EQ(decoded->base.scale, base.scale);
    EXPECT_EQ(decoded->value, value);
  }
}

TEST(VariantValue, OnlyAWholeStoredFormDecodes) {
  Bytes stored = EncodeVariant({SqlType::kInt}, std::int64_t{5});
  EXPECT_TRUE(DecodeVariant(stored));
  Bytes shorter(stored.begin(), stored.end() - 1);
  EXPECT_FALSE(DecodeVariant(shorter));
  Bytes longer = stored;
  longer.push_back(0);
  EXPECT_FALSE(DecodeVariant(longer));
  Bytes unmarked = stored;
  unmarked[0] = 0;
  EXPECT_FALSE(DecodeVariant(unmarked));
  Bytes text_type = stored;
  text_type[2] = 35;  // text: no base type
  EXPECT_FALSE(DecodeVariant(text_type));
  Bytes bad_decimal = EncodeVariant({SqlType::kDecimal, 0, 5, 2}, Decimal{1, 2});
  bad_decimal[4] = 6;  // scale above precision
  EXPECT_FALSE(DecodeVariant(bad_decimal));
  EXPECT_FALSE(DecodeVariant(Bytes{0xCA, 0xFE}));
  EXPECT_THROW(EncodeVariant({SqlType::kText}, std::string("x")), std::invalid_argument);
  EXPECT_THROW(EncodeVariant({SqlType::kVarChar, kMaxLength}, std::string("x")),
               std::invalid_argument);
}

TEST(VariantValue, PlainValuesTakeTheirNaturalType) {
  EXPECT_EQ(NaturalVariant(std::int64_t{1}).base.type, SqlType::kInt);
  EXPECT_EQ(NaturalVariant(std::int64_t{1} << 40).base.type, SqlType::kBigInt);
  EXPECT_EQ(NaturalVariant(2.5).base.type, SqlType::kFloat);
  VariantValue text = NaturalVariant(std::string("日本語"));
  EXPECT_EQ(text.base.type, SqlType::kNVarChar);
  EXPECT_EQ(text.base.length, 3);
  EXPECT_EQ(NaturalVariant(Decimal{15, 1}).base.scale, 1);
  // A stored form stays as it is; anything else is wrapped.
  Value stored = EncodeVariant({SqlType::kSmallInt}, std::int64_t{3});
  EXPECT_EQ(AsVariant(stored), stored);
  EXPECT_EQ(DecodeVariant(std::get<Bytes>(AsVariant(Bytes{1, 2})))->base.type, SqlType::kVarBinary);
  EXPECT_TRUE(IsNull(AsVariant(Value{})));
  // Family order: uniqueidentifier < binary < character < exact < float < date.
  EXPECT_LT(VariantFamily(SqlType::kUniqueIdentifier), VariantFamily(SqlType::kVarBinary));
  EXPECT_LT(VariantFamily(SqlType::kVarBinary), VariantFamily(SqlType::kNChar));
  EXPECT_LT(VariantFamily(SqlType::kNChar), VariantFamily(SqlType::kMoney));
  EXPECT_EQ(VariantFamily(SqlType::kMoney), VariantFamily(SqlType::kBit));
  EXPECT_LT(VariantFamily(SqlType::kBigInt), VariantFamily(SqlType::kReal));
  EXPECT_LT(VariantFamily(SqlType::kReal), VariantFamily(SqlType::kSmallDateTime));
}

}  // namespace
}  // namespace sqlengine::values
