// Server cursors through the FreeTDS ODBC driver: keyset, dynamic and static
// cursors scrolled with SQLFetchScroll, what each sees of a second
// connection's changes, rows changed and deleted with SQLSetPos and checked
// from a second connection, read-only cursors and a login's permissions; and pytds calling the
// procedures by name with their raw parameters (pytds_cursor_peer.py); each at TDS 7.4 and 7.1.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/tests/server/run_command.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

struct Natives {
  std::vector<int> numbers;
  std::string text;
  bool Has(int number) const {
    for (int n : numbers) {
      if (n == number) return true;
    }
    return false;
  }
};

Natives StatementMessages(SQLHSTMT stmt) {
  Natives out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {0}, text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, state, &native, text, sizeof text, &length)))
      return out;
    out.numbers.push_back(static_cast<int>(native));
    out.text += reinterpret_cast<char*>(text) + std::string("\n");
  }
}

// One connection with a statement handle whose two columns (id int,
// name varchar(20)) are bound for a rowset of up to four rows.
class CursorClient {
 public:
  CursorClient(int port, const std::string& version, const std::string& user = "sa",
               const std::string& password = "") {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                       ";UID=" + user + ";PWD=" + password +
                       ";Database=shop;ClientCharset=UTF-8;TDS_Version=" + version;
    connected_ =
        SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (connected_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
  }
  ~CursorClient() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool connected() const { return connected_; }
  SQLHSTMT stmt() const { return stmt_; }

  // Opens a server cursor of `type` with `concurrency` on `sql`, fetching
  // `rowset` rows at a time.
  SQLRETURN Open(SQLULEN type, SQLULEN concurrency, const std::string& sql, SQLULEN rowset = 1) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(type), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(concurrency), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
    SQLBindCol(stmt_, 1, SQL_C_LONG, ids_, 0, id_lengths_);
    SQLBindCol(stmt_, 2, SQL_C_CHAR, names_, sizeof names_[0], name_lengths_);
    return SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                         SQL_NTS);
  }

  // The ids of the rowset a scroll fetched (kMissing for a row whose values
  // came back NULL: a keyset member deleted since); empty at either end.
  static constexpr int kMissing = -1;
  std::vector<int> Scroll(SQLSMALLINT orientation, SQLLEN offset = 0) {
    fetched_ = 0;
    SQLRETURN rc = SQLFetchScroll(stmt_, orientation, offset);
    if (!SQL_SUCCEEDED(rc)) {
      EXPECT_EQ(rc, SQL_NO_DATA) << StatementMessages(stmt_).text;
      return {};
    }
    std::vector<int> ids;
    for (SQLULEN k = 0; k < fetched_; ++k)
      ids.push_back(id_lengths_[k] == SQL_NULL_DATA ? kMissing : ids_[k]);
    return ids;
  }

  std::string Name(int row) const {
    return std::string(names_[row], static_cast<std::size_t>(name_lengths_[row]));
  }
  void SetName(int row, const std::string& name) {
    std::snprintf(names_[row], sizeof names_[row], "%s", name.c_str());
    name_lengths_[row] = SQL_NTS;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
  SQLULEN fetched_ = 0;
  SQLINTEGER ids_[4] = {};
  SQLLEN id_lengths_[4] = {};
  char names_[4][21] = {};
  SQLLEN name_lengths_[4] = {};
};

struct CursorCase {
  SQLULEN type;
  const char* name;
};

class CursorPeer : public ::testing::TestWithParam<std::tuple<CursorCase, std::string>> {
 protected:
  void SetUp() override {
    OdbcClient admin(engine_.Port(), "sa", "");
    BatchOutcome setup = admin.Execute(
        "CREATE DATABASE shop\n"
        "USE shop\n"
        "CREATE TABLE items (id int PRIMARY KEY, name varchar(20))\n"
        "INSERT INTO items VALUES (1, 'one')\n"
        "INSERT INTO items VALUES (2, 'two')\n"
        "INSERT INTO items VALUES (3, 'three')\n"
        "INSERT INTO items VALUES (4, 'four')\n"
        "INSERT INTO items VALUES (5, 'five')\n");
    ASSERT_FALSE(setup.failed) << setup.Describe();
  }
  SQLULEN Type() const { return std::get<0>(GetParam()).type; }
  const std::string& Version() const { return std::get<1>(GetParam()); }
  // What another connection reads from the table.
  std::vector<std::string> Committed() {
    OdbcClient other(engine_.Port(), "sa", "", "shop");
    BatchOutcome read = other.Execute("SELECT id, name FROM items ORDER BY id");
    std::vector<std::string> rows;
    if (read.results.empty()) return rows;
    for (const auto& row : read.results[0].rows)
      rows.push_back(*row[0] + ":" + row[1].value_or("NULL"));
    return rows;
  }

  testing_support::TestEngine engine_;
};

TEST_P(CursorPeer, ScrollsEveryWay) {
  CursorClient client(engine_.Port(), Version());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(SQL_SUCCEEDED(
      client.Open(Type(), SQL_CONCUR_READ_ONLY, "SELECT id, name FROM items ORDER BY id")))
      << StatementMessages(client.stmt()).text;
  EXPECT_EQ(client.Scroll(SQL_FETCH_FIRST), std::vector<int>{1});
  EXPECT_EQ(client.Name(0), "one");
  EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{2});
  EXPECT_EQ(client.Scroll(SQL_FETCH_LAST), std::vector<int>{5});
  EXPECT_EQ(client.Name(0), "five");
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), std::vector<int>{4});
  EXPECT_EQ(client.Scroll(SQL_FETCH_ABSOLUTE, 3), std::vector<int>{3});
  EXPECT_EQ(client.Scroll(SQL_FETCH_RELATIVE, -2), std::vector<int>{1});
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), std::vector<int>{});
  EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{1});
  // On a dynamic cursor the driver sends ABSOLUTE n as FIRST (no rows) and
  // RELATIVE n, which counts from before the first row, as SQL Server does.
  EXPECT_EQ(client.Scroll(SQL_FETCH_ABSOLUTE, -2),
            Type() == SQL_CURSOR_DYNAMIC ? std::vector<int>{} : std::vector<int>{4});
  EXPECT_EQ(client.Scroll(SQL_FETCH_ABSOLUTE, 9), std::vector<int>{});
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), std::vector<int>{5});
}

TEST_P(CursorPeer, FetchesRowsetsOfSeveralRows) {
  CursorClient client(engine_.Port(), Version());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(SQL_SUCCEEDED(client.Open(Type(), SQL_CONCUR_READ_ONLY,
                                        "SELECT id, name FROM items WHERE id > 1 ORDER BY id", 3)))
      << StatementMessages(client.stmt()).text;
  EXPECT_EQ(client.Scroll(SQL_FETCH_FIRST), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(client.Name(2), "four");
  EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{5});
  EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{});
  EXPECT_EQ(client.Scroll(SQL_FETCH_LAST), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), (std::vector<int>{2, 3, 4}));
}

TEST_P(CursorPeer, SetPosUpdatesAndDeletesTheRowsItFetched) {
  CursorClient client(engine_.Port(), Version());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(SQL_SUCCEEDED(
      client.Open(Type(), SQL_CONCUR_VALUES, "SELECT id, name FROM items ORDER BY id", 2)))
      << StatementMessages(client.stmt()).text;
  ASSERT_EQ(client.Scroll(SQL_FETCH_ABSOLUTE, 2), (std::vector<int>{2, 3}));
  client.SetName(1, "THREE");
  if (Type() == SQL_CURSOR_STATIC) {
    // Static cursors are read-only whatever concurrency is asked for.
    EXPECT_EQ(SQLSetPos(client.stmt(), 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_TRUE(StatementMessages(client.stmt()).Has(16929));
    EXPECT_EQ(Committed()[2], "3:three");
    return;
  }
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetPos(client.stmt(), 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE)))
      << StatementMessages(client.stmt()).text;
  EXPECT_EQ(Committed(),
            (std::vector<std::string>{"1:one", "2:two", "3:THREE", "4:four", "5:five"}));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetPos(client.stmt(), 1, SQL_DELETE, SQL_LOCK_NO_CHANGE)))
      << StatementMessages(client.stmt()).text;
  EXPECT_EQ(Committed(), (std::vector<std::string>{"1:one", "3:THREE", "4:four", "5:five"}));
  // The cursor reads its own change. A dynamic cursor no longer has the
  // deleted row; a keyset cursor keeps its place, its values NULL.
  if (Type() == SQL_CURSOR_KEYSET_DRIVEN) {
    EXPECT_EQ(client.Scroll(SQL_FETCH_FIRST), (std::vector<int>{1, CursorClient::kMissing}));
    EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), (std::vector<int>{3, 4}));
    EXPECT_EQ(client.Name(0), "THREE");
    ASSERT_EQ(client.Scroll(SQL_FETCH_FIRST), (std::vector<int>{1, CursorClient::kMissing}));
  } else {
    EXPECT_EQ(client.Scroll(SQL_FETCH_FIRST), (std::vector<int>{1, 3}));
    EXPECT_EQ(client.Name(1), "THREE");
  }

  // A row changed behind the cursor's back is not overwritten.
  OdbcClient other(engine_.Port(), "sa", "", "shop");
  ASSERT_FALSE(other.Execute("UPDATE items SET name = 'one!' WHERE id = 1").failed);
  client.SetName(0, "mine");
  EXPECT_EQ(SQLSetPos(client.stmt(), 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_TRUE(StatementMessages(client.stmt()).Has(16934)) << StatementMessages(client.stmt()).text;
  EXPECT_EQ(Committed().front(), "1:one!");
}

TEST_P(CursorPeer, SeesWhatOtherConnectionsChangeAsItsTypeDoes) {
  CursorClient client(engine_.Port(), Version());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(
      SQL_SUCCEEDED(client.Open(Type(), SQL_CONCUR_VALUES, "SELECT id, name FROM items", 2)))
      << StatementMessages(client.stmt()).text;
  ASSERT_EQ(client.Scroll(SQL_FETCH_FIRST), (std::vector<int>{1, 2}));

  OdbcClient other(engine_.Port(), "sa", "", "shop");
  BatchOutcome changes = other.Execute(
      "UPDATE items SET name = 'FOUR' WHERE id = 4\n"
      "DELETE FROM items WHERE id = 3\n"
      "INSERT INTO items VALUES (6, 'six')\n");
  ASSERT_FALSE(changes.failed) << changes.Describe();

  std::vector<int> next = client.Scroll(SQL_FETCH_NEXT);
  if (Type() == SQL_CURSOR_STATIC) {
    // The rows as they were at the open.
    EXPECT_EQ(next, (std::vector<int>{3, 4}));
    EXPECT_EQ(client.Name(1), "four");
    EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{5});
    return;
  }
  if (Type() == SQL_CURSOR_KEYSET_DRIVEN) {
    // The members fixed at the open, each with its current values; the
    // deleted one missing, the inserted one no member.
    EXPECT_EQ(next, (std::vector<int>{CursorClient::kMissing, 4}));
    EXPECT_EQ(client.Name(1), "FOUR");
    EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{5});
    EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{});
    return;
  }
  // Dynamic: the rows there are now, from where the cursor stands.
  EXPECT_EQ(next, (std::vector<int>{4, 5}));
  EXPECT_EQ(client.Name(0), "FOUR");
  EXPECT_EQ(client.Scroll(SQL_FETCH_NEXT), std::vector<int>{6});
  ASSERT_FALSE(other.Execute("INSERT INTO items VALUES (3, 'back')").failed);
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), (std::vector<int>{4, 5}));
  EXPECT_EQ(client.Scroll(SQL_FETCH_PRIOR), (std::vector<int>{2, 3}));
  EXPECT_EQ(client.Name(1), "back");
}

TEST_P(CursorPeer, ReadOnlyCursorsRefuseChanges) {
  CursorClient client(engine_.Port(), Version());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(SQL_SUCCEEDED(
      client.Open(Type(), SQL_CONCUR_READ_ONLY, "SELECT id, name FROM items ORDER BY id")));
  ASSERT_EQ(client.Scroll(SQL_FETCH_FIRST), std::vector<int>{1});
  client.SetName(0, "changed");
  EXPECT_EQ(SQLSetPos(client.stmt(), 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_TRUE(StatementMessages(client.stmt()).Has(16929)) << StatementMessages(client.stmt()).text;
  EXPECT_EQ(Committed().front(), "1:one");
  // The session goes on: the same statement opens a new cursor.
  ASSERT_TRUE(SQL_SUCCEEDED(
      client.Open(Type(), SQL_CONCUR_READ_ONLY, "SELECT id, name FROM items ORDER BY id")));
  EXPECT_EQ(client.Scroll(SQL_FETCH_LAST), std::vector<int>{5});
}

TEST_P(CursorPeer, CursorsReadAndChangeOnlyWhatTheLoginMay) {
  OdbcClient admin(engine_.Port(), "sa", "", "shop");
  BatchOutcome grants = admin.Execute(
      "CREATE LOGIN reader WITH PASSWORD = 'Reader1'\n"
      "EXEC sp_grantdbaccess 'reader'\n"
      "CREATE TABLE secrets (id int PRIMARY KEY, name varchar(20))\n"
      "INSERT INTO secrets VALUES (1, 'hidden')\n"
      "GRANT SELECT ON items TO reader\n");
  ASSERT_FALSE(grants.failed) << grants.Describe();
  CursorClient client(engine_.Port(), Version(), "reader", "Reader1");
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.Open(Type(), SQL_CONCUR_VALUES, "SELECT id, name FROM secrets"), SQL_ERROR);
  EXPECT_TRUE(StatementMessages(client.stmt()).Has(229)) << StatementMessages(client.stmt()).text;
  if (Type() == SQL_CURSOR_STATIC) return;
  ASSERT_TRUE(SQL_SUCCEEDED(
      client.Open(Type(), SQL_CONCUR_VALUES, "SELECT id, name FROM items ORDER BY id")))
      << StatementMessages(client.stmt()).text;
  ASSERT_EQ(client.Scroll(SQL_FETCH_FIRST), std::vector<int>{1});
  client.SetName(0, "stolen");
  EXPECT_EQ(SQLSetPos(client.stmt(), 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_TRUE(StatementMessages(client.stmt()).Has(229)) << StatementMessages(client.stmt()).text;
  EXPECT_EQ(SQLSetPos(client.stmt(), 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(Committed().front(), "1:one");
}

INSTANTIATE_TEST_SUITE_P(
    Types, CursorPeer,
    ::testing::Combine(::testing::Values(CursorCase{SQL_CURSOR_KEYSET_DRIVEN, "Keyset"},
                                         CursorCase{SQL_CURSOR_DYNAMIC, "Dynamic"},
                                         CursorCase{SQL_CURSOR_STATIC, "Static"}),
                       ::testing::Values("7.4", "7.1")),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == "7.4" ? "Tds74" : "Tds71");
    });

class PytdsCursorPeer : public ::testing::TestWithParam<std::string> {
 protected:
  testing_support::TestEngine engine_;
};

TEST_P(PytdsCursorPeer, RawParameters) {
  CommandOutcome run =
      RunCommand("/usr/bin/python3 " + std::string(PEER_SCRIPT_DIR) + "/pytds_cursor_peer.py " +
                 std::to_string(engine_.Port()) + " " + GetParam());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ok   the session still answers"), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Versions, PytdsCursorPeer, ::testing::Values("7.4", "7.1"),
                         [](const auto& info) { return info.param == "7.4" ? "Tds74" : "Tds71"; });

}  // namespace
}  // namespace sqlengine::testing
