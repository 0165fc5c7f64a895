// A lean TDS client for the benchmark: runs one query through unixODBC and the
// FreeTDS driver and prints every row as tab-separated text. Rows arrive in
// blocks into column arrays bound in their native C types (integers, doubles,
// timestamps, UTF-16 text), and are formatted here, so the client's share of
// the time is the wire and the driver, not text conversion inside the driver.
// It asks for the largest packet size TDS allows (32767), as bulk readers do.
//
// usage: odbc_select PORT QUERY
// NULL prints as an empty field; doubles print in their shortest exact form,
// timestamps as YYYY-MM-DD HH:MM:SS.mmm. Exits 1 with the driver's
// diagnostics on failure.
#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr SQLULEN kBlockRows = 1024;
constexpr SQLLEN kTextUnits = 4001;  // longest text column read in full, in UTF-16 units

[[noreturn]] void Fail(SQLSMALLINT handle_type, SQLHANDLE handle, const char* what) {
  SQLCHAR state[6], text[512];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  std::fprintf(stderr, "odbc_select: %s failed\n", what);
  for (SQLSMALLINT i = 1; SQLGetDiagRec(handle_type, handle, i, state, &native, text, sizeof text,
                                        &length) == SQL_SUCCESS;
       ++i) {
    std::fprintf(stderr, "  [%s] %ld %s\n", state, static_cast<long>(native), text);
  }
  std::exit(1);
}

enum class Kind { kInteger, kDouble, kTimestamp, kText };

struct BoundColumn {
  Kind kind;
  SQLLEN width;  // bytes per row
  std::vector<unsigned char> data;
  std::vector<SQLLEN> lengths;
};

Kind KindOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_BIT:
      return Kind::kInteger;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Kind::kDouble;
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
      return Kind::kTimestamp;
    default:
      return Kind::kText;
  }
}

void AppendDigits(std::string& out, unsigned value, int digits) {
  char buffer[8];
  for (int i = digits - 1; i >= 0; --i) {
    buffer[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(buffer, static_cast<std::size_t>(digits));
}

void AppendUtf8(std::string& out, const SQLWCHAR* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

void AppendValue(std::string& out, const BoundColumn& column, SQLULEN row) {
  if (column.lengths[row] == SQL_NULL_DATA) return;
  const unsigned char* at = column.data.data() + row * static_cast<SQLULEN>(column.width);
  char buffer[64];
  switch (column.kind) {
    case Kind::kInteger: {
      auto result =
          std::to_chars(buffer, buffer + sizeof buffer, *reinterpret_cast<const SQLBIGINT*>(at));
      out.append(buffer, result.ptr);
      return;
    }
    case Kind::kDouble: {
      auto result =
          std::to_chars(buffer, buffer + sizeof buffer, *reinterpret_cast<const double*>(at));
      out.append(buffer, result.ptr);
      return;
    }
    case Kind::kTimestamp: {
      const auto& t = *reinterpret_cast<const SQL_TIMESTAMP_STRUCT*>(at);
      AppendDigits(out, static_cast<unsigned>(t.year), 4);
      out.push_back('-');
      AppendDigits(out, t.month, 2);
      out.push_back('-');
      AppendDigits(out, t.day, 2);
      out.push_back(' ');
      AppendDigits(out, t.hour, 2);
      out.push_back(':');
      AppendDigits(out, t.minute, 2);
      out.push_back(':');
      AppendDigits(out, t.second, 2);
      out.push_back('.');
      AppendDigits(out, static_cast<unsigned>(t.fraction / 1000000), 3);
      return;
    }
    case Kind::kText: {
      SQLLEN bytes = std::min(column.lengths[row], column.width - 2);
      AppendUtf8(out, reinterpret_cast<const SQLWCHAR*>(at),
                 static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR));
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: odbc_select PORT QUERY\n");
    return 2;
  }
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string connection = std::string("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=") + argv[1] +
                           ";UID=sa;PWD=;TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=32767";
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()),
                                      SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
    Fail(SQL_HANDLE_DBC, dbc, "connect");
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlockRows), 0);
  SQLULEN fetched = 0;
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS)))
    Fail(SQL_HANDLE_STMT, stmt, "query");
  SQLSMALLINT count = 0;
  SQLNumResultCols(stmt, &count);
  std::vector<BoundColumn> columns(static_cast<std::size_t>(count));
  for (SQLSMALLINT c = 0; c < count; ++c) {
    SQLSMALLINT sql_type = 0, scale = 0, nullable = 0, name_length = 0;
    SQLULEN size = 0;
    SQLCHAR name[256];
    SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c + 1), name, sizeof name, &name_length,
                   &sql_type, &size, &scale, &nullable);
    BoundColumn& column = columns[static_cast<std::size_t>(c)];
    column.kind = KindOf(sql_type);
    SQLSMALLINT c_type = SQL_C_WCHAR;
    switch (column.kind) {
      case Kind::kInteger:
        c_type = SQL_C_SBIGINT;
        column.width = sizeof(SQLBIGINT);
        break;
      case Kind::kDouble:
        c_type = SQL_C_DOUBLE;
        column.width = sizeof(double);
        break;
      case Kind::kTimestamp:
        c_type = SQL_C_TYPE_TIMESTAMP;
        column.width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      case Kind::kText:
        column.width = kTextUnits * static_cast<SQLLEN>(sizeof(SQLWCHAR));
        break;
    }
    column.data.resize(kBlockRows * static_cast<SQLULEN>(column.width));
    column.lengths.resize(kBlockRows);
    SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), c_type, column.data.data(), column.width,
               column.lengths.data());
  }
  std::string out;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
    out.clear();
    for (SQLULEN r = 0; r < fetched; ++r) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) out.push_back('\t');
        AppendValue(out, columns[c], r);
      }
      out.push_back('\n');
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  if (rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, stmt, "fetch");
  std::fflush(stdout);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
