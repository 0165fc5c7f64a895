// Token and value encoders against the documentation's response examples
// and the byte layouts clients are known to read.
#include <gtest/gtest.h>

#include "engine/tds/byte_reader.h"
#include "engine/tds/packet.h"
#include "engine/tds/tokens.h"
#include "engine/tds/value_codec.h"
#include "engine/tests/tds/hex.h"
#include "engine/values/variant_value.h"

namespace sqlengine::testing {
namespace {

using namespace sqlengine::tds;

std::vector<std::uint8_t> RowBytes(const ColumnType& type, const Value& value,
                                   TdsVersion version = TdsVersion::k74) {
  ByteWriter out;
  WriteValue(DescribeType(type, version), value, ValueContext::kRow, out);
  return out.Bytes();
}

TEST(ResponseEncoding, LoginEnvChangesAndInfoMatchTheExample) {
  ByteWriter out;
  WriteEnvChange(EnvChangeType::kDatabase, "master", "master", out);
  ServerMessage context{5701, 10, 2, "Changed database context to 'master'.", "", 0};
  WriteMessage(context, "", true, out);
  WriteCollationChange(out);
  WriteEnvChange(EnvChangeType::kLanguage, "us_english", "", out);
  WriteEnvChange(EnvChangeType::kPacketSize, "4096", "4096", out);
  auto expected = Hex(
      "E3 1B 00 01 06 6D 00 61 00 73 00 74 00 65 00 72 00 06 6D 00 61 00 73 00 74 00 65 00 72 00 "
      "AB 58 00 45 16 00 00 02 00 25 00 43 00 68 00 61 00 6E 00 67 00 65 00 64 00 20 00 64 00 61 "
      "00 74 00 61 00 62 00 61 00 73 00 65 00 20 00 63 00 6F 00 6E 00 74 00 65 00 78 00 74 00 20 "
      "00 74 00 6F 00 20 00 27 00 6D 00 61 00 73 00 74 00 65 00 72 00 27 00 2E 00 00 00 00 00 00 "
      "00 E3 08 00 07 05 09 04 D0 00 34 00 E3 17 00 02 0A 75 00 73 00 5F 00 65 00 6E 00 67 00 6C "
      "00 69 00 73 00 68 00 00 E3 13 00 04 04 34 00 30 00 39 00 36 00 04 34 00 30 00 39 00 36 00");
  EXPECT_EQ(out.Bytes(), expected);
}

TEST(ResponseEncoding, LoginAckLengthCoversTheNameExactly) {
  ByteWriter out;
  WriteLoginAck(TdsVersion::k71, out);
  auto expected = Hex("AD 32 00 01 71 00 00 01 14");
  ASSERT_GE(out.Size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.Bytes().begin()));
  // FreeTDS takes the name length from (length - 10) / 2.
  EXPECT_EQ(out.Size(), 3u + 0x32);
  EXPECT_EQ((0x32 - 10) / 2, 20);
  EXPECT_EQ(out.Bytes().back(), 0xF7);
}

TEST(ResponseEncoding, SqlBatchResponseExample) {
  ByteWriter out;
  ColumnType varchar3{SqlType::kVarChar, 3};
  varchar3.nullable = false;
  auto types = WriteColMetadata({{"bar", varchar3}}, TdsVersion::k72, out);
  WriteRow(types, {std::string("foo")}, out);
  WriteDone(Token::kDone, kDoneCount, 0xC1, 1, true, out);
  auto expected =
      Hex("81 01 00 00 00 00 00 20 00 A7 03 00 09 04 D0 00 34 03 62 00 61 00 72 00 D1 03 00 66 6F "
          "6F FD "
          "10 00 C1 00 01 00 00 00 00 00 00 00");
  ASSERT_EQ(out.Size(), expected.size());
  // The example marks the column computed (0x20); ours says updatability unknown.
  out.Bytes()[7] = 0x20;
  EXPECT_EQ(out.Bytes(), expected);
}

TEST(ResponseEncoding, RpcResponseExample) {
  ByteWriter out;
  WriteDone(Token::kDoneInProc, kDoneMore | kDoneCount, 0xC1, 1, true, out);
  WriteReturnStatus(0, out);
  WriteDone(Token::kDoneProc, kDoneFinal, 0xE0, 0, true, out);
  EXPECT_EQ(out.Bytes(), Hex("FF 11 00 C1 00 01 00 00 00 00 00 00 00 79 00 00 00 00 FE 00 00 E0 00 "
                             "00 00 00 00 00 00 00 00"));
}

// TABNAME in parts and COLINFO after a cursor result's columns: what ODBC
// drivers read to hide the row status and to leave expressions out of
// changes. A result without a base table still names one (empty) table.
TEST(ResponseEncoding, ColumnOriginsNameTheTableAndHideTheRowStatus) {
  ResultOrigins origins;
  origins.tables = {{"dbo", "t"}};
  origins.columns = {{1, false, false}, {0, true, false}, {0, true, true}};
  ByteWriter out;
  WriteOrigins(origins, out);
  EXPECT_EQ(out.Bytes(), Hex("A4 0D 00 02 03 00 64 00 62 00 6F 00 01 00 74 00 "
                             "A5 09 00 01 01 00 02 00 04 03 00 14"));

  ResultOrigins none;
  none.columns = {{0, false, true}};
  ByteWriter bare;
  WriteOrigins(none, bare);
  EXPECT_EQ(bare.Bytes(), Hex("A4 03 00 01 00 00 A5 03 00 01 00 10"));
}

TEST(ResponseEncoding, MessageAndDoneWidthsFollowTheVersion) {
  ServerMessage error{208, 16, 1, "Invalid object name 'x'.", "", 1};
  ByteWriter narrow, wide;
  WriteMessage(error, "S", false, narrow);
  WriteMessage(error, "S", true, wide);
  EXPECT_EQ(narrow.Bytes()[0], 0xAA);
  EXPECT_EQ(wide.Size(), narrow.Size() + 2);
  EXPECT_EQ(std::vector<std::uint8_t>(narrow.Bytes().end() - 2, narrow.Bytes().end()),
            Hex("01 00"));
  ByteWriter done71, done72;
  WriteDone(Token::kDone, kDoneError, 0, 5, false, done71);
  WriteDone(Token::kDone, kDoneError, 0, 5, true, done72);
  EXPECT_EQ(done71.Bytes(), Hex("FD 02 00 00 00 05 00 00 00"));
  EXPECT_EQ(done72.Bytes(), Hex("FD 02 00 00 00 05 00 00 00 00 00 00 00"));
  ServerMessage huge{50000, 16, 1, std::string(40000, 'x'), "", 1};
  ByteWriter cut;
  WriteMessage(huge, "S", true, cut);
  EXPECT_EQ(cut.Size(), 3u + (cut.Bytes()[1] | (cut.Bytes()[2] << 8)))
      << "the token length still covers a text too long for it";
  ServerMessage print{0, 0, 1, "hello", "", 1};
  ByteWriter info;
  WriteMessage(print, "", true, info);
  EXPECT_EQ(info.Bytes()[0], 0xAB);
}

TEST(ResponseEncoding, TransactionEnvChangesCarryTheDescriptor) {
  ByteWriter begin, commit;
  WriteTransactionChange(EnvChangeType::kBeginTransaction, 0x0807060504030201, begin);
  WriteTransactionChange(EnvChangeType::kCommitTransaction, 0x0807060504030201, commit);
  EXPECT_EQ(begin.Bytes(), Hex("E3 0B 00 08 08 01 02 03 04 05 06 07 08 00"));
  EXPECT_EQ(commit.Bytes(), Hex("E3 0B 00 09 00 08 01 02 03 04 05 06 07 08"));
}

TEST(ResponseEncoding, FixedWidthValues) {
  EXPECT_EQ(RowBytes({SqlType::kInt}, std::int64_t{-2}), Hex("04 FE FF FF FF"));
  EXPECT_EQ(RowBytes({SqlType::kBigInt}, std::int64_t{1} << 40), Hex("08 00 00 00 00 00 01 00 00"));
  EXPECT_EQ(RowBytes({SqlType::kSmallInt}, std::string("300")), Hex("02 2C 01"));
  EXPECT_EQ(RowBytes({SqlType::kTinyInt}, std::int64_t{255}), Hex("01 FF"));
  EXPECT_EQ(RowBytes({SqlType::kBit}, std::int64_t{1}), Hex("01 01"));
  EXPECT_EQ(RowBytes({SqlType::kFloat}, 1.5), Hex("08 00 00 00 00 00 00 F8 3F"));
  EXPECT_EQ(RowBytes({SqlType::kReal}, 1.5), Hex("04 00 00 C0 3F"));
  EXPECT_EQ(RowBytes({SqlType::kInt}, Value{}), Hex("00"));
  EXPECT_THROW(RowBytes({SqlType::kTinyInt}, std::int64_t{256}), ValueConversionError);
  EXPECT_THROW(RowBytes({SqlType::kInt}, std::string("abc")), ValueConversionError);
}

TEST(ResponseEncoding, DecimalMoneyAndDates) {
  ColumnType decimal{SqlType::kDecimal, 0, 10, 2};
  EXPECT_EQ(DescribeType(decimal, TdsVersion::k74).max_length, 9u);
  EXPECT_EQ(RowBytes(decimal, Decimal{-12345, 3}), Hex("09 00 D3 04 00 00 00 00 00 00"))
      << "-12.345 rounds half away from zero to -12.35 (1235)";
  EXPECT_EQ(RowBytes(decimal, std::string("7")), Hex("09 01 BC 02 00 00 00 00 00 00"));
  EXPECT_THROW(RowBytes({SqlType::kDecimal, 0, 3, 0}, std::int64_t{1000}), ValueConversionError);
  EXPECT_EQ(RowBytes({SqlType::kMoney}, Decimal{123456, 4}), Hex("08 00 00 00 00 40 E2 01 00"));
  EXPECT_EQ(RowBytes({SqlType::kSmallMoney}, std::int64_t{-1}), Hex("04 F0 D8 FF FF"));
  // 2008-12-31 12:00:00.003: 39811 days, 12 h = 12960000 ticks + 1.
  EXPECT_EQ(RowBytes({SqlType::kDateTime}, DateTime{2008, 12, 31, 12, 0, 0, 3}),
            Hex("08 83 9B 00 00 01 C1 C5 00"));
  EXPECT_EQ(RowBytes({SqlType::kDateTime}, std::string("1899-12-31 00:00:00")),
            Hex("08 FF FF FF FF 00 00 00 00"));
  EXPECT_EQ(RowBytes({SqlType::kSmallDateTime}, DateTime{1900, 1, 2, 0, 1, 29, 0}),
            Hex("04 01 00 01 00"));
}

TEST(ResponseEncoding, CharacterAndBinaryValues) {
  EXPECT_EQ(RowBytes({SqlType::kNVarChar, 10}, std::string("h\xC3\xA9")), Hex("04 00 68 00 E9 00"));
  EXPECT_EQ(RowBytes({SqlType::kVarChar, 10}, std::string("h\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD")),
            Hex("04 00 68 E9 80 3F"))
      << "Windows-1252; characters outside it become '?'";
  EXPECT_EQ(RowBytes({SqlType::kChar, 3}, std::string("a")), Hex("03 00 61 20 20"));
  EXPECT_EQ(RowBytes({SqlType::kVarBinary, 4}, Bytes{1, 2}), Hex("02 00 01 02"));
  EXPECT_EQ(RowBytes({SqlType::kNVarChar, 10}, Value{}), Hex("FF FF"));
  EXPECT_EQ(RowBytes({SqlType::kNVarChar, 2}, std::string("abc")), Hex("04 00 61 00 62 00"))
      << "a value longer than its column is cut to keep the stream valid";
  EXPECT_EQ(RowBytes({SqlType::kNVarChar, kMaxLength}, std::string("ab")),
            Hex("04 00 00 00 00 00 00 00 04 00 00 00 61 00 62 00 00 00 00 00"));
  EXPECT_EQ(RowBytes({SqlType::kNVarChar, kMaxLength}, Value{}), Hex("FF FF FF FF FF FF FF FF"));
  auto ntext = RowBytes({SqlType::kNVarChar, kMaxLength}, std::string("ab"), TdsVersion::k71);
  ASSERT_EQ(ntext.size(), 1u + 16 + 8 + 4 + 4);
  EXPECT_EQ(ntext[0], 16);
  EXPECT_EQ(std::vector<std::uint8_t>(ntext.end() - 8, ntext.end()),
            Hex("04 00 00 00 61 00 62 00"));
  EXPECT_EQ(RowBytes({SqlType::kText}, Value{}), Hex("00"));
}

TEST(ResponseEncoding, GuidsTravelWithTheFirstGroupsLittleEndian) {
  std::string text = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
  auto wire = RowBytes({SqlType::kUniqueIdentifier}, text);
  EXPECT_EQ(wire, Hex("10 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF"));
  EXPECT_EQ(GuidToText(std::span(wire).subspan(1)), text);
  EXPECT_THROW(GuidFromText("not a guid"), ValueConversionError);
}

TEST(ResponseEncoding, ColumnMetadataFollowsTheVersion) {
  std::vector<Column> columns = {{"n", {SqlType::kNVarChar, kMaxLength}}};
  ByteWriter v74, v71;
  WriteColMetadata(columns, TdsVersion::k74, v74);
  WriteColMetadata(columns, TdsVersion::k71, v71);
  // 7.4: u32 user type, flags, E7 FF FF + collation.
  EXPECT_EQ(v74.Bytes(), Hex("81 01 00 00 00 00 00 09 00 E7 FF FF 09 04 D0 00 34 01 6E 00"));
  // 7.1: u16 user type, NTEXT with its i32 size, collation and an empty table name.
  EXPECT_EQ(v71.Bytes(), Hex("81 01 00 00 00 09 00 63 FE FF FF 7F 09 04 D0 00 34 00 00 01 6E 00"));
}

// sql_variant: SSVARIANTTYPE 8016 in COLMETADATA; each value a 4-byte
// length, the base type's fixed-length code, its property bytes and data.
TEST(ResponseEncoding, VariantValuesCarryTheirBaseType) {
  std::vector<Column> columns = {{"v", {SqlType::kSqlVariant}}};
  ByteWriter meta;
  WriteColMetadata(columns, TdsVersion::k71, meta);
  EXPECT_EQ(meta.Bytes(), Hex("81 01 00 00 00 09 00 62 50 1F 00 00 01 76 00"));

  auto variant = [](ColumnType base, Value value) {
    return RowBytes({SqlType::kSqlVariant}, values::EncodeVariant(base, value));
  };
  EXPECT_EQ(variant({SqlType::kInt}, std::int64_t{-2}), Hex("06 00 00 00 38 00 FE FF FF FF"));
  EXPECT_EQ(variant({SqlType::kBigInt}, std::int64_t{1}),
            Hex("0A 00 00 00 7F 00 01 00 00 00 00 00 00 00"));
  EXPECT_EQ(variant({SqlType::kBit}, std::int64_t{1}), Hex("03 00 00 00 32 00 01"));
  EXPECT_EQ(variant({SqlType::kFloat}, 1.5), Hex("0A 00 00 00 3E 00 00 00 00 00 00 00 F8 3F"));
  EXPECT_EQ(variant({SqlType::kMoney}, Decimal{123456, 4}),
            Hex("0A 00 00 00 3C 00 00 00 00 00 40 E2 01 00"));
  EXPECT_EQ(variant({SqlType::kDateTime}, DateTime{1900, 1, 2, 0, 0, 1, 0}),
            Hex("0A 00 00 00 3D 00 01 00 00 00 2C 01 00 00"));
  // decimal(8,2): precision and scale, then sign and a 4-byte magnitude.
  EXPECT_EQ(variant({SqlType::kDecimal, 0, 8, 2}, Decimal{-12345, 2}),
            Hex("09 00 00 00 6A 02 08 02 00 39 30 00 00"));
  // varchar(10): collation and max length, then the Windows-1252 bytes.
  EXPECT_EQ(variant({SqlType::kVarChar, 10}, std::string("ab")),
            Hex("0B 00 00 00 A7 07 09 04 D0 00 34 0A 00 61 62"));
  // nchar(2): max length in bytes, the value padded to it in UCS-2.
  EXPECT_EQ(variant({SqlType::kNChar, 2}, std::string("x")),
            Hex("0D 00 00 00 EF 07 09 04 D0 00 34 04 00 78 00 20 00"));
  EXPECT_EQ(variant({SqlType::kVarBinary, 8}, Bytes{0xCA, 0xFE}),
            Hex("06 00 00 00 A5 02 08 00 CA FE"));
  EXPECT_EQ(variant({SqlType::kUniqueIdentifier}, std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF")),
            Hex("12 00 00 00 24 00 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF"));
  EXPECT_EQ(RowBytes({SqlType::kSqlVariant}, Value{}), Hex("00 00 00 00"));
  // A plain value is sent as its natural type.
  EXPECT_EQ(RowBytes({SqlType::kSqlVariant}, std::int64_t{7}), Hex("06 00 00 00 38 00 07 00 00 00"));
}

// What a client sends as a sql_variant reads back as the stored form.
TEST(ResponseEncoding, VariantValuesReadBackAsSent) {
  const std::pair<ColumnType, Value> cases[] = {
      {{SqlType::kSmallInt}, std::int64_t{-300}},
      {{SqlType::kDecimal, 0, 20, 4}, Decimal{-123456789012345, 4}},
      {{SqlType::kNVarChar, 20}, std::string("日本")},
      {{SqlType::kSmallDateTime}, DateTime{2020, 5, 6, 7, 8, 0, 0}},
      {{SqlType::kBinary, 3}, Bytes{1, 2, 3}}};
  for (const auto& [base, value] : cases) {
    Bytes stored = values::EncodeVariant(base, value);
    ByteWriter wire;
    WriteValue(DescribeType({SqlType::kSqlVariant}, TdsVersion::k74), stored, ValueContext::kRow,
               wire);
    ByteReader in(wire.Bytes());
    Value read = ReadValue(DescribeType({SqlType::kSqlVariant}, TdsVersion::k74), in);
    EXPECT_TRUE(in.AtEnd());
    std::optional<values::VariantValue> decoded = values::DecodeVariant(std::get<Bytes>(read));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->base.type, base.type);
    EXPECT_EQ(decoded->value, value);
  }
}

TEST(ResponseEncoding, ResponseIsSplitIntoPackets) {
  std::vector<std::uint8_t> body(1000, 0xAB);
  std::vector<std::uint8_t> out;
  std::uint8_t id = 1;
  AppendPackets(body, 512, 0x0033, true, &id, out);
  ASSERT_EQ(out.size(), 1000u + 2 * kHeaderSize);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 8),
            Hex("04 00 02 00 00 33 01 00"));
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 512, out.begin() + 520),
            Hex("04 01 01 F8 00 33 02 00"));
}

}  // namespace
}  // namespace sqlengine::testing
