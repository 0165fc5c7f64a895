#include "engine/exec/text_pointers.h"

#include <algorithm>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/function_registration.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr std::uint8_t kMark[8] = {'s', 'q', 'l', 'e', 't', 'e', 'x', 't'};

void TextPtr(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  Bytes pointer = TextPointer(sqlite3_value_int64(argv[1]));
  sqlite3_result_blob(context, pointer.data(), static_cast<int>(pointer.size()), SQLITE_TRANSIENT);
}

void TextValid(sqlite3_context* context, int, sqlite3_value** argv) {
  sqlite3_result_int(context, 0);
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) != SQLITE_BLOB)
    return;
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(argv[1]));
  std::optional<sqlite3_int64> rowid =
      RowOfTextPointer(Bytes(data, data + sqlite3_value_bytes(argv[1])));
  tsql::DottedName name =
      tsql::ReadWrittenName(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
  if (!rowid || name.parts.size() < 2) return;
  const std::string& column = name.parts.back();
  const std::string& table = name.parts[name.parts.size() - 2];
  sqlite3* db = sqlite3_context_db_handle(context);
  sqlite3_stmt* raw = nullptr;
  std::string sql = "SELECT " + tsql::QuoteSqliteName(column) + " IS NOT NULL FROM main." +
                    tsql::QuoteSqliteName(table) + " WHERE rowid = ?";
  // A table or column that does not exist gives 0, as SQL Server's does.
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return;
  }
  catalog::PreparedStatement query(raw);
  sqlite3_bind_int64(raw, 1, *rowid);
  if (sqlite3_step(raw) == SQLITE_ROW) sqlite3_result_int(context, sqlite3_column_int(raw, 0));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_textptr", 2, TextPtr, true},
    {"sqlengine_textvalid", 2, TextValid, false},
};

}  // namespace

Bytes TextPointer(sqlite3_int64 rowid) {
  Bytes pointer;
  auto value = static_cast<std::uint64_t>(rowid);
  for (int shift = 56; shift >= 0; shift -= 8)
    pointer.push_back(static_cast<std::uint8_t>(value >> shift));
  pointer.insert(pointer.end(), std::begin(kMark), std::end(kMark));
  return pointer;
}

std::optional<sqlite3_int64> RowOfTextPointer(const Bytes& pointer) {
  if (pointer.size() != kTextPointerLength ||
      !std::equal(std::begin(kMark), std::end(kMark), pointer.begin() + 8)) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (int k = 0; k < 8; ++k) value = value << 8 | pointer[static_cast<size_t>(k)];
  return static_cast<sqlite3_int64>(value);
}

void RegisterTextPointerFunctions(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
