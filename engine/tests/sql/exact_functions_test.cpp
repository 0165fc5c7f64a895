// The engine's SQLite functions over exact numbers in their stored form, run
// on a bare SQLite connection, as generated SQL calls them.
#include "engine/exec/exact_functions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/exact_aggregates.h"

namespace sqlengine::exec {
namespace {

class ExactFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    RegisterExactFunctions(db_);
    RegisterExactAggregates(db_);
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
  }

  // The first column of the first row as text ("NULL" for none), or
  // "error <number>" when the statement fails with an engine error.
  std::string One(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(statement, sqlite3_finalize);
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      if (sqlite3_column_type(statement, 0) == SQLITE_NULL) return "NULL";
      if (sqlite3_column_type(statement, 0) == SQLITE_BLOB)
        return "blob " + std::to_string(sqlite3_column_bytes(statement, 0));
      return reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    std::string message = sqlite3_errmsg(db_);
    if (message.rfind("sqlengine:", 0) == 0)
      return "error " + message.substr(10, message.find(':', 10) - 10);
    return "sqlite: " + message;
  }

  // An exact expression's value as text, through sqlengine_exact_to_text.
  std::string Text(const std::string& raw_sql, const std::string& type) {
    return One("SELECT sqlengine_exact_to_text(" + raw_sql + ", '" + type + "')");
  }

  sqlite3* db_ = nullptr;
};

TEST_F(ExactFunctionsTest, ValuesEnterTheStoredFormExactlyOrNotAtAll) {
  EXPECT_EQ(One("SELECT sqlengine_exact_from(12, 'decimal(10,2)')"), "1200");
  EXPECT_EQ(One("SELECT sqlengine_exact_from(0.125, 'decimal(10,2)')"), "13");
  EXPECT_EQ(One("SELECT sqlengine_exact_from('-922337203685477.5808', 'money')"),
            "-9223372036854775808");
  EXPECT_EQ(One("SELECT sqlengine_exact_from('922337203685477.5808', 'money')"), "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_from('214748.3648', 'smallmoney')"), "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_from('abc', 'decimal(10,2)')"), "error 8114");
  EXPECT_EQ(One("SELECT sqlengine_exact_from(NULL, 'money')"), "NULL");
  EXPECT_EQ(One("SELECT sqlengine_exact_from('1.5', 'decimal(38,10)')"), "blob 16");
  const std::string nines(38, '9');
  EXPECT_EQ(Text("sqlengine_exact_from('-" + nines + "', 'decimal(38,0)')", "decimal(38,0)"),
            "-" + nines);
  EXPECT_EQ(One("SELECT sqlengine_exact_to_float(15, 'decimal(5,1)')"), "1.5");
  EXPECT_EQ(One("SELECT sqlengine_exact_to_integer(-19, 'decimal(5,1)', 'int')"), "-1");
  EXPECT_EQ(One("SELECT sqlengine_exact_to_integer(3000000000, 'decimal(12,0)', 'int')"),
            "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_rescale(12345, 'decimal(10,4)', 'decimal(10,2)')"), "123");
  EXPECT_EQ(One("SELECT sqlengine_exact_rescale(99999, 'decimal(5,0)', 'decimal(5,1)')"),
            "error 8115");
}

TEST_F(ExactFunctionsTest, ArithmeticIsExactAtTheResultType) {
  // 0.1 + 0.2 in decimal(10,1) is 0.3, not 0.30000000000000004.
  EXPECT_EQ(One("SELECT sqlengine_exact_add(1, 'decimal(10,1)', 2, 'decimal(10,1)', "
                "'decimal(11,1)')"),
            "3");
  // decimal(10,2) * decimal(10,2) is decimal(21,4): past 18 digits, a key.
  EXPECT_EQ(Text("sqlengine_exact_multiply(9999999999, 'decimal(10,2)', 9999999999, "
                 "'decimal(10,2)', 'decimal(21,4)')",
                 "decimal(21,4)"),
            "9999999998000000.0001");
  EXPECT_EQ(One("SELECT sqlengine_exact_divide(20, 'decimal(2,1)', 3, 'decimal(1,0)', "
                "'decimal(8,6)')"),
            "666666");
  EXPECT_EQ(One("SELECT sqlengine_exact_divide(1, 'decimal(1,0)', 0, 'decimal(1,0)', "
                "'decimal(8,6)')"),
            "error 8134");
  EXPECT_EQ(One("SELECT sqlengine_exact_modulo(-75, 'decimal(3,1)', 20, 'decimal(3,1)', "
                "'decimal(3,1)')"),
            "-15");
  // money's largest value plus its smallest unit leaves money's range.
  EXPECT_EQ(One("SELECT sqlengine_exact_add(9223372036854775807, 'money', 1, 'money', 'money')"),
            "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_subtract(-9223372036854775807, 'money', 1, 'money', "
                "'money')"),
            "-9223372036854775808");
  EXPECT_EQ(One("SELECT sqlengine_exact_compare(150, 'decimal(5,2)', 15, 'decimal(5,1)')"), "0");
  EXPECT_EQ(One("SELECT sqlengine_exact_compare(-1, 'decimal(5,2)', 0, 'money')"), "-1");
}

TEST_F(ExactFunctionsTest, RoundingFunctionsWorkOnTheDigits) {
  EXPECT_EQ(One("SELECT sqlengine_exact_round(12345, 'decimal(10,3)', 1, 0, 'decimal(10,3)')"),
            "12300");
  EXPECT_EQ(One("SELECT sqlengine_exact_round(-12350, 'decimal(10,3)', 1, 0, 'decimal(10,3)')"),
            "-12400");
  EXPECT_EQ(One("SELECT sqlengine_exact_round(12390, 'decimal(10,3)', 1, 1, 'decimal(10,3)')"),
            "12300");
  EXPECT_EQ(One("SELECT sqlengine_exact_round(15, 'decimal(3,0)', -1, 0, 'decimal(3,0)')"), "20");
  EXPECT_EQ(One("SELECT sqlengine_exact_round(999, 'decimal(3,1)', 0, 0, 'decimal(3,1)')"),
            "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_ceiling(-15, 'decimal(3,1)', 'decimal(3,0)')"), "-1");
  EXPECT_EQ(One("SELECT sqlengine_exact_floor(-15, 'decimal(3,1)', 'decimal(3,0)')"), "-2");
  EXPECT_EQ(One("SELECT sqlengine_exact_floor(15000, 'money', 'money')"), "10000");
  EXPECT_EQ(One("SELECT sqlengine_exact_abs(-15, 'decimal(3,1)', 'decimal(3,1)')"), "15");
  EXPECT_EQ(One("SELECT sqlengine_exact_sign(-15, 'decimal(3,1)', 'decimal(3,0)')"), "-1");
  // 1.5^3 is 3.375: rounded once to 3.4, not step by step (2.3 * 1.5 = 3.5).
  EXPECT_EQ(One("SELECT sqlengine_exact_power(15, 'decimal(3,1)', 3, 'decimal(18,1)')"), "34");
  EXPECT_EQ(One("SELECT sqlengine_exact_power(4, 'decimal(3,0)', 0.5, 'decimal(18,0)')"), "2");
  EXPECT_EQ(One("SELECT sqlengine_exact_power(10, 'decimal(3,0)', 18, 'decimal(18,0)')"),
            "error 8115");
}

TEST_F(ExactFunctionsTest, AggregatesAddEveryRowExactly) {
  Exec("CREATE TABLE t(m money, d \"decimal\"(38,10))");
  Exec("INSERT INTO t VALUES (1000, NULL), (2000, NULL), (NULL, NULL)");
  EXPECT_EQ(One("SELECT sqlengine_exact_sum(m, 'money', 'money') FROM t"), "3000");
  // AVG of money is money, rounded at its four decimals.
  EXPECT_EQ(One("SELECT sqlengine_exact_avg(m, 'money', 'money') FROM t"), "1500");
  EXPECT_EQ(One("SELECT sqlengine_exact_sum(d, 'decimal(38,10)', 'decimal(38,10)') FROM t"),
            "NULL");
  Exec("DELETE FROM t");
  for (int i = 0; i < 2; ++i) {
    Exec(
        "INSERT INTO t VALUES (NULL, sqlengine_exact_from("
        "'1234567890123456789012345678.0123456789', 'decimal(38,10)'))");
  }
  Exec("INSERT INTO t VALUES (NULL, sqlengine_exact_from('-0.0000000001', 'decimal(38,10)'))");
  EXPECT_EQ(Text("(SELECT sqlengine_exact_sum(d, 'decimal(38,10)', 'decimal(38,10)') FROM t)",
                 "decimal(38,10)"),
            "2469135780246913578024691356.0246913577");
  // SQLite sorts the keys as the numbers.
  EXPECT_EQ(Text("(SELECT d FROM t ORDER BY d LIMIT 1)", "decimal(38,10)"), "-0.0000000001");
  EXPECT_EQ(One("SELECT sqlengine_exact_sum(m, 'money', 'money') FROM "
                "(SELECT 9223372036854775807 AS m UNION ALL SELECT 1)"),
            "error 8115");
  // decimal(18,4) adds up past 64 bits into its decimal(38,4) total.
  EXPECT_EQ(Text("(SELECT sqlengine_exact_sum(v, 'decimal(18,4)', 'decimal(38,4)') FROM "
                 "(SELECT 999999999999999999 AS v UNION ALL SELECT 999999999999999999 "
                 "UNION ALL SELECT -1))",
                 "decimal(38,4)"),
            "199999999999999.9997");
  // A total of 39 digits is 8115, even when later rows would bring it back.
  std::string nines = "sqlengine_exact_from('" + std::string(38, '9') + "', 'decimal(38,0)')";
  EXPECT_EQ(One("SELECT sqlengine_exact_sum(v, 'decimal(38,0)', 'decimal(38,0)') FROM (SELECT " +
                nines + " AS v UNION ALL SELECT sqlengine_exact_from('1', 'decimal(38,0)') "
                "UNION ALL SELECT sqlengine_exact_from('-5', 'decimal(38,0)'))"),
            "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_sum(v, 'decimal(38,0)', 'decimal(38,0)') FROM (SELECT "
                "12 AS v)"),
            "sqlite: an exact function's argument is not in the stored form");
}

TEST_F(ExactFunctionsTest, StoredFormCheckRefusesInexactValues) {
  EXPECT_EQ(One("SELECT sqlengine_exact_check(1234, 'decimal(4,2)')"), "1234");
  EXPECT_EQ(One("SELECT sqlengine_exact_check(12345, 'decimal(4,2)')"), "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_check(12.34, 'decimal(4,2)')"), "error 8114");
  EXPECT_EQ(One("SELECT sqlengine_exact_check('12', 'money')"), "error 8114");
  EXPECT_EQ(One("SELECT sqlengine_exact_check(2147483648, 'smallmoney')"), "error 8115");
  EXPECT_EQ(One("SELECT sqlengine_exact_check(12, 'decimal(20,2)')"), "error 8114");
  EXPECT_EQ(One("SELECT sqlengine_exact_check(NULL, 'money')"), "NULL");
}

}  // namespace
}  // namespace sqlengine::exec
