#include "engine/exec/exact_storage_form.h"

#include <string>

#include "engine/catalog/data_file.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

tsql::generate::ExactForm EngineExactForm() {
  return catalog::kDataFileFormat >= kFirstExactStorageFormat ? tsql::generate::ExactForm::kStored
                                                              : tsql::generate::ExactForm::kNumbers;
}

bool StoresExactForm(sqlite3* db, std::string_view schema) {
  // Temporary tables live as long as their session: they take the form of
  // the files this engine writes.
  if (tsql::EqualsIgnoreCase(schema, "temp"))
    return catalog::kDataFileFormat >= kFirstExactStorageFormat;
  std::string sql = "PRAGMA " + Quoted(schema.empty() ? "main" : schema) + ".user_version";
  sqlite3_stmt* statement = nullptr;
  int format = 0;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    format = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  return format >= kFirstExactStorageFormat;
}

}  // namespace sqlengine::exec
