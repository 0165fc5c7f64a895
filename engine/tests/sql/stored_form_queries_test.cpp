// Statements the front end binds and generates for exact numbers in their
// stored form, run on SQLite with the engine's functions over tables that
// hold that form: results, written values and errors as SQL Server gives
// them, at each type's edges and across scales.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/exact_aggregates.h"
#include "engine/exec/exact_functions.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/hash_grouping.h"
#include "engine/exec/integer_arithmetic.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/null_warnings.h"
#include "engine/exec/text_comparison.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql {
namespace {

// The tables of an SQLite database, described from their declared types as
// the engine declares them.
class SqliteTables final : public bind::Catalog {
 public:
  explicit SqliteTables(sqlite3* db) : db_(db) {}
  std::optional<bind::TableShape> FindTable(const std::vector<std::string>& name) override {
    bind::TableShape shape;
    shape.name = name.back();
    shape.schema = "main";
    shape.sql = "\"main\".\"" + shape.name + "\"";
    sqlite3_stmt* info = nullptr;
    sqlite3_prepare_v2(db_, "SELECT name, type FROM pragma_table_info(?)", -1, &info, nullptr);
    sqlite3_bind_text(info, 1, shape.name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(info) == SQLITE_ROW) {
      std::string column = reinterpret_cast<const char*>(sqlite3_column_text(info, 0));
      std::string declared = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
      shape.columns.push_back(Column{column, *ParseDeclaredType(declared)});
      shape.column_defaults.emplace_back();
    }
    sqlite3_finalize(info);
    if (shape.columns.empty()) return std::nullopt;
    return shape;
  }
  bool ObjectExists(const std::vector<std::string>& name) override {
    return FindTable(name).has_value();
  }
  // @least, an int variable, for the queries that read one.
  std::optional<ColumnType> VariableType(std::string_view name) override {
    if (name == "@least") return ColumnType{SqlType::kInt};
    return std::nullopt;
  }

 private:
  sqlite3* db_;
};

Tokens WithoutEnd(std::string_view text) {
  Tokens tokens = Lex(text);
  tokens.pop_back();
  return tokens;
}

class StoredFormQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    tables_ = SqliteTables(db_);
    exec::RegisterDecimalFunction(db_);
    exec::RegisterExactFunctions(db_);
    exec::RegisterExactAggregates(db_);
    exec::RegisterTextComparison(db_);
    exec::RegisterIntegerArithmetic(db_);
    exec::RegisterNullWarnings(db_, nullptr);
    exec::RegisterHashGrouping(db_);
    // A file of the format whose triggers refuse what is not stored form.
    Exec("PRAGMA user_version = 2");
    Create("amounts",
           "k int, d decimal(10,2), m money, sm smallmoney, w decimal(38,10), "
           "n decimal(5,0), f float");
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << " in " << sql;
  }

  void Create(const std::string& table, const std::string& columns) {
    Exec("CREATE TABLE \"" + table + "\" (" + columns + ")");
    exec::NormaliseColumns(db_, "main", table);
  }

  // Runs generated SQL; the rows as "a|b" lines, or the error it ends with.
  std::string Run(const SqliteText& text) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, text.sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_) + " in " + text.sql;
    std::string rows;
    int rc;
    try {
      while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        std::string row;
        for (size_t k = 0; k < text.result_columns.size(); ++k) {
          Value value = exec::GeneratedColumnValue(statement, static_cast<int>(k),
                                                   text.result_columns[k].type);
          row += (k > 0 ? "|" : "") +
                 (std::holds_alternative<std::monostate>(value) ? "NULL" : exec::ValueText(value));
        }
        rows += (rows.empty() ? "" : "\n") + row;
      }
    } catch (const std::exception& error) {
      sqlite3_finalize(statement);
      return std::string("exception: ") + error.what();
    }
    if (rc != SQLITE_DONE) rows = ErrorText(sqlite3_errmsg(db_));
    sqlite3_finalize(statement);
    return rows;
  }

  // "error <number>: <text>" from the engine functions' "sqlengine:<n>:<text>".
  static std::string ErrorText(std::string message) {
    if (!message.starts_with("sqlengine:")) return "sqlite: " + message;
    size_t number_end = message.find(':', 10);
    return "error " + message.substr(10, number_end - 10) + ": " + message.substr(number_end + 1);
  }

  std::string Select(std::string_view select) {
    return Run(Generated(select));
  }

  SqliteText Generated(std::string_view select) {
    bind::BoundQuery bound = bind::Bind(*parse::ParseSelect(WithoutEnd(select)), tables_);
    return generate::GenerateSelect(bound, 1, generate::ExactForm::kStored);
  }

  bool Hashed(std::string_view select) {
    return Generated(select).sql.find("sqlengine_grouped(") != std::string::npos;
  }

  // The result's types, "decimal(p,s)" / "money" ..., joined by '|'.
  std::string Types(std::string_view select) {
    bind::BoundQuery bound = bind::Bind(*parse::ParseSelect(WithoutEnd(select)), tables_);
    std::string text;
    for (const Column& column : bound.columns)
      text += (text.empty() ? "" : "|") + TypeDeclaration(column.type);
    return text;
  }

  std::string Change(std::string_view statement) {
    Tokens tokens = WithoutEnd(statement);
    if (tokens.front().IsWord("insert")) {
      return Run(generate::GenerateInsert(bind::BindInsert(*parse::ParseInsert(tokens), tables_), 1,
                                          generate::ExactForm::kStored));
    }
    return Run(generate::GenerateUpdate(bind::BindUpdate(*parse::ParseUpdate(tokens), tables_), 1,
                                        generate::ExactForm::kStored));
  }

  sqlite3* db_ = nullptr;
  SqliteTables tables_{nullptr};
};

TEST_F(StoredFormQueries, ArithmeticFollowsSqlServersTypesExactly) {
  // 1 / 3.0 is numeric(8,6) 0.333333: three of it are 0.999999, not 1.
  EXPECT_EQ(Types("SELECT 1 / 3.0, 1 / 3.0 * 3"), "numeric(17,6)|numeric(28,6)");
  EXPECT_EQ(Select("SELECT 1 / 3.0 * 3"), "0.999999");
  EXPECT_EQ(Select("SELECT CAST(0.1 AS decimal(10,1)) + CAST(0.2 AS decimal(10,1)), "
                   "CASE WHEN CAST(0.1 AS decimal(10,1)) + CAST(0.2 AS decimal(10,1)) = 0.3 "
                   "THEN 'equal' ELSE 'not equal' END"),
            "0.3|equal");
  EXPECT_EQ(Select("SELECT 7 / 2.0, -1.25 * 2, 10.5 - 0.25, 2 * CAST(1.5 AS money)"),
            "3.500000|-2.50|10.25|3.0000");
  EXPECT_EQ(Select("SELECT 1 / 0.0"), "error 8134: Divide by zero error encountered.");
  // Money constants keep four decimals, rounded half away from zero.
  EXPECT_EQ(Select("SELECT $12.50, -$3, $0.123456, -$0.00005, $1 + 1"),
            "12.5000|-3.0000|0.1235|-0.0001|2.0000");
  EXPECT_EQ(Select("SELECT 123456789012345678901"), "123456789012345678901");
}

TEST_F(StoredFormQueries, CastsRoundAndNameTheTypesTheyOverflow) {
  EXPECT_EQ(Select("SELECT CAST(999.994 AS decimal(5,2)), CAST(-1.005 AS decimal(5,2)), "
                   "CAST(2.5 AS int), CAST(-2.5 AS int), CAST(1.25 AS float)"),
            "999.99|-1.01|2|-2|1.25");
  EXPECT_EQ(Select("SELECT CAST(999.999 AS decimal(5,2))"),
            "error 8115: Arithmetic overflow error converting numeric to data type numeric.");
  EXPECT_EQ(Select("SELECT CAST('12.345' AS money), CAST(3 AS decimal(3,1)), "
                   "CONVERT(varchar(20), CAST(1234567.891 AS money), 1), "
                   "CONVERT(varchar(20), CAST(-0.125 AS money)), "
                   "CAST(CAST(12.5 AS decimal(5,2)) AS varchar(10))"),
            "12.3450|3.0|1,234,567.89|-0.13|12.50");
}

TEST_F(StoredFormQueries, MoneyAndSmallmoneyHoldTheirWholeRanges) {
  EXPECT_EQ(Change("INSERT amounts (k, m, sm) VALUES (1, 922337203685477.5807, 214748.3647), "
                   "(2, -922337203685477.5808, -214748.3648)"),
            "");
  EXPECT_EQ(Select("SELECT m, sm FROM amounts ORDER BY m"),
            "-922337203685477.5808|-214748.3648\n922337203685477.5807|214748.3647");
  EXPECT_EQ(Select("SELECT SUM(m), SUM(sm) FROM amounts"), "-0.0001|-0.0001");
  EXPECT_EQ(Select("SELECT -m FROM amounts WHERE k = 2"),
            "error 8115: Arithmetic overflow error converting expression to data type money.");
  EXPECT_EQ(Select("SELECT m + CAST(0.0001 AS money) FROM amounts WHERE k = 1"),
            "error 8115: Arithmetic overflow error converting expression to data type money.");
  // The column refuses a value past its range rather than storing it.
  EXPECT_NE(Change("INSERT amounts (k, sm) VALUES (3, 214748.3648)").find("8115"),
            std::string::npos);
  EXPECT_EQ(Select("SELECT COUNT(*) FROM amounts"), "2");
}

TEST_F(StoredFormQueries, WideDecimalsRoundTripAndAddUpExactly) {
  EXPECT_EQ(Change("INSERT amounts (k, w) VALUES (1, 1234567890123456789012345678.0123456789), "
                   "(2, 1234567890123456789012345678.0123456789), (3, -0.0000000001)"),
            "");
  EXPECT_EQ(Select("SELECT w FROM amounts ORDER BY w DESC"),
            "1234567890123456789012345678.0123456789\n1234567890123456789012345678.0123456789\n"
            "-0.0000000001");
  EXPECT_EQ(Types("SELECT SUM(w) FROM amounts"), "decimal(38,10)");
  EXPECT_EQ(Select("SELECT SUM(w), MIN(w), MAX(w) FROM amounts"),
            "2469135780246913578024691356.0246913577|-0.0000000001|"
            "1234567890123456789012345678.0123456789");
  EXPECT_EQ(Select("SELECT CAST(99999999999999999999999999999999999999 AS decimal(38,0)) + "
                   "CAST(-99999999999999999999999999999999999999 AS decimal(38,0)), "
                   "CAST(-99999999999999999999999999999999999999 AS decimal(38,0))"),
            "0|-99999999999999999999999999999999999999");
  EXPECT_EQ(Select("SELECT w FROM amounts WHERE w > 1 AND w = "
                   "1234567890123456789012345678.0123456789 AND k = 1"),
            "1234567890123456789012345678.0123456789");
}

TEST_F(StoredFormQueries, ComparisonsAndOrderAcrossScalesAndSigns) {
  ASSERT_EQ(Change("INSERT amounts (k, d, n, m) VALUES (1, -1.5, -2, -1.5), (2, 2.25, 2, 2.25), "
                   "(3, -0.01, 0, 0), (4, 10, 10, 9.9999)"),
            "");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE d > -1.50 AND d < 2.251 ORDER BY d"), "3\n2");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE n = 2.0 OR n = -2.00 ORDER BY k"), "1\n2");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE m = d ORDER BY k"), "1\n2");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE d BETWEEN -0.015 AND 2.25 ORDER BY k"), "2\n3");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE d IN (10, -1.500, 2.2) ORDER BY k"), "1\n4");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE m NOT IN (SELECT d FROM amounts) ORDER BY k"),
            "3\n4");
  EXPECT_EQ(Select("SELECT k FROM amounts WHERE k < d ORDER BY k"), "2\n4");
  EXPECT_EQ(Select("SELECT d FROM amounts ORDER BY d DESC"), "10.00\n2.25\n-0.01\n-1.50");
  EXPECT_EQ(Select("SELECT MIN(d), MAX(m), AVG(n) FROM amounts"), "-1.50|9.9999|2.500000");
}

TEST_F(StoredFormQueries, BranchesFunctionsAndUnionsMeetInOneType) {
  ASSERT_EQ(Change("INSERT amounts (k, d, m, n) VALUES (1, 1.25, NULL, 7), (2, NULL, 3.5, NULL)"),
            "");
  EXPECT_EQ(Select("SELECT COALESCE(d, m), ISNULL(n, 0.5), CASE WHEN k = 1 THEN d ELSE 3 END "
                   "FROM amounts ORDER BY k"),
            "1.2500|7|1.25\n3.5000|1|3.00");
  EXPECT_EQ(Select("SELECT d FROM amounts WHERE k = 1 UNION ALL SELECT m FROM amounts WHERE k = 2 "
                   "UNION ALL SELECT 0.125"),
            "1.2500\n3.5000\n0.1250");
  EXPECT_EQ(Select("SELECT ROUND(d, 1), ROUND(d, 1, 1), FLOOR(-d), CEILING(d), ABS(-d), SIGN(-d), "
                   "POWER(d, 2) FROM amounts WHERE k = 1"),
            "1.30|1.20|-2|2|1.25|-1.00|1.56");
}

TEST_F(StoredFormQueries, WrittenValuesTakeTheirColumnsScale) {
  Create("copies", "d decimal(10,2), m money, i int, f float");
  EXPECT_EQ(Change("INSERT copies (d, m, i, f) VALUES (1.005, 2, 2.9, 0.1)"), "");
  EXPECT_EQ(Change("INSERT amounts (k, d, m) VALUES (5, 9.999, 1.23456)"), "");
  EXPECT_EQ(Change("INSERT copies (d, m, i, f) SELECT m, d, d, d FROM amounts WHERE k = 5"), "");
  EXPECT_EQ(Change("UPDATE copies SET d = d * 1.5, m = m / 3 WHERE i = 2"), "");
  // money divides to four decimals, cut as SQL Server cuts quotients.
  EXPECT_EQ(Select("SELECT d, m, i FROM copies ORDER BY i"), "1.52|0.6666|2\n1.23|10.0000|10");
  EXPECT_EQ(Select("SELECT f FROM copies WHERE i = 2 AND f = 0.1"), "0.1");
  EXPECT_NE(Change("INSERT copies (d) VALUES (123456789.125)").find("8115"), std::string::npos);
}

// Which grouped queries are grouped by hashing: plain ones over tables,
// their keys columns and their aggregates those sqlengine_grouped adds as
// SQLite's GROUP BY would; the rest keep SQLite's sorted GROUP BY.
TEST_F(StoredFormQueries, PlainGroupedQueriesOfTablesAreGroupedByHashing) {
  Create("named", "k int, name varchar(10), d decimal(10,2)");
  EXPECT_TRUE(Hashed("SELECT k, SUM(d), AVG(m), COUNT(*), COUNT_BIG(w), MIN(n), MAX(f) "
                     "FROM amounts GROUP BY k"));
  EXPECT_TRUE(Hashed("SELECT k + 1, SUM(d) * 2 FROM amounts WHERE d > 0 GROUP BY k "
                     "HAVING COUNT(*) > 1 ORDER BY SUM(m) DESC"));
  EXPECT_TRUE(Hashed("SELECT a.k, COUNT(*) FROM amounts AS a JOIN named AS b ON a.k = b.k "
                     "GROUP BY a.k"));
  EXPECT_TRUE(Hashed("SELECT name, d, MIN(name) FROM named GROUP BY name, d"));
  // SQLite's own avg of integers and sum and avg of floats, DISTINCT, a key that
  // is an expression, a derived table, ROLLUP and GROUP BY ALL stay sorted.
  EXPECT_TRUE(Hashed("SELECT k, SUM(k) FROM amounts GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k, AVG(k) FROM amounts GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k, AVG(f) FROM amounts GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k, COUNT(DISTINCT d) FROM amounts GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k + 1, COUNT(*) FROM amounts GROUP BY k + 1"));
  EXPECT_FALSE(Hashed("SELECT k, COUNT(*) FROM (SELECT * FROM amounts) AS t GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k, COUNT(*) FROM amounts GROUP BY k WITH ROLLUP"));
  EXPECT_FALSE(Hashed("SELECT k, COUNT(*) FROM amounts WHERE d > 0 GROUP BY ALL k"));
  EXPECT_FALSE(Hashed("SELECT k, COUNT(*) FROM amounts WHERE k IN (SELECT k FROM named) "
                      "GROUP BY k"));
  EXPECT_FALSE(Hashed("SELECT k, (SELECT COUNT(*) FROM named) FROM amounts GROUP BY k"));
  // A variable is handed to the grouped scan as a parameter.
  SqliteText with_variable =
      Generated("SELECT k, SUM(d) FROM amounts WHERE k >= @least GROUP BY k HAVING k < @least + 5");
  EXPECT_NE(with_variable.sql.find("keys:n;?@least;"), std::string::npos) << with_variable.sql;
  EXPECT_NE(with_variable.sql.find(", @least) AS"), std::string::npos) << with_variable.sql;
  // Only the statement's own query: not one nested in it.
  EXPECT_FALSE(Hashed("SELECT * FROM (SELECT k, COUNT(*) AS c FROM amounts GROUP BY k) AS t"));

  Exec("INSERT INTO named VALUES (1, 'a', 100), (1, 'A ', 250), (NULL, NULL, 1), (2, 'b', NULL)");
  EXPECT_EQ(Select("SELECT k, COUNT(*), COUNT(d), SUM(d), MIN(name) FROM named GROUP BY k"),
            "NULL|1|1|0.01|NULL\n1|2|2|3.50|a\n2|1|0|NULL|b");
}

int DenySecret(void*, int action, const char* table, const char*, const char*, const char*) {
  return action == SQLITE_READ && table != nullptr && std::string(table) == "secret" ? SQLITE_DENY
                                                                                     : SQLITE_OK;
}

// sqlengine_grouped compiles its query while the statement naming it is
// compiled, so the authorizer sees that query's reads; it takes no query
// that is not a constant text, whose reads could not be judged then.
TEST_F(StoredFormQueries, TheGroupedScanIsAuthorisedWithItsStatement) {
  Create("secret", "k int, v int");
  Exec("INSERT INTO secret VALUES (1, 2), (1, 3)");
  auto compiles = [this](const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
  };
  const std::string direct = "SELECT c0, c1 FROM sqlengine_grouped('SELECT k FROM secret', 'keys:n;k0;n')";
  EXPECT_TRUE(compiles(direct));
  EXPECT_FALSE(compiles("SELECT c0 FROM amounts, sqlengine_grouped('SELECT k FROM ' || 'secret', "
                        "'keys:n;k0') WHERE 0"));
  EXPECT_FALSE(compiles("SELECT c0 FROM sqlengine_grouped('SELECT k FROM secret', 'keys:x;k0')"));
  EXPECT_FALSE(compiles("SELECT c0 FROM sqlengine_grouped('DELETE FROM secret', 'keys:n;k0')"));
  // A value after the plan for each parameter it names, bound each run.
  EXPECT_FALSE(compiles("SELECT c0 FROM sqlengine_grouped('SELECT k FROM secret WHERE v > @v', "
                        "'keys:n;?@v;k0')"));
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_,
                               "SELECT c0, c1 FROM sqlengine_grouped('SELECT k FROM secret "
                               "WHERE v > @v', 'keys:n;?@v;k0;n', @v)",
                               -1, &statement, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db_);
  for (int least : {2, 1, 3}) {
    sqlite3_bind_int(statement, 1, least);
    std::string rows;
    while (sqlite3_step(statement) == SQLITE_ROW)
      rows += std::to_string(sqlite3_column_int(statement, 0)) + ":" +
              std::to_string(sqlite3_column_int(statement, 1)) + " ";
    sqlite3_reset(statement);
    EXPECT_EQ(rows, least == 2 ? "1:1 " : least == 1 ? "1:2 " : "");
  }
  sqlite3_finalize(statement);
  sqlite3_set_authorizer(db_, DenySecret, nullptr);
  EXPECT_FALSE(compiles(direct));
  sqlite3_set_authorizer(db_, nullptr, nullptr);
}

}  // namespace
}  // namespace sqlengine::tsql
