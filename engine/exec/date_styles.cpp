#include "engine/exec/date_styles.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/date_settings.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"
#include "engine/values/date_style_text.h"

namespace sqlengine::exec {
namespace {

// sqlengine_date_style(value, style): a datetime in the style's text; any
// other value as it is.
void DateStyle(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  if (sqlite3_value_type(args[0]) == SQLITE_TEXT) {
    std::string text = SqliteValueText(args[0]);
    // Only the stored form is a datetime's: any other text is left as it is.
    std::optional<DateTime> when = text.size() == 23 ? StoredDateTime(text) : std::nullopt;
    if (when) {
      try {
        return SqliteResultText(context, values::DateTimeStyled(*when, sqlite3_value_int(args[1])));
      } catch (const SqlError& error) {
        return ResultSqlError(context, error);
      }
    }
  }
  sqlite3_result_value(context, args[0]);
}

// sqlengine_datetime_styled(value, style): a text read as the style writes it.
void DateTimeStyled(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  try {
    DateTime when;
    if (sqlite3_value_type(args[0]) == SQLITE_TEXT) {
      when =
          values::DateTimeFromStyledText(SqliteValueText(args[0]), sqlite3_value_int(args[1]),
                                         values::DateKind::kDateTime, CurrentDateSettings().order);
    } else {
      when =
          std::get<DateTime>(ConvertForType(PlainValue(args[0]), ColumnType{SqlType::kDateTime}));
    }
    SqliteResultText(context, DateTimeText(when));
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

}  // namespace

void RegisterDateStyleFunctions(sqlite3* db) {
  struct Definition {
    const char* name;
    void (*function)(sqlite3_context*, int, sqlite3_value**);
  };
  for (const Definition& definition : {Definition{"sqlengine_date_style", DateStyle},
                                       Definition{"sqlengine_datetime_styled", DateTimeStyled}}) {
    if (sqlite3_create_function_v2(db, definition.name, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, definition.function, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + definition.name);
    }
  }
}

}  // namespace sqlengine::exec
