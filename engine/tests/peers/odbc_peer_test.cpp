// The FreeTDS ODBC driver (through unixODBC's C API) against a real engine,
// at TDS 7.4 and 7.1: every supported type with NULLs and non-ASCII text,
// error numbers, PRINT, two result sets, a cancelled query, twenty clients.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <future>
#include <optional>
#include <string>
#include <vector>

#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

struct Diagnostic {
  std::string state;
  int native = 0;
  std::string text;
};

std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diagnostic> out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {0}, text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length))) {
      return out;
    }
    out.push_back(
        {reinterpret_cast<char*>(state), static_cast<int>(native), reinterpret_cast<char*>(text)});
  }
}

// A statement without a result set and without a row count (DDL) ends in
// SQL_NO_DATA under ODBC 3; that is success too.
bool Ok(SQLRETURN rc) { return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA; }

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// One connection and one statement handle.
class Peer {
 public:
  Peer(int port, const std::string& version) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                       ";UID=sa;PWD=;ClientCharset=UTF-8;TDS_Version=" + version;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (!connected_) {
      for (const Diagnostic& d : Diagnostics(SQL_HANDLE_DBC, dbc_)) ADD_FAILURE() << d.text;
      return;
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
  }
  ~Peer() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool connected() const { return connected_; }
  SQLHSTMT stmt() const { return stmt_; }

  SQLRETURN Exec(const std::string& sql) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                         SQL_NTS);
  }
  std::vector<Diagnostic> StatementDiagnostics() const {
    return Diagnostics(SQL_HANDLE_STMT, stmt_);
  }

  // The rows of the current result, each cell as text (binary as hex).
  Rows Fetch() {
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt_, &columns);
    Rows rows;
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
      std::vector<Cell> row;
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        std::string value;
        SQLLEN indicator = 0;
        char buffer[4096];
        SQLRETURN rc;
        while (SQL_SUCCEEDED(
            rc = SQLGetData(stmt_, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator))) {
          if (indicator == SQL_NULL_DATA) break;
          std::size_t got =
              indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer)
                  ? sizeof buffer - 1
                  : static_cast<std::size_t>(indicator);
          value.append(buffer, got);
          if (rc == SQL_SUCCESS) break;
        }
        row.push_back(indicator == SQL_NULL_DATA ? Cell() : Cell(value));
      }
      rows.push_back(row);
    }
    return rows;
  }

  SQLSMALLINT ColumnType(SQLUSMALLINT column) {
    SQLCHAR name[256];
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeCol(stmt_, column, name, sizeof name, &name_length, &type, &size, &digits,
                   &nullable);
    return type;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
};

struct TypeCase {
  const char* name;
  const char* declared;
  const char* literal;
  const char* expected;  // as SQL_C_CHAR text
  SQLSMALLINT odbc_type;
};

std::vector<TypeCase> TypeCases(bool tds72) {
  return {
      {"ti", "tinyint", "255", "255", SQL_TINYINT},
      {"si", "smallint", "-32768", "-32768", SQL_SMALLINT},
      {"i", "int", "2147483647", "2147483647", SQL_INTEGER},
      {"bi", "bigint", "-9223372036854775807", "-9223372036854775807", SQL_BIGINT},
      {"b", "bit", "1", "1", SQL_BIT},
      {"r", "real", "1.5", "1.5", SQL_REAL},
      {"f", "float", "-2.25", "-2.25", SQL_DOUBLE},
      // The driver reports DECIMALN columns as SQL_NUMERIC.
      {"d", "decimal(12,3)", "123456789.123", "123456789.123", SQL_NUMERIC},
      {"m", "money", "1234.5678", "1234.5678", SQL_DECIMAL},
      {"dt", "datetime", "'2020-02-29 23:59:59.997'", "2020-02-29 23:59:59.997",
       SQL_TYPE_TIMESTAMP},
      {"c", "char(4)", "'ab'", "ab  ", SQL_CHAR},
      {"vc", "varchar(20)", "'caf\xC3\xA9'", "caf\xC3\xA9", SQL_VARCHAR},
      {"nv", "nvarchar(20)", "N'\xE4\xB8\xAD\xE6\x96\x87 \xC3\xBC'",
       "\xE4\xB8\xAD\xE6\x96\x87 \xC3\xBC", SQL_WVARCHAR},
      {"nt", "ntext", "N'n\xC3\xBC'", "n\xC3\xBC", SQL_WLONGVARCHAR},
      {"vb", "varbinary(8)", "0xDEADBEEF", "deadbeef", SQL_VARBINARY},
      {"u", "uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'",
       "6F9619FF-8B86-D011-B42D-00C04FC964FF", SQL_GUID},
      // PLP from 7.2 (reported as a WVARCHAR), NTEXT on 7.1.
      {"nvmax", "nvarchar(max)", "N'long'", "long",
       static_cast<SQLSMALLINT>(tds72 ? SQL_WVARCHAR : SQL_WLONGVARCHAR)},
  };
}

class OdbcPeer : public ::testing::TestWithParam<std::string> {
 protected:
  testing_support::TestEngine engine_;
};

TEST_P(OdbcPeer, EveryTypeRoundTripsWithNulls) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  auto cases = TypeCases(GetParam() != "7.1");
  std::string create = "create table peer_types (id int not null", names, values;
  for (const TypeCase& c : cases) {
    create += std::string(", ") + c.name + " " + c.declared;
    names += std::string(names.empty() ? "" : ", ") + c.name;
    values += std::string(values.empty() ? "" : ", ") + c.literal;
  }
  ASSERT_TRUE(Ok(peer.Exec(create + ")")));
  ASSERT_TRUE(SQL_SUCCEEDED(
      peer.Exec("insert into peer_types (id, " + names + ") values (1, " + values + ")")));
  SQLLEN count = 0;
  SQLRowCount(peer.stmt(), &count);
  EXPECT_EQ(count, 1);
  ASSERT_TRUE(SQL_SUCCEEDED(peer.Exec("insert into peer_types (id) values (2)")));
  ASSERT_TRUE(SQL_SUCCEEDED(peer.Exec("select " + names + " from peer_types order by id")));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(peer.ColumnType(static_cast<SQLUSMALLINT>(i + 1)), cases[i].odbc_type)
        << cases[i].declared;
  }
  Rows rows = peer.Fetch();
  ASSERT_EQ(rows.size(), 2u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(rows[0][i], Cell(cases[i].expected)) << cases[i].declared;
    EXPECT_EQ(rows[1][i], Cell()) << cases[i].declared;
  }
}

TEST_P(OdbcPeer, ErrorsPrintAndTwoResultSets) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  for (auto [native, sql] : {std::pair{208, "select * from nosuch"},
                             std::pair{170, "select 1 from sysobjects garbage garbage"},
                             std::pair{2812, "exec no_such_proc"}}) {
    EXPECT_EQ(peer.Exec(sql), SQL_ERROR) << sql;
    auto diagnostics = peer.StatementDiagnostics();
    ASSERT_FALSE(diagnostics.empty()) << sql;
    EXPECT_EQ(diagnostics[0].native, native) << diagnostics[0].text;
  }
  EXPECT_EQ(peer.Exec("print 'hello from print'"), SQL_SUCCESS_WITH_INFO);
  auto printed = peer.StatementDiagnostics();
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed[0].text, "[FreeTDS][SQL Server]hello from print");
  EXPECT_EQ(printed[0].state, "01000");

  ASSERT_TRUE(SQL_SUCCEEDED(peer.Exec("select 1 as a select 'two' as b")));
  EXPECT_EQ(peer.Fetch(), (Rows{{Cell("1")}}));
  ASSERT_EQ(SQLMoreResults(peer.stmt()), SQL_SUCCESS);
  EXPECT_EQ(peer.Fetch(), (Rows{{Cell("two")}}));
  EXPECT_EQ(SQLMoreResults(peer.stmt()), SQL_NO_DATA);
}

// A SELECT that fails while its rows are read: SQLFetch returns the rows sent
// before the error, then SQL_ERROR with it; the next result is still reached.
TEST_P(OdbcPeer, FetchLoopSeesTheRowsBeforeARunTimeError) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  ASSERT_TRUE(
      Ok(peer.Exec("create table divisors (at int, n int) "
                   "insert into divisors values (1, 4) insert into divisors values (2, 2) "
                   "insert into divisors values (3, 0) insert into divisors values (4, 1)")));
  ASSERT_TRUE(SQL_SUCCEEDED(peer.Exec("select 8 / n from divisors select 5")));
  std::vector<std::string> fetched;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(peer.stmt()))) {
    char text[32] = {};
    SQLLEN indicator = 0;
    SQLGetData(peer.stmt(), 1, SQL_C_CHAR, text, sizeof text, &indicator);
    fetched.emplace_back(text);
  }
  EXPECT_EQ(fetched, (std::vector<std::string>{"2", "4"}));
  ASSERT_EQ(rc, SQL_ERROR);
  auto diagnostics = peer.StatementDiagnostics();
  ASSERT_FALSE(diagnostics.empty());
  EXPECT_EQ(diagnostics[0].native, 8134) << diagnostics[0].text;
  EXPECT_EQ(diagnostics[0].state, "22012");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLMoreResults(peer.stmt())));
  EXPECT_EQ(peer.Fetch(), (Rows{{Cell("5")}}));

  // Failing in its first row, the statement gives no row and the error.
  rc = peer.Exec("select 1/0");
  if (SQL_SUCCEEDED(rc)) rc = SQLFetch(peer.stmt());
  ASSERT_EQ(rc, SQL_ERROR);
  diagnostics = peer.StatementDiagnostics();
  ASSERT_FALSE(diagnostics.empty());
  EXPECT_EQ(diagnostics[0].native, 8134) << diagnostics[0].text;
}

TEST_P(OdbcPeer, QueryTimeoutCancelsAndTheConnectionGoesOn) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  SQLSetStmtAttr(peer.stmt(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(peer.Exec("waitfor delay '00:00:20'"), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  auto diagnostics = peer.StatementDiagnostics();
  ASSERT_FALSE(diagnostics.empty());
  EXPECT_EQ(diagnostics[0].state, "HYT00");
  ASSERT_TRUE(SQL_SUCCEEDED(peer.Exec("select 42")));
  EXPECT_EQ(peer.Fetch(), (Rows{{Cell("42")}}));
}

TEST_P(OdbcPeer, TwentyClientsAtOnce) {
  // The driver manager loads and unloads the driver library per connection
  // without a lock: threads that connect while another's last connection
  // closes may find it gone ("Can't open lib"). One connection held
  // throughout keeps it loaded, as an application's own connection does.
  Peer anchor(engine_.Port(), GetParam());
  ASSERT_TRUE(anchor.connected());
  std::vector<std::future<Rows>> clients;
  for (int n = 0; n < 20; ++n) {
    clients.push_back(std::async(std::launch::async, [this, n] {
      Peer peer(engine_.Port(), GetParam());
      if (!peer.connected() || !SQL_SUCCEEDED(peer.Exec("select " + std::to_string(n)))) {
        return Rows{};
      }
      return peer.Fetch();
    }));
  }
  for (int n = 0; n < 20; ++n) EXPECT_EQ(clients[n].get(), (Rows{{Cell(std::to_string(n))}}));
}

// The driver asks for a prepared statement's columns with sp_prepare before
// it runs it, as SQL Server answers with COLMETADATA.
TEST_P(OdbcPeer, PreparedSelectDescribesItsColumnsBeforeItRuns) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  ASSERT_TRUE(Ok(peer.Exec("create table prep (id int, name nvarchar(10))")));
  ASSERT_TRUE(Ok(peer.Exec("insert into prep values (1, N'one')")));
  SQLHSTMT stmt = peer.stmt();
  SQLFreeStmt(stmt, SQL_CLOSE);
  std::string sql = "select id, name from prep where id = ?";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)));
  SQLINTEGER id = 1;
  SQLLEN indicator = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0,
                                             0, &id, 0, &indicator)));
  SQLSMALLINT columns = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)));
  EXPECT_EQ(columns, 2);
  SQLCHAR name[64] = {0};
  SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLDescribeCol(stmt, 2, name, sizeof name, &name_length, &type, &size, &digits, &nullable)));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), "name");
  EXPECT_EQ(type, SQL_WVARCHAR);
  EXPECT_EQ(size, 10u);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt)));
  EXPECT_EQ(peer.Fetch(), (Rows{{Cell("1"), Cell("one")}}));
}

TEST_P(OdbcPeer, SqlTablesListsSystemTables) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  SQLHSTMT stmt = peer.stmt();
  SQLFreeStmt(stmt, SQL_CLOSE);
  std::string pattern = "sys%", type = "SYSTEM TABLE";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLTables(stmt, nullptr, 0, nullptr, 0,
                                      reinterpret_cast<SQLCHAR*>(pattern.data()), SQL_NTS,
                                      reinterpret_cast<SQLCHAR*>(type.data()), SQL_NTS)));
  std::vector<std::string> names;
  for (const auto& row : peer.Fetch()) {
    ASSERT_GE(row.size(), 4u);
    EXPECT_EQ(row[3], Cell("SYSTEM TABLE"));
    names.push_back(row[2].value_or(""));
  }
  // master's own (sysdatabases, sysdevices ...) among every database's.
  EXPECT_EQ(names, (std::vector<std::string>{
                       "sysaltfiles",    "syscharsets",    "syscolumns",    "syscomments",
                       "sysconfigures",  "syscurconfigs",  "sysdatabases",  "sysdepends",
                       "sysdevices",     "sysfiles",       "sysforeignkeys", "sysindexes",
                       "sysindexkeys",   "syslanguages",   "sysmembers",    "sysmessages",
                       "sysobjects",     "syspermissions", "sysprocesses",  "sysprotects",
                       "sysreferences",  "sysservers",     "systypes",      "sysusers"}));
}

// The key and index catalog calls an application makes to find how to
// address a row (Access linking a table, a grid that updates rows).
TEST_P(OdbcPeer, KeyCatalogCallsDescribeKeysAndIndexes) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  ASSERT_TRUE(Ok(
      peer.Exec("create table key_orders (id int primary key, customer varchar(20) not null, "
                "ts timestamp)")));
  ASSERT_TRUE(Ok(peer.Exec("create unique index ix_customer on key_orders (customer desc)")));
  ASSERT_TRUE(Ok(
      peer.Exec("create table key_lines (order_id int not null references key_orders (id) "
                "on delete cascade, n int not null, constraint pk_lines primary key "
                "(order_id, n))")));
  ASSERT_TRUE(Ok(peer.Exec("insert into key_orders (id, customer) values (1, 'a')")));
  SQLHSTMT stmt = peer.stmt();
  auto text = [](std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); };
  std::string orders = "key_orders", lines = "key_lines";

  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLForeignKeys(stmt, nullptr, 0, nullptr, 0, text(orders), SQL_NTS,
                                           nullptr, 0, nullptr, 0, nullptr, 0)));
  auto keys = peer.Fetch();
  ASSERT_EQ(keys.size(), 1u);
  ASSERT_GE(keys[0].size(), 11u);
  EXPECT_EQ(keys[0][2], Cell("key_orders"));
  EXPECT_EQ(keys[0][3], Cell("id"));
  EXPECT_EQ(keys[0][6], Cell("key_lines"));
  EXPECT_EQ(keys[0][7], Cell("order_id"));
  EXPECT_EQ(keys[0][10], Cell("0"));  // DELETE_RULE: SQL_CASCADE

  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLStatistics(stmt, nullptr, 0, nullptr, 0, text(orders), SQL_NTS,
                                          SQL_INDEX_UNIQUE, SQL_QUICK)));
  std::vector<std::string> indexed;
  for (const auto& row : peer.Fetch()) {
    ASSERT_GE(row.size(), 11u);
    if (row[6] == Cell("0")) {
      EXPECT_EQ(row[10], Cell("1"));  // the table's row count
      continue;
    }
    indexed.push_back(row[5].value_or("") + ":" + row[8].value_or("") + ":" + row[9].value_or(""));
  }
  ASSERT_EQ(indexed.size(), 2u);
  EXPECT_TRUE(indexed[0].starts_with("PK__key_order") && indexed[0].ends_with(":id:A")) << indexed[0];
  EXPECT_EQ(indexed[1], "ix_customer:customer:D");

  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, nullptr, 0,
                                              text(lines), SQL_NTS, SQL_SCOPE_CURROW,
                                              SQL_NO_NULLS)));
  std::vector<std::string> row_id;
  for (const auto& row : peer.Fetch()) row_id.push_back(row[1].value_or(""));
  EXPECT_EQ(row_id, (std::vector<std::string>{"order_id", "n"}));

  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSpecialColumns(stmt, SQL_ROWVER, nullptr, 0, nullptr, 0,
                                              text(orders), SQL_NTS, SQL_SCOPE_CURROW,
                                              SQL_NO_NULLS)));
  std::vector<std::string> versions;
  for (const auto& row : peer.Fetch()) versions.push_back(row[1].value_or(""));
  EXPECT_EQ(versions, (std::vector<std::string>{"ts"}));
}

// The privilege catalog calls a tool makes to show who may do what with a
// table: the owner's own privileges, then each grant.
TEST_P(OdbcPeer, PrivilegeCatalogCallsListOwnerAndGrants) {
  Peer peer(engine_.Port(), GetParam());
  ASSERT_TRUE(peer.connected());
  std::string table = "priv_items_" + std::string(GetParam() == "7.4" ? "74" : "71");
  ASSERT_TRUE(Ok(peer.Exec("create table " + table + " (id int, note varchar(10))")));
  ASSERT_TRUE(Ok(peer.Exec("grant select on " + table + " to public")));
  ASSERT_TRUE(Ok(peer.Exec("grant update (note) on " + table + " to public")));
  SQLHSTMT stmt = peer.stmt();
  auto text = [](std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); };

  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLTablePrivileges(stmt, nullptr, 0, nullptr, 0, text(table), SQL_NTS)));
  std::vector<std::string> on_table;
  for (const auto& row : peer.Fetch()) {
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[2], Cell(table));
    on_table.push_back(row[4].value_or("") + ":" + row[5].value_or("") + ":" +
                       row[6].value_or(""));
  }
  EXPECT_EQ(on_table, (std::vector<std::string>{"dbo:DELETE:YES", "dbo:INSERT:YES",
                                                "dbo:REFERENCES:YES", "dbo:SELECT:YES",
                                                "public:SELECT:NO", "dbo:UPDATE:YES"}));

  std::string column = "note";
  SQLFreeStmt(stmt, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLColumnPrivileges(stmt, nullptr, 0, nullptr, 0, text(table),
                                                SQL_NTS, text(column), SQL_NTS)));
  std::vector<std::string> on_column;
  for (const auto& row : peer.Fetch()) {
    ASSERT_EQ(row.size(), 8u);
    EXPECT_EQ(row[3], Cell("note"));
    on_column.push_back(row[5].value_or("") + ":" + row[6].value_or("") + ":" +
                        row[7].value_or(""));
  }
  EXPECT_EQ(on_column, (std::vector<std::string>{"dbo:INSERT:YES", "dbo:REFERENCES:YES",
                                                 "dbo:SELECT:YES", "public:SELECT:NO",
                                                 "dbo:UPDATE:YES", "public:UPDATE:NO"}));
}

INSTANTIATE_TEST_SUITE_P(Versions, OdbcPeer, ::testing::Values("7.4", "7.1"),
                         [](const auto& info) { return info.param == "7.4" ? "Tds74" : "Tds71"; });

}  // namespace
}  // namespace sqlengine::testing
