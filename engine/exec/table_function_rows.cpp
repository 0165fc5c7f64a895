#include "engine/exec/table_function_rows.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {

void AppendJsonString(std::string& out, const unsigned char* text, int size) {
  out += '"';
  for (int k = 0; k < size; ++k) {
    unsigned char c = text[k];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

namespace {

void AppendValue(std::string& out, sqlite3_stmt* query, int column) {
  switch (sqlite3_column_type(query, column)) {
    case SQLITE_INTEGER:
      out += std::to_string(sqlite3_column_int64(query, column));
      return;
    case SQLITE_FLOAT: {
      char number[32];
      std::snprintf(number, sizeof number, "%.17g", sqlite3_column_double(query, column));
      out += number;
      return;
    }
    case SQLITE_TEXT:
      AppendJsonString(out, sqlite3_column_text(query, column),
                       sqlite3_column_bytes(query, column));
      return;
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(query, column));
      int size = sqlite3_column_bytes(query, column);
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += '"';
      for (int k = 0; k < size; ++k) {
        out += kDigits[bytes[k] >> 4];
        out += kDigits[bytes[k] & 0x0F];
      }
      out += '"';
      return;
    }
    default:
      out += "null";
  }
}

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void TableBlob(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) != SQLITE_TEXT) {
    sqlite3_result_value(context, args[0]);
    return;
  }
  const unsigned char* text = sqlite3_value_text(args[0]);
  int size = sqlite3_value_bytes(args[0]);
  std::vector<unsigned char> bytes;
  for (int k = 0; k + 1 < size; k += 2) {
    int high = HexDigit(text[k]), low = HexDigit(text[k + 1]);
    if (high < 0 || low < 0)
      return sqlite3_result_error(context, "sqlengine_table_blob: no hex", -1);
    bytes.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void CallTableFunctionAs(sqlite3_context* context, int count, sqlite3_value** args,
                         const char* what) {
  CallNamedFunction(context, count, args, what,
                    [&](FunctionHost& host, const std::vector<std::string>& name,
                        const std::vector<Value>& arguments) {
                      SqliteResultText(context, host.CallTableFunction(name, arguments));
                    });
}

void CallTableFunction(sqlite3_context* context, int count, sqlite3_value** args) {
  CallTableFunctionAs(context, count, args, "sqlengine_table_function");
}

void CallTableFunctionIn(sqlite3_context* context, int count, sqlite3_value** args) {
  CallTableFunctionAs(context, count, args, "sqlengine_table_function_in");
}

void CallTableFunctionOf(sqlite3_context* context, int count, sqlite3_value** args) {
  CallTableFunctionAs(context, count, args, "sqlengine_table_function_of");
}

}  // namespace

std::string RowsAsJson(sqlite3_stmt* query) {
  std::string out = "[";
  int rc;
  while ((rc = sqlite3_step(query)) == SQLITE_ROW) {
    if (out.size() > 1) out += ',';
    out += '[';
    for (int column = 0; column < sqlite3_column_count(query); ++column) {
      if (column > 0) out += ',';
      AppendValue(out, query, column);
    }
    out += ']';
  }
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(query)));
  return out + "]";
}

void RegisterTableFunctionCalls(sqlite3* db, FunctionHost& host) {
  if (sqlite3_create_function_v2(db, "sqlengine_table_function", -1, SQLITE_UTF8, &host,
                                 CallTableFunction, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_table_function_in", -1, SQLITE_UTF8, &host,
                                 CallTableFunctionIn, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_table_function_of", -1, SQLITE_UTF8, &host,
                                 CallTableFunctionOf, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_table_blob", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, TableBlob, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register the table function calls");
}

}  // namespace sqlengine::exec
