// BatchExecutor's text pointer statements: READTEXT, WRITETEXT and
// UPDATETEXT on a text, ntext or image column, its row named by a pointer
// TEXTPTR gave (text_pointers.h). Offsets and lengths count characters of
// text and ntext, bytes of image. Like SQL Server's, WRITETEXT and
// UPDATETEXT fire no triggers.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/database_access.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/locked_savepoint.h"
#include "engine/exec/session.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/text_pointers.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// A table.column a statement names, found with its declared type.
struct LargeColumn {
  std::string table_sql;  // "schema"."table"
  std::string table;      // as the catalog spells it
  std::string column;
  ColumnType type;
};

// A stored text or image value in units: characters (UTF-8 sequences) of
// text and ntext, bytes of image.
class Units {
 public:
  Units(const Value& value, SqlType type) : binary_(type == SqlType::kImage) {
    if (const auto* bytes = std::get_if<Bytes>(&value)) {
      data_.assign(bytes->begin(), bytes->end());
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      data_ = *text;
    } else if (!IsNull(value)) {
      data_ = ValueText(value);
    }
    for (size_t at = 0; at < data_.size(); ++at) {
      if (binary_ || (static_cast<unsigned char>(data_[at]) & 0xC0) != 0x80) starts_.push_back(at);
    }
    starts_.push_back(data_.size());
  }

  std::int64_t Count() const { return static_cast<std::int64_t>(starts_.size()) - 1; }
  // Units [from, from + count), both within Count().
  std::string Slice(std::int64_t from, std::int64_t count) const {
    size_t begin = starts_[static_cast<size_t>(from)];
    size_t end = starts_[static_cast<size_t>(from + count)];
    return data_.substr(begin, end - begin);
  }
  Value AsValue(const std::string& data) const {
    if (binary_) return Bytes(data.begin(), data.end());
    return data;
  }

 private:
  bool binary_;
  std::string data_;
  std::vector<size_t> starts_;  // byte offset of each unit, then the end
};

std::string Hex(const Bytes& bytes) {
  std::string text = "0x";
  for (std::uint8_t byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

bool IsLargeObject(SqlType type) {
  return type == SqlType::kText || type == SqlType::kNText || type == SqlType::kImage;
}

}  // namespace

bool BatchExecutor::TextPointerStatement(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (statement.kind != tsql::StatementKind::kUnsupported || tokens.empty() ||
      !tokens[0].IsAnyWord({"readtext", "writetext", "updatetext"})) {
    return false;
  }
  std::string verb = tsql::ToLower(tokens[0].text);
  for (char& c : verb) c = static_cast<char>(c - 'a' + 'A');
  const int line = statement.line;
  auto syntax_error = [&](size_t at) -> SqlError {
    return at < tokens.size() ? tsql::SyntaxError(tokens[at], &tokens[at - 1])
                              : tsql::SyntaxError(tokens.back());
  };
  auto one = [&](size_t at) {
    if (at >= tokens.size()) throw syntax_error(at);
    return Evaluate(Tokens{tokens[at]}, line);
  };
  // table.column and the pointer at `at`; advances past them.
  auto column_at = [&](size_t& at, Access access) {
    tsql::DottedName name = tsql::ReadDottedName(tokens, at);
    if (name.parts.size() < 2) throw syntax_error(at);
    if (!name.Database().empty() &&
        !tsql::EqualsIgnoreCase(name.Database(), session_.CurrentDatabase())) {
      throw MakeError(208, {name.parts[name.parts.size() - 2]});
    }
    std::vector<std::string> table_name{name.parts[name.parts.size() - 2]};
    std::optional<tsql::bind::TableShape> table = SessionCatalog(session_).FindTable(table_name);
    if (!table || table->view_query || table->system_catalog)
      throw MakeError(208, {table_name.front()});
    LargeColumn found{table->sql, table->name, name.Last(), {}};
    bool known = false;
    for (const Column& column : table->columns) {
      if (!tsql::EqualsIgnoreCase(column.name, found.column)) continue;
      found.column = column.name;
      found.type = column.type;
      known = true;
    }
    if (!known) throw MakeError(207, {name.Last()});
    if (!IsLargeObject(found.type.type)) throw MakeError(7125);
    session_.Rights().Require(found.table, access);
    at = name.end;
    return found;
  };
  // The row's current value; throws 7133 for a NULL pointer, 7123 for one
  // that names no row holding a value.
  sqlite3* db = session_.Connection().Handle();
  auto row_of = [&](const LargeColumn& column, const Value& pointer) {
    if (IsNull(pointer)) throw MakeError(7133, {verb});
    const auto* bytes = std::get_if<Bytes>(&pointer);
    if (bytes == nullptr || bytes->size() != static_cast<size_t>(kTextPointerLength))
      throw MakeError(7122);
    std::optional<sqlite3_int64> rowid = RowOfTextPointer(*bytes);
    if (!rowid) throw MakeError(7123, {Hex(*bytes)});
    auto query = catalog::Prepare(db, "SELECT " + tsql::QuoteSqliteName(column.column) + " FROM " +
                                          column.table_sql + " WHERE rowid = ?");
    sqlite3_bind_int64(query.get(), 1, *rowid);
    if (sqlite3_step(query.get()) != SQLITE_ROW ||
        sqlite3_column_type(query.get(), 0) == SQLITE_NULL) {
      throw MakeError(7123, {Hex(*bytes)});
    }
    return std::make_pair(*rowid, ColumnValue(query.get(), 0, column.type));
  };
  auto whole = [&](const Value& value) -> std::optional<std::int64_t> {
    if (IsNull(value)) return std::nullopt;
    if (std::holds_alternative<std::string>(value) || std::holds_alternative<Bytes>(value))
      throw MakeError(7104);
    Value number = ConvertForType(value, ColumnType{SqlType::kInt});
    if (const auto* n = std::get_if<std::int64_t>(&number)) return *n;
    throw MakeError(7104);
  };
  auto store = [&](const LargeColumn& column, sqlite3_int64 rowid, const Value& value) {
    RequireWritable(session_);
    LockedSavepoint write(session_, "main", "sqlengine_text");
    auto update =
        catalog::Prepare(db, "UPDATE " + column.table_sql + " SET " +
                                 tsql::QuoteSqliteName(column.column) + " = ? WHERE rowid = ?");
    BindValue(update.get(), 1, value);
    sqlite3_bind_int64(update.get(), 2, rowid);
    if (sqlite3_step(update.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    write.Release();
  };
  auto past_with_log = [&](size_t at) {
    if (at + 1 < tokens.size() && tokens[at].IsWord("with") && tokens[at + 1].IsWord("log"))
      return at + 2;
    return at;
  };

  size_t at = 1;
  if (verb == "READTEXT") {
    LargeColumn column = column_at(at, Access::kSelect);
    auto [rowid, value] = row_of(column, one(at));
    std::optional<std::int64_t> offset = whole(one(at + 1));
    std::optional<std::int64_t> size = whole(one(at + 2));
    at += 3;
    if (at < tokens.size() && tokens[at].IsWord("holdlock")) ++at;
    if (at < tokens.size()) throw syntax_error(at);
    Units units(value, column.type.type);
    const std::int64_t length = units.Count();
    std::int64_t from = offset.value_or(0);
    // Size 0 reads 4 KB of data.
    std::int64_t count = size.value_or(0);
    if (count == 0) {
      count =
          std::min<std::int64_t>(length - from, column.type.type == SqlType::kNText ? 2048 : 4096);
    }
    if (from < 0 || count < 0 || from > length || from + count > length) {
      throw MakeError(7124,
                      {std::to_string(column.type.type == SqlType::kNText ? 2 * length : length)});
    }
    sink_.BeginResult({Column{column.column, column.type}});
    sink_.AddRow(Row{units.AsValue(units.Slice(from, count))});
    Done(1);
    return true;
  }
  if (verb == "WRITETEXT") {
    LargeColumn column = column_at(at, Access::kUpdate);
    auto [rowid, value] = row_of(column, one(at));
    at = past_with_log(at + 1);
    if (at >= tokens.size()) throw syntax_error(at);
    Value data = ConvertForType(
        Evaluate(Tokens(tokens.begin() + static_cast<std::ptrdiff_t>(at), tokens.end()), line),
        column.type);
    store(column, rowid, data);
    Done();
    return true;
  }
  // UPDATETEXT t.c ptr {NULL | offset} {NULL | delete_length} [WITH LOG]
  //   [inserted_data | t2.c2 ptr2]
  LargeColumn column = column_at(at, Access::kUpdate);
  auto [rowid, value] = row_of(column, one(at));
  std::optional<std::int64_t> offset = whole(one(at + 1));
  std::optional<std::int64_t> deleted = whole(one(at + 2));
  at = past_with_log(at + 3);
  Units units(value, column.type.type);
  const std::int64_t length = units.Count();
  const std::int64_t from = offset.value_or(length);
  if (from < 0 || from > length) throw MakeError(7116, {std::to_string(from)});
  const std::int64_t removed = deleted.value_or(length - from);
  if (removed < 0 || from + removed > length) throw MakeError(7135, {std::to_string(removed)});
  Value inserted;
  if (at < tokens.size()) {
    size_t source_at = at;
    tsql::DottedName source =
        tokens[at].IsName() ? tsql::ReadDottedName(tokens, source_at) : tsql::DottedName{};
    if (source.parts.size() >= 2 && source.end + 1 == tokens.size()) {
      LargeColumn from_column = column_at(source_at, Access::kSelect);
      inserted = row_of(from_column, one(source_at)).second;
    } else {
      inserted =
          Evaluate(Tokens(tokens.begin() + static_cast<std::ptrdiff_t>(at), tokens.end()), line);
    }
  }
  Units added(ConvertForType(inserted, column.type), column.type.type);
  std::string result = units.Slice(0, from) + added.Slice(0, added.Count()) +
                       units.Slice(from + removed, length - from - removed);
  store(column, rowid, units.AsValue(result));
  Done();
  return true;
}

}  // namespace sqlengine::exec
