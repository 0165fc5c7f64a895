// Generated SQL over exact numbers in their stored form, run on SQLite with
// the engine's exact functions: the shortcuts through SQLite's own integer
// operators give what the exact functions give, and the edges of each type
// come out exactly or as SQL Server's error.
#include "engine/tsql/generate/exact_expressions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "engine/exec/exact_aggregates.h"
#include "engine/exec/exact_functions.h"
#include "engine/tests/values/exact_test_types.h"

namespace sqlengine::tsql::generate {
namespace {

using testing::DecimalType;
using testing::kMoney;
using testing::kSmallMoney;
const ColumnType kInt{SqlType::kInt};

class ExactExpressionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    exec::RegisterExactFunctions(db_);
    exec::RegisterExactAggregates(db_);
  }
  void TearDown() override { sqlite3_close(db_); }

  // The value of `sql` (of `type`) as text, or "error <n>" / "sqlite: ...".
  std::string Value(const std::string& sql, const ColumnType& type) {
    return One("SELECT " + ExactToText(sql, type));
  }

  std::string One(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_) + " in " + sql;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(statement, sqlite3_finalize);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      if (sqlite3_column_type(statement, 0) == SQLITE_NULL) return "NULL";
      return reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    std::string message = sqlite3_errmsg(db_);
    if (message.rfind("sqlengine:", 0) == 0)
      return "error " + message.substr(10, message.find(':', 10) - 10);
    return "sqlite: " + message;
  }

  std::string Literal(std::string_view number, const ColumnType& type) {
    std::optional<std::string> literal = ExactLiteral(number, type);
    EXPECT_TRUE(literal.has_value()) << number;
    return literal.value_or("NULL");
  }

  sqlite3* db_ = nullptr;
};

TEST_F(ExactExpressionsTest, LiteralsAreTheStoredFormOfTheirType) {
  EXPECT_EQ(Literal("1.50", DecimalType(3, 2)), "150");
  EXPECT_EQ(Value(Literal("-922337203685477.5808", kMoney), kMoney), "-922337203685477.5808");
  EXPECT_EQ(Value(Literal("1234567890123456789012345678.0123456789", DecimalType(38, 10)),
                  DecimalType(38, 10)),
            "1234567890123456789012345678.0123456789");
  EXPECT_FALSE(ExactLiteral("1000", DecimalType(3, 0)).has_value());
}

TEST_F(ExactExpressionsTest, SumsAndDifferencesCarryTheResultScale) {
  // 0.1 + 0.2 as decimal(10,1) operands: decimal(11,1), 0.3.
  ColumnType tenth = DecimalType(10, 1);
  EXPECT_EQ(Value(ExactArithmetic("+", Literal("0.1", tenth), tenth, Literal("0.2", tenth), tenth,
                                  DecimalType(11, 1)),
                  DecimalType(11, 1)),
            "0.3");
  // decimal(5,2) - decimal(6,4) is decimal(8,4).
  EXPECT_EQ(Value(ExactArithmetic("-", Literal("-1.25", DecimalType(5, 2)), DecimalType(5, 2),
                                  Literal("0.0001", DecimalType(6, 4)), DecimalType(6, 4),
                                  DecimalType(8, 4)),
                  DecimalType(8, 4)),
            "-1.2501");
  // money at its edges goes through the engine's range check.
  EXPECT_EQ(Value(ExactArithmetic("+", Literal("922337203685477.5807", kMoney), kMoney,
                                  Literal("0.0001", kMoney), kMoney, kMoney),
                  kMoney),
            "error 8115");
  EXPECT_EQ(Value(ExactArithmetic("-", Literal("214748.3647", kSmallMoney), kSmallMoney,
                                  Literal("0.0001", kSmallMoney), kSmallMoney, kSmallMoney),
                  kSmallMoney),
            "214748.3646");
  const std::string nines(38, '9');
  EXPECT_EQ(
      Value(ExactArithmetic("+", Literal(nines, DecimalType(38, 0)), DecimalType(38, 0),
                            Literal("1", DecimalType(1, 0)), DecimalType(1, 0), DecimalType(38, 0)),
            DecimalType(38, 0)),
      "error 8115");
}

TEST_F(ExactExpressionsTest, ProductsAndQuotientsNeverPassThroughADouble) {
  // decimal(10,2) * decimal(10,2) is decimal(21,4), past 18 digits.
  ColumnType operand = DecimalType(10, 2);
  EXPECT_EQ(Value(ExactArithmetic("*", Literal("99999999.99", operand), operand,
                                  Literal("99999999.99", operand), operand, DecimalType(21, 4)),
                  DecimalType(21, 4)),
            "9999999998000000.0001");
  EXPECT_EQ(
      Value(ExactArithmetic("/", Literal("1", DecimalType(1, 0)), DecimalType(1, 0),
                            Literal("3", DecimalType(1, 0)), DecimalType(1, 0), DecimalType(8, 6)),
            DecimalType(8, 6)),
      "0.333333");
  EXPECT_EQ(
      Value(ExactArithmetic("%", Literal("7.5", DecimalType(2, 1)), DecimalType(2, 1),
                            Literal("0", DecimalType(1, 0)), DecimalType(1, 0), DecimalType(2, 1)),
            DecimalType(2, 1)),
      "error 8134");
}

TEST_F(ExactExpressionsTest, ComparisonsAcrossScalesAndForms) {
  auto compare = [&](std::string_view op, std::string_view a, const ColumnType& a_type,
                     std::string_view b, const ColumnType& b_type) {
    return One("SELECT " +
               ExactComparison(op, Literal(a, a_type), a_type, Literal(b, b_type), b_type));
  };
  EXPECT_EQ(compare("=", "1.5", DecimalType(5, 1), "1.50", DecimalType(5, 2)), "1");
  EXPECT_EQ(compare("<", "-1.5", DecimalType(5, 1), "-1.49", DecimalType(5, 2)), "1");
  EXPECT_EQ(compare(">", "0.5", DecimalType(18, 1), "0.4999999999999999", DecimalType(18, 16)),
            "1");
  EXPECT_EQ(compare("=", "2", DecimalType(38, 10), "2.0000", kMoney), "1");
  EXPECT_EQ(compare("<", "-3", DecimalType(38, 0), "2", DecimalType(38, 0)), "1");
}

TEST_F(ExactExpressionsTest, ConversionsInAndOut) {
  EXPECT_EQ(Value(ToExact("42", kInt, DecimalType(12, 2)), DecimalType(12, 2)), "42.00");
  EXPECT_EQ(Value(ToExact("2147483647", kInt, kMoney), kMoney), "2147483647.0000");
  EXPECT_EQ(Value(ToExact("2147483647", kInt, DecimalType(10, 1)), DecimalType(10, 1)),
            "error 8115");
  EXPECT_EQ(Value(ToExact("'12.345'", ColumnType{SqlType::kVarChar}, DecimalType(5, 2)),
                  DecimalType(5, 2)),
            "12.35");
  EXPECT_EQ(
      Value(ToExact("0.1", ColumnType{SqlType::kFloat}, DecimalType(5, 2)), DecimalType(5, 2)),
      "0.10");
  EXPECT_EQ(One("SELECT " + ExactToFloat(Literal("-2.5", DecimalType(2, 1)), DecimalType(2, 1))),
            "-2.5");
  EXPECT_EQ(
      One("SELECT " + ExactToInteger(Literal("-2.5", DecimalType(2, 1)), DecimalType(2, 1), kInt)),
      "-2");
  EXPECT_EQ(
      Value(Rescaled(Literal("1.25", DecimalType(3, 2)), DecimalType(3, 2), DecimalType(3, 1)),
            DecimalType(3, 1)),
      "1.3");
  EXPECT_EQ(
      Value(Rescaled(Literal("1.25", DecimalType(3, 2)), DecimalType(3, 2), DecimalType(20, 4)),
            DecimalType(20, 4)),
      "1.2500");
}

TEST_F(ExactExpressionsTest, AggregatesOverAColumn) {
  ASSERT_EQ(
      sqlite3_exec(db_, "CREATE TABLE t(m money, d \"decimal\"(5,2))", nullptr, nullptr, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db_,
                         "INSERT INTO t VALUES (9223372036854775807, 99999), (0, 99999), "
                         "(NULL, -1)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(One("SELECT " +
                ExactToText(ExactAggregate("sum", "d", DecimalType(5, 2), DecimalType(38, 2)),
                            DecimalType(38, 2)) +
                " FROM t"),
            "1999.97");
  EXPECT_EQ(One("SELECT " +
                ExactToText(ExactAggregate("avg", "d", DecimalType(5, 2), DecimalType(38, 6)),
                            DecimalType(38, 6)) +
                " FROM t"),
            "666.656666");
  EXPECT_EQ(
      One("SELECT " + ExactToText(ExactAggregate("sum", "m", kMoney, kMoney), kMoney) + " FROM t"),
      "922337203685477.5807");
}

}  // namespace
}  // namespace sqlengine::tsql::generate
