#include "engine/exec/exact_column_upgrade.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_column_texts.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/generated_expression_upgrade.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/view_upgrade.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

struct ExactColumn {
  std::string name;
  ColumnType type;
};

std::vector<ExactColumn> ExactColumnsOf(sqlite3* db, const std::string& table) {
  std::vector<ExactColumn> columns;
  catalog::PreparedStatement info =
      catalog::Prepare(db, "SELECT name, type FROM pragma_table_info(?)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    if (std::optional<ColumnType> type = ExactType(catalog::ColumnText(info.get(), 1)))
      columns.push_back({catalog::ColumnText(info.get(), 0), *type});
  }
  return columns;
}

// A value as the older formats stored it, in the stored form's terms. They
// kept every number as a double, and SQLite's NUMERIC affinity turned a whole
// one into an integer: money's and smallmoney's edges, whose nearest doubles
// lie just past them, may read as such an integer. Read as the double it was,
// a value within a double's precision of the type's edge is taken for it.
Decimal LegacyValue(sqlite3_value* stored, const ColumnType& type) {
  Value value = PlainValue(stored);
  const auto* whole = std::get_if<std::int64_t>(&value);
  if (whole != nullptr && type.type != SqlType::kDecimal &&
      !values::InTypeRange(Decimal{*whole, 0}, type))
    value = static_cast<double>(*whole);
  try {
    // The older formats' doubles stood for decimals: every digit of the
    // double is kept, not the 17 a float converted to decimal keeps.
    if (const auto* number = std::get_if<double>(&value); number && std::isfinite(*number)) {
      char text[400];
      auto [end, error] = std::to_chars(text, text + sizeof text, *number, std::chars_format::fixed);
      if (error == std::errc()) return FitDecimal(Value(std::string(text, end)), type);
    }
    return FitDecimal(value, type);
  } catch (const SqlError&) {
    const auto* number = std::get_if<double>(&value);
    if (number == nullptr) throw;
    const int scale = type.type == SqlType::kDecimal ? type.scale : 4;
    auto [low, high] = DecimalRange(type);
    for (__int128 edge : {high, low}) {
      long double at = static_cast<long double>(edge) / std::pow(10.0L, scale);
      if (std::fabs(static_cast<long double>(*number) - at) <= std::fabs(at) * 1e-14L)
        return Decimal{edge, scale};
    }
    throw;
  }
}

// Every value of the column, read as the older format stored it, written back
// in the stored form.
void ConvertValues(sqlite3* db, const std::string& table, const ExactColumn& column) {
  std::string quoted_table = tsql::QuoteSqliteName(table);
  std::string quoted_column = tsql::QuoteSqliteName(column.name);
  std::vector<std::pair<sqlite3_int64, Decimal>> converted;
  {
    catalog::PreparedStatement read =
        catalog::Prepare(db, "SELECT rowid, " + quoted_column + " FROM " + quoted_table +
                                 " WHERE " + quoted_column + " IS NOT NULL");
    while (sqlite3_step(read.get()) == SQLITE_ROW) {
      converted.emplace_back(sqlite3_column_int64(read.get(), 0),
                             LegacyValue(sqlite3_column_value(read.get(), 1), column.type));
    }
  }
  catalog::PreparedStatement write = catalog::Prepare(
      db, "UPDATE " + quoted_table + " SET " + quoted_column + " = ? WHERE rowid = ?");
  for (const auto& [rowid, value] : converted) {
    sqlite3_reset(write.get());
    BindRaw(write.get(), 1, value, column.type);
    sqlite3_bind_int64(write.get(), 2, rowid);
    if (sqlite3_step(write.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  }
}

}  // namespace

void StoreExactColumnsInStoredForm(sqlite3* db) {
  // The triggers made below are those of a file of the new format; the
  // caller's transaction takes the mark back with everything else on failure.
  catalog::Exec(db, "PRAGMA user_version = " + std::to_string(kFirstExactStorageFormat));
  // CHECK constraints of format 1 compare the numbers, not the stored form;
  // they are not what the conversion is checked against.
  catalog::Exec(db, "PRAGMA ignore_check_constraints = ON");
  try {
    for (const std::string& table : UserTables(db)) {
      std::vector<ExactColumn> columns = ExactColumnsOf(db, table);
      for (const ExactColumn& column : columns) {
        // The rounding triggers would turn the stored form back into numbers.
        ForgetColumn(db, "main", table, column.name);
        ConvertValues(db, table, column);
      }
      // The front end's CHECK, DEFAULT and computed expressions are made
      // again from their written text; those it left as written are moved
      // to the stored form by their numbers.
      RegenerateTableExpressions(db, "main", table, tsql::generate::ExactForm::kStored);
      StoreExactColumnTexts(db, "main", table);
      if (!columns.empty()) NormaliseColumns(db, "main", table);
    }
    // The front end's views over them are generated again from their queries.
    RegenerateViews(db, tsql::generate::ExactForm::kStored);
  } catch (...) {
    sqlite3_exec(db, "PRAGMA ignore_check_constraints = OFF", nullptr, nullptr, nullptr);
    throw;
  }
  catalog::Exec(db, "PRAGMA ignore_check_constraints = OFF");
}

}  // namespace sqlengine::exec
