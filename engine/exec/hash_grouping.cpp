#include "engine/exec/hash_grouping.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/exec/exact_aggregates.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/collation_names.h"

namespace sqlengine::exec {
namespace {

constexpr int kQueryColumn = kGroupedColumns;
constexpr int kPlanColumn = kGroupedColumns + 1;
// The values of the query's parameters follow the plan.
constexpr int kFirstParameterColumn = kGroupedColumns + 2;
// Past this many bytes of groups the query is grouped by sorting instead.
constexpr std::size_t kMaxHashedBytes = std::size_t{64} << 20;

// How values of a key or a MIN / MAX argument compare.
enum class Comparison : char { kPlain = 'n', kNoCase = 'i', kNational = 'u', kCase = 's' };

struct Output {
  enum class Kind {
    kKey,
    kCountRows,
    kCount,
    kNulls,
    kMin,
    kMax,
    kSum,
    kAverage,
    kIntegerSum
  } kind;
  int column = 0;
  Comparison comparison = Comparison::kPlain;
  ColumnType argument;
  ColumnType result;
};

struct Plan {
  std::vector<Comparison> keys;
  std::vector<Output> outputs;
  std::vector<std::string> parameters;  // named as the query names them
  int columns_read = 0;                 // how many of the query's columns the plan reads
};

std::optional<Comparison> ComparisonOf(char letter) {
  if (letter == 'n' || letter == 'i' || letter == 'u' || letter == 's' ||
      !tsql::GroupingCollation(letter).empty())
    return static_cast<Comparison>(letter);
  return std::nullopt;
}

// How a dictionary collation (a digit of the plan) compares.
struct DictionaryOrder {
  ColumnType flags;
  bool national = false;
};

std::optional<DictionaryOrder> DictionaryOrderOf(Comparison comparison) {
  std::string_view name = tsql::GroupingCollation(static_cast<char>(comparison));
  if (name.empty()) return std::nullopt;
  DictionaryOrder order;
  tsql::ApplySqliteCollation(std::string(name).c_str(), order.flags);
  order.national = name.ends_with("_n");
  return order;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

std::optional<int> ColumnNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  int number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// nullopt for a plan this module does not understand.
std::optional<Plan> ParsePlan(std::string_view text) {
  std::vector<std::string_view> items = Split(text, ';');
  if (items.size() < 2 || !items[0].starts_with("keys:")) return std::nullopt;
  Plan plan;
  for (char letter : items[0].substr(5)) {
    std::optional<Comparison> comparison = ComparisonOf(letter);
    if (!comparison) return std::nullopt;
    plan.keys.push_back(*comparison);
  }
  if (plan.keys.empty()) return std::nullopt;
  plan.columns_read = static_cast<int>(plan.keys.size());
  for (size_t k = 1; k < items.size(); ++k) {
    std::string_view item = items[k];
    if (item.starts_with("?")) {
      if (item.size() < 2 || plan.parameters.size() >= static_cast<size_t>(kMaxGroupedParameters))
        return std::nullopt;
      plan.parameters.emplace_back(item.substr(1));
      continue;
    }
    if (item == "n") {
      Output rows{};
      rows.kind = Output::Kind::kCountRows;
      plan.outputs.push_back(rows);
      continue;
    }
    if (item.empty()) return std::nullopt;
    std::vector<std::string_view> parts = Split(item.substr(1), ':');
    std::optional<int> column = ColumnNumber(parts[0]);
    if (!column) return std::nullopt;
    Output output{};
    output.column = *column;
    switch (item[0]) {
      case 'k':
        output.kind = Output::Kind::kKey;
        if (*column >= static_cast<int>(plan.keys.size())) return std::nullopt;
        break;
      case 'c':
        output.kind = Output::Kind::kCount;
        break;
      case 'z':
        output.kind = Output::Kind::kNulls;
        break;
      case 'i':
        output.kind = Output::Kind::kIntegerSum;
        break;
      case 'm':
      case 'x': {
        output.kind = item[0] == 'm' ? Output::Kind::kMin : Output::Kind::kMax;
        if (parts.size() != 2 || parts[1].size() != 1) return std::nullopt;
        std::optional<Comparison> comparison = ComparisonOf(parts[1][0]);
        if (!comparison) return std::nullopt;
        output.comparison = *comparison;
        break;
      }
      case 's':
      case 'a': {
        output.kind = item[0] == 's' ? Output::Kind::kSum : Output::Kind::kAverage;
        if (parts.size() != 3) return std::nullopt;
        std::optional<ColumnType> argument = ExactType(parts[1]);
        std::optional<ColumnType> result = ExactType(parts[2]);
        if (!argument || !result) return std::nullopt;
        output.argument = *argument;
        output.result = *result;
        break;
      }
      default:
        return std::nullopt;
    }
    if (parts.size() > 1 && output.kind != Output::Kind::kMin &&
        output.kind != Output::Kind::kMax && output.kind != Output::Kind::kSum &&
        output.kind != Output::Kind::kAverage)
      return std::nullopt;
    plan.columns_read = std::max(plan.columns_read, output.column + 1);
    plan.outputs.push_back(output);
  }
  if (plan.outputs.size() > static_cast<size_t>(kGroupedColumns)) return std::nullopt;
  return plan;
}

std::string_view TextOf(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text),
                                            static_cast<size_t>(sqlite3_value_bytes(value)));
}

std::string_view WithoutTrailingSpaces(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

int Sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

int CompareBytes(std::string_view a, std::string_view b) {
  int common = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (common != 0) return Sign(common);
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// SQLite's order of storage classes: NULL, numbers, text, blobs.
int ClassRank(int type) {
  switch (type) {
    case SQLITE_NULL:
      return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return 1;
    case SQLITE_TEXT:
      return 2;
    default:
      return 3;
  }
}

int CompareNumbers(sqlite3_value* a, sqlite3_value* b) {
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    sqlite3_int64 x = sqlite3_value_int64(a);
    sqlite3_int64 y = sqlite3_value_int64(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (sqlite3_value_type(a) == SQLITE_FLOAT && sqlite3_value_type(b) == SQLITE_FLOAT) {
    double x = sqlite3_value_double(a);
    double y = sqlite3_value_double(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  // An integer against a float, exactly: long double holds every int64.
  long double x = sqlite3_value_type(a) == SQLITE_INTEGER
                      ? static_cast<long double>(sqlite3_value_int64(a))
                      : static_cast<long double>(sqlite3_value_double(a));
  long double y = sqlite3_value_type(b) == SQLITE_INTEGER
                      ? static_cast<long double>(sqlite3_value_int64(b))
                      : static_cast<long double>(sqlite3_value_double(b));
  return x < y ? -1 : x > y ? 1 : 0;
}

// -1, 0 or 1 as SQLite orders `a` and `b` with the collation `comparison`
// stands for.
int CompareValues(sqlite3_value* a, sqlite3_value* b, Comparison comparison) {
  int a_rank = ClassRank(sqlite3_value_type(a));
  int b_rank = ClassRank(sqlite3_value_type(b));
  if (a_rank != b_rank) return a_rank < b_rank ? -1 : 1;
  switch (a_rank) {
    case 0:
      return 0;
    case 1:
      return CompareNumbers(a, b);
    case 2:
      if (comparison == Comparison::kNoCase) return CompareIgnoringCase(TextOf(a), TextOf(b));
      if (comparison == Comparison::kNational)
        return CompareNationalIgnoringCase(TextOf(a), TextOf(b));
      if (comparison == Comparison::kCase)
        return CompareBytes(WithoutTrailingSpaces(TextOf(a)), WithoutTrailingSpaces(TextOf(b)));
      if (std::optional<DictionaryOrder> order = DictionaryOrderOf(comparison)) {
        const ColumnType& flags = order->flags;
        return CompareInDictionaryOrder(TextOf(a), TextOf(b), flags.case_sensitive,
                                        flags.accent_insensitive, flags.upper_first,
                                        order->national);
      }
      return CompareBytes(TextOf(a), TextOf(b));
    default: {
      const void* a_bytes = sqlite3_value_blob(a);
      const void* b_bytes = sqlite3_value_blob(b);
      return CompareBytes(
          std::string_view(static_cast<const char*>(a_bytes), a_bytes ? sqlite3_value_bytes(a) : 0),
          std::string_view(static_cast<const char*>(b_bytes),
                           b_bytes ? sqlite3_value_bytes(b) : 0));
    }
  }
}

void AppendInteger(std::string& key, std::int64_t value) {
  key += 'I';
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void AppendBytes(std::string& key, char tag, std::string_view bytes) {
  key += tag;
  auto size = static_cast<std::uint32_t>(bytes.size());
  key.append(reinterpret_cast<const char*>(&size), sizeof size);
  key.append(bytes);
}

// Appends to `key` a form of `value` that two values share exactly when
// CompareValues finds them equal.
void AppendKey(std::string& key, sqlite3_value* value, Comparison comparison) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      key += 'N';
      return;
    case SQLITE_INTEGER:
      return AppendInteger(key, sqlite3_value_int64(value));
    case SQLITE_FLOAT: {
      double number = sqlite3_value_double(value);
      // A whole float equals the integer of its value (and -0 equals 0).
      if (number >= -9223372036854775808.0 && number < 9223372036854775808.0 &&
          static_cast<double>(static_cast<std::int64_t>(number)) == number)
        return AppendInteger(key, static_cast<std::int64_t>(number));
      key += 'F';
      key.append(reinterpret_cast<const char*>(&number), sizeof number);
      return;
    }
    case SQLITE_TEXT: {
      std::string_view text = TextOf(value);
      if (comparison == Comparison::kPlain) return AppendBytes(key, 'T', text);
      text = WithoutTrailingSpaces(text);
      if (comparison == Comparison::kCase) return AppendBytes(key, 'T', text);
      if (std::optional<DictionaryOrder> order = DictionaryOrderOf(comparison)) {
        return AppendBytes(key, 'T',
                           DictionaryKey(text, order->flags.case_sensitive,
                                         order->flags.accent_insensitive, order->national));
      }
      // The case the collations sqlengine_ci and sqlengine_ci_n ignore, and
      // the 'ß' the latter reads as "ss" (exec/text_comparison.cpp).
      if (comparison == Comparison::kNational) return AppendBytes(key, 'T', NationalFoldedText(text));
      return AppendBytes(key, 'T', FoldedText(text));
    }
    default: {
      const void* bytes = sqlite3_value_blob(value);
      return AppendBytes(key, 'B',
                         std::string_view(static_cast<const char*>(bytes),
                                          bytes ? sqlite3_value_bytes(value) : 0));
    }
  }
}

struct ValueFree {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
using OwnedValue = std::unique_ptr<sqlite3_value, ValueFree>;

struct StatementFree {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using OwnedStatement = std::unique_ptr<sqlite3_stmt, StatementFree>;

// One result column's running state in one group.
struct Running {
  std::int64_t count = 0;
  OwnedValue best;  // MIN / MAX so far
  std::optional<ExactTotal> total;
  // SQLite's sum(): the integers' total, beside it the values' as a double.
  std::int64_t sum = 0;
  double real_sum = 0;
  bool approximate = false;
  bool overflowed = false;
};

struct Group {
  std::string key;
  std::vector<OwnedValue> keys;
  std::vector<Running> running;
};

struct Table : sqlite3_vtab {
  sqlite3* db = nullptr;
};

struct Cursor : sqlite3_vtab_cursor {
  Plan plan;
  OwnedStatement statement;
  bool streaming = false;
  // Grouped by hashing: the groups in order, and the one being read.
  std::vector<std::unique_ptr<Group>> groups;
  size_t at = 0;
  // Grouped by sorting: the group being read and the one the last row read begins.
  std::unique_ptr<Group> current;
  std::unique_ptr<Group> next;
  std::int64_t row = 0;
};

int Fail(sqlite3_vtab* table, const std::string& message, int rc = SQLITE_ERROR) {
  sqlite3_free(table->zErrMsg);
  table->zErrMsg = sqlite3_mprintf("%s", message.c_str());
  return rc;
}

int FailFromDatabase(sqlite3_vtab* table, int rc) {
  return Fail(table, sqlite3_errmsg(static_cast<Table*>(table)->db), rc);
}

std::string RowKey(sqlite3_stmt* statement, const Plan& plan) {
  std::string key;
  for (size_t k = 0; k < plan.keys.size(); ++k)
    AppendKey(key, sqlite3_column_value(statement, static_cast<int>(k)), plan.keys[k]);
  return key;
}

std::unique_ptr<Group> NewGroup(sqlite3_stmt* statement, const Plan& plan, std::string key) {
  auto group = std::make_unique<Group>();
  group->key = std::move(key);
  for (size_t k = 0; k < plan.keys.size(); ++k)
    group->keys.emplace_back(
        sqlite3_value_dup(sqlite3_column_value(statement, static_cast<int>(k))));
  group->running.resize(plan.outputs.size());
  for (size_t k = 0; k < plan.outputs.size(); ++k) {
    const Output& output = plan.outputs[k];
    if (output.kind == Output::Kind::kSum || output.kind == Output::Kind::kAverage)
      group->running[k].total.emplace(output.argument, output.result,
                                      output.kind == Output::Kind::kAverage);
  }
  return group;
}

// Adds the statement's current row to `group`; an error text when a value
// cannot be added. `bytes` grows by what the group keeps more.
std::optional<std::string> AddRow(sqlite3_stmt* statement, const Plan& plan, Group& group,
                                  size_t& bytes) {
  for (size_t k = 0; k < plan.outputs.size(); ++k) {
    const Output& output = plan.outputs[k];
    Running& running = group.running[k];
    sqlite3_value* value = output.kind == Output::Kind::kCountRows
                               ? nullptr
                               : sqlite3_column_value(statement, output.column);
    switch (output.kind) {
      case Output::Kind::kKey:
        break;
      case Output::Kind::kCountRows:
        ++running.count;
        break;
      case Output::Kind::kCount:
        if (sqlite3_value_type(value) != SQLITE_NULL) ++running.count;
        break;
      case Output::Kind::kNulls:
        if (sqlite3_value_type(value) == SQLITE_NULL) ++running.count;
        break;
      case Output::Kind::kMin:
      case Output::Kind::kMax: {
        if (sqlite3_value_type(value) == SQLITE_NULL) break;
        // As SQLite's min() and max(): the first of equal values stays.
        int order = running.best ? CompareValues(value, running.best.get(), output.comparison) : 0;
        if (!running.best || (output.kind == Output::Kind::kMin ? order < 0 : order > 0)) {
          running.best.reset(sqlite3_value_dup(value));
          if (!running.best) return std::string("out of memory");
          bytes += static_cast<size_t>(sqlite3_value_bytes(value)) + 64;
        }
        break;
      }
      case Output::Kind::kIntegerSum: {
        // As SQLite's sum() adds: a float makes the total a float; an
        // integer total past 64 bits is its "integer overflow".
        int type = sqlite3_value_numeric_type(value);
        if (type == SQLITE_NULL) break;
        ++running.count;
        if (type == SQLITE_INTEGER) {
          std::int64_t number = sqlite3_value_int64(value);
          running.real_sum += static_cast<double>(number);
          if (!running.approximate && !running.overflowed &&
              __builtin_add_overflow(running.sum, number, &running.sum))
            running.approximate = running.overflowed = true;
        } else {
          running.real_sum += sqlite3_value_double(value);
          running.approximate = true;
        }
        break;
      }
      case Output::Kind::kSum:
      case Output::Kind::kAverage:
        if (!running.total->Add(value))
          return std::string("an exact function's argument is not in the stored form");
        break;
    }
  }
  return std::nullopt;
}

int Connect(sqlite3* db, void*, int, const char* const*, sqlite3_vtab** out, char**) {
  std::string schema = "CREATE TABLE x(";
  for (int k = 0; k < kGroupedColumns; ++k) schema += "c" + std::to_string(k) + ", ";
  schema += "query HIDDEN, plan HIDDEN";
  for (int k = 0; k < kMaxGroupedParameters; ++k) schema += ", p" + std::to_string(k) + " HIDDEN";
  schema += ")";
  int rc = sqlite3_declare_vtab(db, schema.c_str());
  if (rc != SQLITE_OK) return rc;
  auto* table = new (std::nothrow) Table();
  if (table == nullptr) return SQLITE_NOMEM;
  table->db = db;
  *out = table;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* table) {
  delete static_cast<Table*>(table);
  return SQLITE_OK;
}

// Takes only the plan in which both arguments are known constants, and
// compiles the query then, inside the compilation of the statement naming
// the function: its reads are authorised as that statement's. The query
// runs later from idxStr, which nothing but this function sets.
int BestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
  int query = -1;
  int plan = -1;
  std::vector<int> parameters(kMaxGroupedParameters, -1);
  for (int k = 0; k < info->nConstraint; ++k) {
    const auto& constraint = info->aConstraint[k];
    if (constraint.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    if (constraint.iColumn == kQueryColumn) {
      if (!constraint.usable) return SQLITE_CONSTRAINT;
      query = k;
    } else if (constraint.iColumn == kPlanColumn) {
      if (!constraint.usable) return SQLITE_CONSTRAINT;
      plan = k;
    } else if (constraint.iColumn >= kFirstParameterColumn &&
               constraint.iColumn < kFirstParameterColumn + kMaxGroupedParameters) {
      if (!constraint.usable) return SQLITE_CONSTRAINT;
      parameters[static_cast<size_t>(constraint.iColumn - kFirstParameterColumn)] = k;
    }
  }
  // SQLite also asks for plans of some of the statement's constraints alone
  // (the terms of an OR): those without the arguments are no plan.
  if (query < 0 || plan < 0) return SQLITE_CONSTRAINT;
  sqlite3_value* query_text = nullptr;
  sqlite3_value* plan_text = nullptr;
  if (sqlite3_vtab_rhs_value(info, query, &query_text) != SQLITE_OK ||
      sqlite3_vtab_rhs_value(info, plan, &plan_text) != SQLITE_OK ||
      sqlite3_value_type(query_text) != SQLITE_TEXT || sqlite3_value_type(plan_text) != SQLITE_TEXT)
    return Fail(vtab, "sqlengine_grouped takes constant texts");
  std::optional<Plan> parsed = ParsePlan(TextOf(plan_text));
  if (!parsed) return Fail(vtab, "sqlengine_grouped: not a plan");
  // One value for each parameter the plan names, no more.
  for (size_t k = 0; k < parameters.size(); ++k) {
    if ((parameters[k] >= 0) != (k < parsed->parameters.size())) return SQLITE_CONSTRAINT;
  }
  std::string_view sql = TextOf(query_text);
  sqlite3* db = static_cast<Table*>(vtab)->db;
  sqlite3_stmt* compiled = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &compiled, &tail);
  OwnedStatement statement(compiled);
  if (rc != SQLITE_OK) return FailFromDatabase(vtab, rc);
  if (statement == nullptr || !sqlite3_stmt_readonly(statement.get()) ||
      std::string_view(tail).find_first_not_of(" \t\r\n") != std::string_view::npos ||
      sqlite3_column_count(statement.get()) < parsed->columns_read)
    return Fail(vtab, "sqlengine_grouped: not a query of the plan's columns");
  info->aConstraintUsage[query].argvIndex = 1;
  info->aConstraintUsage[query].omit = 1;
  info->aConstraintUsage[plan].argvIndex = 2;
  info->aConstraintUsage[plan].omit = 1;
  for (size_t k = 0; k < parsed->parameters.size(); ++k) {
    info->aConstraintUsage[parameters[k]].argvIndex = static_cast<int>(k) + 3;
    info->aConstraintUsage[parameters[k]].omit = 1;
  }
  info->idxStr = sqlite3_mprintf("%.*s", static_cast<int>(sql.size()), sql.data());
  if (info->idxStr == nullptr) return SQLITE_NOMEM;
  info->needToFreeIdxStr = 1;
  info->estimatedCost = 1000;
  return SQLITE_OK;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* cursor = new (std::nothrow) Cursor();
  if (cursor == nullptr) return SQLITE_NOMEM;
  *out = cursor;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cursor) {
  delete static_cast<Cursor*>(cursor);
  return SQLITE_OK;
}

// Reads the sorted query up to the row that begins the group after the
// current one.
int ReadSortedGroup(Cursor& cursor) {
  cursor.current = std::move(cursor.next);
  if (!cursor.current) return SQLITE_OK;
  sqlite3_stmt* statement = cursor.statement.get();
  size_t unused = 0;
  for (;;) {
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) return SQLITE_OK;
    if (rc != SQLITE_ROW) return FailFromDatabase(cursor.pVtab, rc);
    std::string key = RowKey(statement, cursor.plan);
    Group* group = cursor.current.get();
    if (key != group->key) {
      cursor.next = NewGroup(statement, cursor.plan, std::move(key));
      group = cursor.next.get();
    }
    if (std::optional<std::string> error = AddRow(statement, cursor.plan, *group, unused))
      return Fail(cursor.pVtab, *error);
    if (group == cursor.next.get()) return SQLITE_OK;
  }
}

// Binds the query's parameters to the values the statement hands on.
int BindParameters(sqlite3_stmt* statement, const Plan& plan, sqlite3_value** values) {
  for (size_t k = 0; k < plan.parameters.size(); ++k) {
    int index = sqlite3_bind_parameter_index(statement, plan.parameters[k].c_str());
    if (index == 0) continue;
    if (int rc = sqlite3_bind_value(statement, index, values[k]); rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

// Runs `sql` ordered by its keys, as SQLite orders a GROUP BY's groups.
int StartSorted(Cursor& cursor, std::string_view sql, sqlite3_value** parameters) {
  std::string sorted = "SELECT * FROM (" + std::string(sql) + ") ORDER BY ";
  for (size_t k = 0; k < cursor.plan.keys.size(); ++k) {
    sorted += (k > 0 ? ", " : "") + std::to_string(k + 1);
    if (cursor.plan.keys[k] == Comparison::kNoCase) sorted += " COLLATE sqlengine_ci";
    if (cursor.plan.keys[k] == Comparison::kNational) sorted += " COLLATE sqlengine_ci_n";
    if (cursor.plan.keys[k] == Comparison::kCase) sorted += " COLLATE sqlengine_cs";
    std::string_view dictionary = tsql::GroupingCollation(static_cast<char>(cursor.plan.keys[k]));
    if (!dictionary.empty()) sorted += " COLLATE " + std::string(dictionary);
  }
  sqlite3* db = static_cast<Table*>(cursor.pVtab)->db;
  sqlite3_stmt* compiled = nullptr;
  int rc =
      sqlite3_prepare_v2(db, sorted.c_str(), static_cast<int>(sorted.size()), &compiled, nullptr);
  cursor.statement.reset(compiled);
  if (rc == SQLITE_OK) rc = BindParameters(compiled, cursor.plan, parameters);
  if (rc != SQLITE_OK) return FailFromDatabase(cursor.pVtab, rc);
  cursor.streaming = true;
  sqlite3_stmt* statement = cursor.statement.get();
  rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) return SQLITE_OK;
  if (rc != SQLITE_ROW) return FailFromDatabase(cursor.pVtab, rc);
  cursor.next = NewGroup(statement, cursor.plan, RowKey(statement, cursor.plan));
  size_t unused = 0;
  if (std::optional<std::string> error = AddRow(statement, cursor.plan, *cursor.next, unused))
    return Fail(cursor.pVtab, *error);
  return ReadSortedGroup(cursor);
}

int Filter(sqlite3_vtab_cursor* base, int, const char* sql, int arguments, sqlite3_value** values) {
  auto& cursor = *static_cast<Cursor*>(base);
  cursor.statement.reset();
  cursor.groups.clear();
  cursor.current.reset();
  cursor.next.reset();
  cursor.streaming = false;
  cursor.at = 0;
  cursor.row = 0;
  if (sql == nullptr || arguments < 2) return Fail(base->pVtab, "sqlengine_grouped: no query");
  std::optional<Plan> plan = ParsePlan(TextOf(values[1]));
  if (!plan || static_cast<size_t>(arguments) != 2 + plan->parameters.size())
    return Fail(base->pVtab, "sqlengine_grouped: not a plan");
  sqlite3_value** parameters = values + 2;
  cursor.plan = std::move(*plan);
  sqlite3* db = static_cast<Table*>(base->pVtab)->db;
  sqlite3_stmt* compiled = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &compiled, nullptr);
  cursor.statement.reset(compiled);
  if (rc == SQLITE_OK) rc = BindParameters(compiled, cursor.plan, parameters);
  if (rc != SQLITE_OK) return FailFromDatabase(base->pVtab, rc);
  if (sqlite3_column_count(compiled) < cursor.plan.columns_read)
    return Fail(base->pVtab, "sqlengine_grouped: not a query of the plan's columns");

  std::unordered_map<std::string, Group*> index;
  size_t bytes = 0;
  std::string key;
  for (;;) {
    rc = sqlite3_step(compiled);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) return FailFromDatabase(base->pVtab, rc);
    key = RowKey(compiled, cursor.plan);
    auto found = index.find(key);
    Group* group;
    if (found != index.end()) {
      group = found->second;
    } else {
      bytes += 2 * key.size() + 128 + 96 * cursor.plan.outputs.size();
      if (cursor.groups.size() >= kMaxHashedGroups || bytes > kMaxHashedBytes) {
        // Too many groups to hold: SQLite's way, sorted, one group at a time.
        index.clear();
        cursor.groups.clear();
        return StartSorted(cursor, sql, parameters);
      }
      cursor.groups.push_back(NewGroup(compiled, cursor.plan, key));
      group = cursor.groups.back().get();
      index.emplace(key, group);
    }
    if (std::optional<std::string> error = AddRow(compiled, cursor.plan, *group, bytes))
      return Fail(base->pVtab, *error);
    if (bytes > kMaxHashedBytes) {
      index.clear();
      cursor.groups.clear();
      return StartSorted(cursor, sql, parameters);
    }
  }
  cursor.statement.reset();
  const Plan& order = cursor.plan;
  std::sort(cursor.groups.begin(), cursor.groups.end(), [&order](const auto& a, const auto& b) {
    for (size_t k = 0; k < order.keys.size(); ++k) {
      int compared = CompareValues(a->keys[k].get(), b->keys[k].get(), order.keys[k]);
      if (compared != 0) return compared < 0;
    }
    return false;
  });
  return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
  auto& cursor = *static_cast<Cursor*>(base);
  ++cursor.row;
  if (!cursor.streaming) {
    ++cursor.at;
    return SQLITE_OK;
  }
  return ReadSortedGroup(cursor);
}

int Eof(sqlite3_vtab_cursor* base) {
  auto& cursor = *static_cast<Cursor*>(base);
  return cursor.streaming ? cursor.current == nullptr : cursor.at >= cursor.groups.size();
}

int Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
  auto& cursor = *static_cast<Cursor*>(base);
  const Group* group = cursor.streaming                   ? cursor.current.get()
                       : cursor.at < cursor.groups.size() ? cursor.groups[cursor.at].get()
                                                          : nullptr;
  if (group == nullptr || column < 0 || static_cast<size_t>(column) >= cursor.plan.outputs.size()) {
    sqlite3_result_null(context);
    return SQLITE_OK;
  }
  const Output& output = cursor.plan.outputs[static_cast<size_t>(column)];
  const Running& running = group->running[static_cast<size_t>(column)];
  switch (output.kind) {
    case Output::Kind::kKey:
      sqlite3_result_value(context, group->keys[static_cast<size_t>(output.column)].get());
      break;
    case Output::Kind::kCountRows:
    case Output::Kind::kCount:
    case Output::Kind::kNulls:
      sqlite3_result_int64(context, running.count);
      break;
    case Output::Kind::kMin:
    case Output::Kind::kMax:
      if (running.best)
        sqlite3_result_value(context, running.best.get());
      else
        sqlite3_result_null(context);
      break;
    case Output::Kind::kSum:
    case Output::Kind::kAverage:
      running.total->Result(context);
      break;
    case Output::Kind::kIntegerSum:
      if (running.count == 0)
        sqlite3_result_null(context);
      else if (running.overflowed)
        sqlite3_result_error(context, "integer overflow", -1);
      else if (running.approximate)
        sqlite3_result_double(context, running.real_sum);
      else
        sqlite3_result_int64(context, running.sum);
      break;
  }
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  *rowid = static_cast<Cursor*>(base)->row;
  return SQLITE_OK;
}

sqlite3_module MakeModule() {
  sqlite3_module module{};
  module.iVersion = 0;
  module.xCreate = nullptr;  // eponymous only: never CREATE VIRTUAL TABLE'd
  module.xConnect = Connect;
  module.xBestIndex = BestIndex;
  module.xDisconnect = Disconnect;
  module.xDestroy = Disconnect;
  module.xOpen = Open;
  module.xClose = Close;
  module.xFilter = Filter;
  module.xNext = Next;
  module.xEof = Eof;
  module.xColumn = Column;
  module.xRowid = Rowid;
  return module;
}

const sqlite3_module kModule = MakeModule();

}  // namespace

void RegisterHashGrouping(sqlite3* db) {
  if (sqlite3_create_module_v2(db, "sqlengine_grouped", &kModule, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_grouped");
}

}  // namespace sqlengine::exec
