// The client half of the statement-cost benchmark: sends small statements to
// sqlengine (unixODBC + FreeTDS) or PostgreSQL (libpq) and reads every
// result, so that the server's CPU time per statement can be measured from
// outside. Exits non-zero after the first failed statement.
//
//   statement_cost engine-batch PORT FILE
//       sends FILE's text to sqlengine (database bench) as one batch
//   statement_cost engine-rpc PORT KIND COUNT
//       COUNT calls of one parameterised statement (FreeTDS sends each as an
//       RPC: sp_execute / sp_executesql, a procedure by name), all in one
//       transaction
//   statement_cost pg-prepared CONNINFO KIND COUNT
//       the same through one prepared statement (extended protocol)
//
// KIND: select | update | insert | procedure. The account of call n is
// n * 7919 % 1000 + 1, as in the batch files the script writes.
#include <libpq-fe.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "statement_cost: %s\n", what.c_str());
  std::exit(1);
}

int Account(int n) { return n * 7919 % 1000 + 1; }

// The parameterised form of each kind, in ODBC's and PostgreSQL's notation.
std::string OdbcText(const std::string& kind) {
  if (kind == "select") return "SELECT balance FROM accounts WHERE id = ?";
  if (kind == "update") return "UPDATE accounts SET balance = balance + 1 WHERE id = ?";
  if (kind == "insert") return "INSERT INTO history (account, delta) VALUES (?, 1)";
  if (kind == "procedure") return "{call move(?)}";
  Fail("unknown kind " + kind);
}

std::string PostgresText(const std::string& kind) {
  if (kind == "select") return "SELECT balance FROM accounts WHERE id = $1";
  if (kind == "update") return "UPDATE accounts SET balance = balance + 1 WHERE id = $1";
  if (kind == "insert") return "INSERT INTO history (account, delta) VALUES ($1, 1)";
  if (kind == "procedure") return "SELECT move($1)";
  Fail("unknown kind " + kind);
}

class Odbc {
 public:
  explicit Odbc(const std::string& port) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + port +
                       ";UID=sa;PWD=;Database=bench;TDS_Version=7.4";
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
      Fail("cannot connect to port " + port);
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
  }
  ~Odbc() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  void Run(const std::string& sql) {
    Check(SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                        static_cast<SQLINTEGER>(sql.size())));
    Drain();
  }

  void Prepare(const std::string& sql) {
    Check(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS));
    Check(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &parameter_,
                           0, nullptr));
  }

  void Execute(int parameter) {
    parameter_ = parameter;
    Check(SQLExecute(stmt_));
    Drain();
  }

 private:
  // Reads every row of every result, then closes the cursor.
  void Drain() {
    SQLRETURN rc = SQL_SUCCESS;
    do {
      SQLSMALLINT columns = 0;
      if (SQLNumResultCols(stmt_, &columns) == SQL_SUCCESS && columns > 0) {
        while (SQL_SUCCEEDED(rc = SQLFetch(stmt_))) {
        }
        if (rc == SQL_ERROR) Check(rc);
      }
      rc = SQLMoreResults(stmt_);
      if (rc == SQL_ERROR) Check(rc);
    } while (rc != SQL_NO_DATA);
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }

  void Check(SQLRETURN rc) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, text, sizeof text, &length);
    Fail("sqlengine: " + std::to_string(native) + " " + reinterpret_cast<char*>(text));
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  SQLINTEGER parameter_ = 0;
};

void PostgresPrepared(const std::string& conninfo, const std::string& kind, int count) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) Fail(std::string("PostgreSQL: ") + PQerrorMessage(conn));
  auto run = [&](PGresult* result) {
    ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
      Fail(std::string("PostgreSQL: ") + PQresultErrorMessage(result));
    PQclear(result);
  };
  run(PQexec(conn, "BEGIN"));
  run(PQprepare(conn, "cost", PostgresText(kind).c_str(), 1, nullptr));
  for (int n = 0; n < count; ++n) {
    std::string account = std::to_string(Account(n));
    const char* values[] = {account.c_str()};
    run(PQexecPrepared(conn, "cost", 1, values, nullptr, nullptr, 0));
  }
  run(PQexec(conn, "COMMIT"));
  PQfinish(conn);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "engine-batch" && argc == 4) {
    std::ifstream file(argv[3]);
    std::stringstream text;
    text << file.rdbuf();
    Odbc(argv[2]).Run(text.str());
  } else if (mode == "engine-rpc" && argc == 5) {
    Odbc odbc(argv[2]);
    int count = std::atoi(argv[4]);
    odbc.Run("BEGIN TRAN");
    odbc.Prepare(OdbcText(argv[3]));
    for (int n = 0; n < count; ++n) odbc.Execute(Account(n));
    odbc.Run("COMMIT TRAN");
  } else if (mode == "pg-prepared" && argc == 5) {
    PostgresPrepared(argv[2], argv[3], std::atoi(argv[4]));
  } else {
    std::fprintf(stderr,
                 "usage: statement_cost engine-batch PORT FILE\n"
                 "       statement_cost engine-rpc PORT KIND COUNT\n"
                 "       statement_cost pg-prepared CONNINFO KIND COUNT\n");
    return 2;
  }
  return 0;
}
