// Stored procedures and parameters as ODBC applications use them: {call}
// with bound parameters (an RPC), output parameters and the return status,
// and statements with ? markers (sp_executesql / sp_prepexec).
#include <gtest/gtest.h>

#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

class OdbcCall : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = std::make_unique<OdbcClient>(engine_.Port(), "sa", "");
    Must("CREATE TABLE Test (Name nvarchar(50), Position nvarchar(50))");
    Must(
        "CREATE PROCEDURE DoOperation @Opn smallint, @Name nvarchar(50), @Position nvarchar(50) AS "
        "IF @Opn = 1 INSERT INTO Test (Name, Position) VALUES (@Name, @Position) "
        "ELSE IF @Opn = 2 DELETE FROM Test WHERE Name = @Name AND Position = @Position");
    Must(
        "CREATE PROCEDURE Echo @in nvarchar(20), @out nvarchar(40) OUTPUT AS "
        "SET @out = @in + N'!' RETURN 7");
  }

  void Must(const std::string& sql) {
    BatchOutcome outcome = client_->Execute(sql);
    ASSERT_FALSE(outcome.failed) << outcome.Describe();
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<OdbcClient> client_;
};

TEST_F(OdbcCall, CallWithBoundParametersChangesRows) {
  SQLHDBC dbc = client_->Connection();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
  SQLSMALLINT operation = 1;
  SQLCHAR name[51] = "Ada";
  SQLCHAR position[51] = "Chief";
  SQLLEN name_length = SQL_NTS, position_length = SQL_NTS, operation_length = 0;
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 0, 0, &operation, 0,
                   &operation_length);
  SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 50, 0, name, sizeof name,
                   &name_length);
  SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 50, 0, position,
                   sizeof position, &position_length);
  SQLCHAR call[] = "{call DoOperation(?,?,?)}";
  SQLRETURN rc = SQLExecDirect(stmt, call, SQL_NTS);
  EXPECT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA);
  while (SQLMoreResults(stmt) == SQL_SUCCESS) {
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
  BatchOutcome rows = client_->Execute("SELECT Name, Position FROM Test");
  ASSERT_EQ(rows.results.size(), 1u);
  ASSERT_EQ(rows.results[0].rows.size(), 1u);
  EXPECT_EQ(rows.results[0].rows[0][1].value_or(""), "Chief");

  operation = 2;
  rc = SQLExecDirect(stmt, call, SQL_NTS);
  EXPECT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA);
  while (SQLMoreResults(stmt) == SQL_SUCCESS) {
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  EXPECT_TRUE(client_->Execute("SELECT Name FROM Test").results.at(0).rows.empty());
}

TEST_F(OdbcCall, OutputParameterAndReturnStatus) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  SQLINTEGER status = 0;
  SQLCHAR in[21] = "hi";
  SQLCHAR out[41] = {};
  SQLLEN status_length = 0, in_length = SQL_NTS, out_length = 0;
  SQLBindParameter(stmt, 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &status, 0,
                   &status_length);
  SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 20, 0, in, sizeof in,
                   &in_length);
  SQLBindParameter(stmt, 3, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_WVARCHAR, 40, 0, out, sizeof out,
                   &out_length);
  SQLCHAR call[] = "{? = call Echo(?, ?)}";
  SQLRETURN rc = SQLExecDirect(stmt, call, SQL_NTS);
  EXPECT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << rc;
  while (SQLMoreResults(stmt) == SQL_SUCCESS) {
  }
  EXPECT_EQ(status, 7);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "hi!");
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(OdbcCall, MarkersInPlainStatementsArePositionalParameters) {
  Must("INSERT INTO Test VALUES ('a', '1') INSERT INTO Test VALUES ('b', '2')");
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  SQLCHAR wanted[11] = "b";
  SQLLEN wanted_length = SQL_NTS;
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 10, 0, wanted, sizeof wanted,
                   &wanted_length);
  SQLCHAR query[] = "SELECT Position FROM Test WHERE Name = ?";
  for (bool prepared : {false, true}) {
    SQLRETURN rc =
        prepared ? SQLPrepare(stmt, query, SQL_NTS) : SQLExecDirect(stmt, query, SQL_NTS);
    if (prepared) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc));
      rc = SQLExecute(stmt);
    }
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << "prepared=" << prepared;
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    SQLCHAR position[11] = {};
    SQLLEN length = 0;
    SQLGetData(stmt, 1, SQL_C_CHAR, position, sizeof position, &length);
    EXPECT_STREQ(reinterpret_cast<char*>(position), "2");
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    SQLFreeStmt(stmt, SQL_CLOSE);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// A date sent as text in an RPC parameter converts exactly as the same text
// written as a literal, under the session's DATEFORMAT, with the same errors.
TEST_F(OdbcCall, TextParametersConvertToDatesAsLiteralsDo) {
  Must("CREATE TABLE Dated (at datetime, at_small smalldatetime)");
  Must(
      "CREATE PROCEDURE KeepDate @at datetime, @small smalldatetime AS "
      "INSERT INTO Dated VALUES (@at, @small)");
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  auto call = [&](const std::string& text) {
    SQLCHAR value[64] = {};
    std::copy(text.begin(), text.end(), value);
    SQLLEN length = SQL_NTS, small_length = SQL_NTS;
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, value, sizeof value,
                     &length);
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, value, sizeof value,
                     &small_length);
    SQLCHAR statement[] = "{call KeepDate(?, ?)}";
    SQLRETURN rc = SQLExecDirect(stmt, statement, SQL_NTS);
    while (SQL_SUCCEEDED(rc) && SQLMoreResults(stmt) == SQL_SUCCESS) {
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
  };
  const std::vector<std::string> texts = {"1/10/1997", "Jul 4 1996 10:24:35:056AM",
                                          "19970101 10:00:29.999", "2001-02-03"};
  for (const char* order : {"mdy", "dmy"}) {
    Must(std::string("SET DATEFORMAT ") + order + " DELETE FROM Dated");
    for (const std::string& text : texts) {
      ASSERT_TRUE(call(text)) << text;
      BatchOutcome rows = client_->Execute(
          "SELECT CONVERT(varchar(23), at, 121), CONVERT(varchar(23), at_small, 121), "
          "CONVERT(varchar(23), CAST('" +
          text +
          "' AS datetime), 121), "
          "CONVERT(varchar(23), CAST('" +
          text +
          "' AS smalldatetime), 121) FROM Dated "
          "DELETE FROM Dated");
      ASSERT_FALSE(rows.failed) << rows.Describe();
      ASSERT_EQ(rows.results.at(0).rows.size(), 1u);
      const auto& row = rows.results[0].rows[0];
      EXPECT_EQ(row[0], row[2]) << order << " " << text;
      EXPECT_EQ(row[1], row[3]) << order << " " << text;
    }
  }
  // Under dmy the first text is the 1st of October.
  BatchOutcome october =
      client_->Execute("SELECT CONVERT(varchar(10), CAST('1/10/1997' AS datetime), 120)");
  ASSERT_FALSE(october.failed);
  EXPECT_EQ(october.results.at(0).rows.at(0)[0].value_or(""), "1997-10-01");
  EXPECT_FALSE(call("31/02/1997"));
  EXPECT_FALSE(call("no date"));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// A prepared statement's binding is kept between its executions: another
// session's DDL, a changed setting and a dropped table make it bind afresh.
TEST_F(OdbcCall, PreparedStatementsAnswerAsFreshOnesAfterChanges) {
  Must("CREATE TABLE Kept (id int, v int NULL) INSERT INTO Kept VALUES (1, 10) "
       "INSERT INTO Kept VALUES (2, NULL)");
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  SQLINTEGER id = 1;
  SQLLEN id_length = 0;
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &id_length);
  // Each execution's column count and first column of its first row
  // ("NULL", or "-" with no row); "error" when it fails.
  auto run = [&](bool null_parameter = false) -> std::pair<int, std::string> {
    id_length = null_parameter ? SQL_NULL_DATA : 0;
    SQLRETURN rc = SQLExecute(stmt);
    if (!SQL_SUCCEEDED(rc)) {
      SQLFreeStmt(stmt, SQL_CLOSE);
      return {0, "error"};
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    std::string first = "-";
    if (SQLFetch(stmt) == SQL_SUCCESS) {
      SQLCHAR value[32] = {};
      SQLLEN length = 0;
      SQLGetData(stmt, 1, SQL_C_CHAR, value, sizeof value, &length);
      first = length == SQL_NULL_DATA ? "NULL" : reinterpret_cast<char*>(value);
    }
    while (SQLMoreResults(stmt) == SQL_SUCCESS) {
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    return {columns, first};
  };
  using Answer = std::pair<int, std::string>;
  SQLCHAR star[] = "SELECT * FROM Kept WHERE id = ?";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(stmt, star, SQL_NTS)));
  EXPECT_EQ(run(), Answer(2, "1"));
  EXPECT_EQ(run(), Answer(2, "1"));
  OdbcClient other(engine_.Port(), "sa", "");
  BatchOutcome altered = other.Execute("ALTER TABLE Kept ADD w int NULL");
  ASSERT_FALSE(altered.failed) << altered.Describe();
  EXPECT_EQ(run(), Answer(3, "1"));
  altered = other.Execute("DROP TABLE Kept CREATE TABLE Kept (v varchar(5), id int)");
  ASSERT_FALSE(altered.failed) << altered.Describe();
  EXPECT_EQ(run(), Answer(2, "-"));
  Must("INSERT INTO Kept VALUES ('a', 1) INSERT INTO Kept VALUES (NULL, 2)");
  EXPECT_EQ(run(), Answer(2, "a"));
  Must("DROP TABLE Kept");
  EXPECT_EQ(run(), Answer(0, "error"));
  Must("CREATE TABLE Kept (id int, v int NULL) INSERT INTO Kept VALUES (1, 10) "
       "INSERT INTO Kept VALUES (2, NULL)");
  EXPECT_EQ(run(), Answer(2, "1"));

  // = with a parameter holding NULL finds the NULLs under ANSI_NULLS OFF only.
  SQLCHAR nulls[] = "SELECT count(*) FROM Kept WHERE v = ?";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(stmt, nulls, SQL_NTS)));
  EXPECT_EQ(run(true), Answer(1, "0"));
  EXPECT_EQ(run(true), Answer(1, "0"));
  Must("SET ANSI_NULLS OFF");
  EXPECT_EQ(run(true), Answer(1, "1"));
  EXPECT_EQ(run(true), Answer(1, "1"));
  Must("SET ANSI_NULLS ON");
  EXPECT_EQ(run(true), Answer(1, "0"));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(OdbcCall, ProcedureColumnsDescribeTheParameters) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  SQLCHAR name[] = "DoOperation";
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLProcedureColumns(stmt, nullptr, 0, nullptr, 0, name, SQL_NTS, nullptr, 0)));
  std::vector<std::string> rows;
  while (SQLFetch(stmt) == SQL_SUCCESS) {
    SQLCHAR column[129] = {}, type_name[129] = {};
    SQLSMALLINT column_type = 0, data_type = 0;
    SQLINTEGER ordinal = -1, size = 0;
    SQLLEN length = 0;
    SQLGetData(stmt, 4, SQL_C_CHAR, column, sizeof column, &length);
    SQLGetData(stmt, 5, SQL_C_SSHORT, &column_type, 0, &length);
    SQLGetData(stmt, 6, SQL_C_SSHORT, &data_type, 0, &length);
    SQLGetData(stmt, 7, SQL_C_CHAR, type_name, sizeof type_name, &length);
    SQLGetData(stmt, 8, SQL_C_SLONG, &size, 0, &length);
    SQLGetData(stmt, 18, SQL_C_SLONG, &ordinal, 0, &length);
    rows.push_back(std::string(reinterpret_cast<char*>(column)) + " " +
                   std::to_string(column_type) + " " + std::to_string(data_type) + " " +
                   reinterpret_cast<char*>(type_name) + " " + std::to_string(size) + " " +
                   std::to_string(ordinal));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(rows,
            (std::vector<std::string>{"@RETURN_VALUE 5 4 int 10 0", "@Opn 1 5 smallint 5 1",
                                      "@Name 1 -9 nvarchar 50 2", "@Position 1 -9 nvarchar 50 3"}));
}

TEST_F(OdbcCall, TypeInfoListsTheServerTypes) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client_->Connection(), &stmt)));
  for (SQLSMALLINT wanted : {SQLSMALLINT{SQL_INTEGER}, SQLSMALLINT{SQL_TYPE_TIMESTAMP}}) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetTypeInfo(stmt, wanted)));
    std::vector<std::string> rows;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
      SQLCHAR type_name[129] = {};
      SQLSMALLINT data_type = 0, auto_increment = -1;
      SQLINTEGER size = 0;
      SQLLEN length = 0;
      SQLGetData(stmt, 1, SQL_C_CHAR, type_name, sizeof type_name, &length);
      SQLGetData(stmt, 2, SQL_C_SSHORT, &data_type, 0, &length);
      SQLGetData(stmt, 3, SQL_C_SLONG, &size, 0, &length);
      SQLGetData(stmt, 12, SQL_C_SSHORT, &auto_increment, 0, &length);
      if (length == SQL_NULL_DATA) auto_increment = -1;
      rows.push_back(std::string(reinterpret_cast<char*>(type_name)) + " " +
                     std::to_string(data_type) + " " + std::to_string(size) + " " +
                     std::to_string(auto_increment));
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    if (wanted == SQL_INTEGER) {
      EXPECT_EQ(rows, (std::vector<std::string>{"int 4 10 0", "int identity 4 10 1"}));
    } else {
      EXPECT_EQ(rows, (std::vector<std::string>{"datetime 93 23 -1", "smalldatetime 93 16 -1"}));
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

}  // namespace
}  // namespace sqlengine::testing
