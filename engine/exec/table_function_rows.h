#pragma once
// The rows of a multi-statement table-valued function travel from the run of
// its body to the statement that reads it as one JSON text: an array of rows,
// each an array of the values as SQLite stores them (integers and reals
// exactly, text as strings, binary data as a string of hexadecimal digits).
// The generated SQL reads them with json_each / json_extract, binary columns
// through sqlengine_table_blob.

#include <sqlite3.h>

#include <string>

#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {

// Appends `size` bytes of UTF-8 text as a JSON string.
void AppendJsonString(std::string& out, const unsigned char* text, int size);

// Steps `query` to its end and returns its rows in that form. Throws
// std::runtime_error when a step fails.
std::string RowsAsJson(sqlite3_stmt* query);

// Registers sqlengine_table_function('name', arguments...), which runs the
// function through `host` on the connection whose statement calls it, and
// sqlengine_table_blob(hex), which turns a binary value's digits back into
// bytes. The host must outlive the connection. Throws std::runtime_error.
void RegisterTableFunctionCalls(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
