// The load half of the mixed-load benchmark: CLIENTS connections through
// unixODBC and the FreeTDS driver, each running operations drawn at random
// for SECONDS seconds, as pgbench runs the same mix against PostgreSQL:
//   50 % point read     SELECT balance FROM accounts WHERE id = ?
//   20 % update         UPDATE accounts SET balance = balance + 1 WHERE id = ?
//   20 % insert         INSERT INTO history (account, delta) VALUES (?, 1)
//   10 % transaction    BEGIN TRAN / SELECT / UPDATE / INSERT / COMMIT TRAN,
//                       each statement its own round trip
// One operation is one statement or one whole transaction. Prints one line:
//   operations=N seconds=S p50_ms=X p99_ms=Y errors=E [number=count ...]
// where the error list counts failed operations by the server's message
// number (a transaction that fails is rolled back and counted once).
//
// The tables (database bench: accounts(id, balance), history(id identity,
// account, delta)) are made by the calling script.
//
// usage: mixed_load PORT ACCOUNTS CLIENTS SECONDS
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One ODBC connection with one statement handle.
class Connection {
 public:
  explicit Connection(int port) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                       ";UID=sa;PWD=;Database=bench;TDS_Version=7.4";
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
      std::fprintf(stderr, "mixed_load: cannot connect to port %d\n", port);
      std::exit(1);
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
  }
  ~Connection() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one batch, reads every result; returns 0 or the first error's number.
  int Run(const std::string& sql) {
    int error = 0;
    SQLRETURN rc =
        SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    while (rc != SQL_NO_DATA) {
      if (rc == SQL_ERROR && error == 0) error = FirstError();
      if (rc == SQL_ERROR && error == 0) error = -1;
      SQLSMALLINT columns = 0;
      if (SQL_SUCCEEDED(rc) && SQLNumResultCols(stmt_, &columns) == SQL_SUCCESS && columns > 0) {
        while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
        }
      }
      rc = SQLMoreResults(stmt_);
      if (rc == SQL_ERROR && error == 0) error = FirstError();
      if (rc == SQL_ERROR) break;
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return error;
  }

 private:
  int FirstError() {
    SQLCHAR state[6], text[512];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, text, sizeof text, &length) ==
        SQL_SUCCESS) {
      return native != 0 ? static_cast<int>(native) : -1;
    }
    return -1;
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

struct Tally {
  std::vector<double> latencies_ms;
  std::map<int, long> errors;
};

Tally Client(int port, int accounts, Clock::time_point end, unsigned seed) {
  Connection connection(port);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> account(1, accounts);
  std::uniform_int_distribution<int> kind(0, 99);
  Tally tally;
  while (Clock::now() < end) {
    std::string id = std::to_string(account(random));
    int draw = kind(random);
    auto started = Clock::now();
    int error = 0;
    if (draw < 50) {
      error = connection.Run("SELECT balance FROM accounts WHERE id = " + id);
    } else if (draw < 70) {
      error = connection.Run("UPDATE accounts SET balance = balance + 1 WHERE id = " + id);
    } else if (draw < 90) {
      error = connection.Run("INSERT INTO history (account, delta) VALUES (" + id + ", 1)");
    } else {
      const std::string steps[] = {"BEGIN TRAN", "SELECT balance FROM accounts WHERE id = " + id,
                                   "UPDATE accounts SET balance = balance - 1 WHERE id = " + id,
                                   "INSERT INTO history (account, delta) VALUES (" + id + ", -1)",
                                   "COMMIT TRAN"};
      for (const std::string& step : steps) {
        error = connection.Run(step);
        if (error != 0) break;
      }
      if (error != 0) connection.Run("IF @@TRANCOUNT > 0 ROLLBACK TRAN");
    }
    tally.latencies_ms.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    if (error != 0) ++tally.errors[error];
  }
  return tally;
}

double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: mixed_load PORT ACCOUNTS CLIENTS SECONDS\n");
    return 2;
  }
  int port = std::atoi(argv[1]);
  int accounts = std::atoi(argv[2]);
  int clients = std::atoi(argv[3]);
  int seconds = std::atoi(argv[4]);
  auto end = Clock::now() + std::chrono::seconds(seconds);
  auto started = Clock::now();
  std::vector<Tally> tallies(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      tallies[static_cast<size_t>(c)] = Client(port, accounts, end, static_cast<unsigned>(c + 1));
    });
  }
  for (std::thread& thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  std::vector<double> all;
  std::map<int, long> errors;
  long failed = 0;
  for (Tally& tally : tallies) {
    all.insert(all.end(), tally.latencies_ms.begin(), tally.latencies_ms.end());
    for (const auto& [number, count] : tally.errors) {
      errors[number] += count;
      failed += count;
    }
  }
  std::printf("operations=%zu seconds=%.2f p50_ms=%.3f p99_ms=%.3f errors=%ld", all.size(), elapsed,
              Percentile(all, 0.50), Percentile(all, 0.99), failed);
  for (const auto& [number, count] : errors) std::printf(" %d=%ld", number, count);
  std::printf("\n");
  return 0;
}
