#include "engine/exec/bulk_insert.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/check_option_guard.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/foreign_keys_off.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/identity_columns.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/session.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/table_shapes.h"
#include "engine/exec/triggers.h"
#include "engine/exec/value_conversion.h"
#include "engine/exec/view_change_capture.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/view_load.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

// How often a long load looks at the session's cancel flag.
constexpr std::int64_t kCancelCheckRows = 1024;

std::string WrittenName(const std::vector<std::string>& parts) {
  std::string name;
  for (std::size_t i = 0; i < parts.size(); ++i) name += (i ? "." : "") + parts[i];
  return name;
}

// The statement's table with, per value of a row, the table column it fills.
// A load into a view fills the table under it.
struct BulkTarget {
  tsql::bind::TableShape table;
  std::vector<std::size_t> column_of_value;
  // What a view's CHECK OPTION asks of each row, over NEW; null for none.
  std::unique_ptr<tsql::bind::BoundExpr> check;
  // With FIRE_TRIGGERS, the view loaded has an INSTEAD OF INSERT trigger,
  // which takes the rows in its stead: `table` is then the view, in its own
  // columns. (A table's is looked for at each load.)
  bool instead = false;
  bool view = false;          // `table` is a view
  bool through_view = false;  // the statement named a view
};

[[noreturn]] void RefuseLoad(const std::string& why, int line) {
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run it: " + why + ".";
  error.message().line = line;
  throw error;
}

// Throws 229 unless the login may insert into `object` of `schema`.
void RequireInsert(Session& session, const std::string& schema, const std::string& object) {
  SessionRights& rights = session.Rights();
  if (schema == "main") {
    rights.Require(object, Access::kInsert);
  } else if (!rights.IsSysadmin()) {
    rights.In(session.Connection().DatabaseOfSchema(schema), schema);
    if (std::optional<SqlError> refused = rights.Check(schema, object, Access::kInsert, ""))
      throw *refused;
  }
}

// The owner of `object` of `schema`, in the database the schema holds.
int OwnerOf(Session& session, const std::string& schema, const std::string& object) {
  SessionConnection& connection = session.Connection();
  std::string database = schema == connection.UnqualifiedSchema()
                             ? connection.UnqualifiedDatabase()
                             : connection.DatabaseOfSchema(schema);
  return session.Rights().OwnerIn(database, schema, object);
}

BulkTarget ResolveTarget(Session& session, const BulkInsertStatement& statement) {
  BulkTarget target;
  SessionCatalog catalog(session);
  std::optional<tsql::bind::TableShape> table = catalog.FindTable(statement.table);
  if (!table) throw MakeError(208, {WrittenName(statement.table)});
  if (table->system_catalog) throw MakeError(259);
  RequireInsert(session, table->schema, table->name);
  // Per column of the statement's target (the view's, for a view), the
  // table column it writes; nullopt for a view's derived or constant one.
  std::vector<std::optional<std::string>> written;
  std::vector<std::string> target_columns;
  std::string view_name;
  std::unique_ptr<tsql::bind::BoundExpr> check;
  if (table->view_query) {
    tsql::bind::ViewLoadTarget through;
    try {
      through = tsql::bind::BindViewLoad(*table, statement.columns, statement.fire_triggers,
                                         catalog);
    } catch (const tsql::bind::NotBound& why) {
      RefuseLoad(std::string("a bulk copy into this view: ") + why.what(), statement.line);
    }
    // Each view writes its source with the rights of the view's owner when
    // it owns the source too (an unbroken ownership chain); else the login
    // must be allowed to insert into the source itself.
    for (const tsql::ObjectReach& reach : catalog.TakeReaches()) {
      if (reach.columns.empty() || reach.inside_name.empty()) continue;
      if (OwnerOf(session, reach.schema, reach.name) !=
          OwnerOf(session, reach.inside_schema, reach.inside_name))
        RequireInsert(session, reach.schema, reach.name);
    }
    for (const Column& column : through.view_columns) target_columns.push_back(column.name);
    written = std::move(through.written);
    check = std::move(through.check);
    view_name = table->name;
    table = std::move(through.table);
    target.instead = through.instead;
    target.view = through.instead;
    target.through_view = true;
  } else {
    for (const Column& column : table->columns) {
      target_columns.push_back(column.name);
      written.push_back(column.name);
    }
  }
  for (const std::string& name : statement.columns) {
    std::size_t found = 0;
    while (found < target_columns.size() && !tsql::EqualsIgnoreCase(target_columns[found], name))
      ++found;
    if (found == target_columns.size()) throw MakeError(207, {name});
    if (!written[found]) throw MakeError(4406, {view_name});
    std::size_t column = 0;
    while (column < table->columns.size() &&
           !tsql::EqualsIgnoreCase(table->columns[column].name, *written[found]))
      ++column;
    if (column == table->columns.size()) throw MakeError(207, {name});
    // SQLite would take one of the two values and drop the other unsaid.
    if (std::find(target.column_of_value.begin(), target.column_of_value.end(), column) !=
        target.column_of_value.end())
      RefuseLoad("a bulk copy naming a column twice", statement.line);
    target.column_of_value.push_back(column);
  }
  target.table = std::move(*table);
  target.check = std::move(check);
  return target;
}

std::size_t Characters(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

bool IsBinary(SqlType type) {
  return type == SqlType::kBinary || type == SqlType::kVarBinary || type == SqlType::kImage;
}

// Whether `when` is a datetime as the type stores it: in its range and a
// whole number of its 1/300 second ticks (what every datetime the wire
// carries is), so that rounding it would change nothing.
bool IsStoredDateTime(const DateTime& when) {
  if (when.year < 1753 || when.year > 9999 || when.month < 1 || when.month > 12 ||
      when.day < 1 || when.day > values::DaysInMonth(when.year, when.month) || when.hour < 0 ||
      when.hour > 23 || when.minute < 0 || when.minute > 59 || when.second < 0 ||
      when.second > 59 || when.millisecond < 0 || when.millisecond > 999) {
    return false;
  }
  int ticks = (when.millisecond * 3 + 5) / 10;
  return (ticks * 10 + 1) / 3 == when.millisecond;
}

// `value` (column `colid` of the stream) as the table column of `type`
// stores it: `value` itself when it is in form, else its conversion, made in
// `converted`. Throws 4815 for text or binary longer than a sized column,
// the conversion's SqlError otherwise.
const Value* StoredValue(const Value& value, const ColumnType& type, std::size_t colid,
                         Value& converted) {
  if (IsNull(value)) return &value;
  const bool sized = type.length > 0;
  if (const auto* text = std::get_if<std::string>(&value);
      text && tsql::IsCharacterType(type.type)) {
    if (sized && Characters(*text) > static_cast<std::size_t>(type.length))
      throw MakeError(4815, {std::to_string(colid)});
    return &value;
  }
  if (const auto* bytes = std::get_if<Bytes>(&value); bytes && IsBinary(type.type)) {
    if (sized && bytes->size() > static_cast<std::size_t>(type.length))
      throw MakeError(4815, {std::to_string(colid)});
    return &value;
  }
  const bool datetime = type.type == SqlType::kDateTime || type.type == SqlType::kSmallDateTime;
  if (const auto* when = std::get_if<DateTime>(&value); when && datetime) {
    if (type.type == SqlType::kDateTime && IsStoredDateTime(*when)) return &value;
    // Rounded to the type's precision and held to its range, as the column's
    // triggers would store a written datetime (242, 296 past the range).
    DateTime stored = values::RoundedToKind(*when, type.type == SqlType::kSmallDateTime
                                                       ? values::DateKind::kSmallDateTime
                                                       : values::DateKind::kDateTime);
    if (stored == *when) return &value;
    converted = stored;
    return &converted;
  }
  const bool exact = type.type == SqlType::kDecimal || type.type == SqlType::kMoney ||
                     type.type == SqlType::kSmallMoney;
  if (exact && std::holds_alternative<Decimal>(value)) return &value;
  if (const auto* number = std::get_if<double>(&value);
      number && type.type == SqlType::kFloat && std::isfinite(*number)) {
    return &value;
  }
  if (tsql::IsCharacterType(type.type)) {
    // Converted without the cut a variable of the type would make.
    ColumnType unlimited = type;
    unlimited.length = kMaxLength;
    Value text = ConvertForType(value, unlimited);
    Value checked;
    StoredValue(text, type, colid, checked);
    converted = std::move(text);
    return &converted;
  }
  converted = ConvertForType(value, type);
  return &converted;
}

// For the length of a load into a table with indexes, a page cache large
// enough for the load's pages to stay in memory until its commit, instead of
// index pages being written to the log again and again (a table without
// indexes only appends, and each page it fills is written once either way:
// there the larger cache only costs the fresh memory). The connection's own
// setting comes back after it. Its statements are kept compiled on the
// connection (KeptRead), for a client that loads in many small batches.
// (Statement journals stay in memory up to the spill size SQLite is given
// at start; a switch of temp_store here would make SQLite drop and read
// again every schema of the connection, each batch.)
class LoadSettings {
 public:
  LoadSettings(SessionConnection& connection, const std::string& schema, const std::string& table)
      : connection_(connection),
        cache_pragma_("PRAGMA " + tsql::QuoteSqliteName(schema) + ".cache_size") {
    SessionConnection::KeptRead indexes(
        connection_, "SELECT count(*) FROM " + tsql::QuoteSqliteName(schema) +
                         ".sqlite_master WHERE type = 'index' AND tbl_name = ? COLLATE NOCASE");
    if (indexes.get() != nullptr)
      sqlite3_bind_text(indexes.get(), 1, table.data(), static_cast<int>(table.size()),
                        SQLITE_STATIC);
    if (Number(indexes).value_or(1) > 0) {
      SessionConnection::KeptRead cache(connection_, cache_pragma_);
      saved_cache_ = Number(cache);
    }
    std::string load_cache = cache_pragma_ + " = " + std::to_string(kLoadCacheKiB);
    if (saved_cache_ && !Run(load_cache)) catalog::Exec(connection_.Handle(), load_cache);
  }
  ~LoadSettings() {
    if (saved_cache_) Run(cache_pragma_ + " = " + std::to_string(*saved_cache_));
  }
  LoadSettings(const LoadSettings&) = delete;
  LoadSettings& operator=(const LoadSettings&) = delete;

 private:
  // Negative: KiB rather than pages; memory is taken only as pages are used.
  static constexpr std::int64_t kLoadCacheKiB = -256 * 1024;

  static std::optional<std::int64_t> Number(SessionConnection::KeptRead& read) {
    if (read.get() == nullptr || sqlite3_step(read.get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(read.get(), 0);
  }
  bool Run(const std::string& sql) {
    SessionConnection::KeptRead pragma(connection_, sql);
    if (pragma.get() == nullptr) return false;
    int rc = sqlite3_step(pragma.get());
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
  }

  SessionConnection& connection_;
  std::string cache_pragma_;
  std::optional<std::int64_t> saved_cache_;
};

// Binds a datetime in the stored form "YYYY-MM-DD HH:MM:SS.mmm", written
// digit by digit into `text` (the general formatter costs more than the
// row's insert), which must stay as it is until the statement has run.
void BindDateTime(sqlite3_stmt* statement, int index, const DateTime& when, char (&text)[23]) {
  auto digits = [&text](int at, int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
      text[at + i] = static_cast<char>('0' + value % 10);
  };
  digits(0, when.year, 4);
  text[4] = '-';
  digits(5, when.month, 2);
  text[7] = '-';
  digits(8, when.day, 2);
  text[10] = ' ';
  digits(11, when.hour, 2);
  text[13] = ':';
  digits(14, when.minute, 2);
  text[16] = ':';
  digits(17, when.second, 2);
  text[19] = '.';
  digits(20, when.millisecond, 3);
  sqlite3_bind_text(statement, index, text, 23, SQLITE_STATIC);
}

// Whether `word` occurs in `sql` in any case (within a longer name too: a
// false find only costs what the caller would otherwise spare).
bool ContainsWord(const std::string& sql, std::string_view word) {
  return std::search(sql.begin(), sql.end(), word.begin(), word.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         }) != sql.end();
}

class CheckConstraintsOff {
 public:
  CheckConstraintsOff(sqlite3* db, bool wanted) : db_(db), off_(wanted) {
    if (off_) catalog::Exec(db_, "PRAGMA ignore_check_constraints = ON");
  }
  ~CheckConstraintsOff() {
    if (off_) sqlite3_exec(db_, "PRAGMA ignore_check_constraints = OFF", nullptr, nullptr, nullptr);
  }
  CheckConstraintsOff(const CheckConstraintsOff&) = delete;
  CheckConstraintsOff& operator=(const CheckConstraintsOff&) = delete;

 private:
  sqlite3* db_;
  bool off_;
};

// Switches the connection's triggers off (TEMP triggers still fire) while it
// lives, or until On(). Statements prepared before either switch are
// prepared again when next run, by SQLite, for the new setting.
class TriggersOff {
 public:
  explicit TriggersOff(sqlite3* db) : db_(db) {
    int enabled = 1;
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, -1, &enabled);
    if (enabled) off_ = sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr) == SQLITE_OK;
  }
  ~TriggersOff() { On(); }
  TriggersOff(const TriggersOff&) = delete;
  TriggersOff& operator=(const TriggersOff&) = delete;

  bool off() const { return off_; }
  void On() {
    if (off_) sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 1, nullptr);
    off_ = false;
  }

 private:
  sqlite3* db_;
  bool off_ = false;
};

// Inserts rows through INSERT statements prepared once per set of columns
// left to their defaults, in the order they come. Rows that leave no column
// to its default are held and inserted kRowsPerStatement at a time, by one
// INSERT of that many rows, which spares SQLite the work each statement
// costs (its cursors, its statement transaction). Owns the prepared
// statements.
class RowInserter {
 public:
  // `stored_form`: the table's columns kept in form by triggers, as
  // StoredFormTriggerColumns found them; nullopt when the triggers must fire.
  RowInserter(Session& session, const BulkTarget& target,
              const std::optional<std::vector<StoredFormColumn>>& stored_form, bool keep_identity,
              bool keep_nulls, int line)
      : target_(target),
        connection_(session.Connection()),
        db_(session.Connection().Handle()),
        context_{nullptr, "INSERT", session.CurrentDatabase(), line},
        cache_context_(session.Connection().StatementContext()) {
    const auto& columns = target.table.columns;
    for (std::size_t value = 0; value < target.column_of_value.size(); ++value) {
      std::size_t column = target.column_of_value[value];
      Slot slot;
      slot.column = column;
      slot.colid = value + 1;
      slot.type = columns[column].type;
      if (columns[column].type.identity && !keep_identity) continue;
      slot.defaulted_when_null = !keep_nulls && !target.table.column_defaults[column].empty();
      slots_.push_back(slot);
    }
    exact_stored_form_ = StoresExactForm(db_, target.table.schema);
    // An INSERT into a view is compiled for the capture's TEMP triggers of the moment.
    if (target.view) cache_context_.reset();
    if (!target.view && stored_form) SkipStoredFormTriggers(*stored_form);
    // A kept identity's NULL takes SQLite's next rowid, which only the row's
    // own statement can tell.
    held_rows_.resize(!slots_.empty() && !identity_slot_ ? kRowsPerStatement : 1);
    for (auto& held : held_rows_) held.resize(slots_.size());
    row_.resize(slots_.size());
  }

  ~RowInserter() {
    if (!cache_context_) return;
    for (auto& [key, statement] : prepared_) {
      sqlite3_reset(statement.compiled.get());
      sqlite3_clear_bindings(statement.compiled.get());
      connection_.Statements().Keep(std::move(statement.text.sql), std::move(statement.compiled),
                                    *cache_context_);
    }
  }
  RowInserter(const RowInserter&) = delete;
  RowInserter& operator=(const RowInserter&) = delete;

  // Takes the next row. Throws SqlError for a value its column cannot take,
  // or for the first failing row of those held (always one before it).
  void Insert(const Row& row) {
    if (++taken_ == kRowsBeforeTriggersOff && may_skip_triggers_) triggers_off_.emplace(db_);
    std::string& omitted = omitted_;
    omitted.assign(slots_.size(), '0');
    bool any_omitted = false;
    bool identity_from_sqlite = identity_trigger_type_ && !identity_slot_;
    try {
      for (std::size_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        const Value& sent = row[slot.colid - 1];
        if (IsNull(sent) && slot.defaulted_when_null) {
          omitted[i] = '1';
          any_omitted = true;
          continue;
        }
        Value converted;
        const Value* value = StoredValue(sent, slot.type, slot.colid, converted);
        if (slot.trigger_type && !IsNull(*value)) {
          Value fitted = ConvertForType(*value, *slot.trigger_type);
          converted = std::move(fitted);
          value = &converted;
        }
        if (exact_stored_form_ && values::IsExactType(slot.type.type) && !IsNull(*value)) {
          row_[i] = FitDecimal(*value, slot.type);
        } else if (value == &converted) {
          row_[i] = std::move(converted);
        } else {
          row_[i] = *value;
        }
        if (identity_slot_ && *identity_slot_ == i && IsNull(sent)) identity_from_sqlite = true;
      }
    } catch (const SqlError&) {
      Flush();  // an earlier row's error comes first
      throw;
    }
    if (!any_omitted && held_rows_.size() > 1) {
      std::swap(held_rows_[held_], row_);
      if (++held_ == held_rows_.size()) Flush();
      return;
    }
    Flush();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      // Its default is written as the table declares it, for the column's
      // triggers to bring into form.
      if (omitted[i] == '1' && slots_[i].triggered) {
        may_skip_triggers_ = false;
        if (triggers_off_) triggers_off_->On();
      }
    }
    Statement& insert = Prepared(any_omitted ? omitted : std::string(), 1);
    int parameter = 1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (omitted[i] == '0') Bind(insert, parameter++, row_[i], slots_[i]);
    }
    Run(insert, identity_from_sqlite);
  }

  // Inserts the rows held. Throws SqlError for the first that fails.
  void Flush() {
    if (held_ == 0) return;
    // The full statement of kRowsPerStatement rows, found once.
    if (held_ == held_rows_.size() && full_ == nullptr) full_ = &Prepared(std::string(), held_);
    Statement& insert = held_ == held_rows_.size() ? *full_ : Prepared(std::string(), held_);
    int parameter = 1;
    for (std::size_t row = 0; row < held_; ++row) {
      for (std::size_t i = 0; i < slots_.size(); ++i)
        Bind(insert, parameter++, held_rows_[row][i], slots_[i]);
    }
    held_ = 0;
    // Only an identity left to SQLite makes it here: the last row's is the largest.
    Run(insert, identity_trigger_type_.has_value());
  }

 private:
  static constexpr std::size_t kRowsPerStatement = 16;
  // Each switch of the connection's triggers makes SQLite compile all of
  // the connection's statements again: a smaller load lets the triggers
  // find its values in form rather than pay for that.
  static constexpr std::int64_t kRowsBeforeTriggersOff = 256;

  struct Statement {
    catalog::PreparedStatement compiled;
    tsql::SqliteText text;
  };
  struct DateTimeText {
    char text[23];
  };
  struct Slot {
    std::size_t column = 0;  // in the table
    std::size_t colid = 0;   // 1-based position in the stream's rows
    ColumnType type;
    bool defaulted_when_null = false;
    // The column has triggers keeping its values in the stored form.
    bool triggered = false;
    // While those are off: the type they read from the column's declared
    // type, where it is another than `type` (an identity column's).
    std::optional<ColumnType> trigger_type;
  };

  // Binds a value StoredValue made for `slot` (an exact one as FitDecimal
  // made it). Text and binary data are bound without a copy: they stay put
  // until the statement has run, and so does a datetime's text, written
  // into the buffer of its parameter.
  void Bind(Statement& insert, int parameter, const Value& value, const Slot& slot) {
    sqlite3_stmt* statement = insert.compiled.get();
    if (const auto* when = std::get_if<DateTime>(&value)) {
      // A deque grows without moving the buffers already bound.
      if (datetime_text_.size() < static_cast<std::size_t>(parameter)) datetime_text_.resize(parameter);
      BindDateTime(statement, parameter, *when, datetime_text_[parameter - 1].text);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      sqlite3_bind_text(statement, parameter, text->data(), static_cast<int>(text->size()),
                        SQLITE_STATIC);
    } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
      sqlite3_bind_blob(statement, parameter, bytes->data(), static_cast<int>(bytes->size()),
                        SQLITE_STATIC);
    } else if (const auto* exact = std::get_if<Decimal>(&value);
               exact && exact_stored_form_ && values::IsExactType(slot.type.type)) {
      BindRaw(statement, parameter, *exact, slot.type);
    } else {
      BindValue(statement, parameter, value);
    }
  }

  // Runs `insert`; with `identity_from_sqlite`, refuses the identity SQLite
  // gave its last row past its column's range, as the column's trigger
  // would (the caller rolls the rows back).
  void Run(Statement& insert, bool identity_from_sqlite) {
    sqlite3_stmt* statement = insert.compiled.get();
    int rc = sqlite3_step(statement);
    // Every parameter is bound afresh before the next run.
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE) {
      // The text names the table in constraint messages.
      FailedStatement failed = context_;
      failed.text = &insert.text;
      ThrowSqliteError(db_, rc, failed);
    }
    if (identity_from_sqlite && triggers_off_ && triggers_off_->off())
      ConvertForType(std::int64_t{sqlite3_last_insert_rowid(db_)}, *identity_trigger_type_);
  }

  // Every value the rows bind is in its column's stored form (StoredValue,
  // and exact values through FitDecimal), so the triggers that would keep
  // them so can stay unfired when they are the table's only ones
  // (`triggered`). The connection's triggers go off once a load has had
  // kRowsBeforeTriggersOff rows, and stay off until a row leaves a column
  // that has them to its default (then back on for the rest of the load) or
  // the inserter ends. An identity SQLite assigns is checked as its trigger
  // checks it.
  void SkipStoredFormTriggers(const std::vector<StoredFormColumn>& triggered) {
    const auto& columns = target_.table.columns;
    auto trigger_type = [&](std::size_t column) -> const ColumnType* {
      for (const StoredFormColumn& found : triggered) {
        if (tsql::EqualsIgnoreCase(found.name, columns[column].name)) return &found.type;
      }
      return nullptr;
    };
    for (std::size_t column = 0; column < columns.size(); ++column) {
      const ColumnType* type = trigger_type(column);
      if (type == nullptr) continue;
      auto slot = std::find_if(slots_.begin(), slots_.end(),
                               [&](const Slot& each) { return each.column == column; });
      if (columns[column].type.identity) {
        identity_trigger_type_ = *type;
        if (slot != slots_.end()) identity_slot_ = static_cast<std::size_t>(slot - slots_.begin());
      } else if (slot == slots_.end() && !target_.table.column_defaults[column].empty()) {
        return;  // every row would leave it to its default
      }
    }
    for (Slot& slot : slots_) {
      const ColumnType* type = trigger_type(slot.column);
      slot.triggered = type != nullptr;
      if (type && (type->type != slot.type.type || type->length != slot.type.length ||
                   type->precision != slot.type.precision || type->scale != slot.type.scale)) {
        slot.trigger_type = *type;
      }
    }
    may_skip_triggers_ = true;
  }

  // The INSERT of `rows` rows without the columns marked '1' in `omitted`
  // ("" for none).
  Statement& Prepared(const std::string& omitted, std::size_t rows) {
    std::string key = omitted + "#" + std::to_string(rows);
    auto found = prepared_.find(key);
    if (found != prepared_.end()) return found->second;
    std::string names, parameters;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (!omitted.empty() && omitted[i] == '1') continue;
      names += (names.empty() ? "" : ", ") +
               tsql::QuoteSqliteName(target_.table.columns[slots_[i].column].name);
      parameters += parameters.empty() ? "?" : ", ?";
    }
    std::string values = "(" + parameters + ")";
    for (std::size_t row = 1; row < rows; ++row) values += ", (" + parameters + ")";
    std::string sql = "INSERT INTO " + target_.table.sql +
                      (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES " + values);
    catalog::PreparedStatement compiled;
    if (cache_context_) compiled = connection_.Statements().Take(sql, *cache_context_);
    if (!compiled) {
      sqlite3_stmt* raw = nullptr;
      int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
      compiled.reset(raw);
      if (rc != SQLITE_OK) ThrowSqliteError(db_, rc, context_);
    }
    tsql::SqliteText text;
    text.sql = std::move(sql);
    text.lines = {{0, context_.line}};
    return prepared_.emplace(key, Statement{std::move(compiled), std::move(text)}).first->second;
  }

  const BulkTarget& target_;
  SessionConnection& connection_;
  sqlite3* db_;
  FailedStatement context_;
  // The INSERTs are kept on the connection for the next load of the same
  // columns (a client loading in many batches), in the context they were
  // compiled in; nullopt when none may be kept.
  std::optional<StatementCache::Context> cache_context_;
  std::vector<Slot> slots_;
  std::vector<Value> row_;  // the row being taken, per slot as bound
  // The rows taken and not yet inserted: the first held_ of held_rows_.
  std::vector<std::vector<Value>> held_rows_;
  std::size_t held_ = 0;
  std::deque<DateTimeText> datetime_text_;  // by parameter, for BindDateTime
  // The table's exact columns hold the stored form (values/exact_storage.h).
  bool exact_stored_form_ = false;
  std::map<std::string, Statement> prepared_;  // its elements stay put
  Statement* full_ = nullptr;  // of held_rows_.size() rows, once prepared
  std::string omitted_;        // Insert's columns left to their defaults, per slot
  std::optional<TriggersOff> triggers_off_;
  bool may_skip_triggers_ = false;  // SkipStoredFormTriggers found them skippable
  std::int64_t taken_ = 0;          // rows given to Insert
  // Of an identity column with triggers: the type they read, and its slot
  // when the rows carry its values (KEEPIDENTITY).
  std::optional<ColumnType> identity_trigger_type_;
  std::optional<std::size_t> identity_slot_;
};

}  // namespace

struct ResolvedBulkTarget {
  BulkInsertStatement statement;
  // The catalog context it was resolved in; nullopt: good for no other.
  std::optional<StatementCache::Context> context;
  BulkTarget target;
  // Of a table (not a view taking the rows): the columns its triggers keep
  // in form, when those are its only triggers (StoredFormTriggerColumns).
  std::optional<std::vector<StoredFormColumn>> stored_form;
  // Its definition declares CHECK constraints, foreign keys. Each switch of
  // either setting makes SQLite compile every statement of the connection
  // again at its next run: switched only for a table that declares them.
  bool declares_checks = true;
  bool declares_keys = true;
};

namespace {

// `kept` when it was resolved for `statement` in the present catalog
// context (rights, schema versions, the databases reached) and `again`
// allows it, else the statement resolved now.
KeptBulkTarget Resolved(Session& session, const BulkInsertStatement& statement,
                        const KeptBulkTarget& kept, bool again) {
  std::optional<StatementCache::Context> now = session.Connection().StatementContext();
  if (kept && again && now && kept->context == now && kept->statement == statement) return kept;
  auto resolved = std::make_shared<ResolvedBulkTarget>();
  resolved->statement = statement;
  resolved->context = std::move(now);
  resolved->target = ResolveTarget(session, statement);
  const BulkTarget& target = resolved->target;
  if (!target.view) {
    sqlite3* db = session.Connection().Handle();
    resolved->stored_form = StoredFormTriggerColumns(db, target.table.schema, target.table.name);
    std::optional<StoredTable> stored =
        FindStoredTable(session.Connection(), target.table.schema, target.table.name);
    resolved->declares_checks = !stored || ContainsWord(stored->sql, "check");
    resolved->declares_keys = !stored || ContainsWord(stored->sql, "references");
  }
  return resolved;
}

}  // namespace

KeptBulkTarget CheckBulkInsertTarget(Session& session, const BulkInsertStatement& statement,
                                     const KeptBulkTarget& kept) {
  // A view's INSTEAD OF triggers are not part of the catalog context: a
  // view is resolved again for each batch.
  return Resolved(session, statement, kept, kept && !kept->target.through_view);
}

std::optional<std::int64_t> InsertBulkRows(Session& session, const BulkInsertStatement& statement,
                                           KeptBulkTarget& kept, BulkRowSource& rows,
                                           const BulkTriggerFiring& fire) {
  kept = Resolved(session, statement, kept, true);
  const ResolvedBulkTarget& resolved = *kept;
  const BulkTarget& target = resolved.target;
  if (rows.Columns().size() != target.column_of_value.size() && !rows.Columns().empty()) {
    throw MakeError(4002);
  }
  const std::string& schema = target.table.schema;
  bool keep_identity = statement.keep_identity ||
                       tsql::EqualsIgnoreCase(session.IdentityInsertTable(), target.table.name);
  sqlite3* db = session.Connection().Handle();
  // A table's INSTEAD OF INSERT trigger, looked for at each load.
  bool instead = target.instead;
  if (statement.fire_triggers && !target.view) {
    for (const StoredTrigger& trigger :
         TriggersFor(db, schema, target.table.name, TriggerEvent::kInsert))
      instead = instead || trigger.instead_of;
  }
  LockForWrite(session, schema);
  WriteGate gate(session, schema);
  ForeignKeysOff foreign_keys(
      db, resolved.declares_keys && !statement.check_constraints && !statement.fire_triggers);
  LoadSettings settings(session.Connection(), schema, target.table.name);
  // A view's CHECK OPTION holds for a load too, CHECK_CONSTRAINTS or not.
  std::optional<RowGuardTrigger> check_option;
  if (target.check) {
    tsql::SqliteText::RowGuard guard{
        target.table.sql,
        tsql::generate::GenerateCondition(*target.check, statement.line,
                                          StoresExactForm(db, schema)
                                              ? tsql::generate::ExactForm::kStored
                                              : tsql::generate::ExactForm::kNumbers)
            .sql};
    StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
    check_option.emplace(db, guard, true);
  }
  StatementTransaction own_transaction(db, schema, true);
  catalog::Exec(db, "SAVEPOINT sqlengine_bulk");
  std::int64_t inserted = 0;
  try {
    TakeWriteLockFirst(db, schema);
    // An INSTEAD OF trigger's rows are written on trial, read, and taken back.
    std::optional<RowChangeCapture> capture;
    std::optional<ViewChangeCapture> view_capture;
    if (target.view) {
      StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
      view_capture.emplace(db, schema, target.table.name);
    } else if (statement.fire_triggers) {
      capture.emplace(db, schema, target.table.name);
    }
    {
      CheckConstraintsOff checks(db, resolved.declares_checks && !statement.check_constraints);
      RowInserter inserter(session, target, resolved.stored_form, keep_identity, statement.keep_nulls,
                           statement.line);
      Row row;
      for (;;) {
        try {
          if (!rows.Next(row)) break;
        } catch (const SqlError&) {
          inserter.Flush();  // the rows before it fail first
          throw;
        }
        if (inserted % kCancelCheckRows == 0 && session.Cancelled()) throw Cancelled{};
        inserter.Insert(row);
        ++inserted;
      }
      inserter.Flush();
    }
    // Rows the table's own triggers write are not the view's.
    check_option.reset();
    if (keep_identity && !instead && KeptIdentityOf(db, schema, target.table.name))
      ContinueKeptIdentity(db, schema, target.table.name);
    if (capture || view_capture) {
      RowImages images = capture ? capture->ReadNewRows() : view_capture->NewRows();
      capture.reset();
      view_capture.reset();
      if (instead) catalog::Exec(db, "ROLLBACK TO sqlengine_bulk");
      // A trigger that failed or ended the transaction took the savepoint with it.
      if (!fire(schema, target.table.name, images, inserted, instead)) return std::nullopt;
    }
    catalog::Exec(db, "RELEASE sqlengine_bulk");
  } catch (...) {
    if (sqlite3_get_autocommit(db) == 0) {
      sqlite3_exec(db, "ROLLBACK TO sqlengine_bulk; RELEASE sqlengine_bulk", nullptr, nullptr,
                   nullptr);
    }
    throw;
  }
  own_transaction.Commit();
  return inserted;
}

}  // namespace sqlengine::exec
