// The data-file step that moves decimal, numeric, money and smallmoney
// columns from SQLite numbers to their stored form: every value converted
// (money's legacy edges clamped), NULLs kept, and the columns' triggers
// turned from rounding written values into refusing what is not stored form.
#include "engine/exec/exact_column_upgrade.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "engine/common/error.h"
#include "engine/exec/exact_aggregates.h"
#include "engine/exec/exact_functions.h"
#include "engine/exec/normalised_columns.h"

namespace sqlengine::exec {
namespace {

class ExactColumnUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    RegisterDecimalFunction(db_);
    RegisterExactFunctions(db_);
    RegisterExactAggregates(db_);
    // A table as a file of an older format holds it: numbers, rounding triggers.
    Exec("PRAGMA user_version = 1");
    Exec(
        "CREATE TABLE amounts (id int, price money, small smallmoney, d decimal(5,2), "
        "wide decimal(38,10), note varchar(10))");
    // Money's edges as the first format stored them: the nearest doubles,
    // just past the range, which its triggers would now refuse.
    Exec(
        "INSERT INTO amounts VALUES "
        "(1, 922337203685478.0, 214748.3647, 1.5, 1234567890.0123456789, 'a'), "
        "(2, -922337203685478.0, -214748.3648, -999.99, -0.5, 'b'), "
        "(3, 0.1, 0.0001, 0, 0, 'c'), "
        "(4, 19.99, NULL, NULL, NULL, NULL)");
    NormaliseColumns(db_, "main", "amounts");
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << " in " << sql;
  }

  // The first column of the first row as text, or the statement's error.
  std::string One(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_);
    std::string text;
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      const unsigned char* value = sqlite3_column_text(statement, 0);
      text = value ? reinterpret_cast<const char*>(value) : "NULL";
    } else if (rc != SQLITE_DONE) {
      text = std::string("error: ") + sqlite3_errmsg(db_);
    }
    sqlite3_finalize(statement);
    return text;
  }

  // Every value of `column`, "type:value", by id.
  std::string Stored(const std::string& column) {
    return One("SELECT group_concat(typeof(" + column + ") || ':' || coalesce(quote(" + column +
               "), ''), ',') FROM (SELECT " + column + " FROM amounts ORDER BY id)");
  }

  sqlite3* db_ = nullptr;
};

TEST_F(ExactColumnUpgradeTest, EveryValueIsConvertedAndMoneysLegacyEdgesClamped) {
  StoreExactColumnsInStoredForm(db_);
  EXPECT_EQ(One("PRAGMA user_version"), "2");
  EXPECT_EQ(Stored("price"),
            "integer:9223372036854775807,integer:-9223372036854775808,integer:1000,"
            "integer:199900");
  EXPECT_EQ(Stored("small"), "integer:2147483647,integer:-2147483648,integer:1,null:NULL");
  EXPECT_EQ(Stored("d"), "integer:150,integer:-99999,integer:0,null:NULL");
  EXPECT_EQ(One("SELECT typeof(wide) || length(wide) FROM amounts WHERE id = 1"), "blob16");
  // The keys decode to the numbers the doubles stood for (as their shortest
  // texts), and sort as they do.
  EXPECT_EQ(One("SELECT group_concat(sqlengine_exact_to_text(wide, 'decimal(38,10)'), ',') FROM "
                "(SELECT wide FROM amounts WHERE wide IS NOT NULL ORDER BY wide)"),
            "-0.5000000000,0.0000000000,1234567890.0123458000");
  // Other columns are untouched.
  EXPECT_EQ(Stored("note"), "text:'a',text:'b',text:'c',null:NULL");
}

TEST_F(ExactColumnUpgradeTest, UpgradedColumnsRefuseWhatIsNotTheirStoredForm) {
  StoreExactColumnsInStoredForm(db_);
  EXPECT_EQ(One("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND sql LIKE "
                "'%sqlengine_exact_check%'"),
            "8");
  EXPECT_EQ(One("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%sqlengine_decimal(%'"), "0");
  // The stored form itself goes in as it is, no rounding applied.
  Exec("INSERT INTO amounts (id, price, d) VALUES (5, 15000, -12345)");
  EXPECT_EQ(One("SELECT price || '|' || d FROM amounts WHERE id = 5"), "15000|-12345");
  // A double, a text or a value past the type's range is refused, not stored.
  EXPECT_NE(One("INSERT INTO amounts (id, price) VALUES (6, 1.5)").find("error"),
            std::string::npos);
  EXPECT_NE(One("UPDATE amounts SET d = '1.5' WHERE id = 3").find("error"), std::string::npos);
  EXPECT_NE(One("UPDATE amounts SET d = 100000 WHERE id = 3").find("8115"), std::string::npos);
  EXPECT_NE(One("UPDATE amounts SET small = 2147483648 WHERE id = 3").find("8115"),
            std::string::npos);
  EXPECT_EQ(One("SELECT count(*) FROM amounts WHERE id = 6"), "0");
  EXPECT_EQ(Stored("d"), "integer:150,integer:-99999,integer:0,null:NULL,integer:-12345");
}

TEST_F(ExactColumnUpgradeTest, AValueBeyondItsTypeFailsTheStepInsteadOfBeingStoredWrong) {
  // A format-1 trigger would have refused it; a file edited by hand need not.
  Exec("DROP TRIGGER \"sqlengine_decimal_UPDATE_amounts_d\"");
  Exec("UPDATE amounts SET d = 123456.0 WHERE id = 3");
  std::string prices = Stored("price"), amounts = Stored("d");
  Exec("BEGIN");
  EXPECT_THROW(StoreExactColumnsInStoredForm(db_), SqlError);
  Exec("ROLLBACK");
  EXPECT_EQ(One("PRAGMA user_version"), "1");
  EXPECT_EQ(Stored("price"), prices);
  EXPECT_EQ(Stored("d"), amounts);
  EXPECT_EQ(prices.find("integer:9223372036854775807"), std::string::npos);
}

TEST_F(ExactColumnUpgradeTest, DefaultsAndChecksCompareInTheStoredForm) {
  Exec(
      "CREATE TABLE priced (id int, price money DEFAULT 1.5 CHECK (price > 0.5), "
      "d decimal(5,2) DEFAULT (-2.5), note varchar(5) DEFAULT '1.5', "
      "CONSTRAINT cheap CHECK (d <= 100.125 AND -3 <= d AND id > 0.5))");
  Exec("INSERT INTO priced (id) VALUES (1)");
  NormaliseColumns(db_, "main", "priced");
  StoreExactColumnsInStoredForm(db_);
  std::string sql = One("SELECT sql FROM sqlite_master WHERE name = 'priced'");
  EXPECT_NE(sql.find("money DEFAULT 15000 CHECK (price > 5000)"), std::string::npos) << sql;
  EXPECT_NE(sql.find("DEFAULT (-250)"), std::string::npos) << sql;
  EXPECT_NE(sql.find("DEFAULT '1.5'"), std::string::npos) << sql;
  // A bound with more decimals than the scale keeps its fraction; a number
  // compared with another column is left alone.
  EXPECT_NE(sql.find("CHECK (d <= 10012.5 AND -300 <= d AND id > 0.5)"), std::string::npos) << sql;
  EXPECT_EQ(One("SELECT price || '|' || d FROM priced"), "15000|-250");
  Exec("INSERT INTO priced (id) VALUES (2)");
  EXPECT_EQ(One("SELECT price || '|' || d || '|' || note FROM priced WHERE id = 2"),
            "15000|-250|1.5");
  EXPECT_NE(One("INSERT INTO priced (id, price) VALUES (3, 5000)").find("CHECK"),
            std::string::npos);
  EXPECT_NE(One("INSERT INTO priced (id, d) VALUES (3, 10013)").find("CHECK"), std::string::npos);
  Exec("INSERT INTO priced (id, price, d) VALUES (3, 5001, 10012)");
  EXPECT_EQ(One("SELECT count(*) FROM priced"), "3");
}

TEST_F(ExactColumnUpgradeTest, ChecksSwitchedOffAreMovedToTheStoredFormToo) {
  // As NOCHECK CONSTRAINT keeps them: in comments SQLite skips.
  Exec(
      "CREATE TABLE off (id int, price money /*sqlengine_disabled \"price\" CONSTRAINT ck_price "
      "CHECK (price > 0.5) */, d decimal(5,2) /*sqlengine_disabled \"\" CONSTRAINT ck_d CHECK "
      "(d <= 100.125 AND -3 <= d) */)");
  NormaliseColumns(db_, "main", "off");
  StoreExactColumnsInStoredForm(db_);
  std::string sql = One("SELECT sql FROM sqlite_master WHERE name = 'off'");
  EXPECT_NE(sql.find("/*sqlengine_disabled \"price\" CONSTRAINT ck_price CHECK (price > 5000) */"),
            std::string::npos)
      << sql;
  EXPECT_NE(sql.find("CONSTRAINT ck_d CHECK (d <= 10012.5 AND -300 <= d) */"), std::string::npos)
      << sql;
  // Still off: nothing is checked.
  Exec("INSERT INTO off VALUES (1, 1, -1000)");
}

TEST_F(ExactColumnUpgradeTest, ADefaultThatIsNoWrittenNumberFailsTheStep) {
  Exec("CREATE TABLE computed (m money DEFAULT (1 + 2))");
  Exec("BEGIN");
  EXPECT_THROW(StoreExactColumnsInStoredForm(db_), std::runtime_error);
  Exec("ROLLBACK");
  EXPECT_EQ(One("SELECT sql FROM sqlite_master WHERE name = 'computed'"),
            "CREATE TABLE computed (m money DEFAULT (1 + 2))");
}

}  // namespace
}  // namespace sqlengine::exec
