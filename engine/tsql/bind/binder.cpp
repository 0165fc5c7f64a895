#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/view_load.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <deque>
#include <functional>
#include <utility>

#include "engine/common/error.h"
#include "engine/tsql/bind/catalog_functions.h"
#include "engine/tsql/bind/collation_labels.h"
#include "engine/tsql/bind/library_functions.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql::bind {
namespace {

using parse::Expr;
using parse::ExprKind;
using Bound = std::unique_ptr<BoundExpr>;

constexpr int kDefaultConversionLength = 30;

[[noreturn]] void Refuse(const std::string& why) { throw NotBound(why); }

// One source of the FROM clause as its columns are seen.
struct Binding {
  std::string exposed;  // the alias, or the table's name when none was given
  bool aliased = false;
  std::string sql_alias;  // quoted, as the generated SQL names it
  std::vector<Column> columns;
  std::vector<std::string> column_defaults;  // of a table: see TableShape
  std::vector<bool> computed_columns;        // of a table: see TableShape
  // Beside columns when they are another table's under other names (a view
  // changed through to its table): each column's name there.
  std::vector<std::string> written_names;
  // Beside columns: each one that is a derived column of the view a change
  // is written through (its value is the view's expression over the table).
  // Empty when none is.
  std::vector<bool> derived;
};

struct Scope {
  std::vector<Binding> bindings;
  const Scope* parent = nullptr;
};

// Which clause an expression is bound for: aggregates are allowed in the
// select list, HAVING and ORDER BY only.
enum class Clause { kSelect, kWhere, kGroupBy, kHaving, kOrderBy, kOn, kTop, kValues };

bool IsPredicate(const BoundExpr& e) {
  switch (e.kind) {
    case BoundKind::kComparison:
    case BoundKind::kAnd:
    case BoundKind::kOr:
    case BoundKind::kNot:
    case BoundKind::kBetween:
    case BoundKind::kInList:
    case BoundKind::kInQuery:
    case BoundKind::kLike:
    case BoundKind::kIsNull:
    case BoundKind::kExists:
    case BoundKind::kQuantified:
      return true;
    default:
      return false;
  }
}

bool SameTree(const BoundExpr& a, const BoundExpr& b) {
  if (a.kind != b.kind || a.op != b.op || a.sql != b.sql || a.type.type != b.type.type ||
      a.args.size() != b.args.size() || a.distinct != b.distinct || a.count_star != b.count_star ||
      a.query || b.query) {
    return false;
  }
  for (size_t k = 0; k < a.args.size(); ++k) {
    if (!SameTree(*a.args[k], *b.args[k])) return false;
  }
  return true;
}

Bound Make(BoundKind kind, ColumnType type) {
  auto node = std::make_unique<BoundExpr>();
  node->kind = kind;
  node->type = type;
  return node;
}

std::optional<std::int64_t> IntegerLiteralValue(std::string_view digits) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

bool NullableAny(const std::vector<Bound>& args) {
  return std::any_of(args.begin(), args.end(), [](const Bound& a) { return a->type.nullable; });
}

// Characters a decimal, money or float value may need as text in the
// default style (its sign, point or exponent included).
int NumberTextWidth(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kMoney:
    case SqlType::kSmallMoney:
      return 19;  // -922337203685477.58, as style 0 writes it
    case SqlType::kDecimal:
      return 1 + std::max(type.precision, type.scale + 1) + (type.scale > 0 ? 1 : 0);
    default:
      return 13;
  }
}

// Whether a value of `from` may be converted to `to` by this engine's
// generated SQL (explicit: CAST / CONVERT; else an implicit conversion).
bool IsBinaryData(SqlType type) {
  return type == SqlType::kBinary || type == SqlType::kVarBinary || type == SqlType::kImage;
}

bool IsLargeText(SqlType type) { return type == SqlType::kText || type == SqlType::kNText; }

// text, ntext and image: compared and sorted by no operator but IS NULL and
// LIKE (306), and taken by few functions.
bool IsLargeObject(SqlType type) { return IsLargeText(type) || type == SqlType::kImage; }

// Whether a value of `type` can be held by a sql_variant.
bool VariantHolds(const ColumnType& type) {
  return type.type != SqlType::kText && type.type != SqlType::kNText &&
         type.type != SqlType::kImage && type.length != kMaxLength;
}

bool Convertible(const ColumnType& from, const ColumnType& to) {
  // Into a sql_variant any value it can hold; out of one only explicitly (Cast).
  if (to.type == SqlType::kSqlVariant) return VariantHolds(from);
  if (from.type == SqlType::kSqlVariant) return false;
  TypeClass f = ClassOf(from.type), t = ClassOf(to.type);
  // Numbers and dates convert to the bytes SQL Server lays them out in,
  // character data to its bytes, and binary data to the characters its
  // bytes hold.
  if (to.type == SqlType::kBinary || to.type == SqlType::kVarBinary)
    return IsBinaryData(from.type) || f == TypeClass::kInteger || f == TypeClass::kCharacter ||
           f == TypeClass::kExactDecimal || f == TypeClass::kApproximate ||
           f == TypeClass::kDateTime || from.type == SqlType::kUniqueIdentifier;
  // A uniqueidentifier is read back from the 16 bytes it lays out.
  if ((from.type == SqlType::kBinary || from.type == SqlType::kVarBinary) &&
      to.type == SqlType::kUniqueIdentifier)
    return true;
  // text and ntext take character data and each other, and give theirs back
  // to character types; image takes and gives binary data. Nothing else.
  if (IsLargeText(to.type)) return f == TypeClass::kCharacter || IsLargeText(from.type);
  if (IsLargeText(from.type)) return t == TypeClass::kCharacter;
  if (to.type == SqlType::kImage) return IsBinaryData(from.type);
  if (from.type == SqlType::kImage) return false;
  if (IsBinaryData(from.type) && t == TypeClass::kCharacter) return true;
  // Into fewer than its 36 characters a value does not go: 8170 then.
  if (from.type == SqlType::kUniqueIdentifier && t == TypeClass::kCharacter) return true;
  if (f == TypeClass::kCharacter && to.type == SqlType::kUniqueIdentifier) return true;
  // Binary data converts back from those layouts; never to float or real.
  if ((from.type == SqlType::kBinary || from.type == SqlType::kVarBinary) &&
      (t == TypeClass::kInteger || t == TypeClass::kExactDecimal || t == TypeClass::kDateTime))
    return true;
  if (f == TypeClass::kOther || t == TypeClass::kOther) return false;
  if (to.type == SqlType::kBit) return IsNumeric(from.type) || f == TypeClass::kCharacter;
  if (f == t) return true;
  // A number and a datetime convert as days since 1900-01-01.
  if (f == TypeClass::kDateTime) return IsNumeric(to.type) || t == TypeClass::kCharacter;
  if (t == TypeClass::kDateTime && IsNumeric(from.type)) return from.type != SqlType::kBit;
  if (f == TypeClass::kCharacter) return IsNumeric(to.type) || t == TypeClass::kDateTime;
  if (t == TypeClass::kCharacter) {
    // A float's text, and an integer's in nchar or nvarchar, that does not
    // fit the length is 8115 when the value is converted.
    // So does an exact number's (8115; 234 for money), implicitly as by
    // CAST: '1.5' fits a varchar(3) whatever numeric holds it.
    if (f == TypeClass::kApproximate || f == TypeClass::kExactDecimal) return true;
    // An integer too long for char or varchar becomes '*'.
    return f == TypeClass::kInteger;
  }
  return IsNumeric(from.type) && IsNumeric(to.type);
}

// The character type a number or a date takes where a string function
// wants text: varchar as long as the value's default text can be; nullopt
// for other values.
std::optional<ColumnType> ImplicitTextType(const BoundExpr& value) {
  if (value.null_literal) return std::nullopt;
  ColumnType text{SqlType::kVarChar};
  switch (ClassOf(value.type.type)) {
    case TypeClass::kInteger:
      text.length = IntegerTextWidth(value.type.type);
      return text;
    case TypeClass::kExactDecimal:
      text.length = NumberTextWidth(value.type);
      return text;
    case TypeClass::kApproximate:
    case TypeClass::kDateTime:
      text.length = 30;
      return text;
    default:
      return std::nullopt;
  }
}

// `value` converted to `to`; values of the same type class are left as
// they are (SQLite holds them alike).
Bound ConvertTo(Bound value, ColumnType to) {
  if (value->null_literal) {
    to.nullable = true;
    value->type = to;
    return value;
  }
  TypeClass f = ClassOf(value->type.type), t = ClassOf(to.type);
  if (to.type == SqlType::kSqlVariant && value->type.type == SqlType::kSqlVariant) return value;
  bool numeric_pair = IsNumeric(value->type.type) && IsNumeric(to.type);
  bool binary_target = to.type == SqlType::kBinary || to.type == SqlType::kVarBinary;
  // A real holds fewer digits than a float: the value is rounded to them.
  bool to_real = to.type == SqlType::kReal && value->type.type != SqlType::kReal;
  if ((f == t || numeric_pair) && to.type != SqlType::kBit && !binary_target &&
      to.type != SqlType::kSqlVariant && !to_real)
    return value;
  if (!Convertible(value->type, to)) Refuse("conversion");
  to.nullable = value->type.nullable;
  Bound node = Make(BoundKind::kConvert, to);
  node->args.push_back(std::move(value));
  return node;
}

// `value` as one of several that give a result of type `to` (a CASE, a
// COALESCE, a UNION column): as ConvertTo, and a char(n) or nchar(n) value
// under a varying result keeps its trailing blanks, as SQL Server's
// conversion of it does.
Bound AsResultValue(Bound value, const ColumnType& to) {
  const bool fixed = value->type.type == SqlType::kChar || value->type.type == SqlType::kNChar;
  const bool varying_to = ClassOf(to.type) == TypeClass::kCharacter && to.type != SqlType::kChar &&
                          to.type != SqlType::kNChar;
  if (!fixed || !varying_to || value->null_literal) return ConvertTo(std::move(value), to);
  ColumnType keeps = to;
  keeps.nullable = value->type.nullable;
  Bound node = Make(BoundKind::kConvert, keeps);
  node->args.push_back(std::move(value));
  return node;
}

// A text or ntext value read as varchar or nvarchar of any length, for the
// functions that take long text (SUBSTRING, PATINDEX); other values as they are.
Bound AsVaryingText(Bound value) {
  if (!IsLargeText(value->type.type)) return value;
  ColumnType to{value->type.type == SqlType::kNText ? SqlType::kNVarChar : SqlType::kVarChar};
  to.length = kMaxLength;
  return ConvertTo(std::move(value), to);
}

struct FunctionRule {
  std::string_view name;
  std::string_view sql;
  int min_args, max_args;
};

constexpr FunctionRule kFunctions[] = {
    {"getdate", "getdate", 0, 0},
    {"getutcdate", "getutcdate", 0, 0},
    {"datediff", "datediff", 3, 3},
    {"dateadd", "dateadd", 3, 3},
    {"datepart", "datepart", 2, 2},
    {"datename", "datename", 2, 2},
    {"year", "year", 1, 1},
    {"month", "month", 1, 1},
    {"day", "day", 1, 1},
    {"len", "len", 1, 1},
    {"upper", "upper", 1, 1},
    {"lower", "lower", 1, 1},
    {"ltrim", "ltrim", 1, 1},
    {"rtrim", "rtrim", 1, 1},
    {"substring", "substring", 3, 3},
    {"left", "\"left\"", 2, 2},
    {"right", "\"right\"", 2, 2},
    {"isnull", "ifnull", 2, 2},
    {"coalesce", "coalesce", 2, 64},
    {"nullif", "nullif", 2, 2},
    {"abs", "abs", 1, 1},
    {"charindex", "charindex", 2, 3},
    // The level counter of a recursive CTE (see tsql/recursion_limit.h).
    {"sqlengine_recursion", "sqlengine_recursion", 2, 2},
};

// Tells the catalog the binder is inside an object's body for its lifetime.
class BodyGuard {
 public:
  BodyGuard(Catalog& catalog, const std::string& schema, const std::string& name,
            ObjectReach::Kind kind)
      : catalog_(catalog) {
    catalog_.EnterBody(schema, name, kind);
  }
  ~BodyGuard() { catalog_.LeaveBody(); }
  BodyGuard(const BodyGuard&) = delete;
  BodyGuard& operator=(const BodyGuard&) = delete;

 private:
  Catalog& catalog_;
};

class Binder {
 public:
  // The first block's select list may call IDENTITY() when it has INTO.
  void AllowIdentityFunction(const parse::Query& query) {
    if (!query.terms.empty() && !query.terms.front()->into.empty())
      identity_block_ = query.terms.front().get();
  }

  explicit Binder(Catalog& catalog) : catalog_(catalog) {}

  // Variables the statement assigns row by row, read as each row leaves them.
  void ReadLive(std::vector<std::string> names) { live_variables_ = std::move(names); }

  // SELECT @a = @a + 1, @b = @a: the items of one row assign their variables
  // left to right, each reading what the items before it stored. An item
  // whose variable a later item reads stores it as it is worked out
  // (kAssignFunction), before the items after it; its column then holds the
  // value in the variable's type.
  void AssignInOrder(BoundQuery& query) {
    if (live_variables_.empty() || query.terms.size() != 1) return;
    std::vector<Bound>& items = query.terms.front().items;
    if (items.size() != live_variables_.size() || query.columns.size() != items.size()) return;
    for (size_t j = 0; j + 1 < items.size(); ++j) {
      const std::string read = LiveRead(live_variables_[j]);
      bool read_later = false;
      for (size_t k = j + 1; k < items.size() && !read_later; ++k)
        read_later = ReadsVariable(*items[k], read);
      if (!read_later) continue;
      ColumnType type = DeclaredVariable(live_variables_[j]);
      type.nullable = true;
      Bound name = Make(BoundKind::kLiteral, ColumnType{SqlType::kVarChar});
      name->sql = QuoteSqliteString(ToLower(live_variables_[j]));
      Bound call = Make(BoundKind::kCall, type);
      call->sql = std::string(kAssignFunction);
      call->args.push_back(std::move(name));
      call->args.push_back(ForVariable(std::move(items[j]), type));
      items[j] = std::move(call);
      query.columns[j].type = type;
    }
  }

  // Binds a statement's WITH list in order: each table sees the ones before
  // it and itself (a recursive reference reads the columns of its first
  // term, the anchor).
  std::vector<BoundCommonTable> With(const std::vector<parse::CommonTable>& with) {
    std::vector<BoundCommonTable> bound;
    for (const parse::CommonTable& table : with) {
      for (const CommonTableState& earlier : common_tables_) {
        if (EqualsIgnoreCase(earlier.definition->name, table.name)) Refuse("CTE named twice");
      }
      common_tables_.push_back(CommonTableState{&table, std::nullopt});
      visible_common_tables_ = common_tables_.size();
      publishing_ = &common_tables_.back();
      BoundQuery query = NestedQuery(*table.query, nullptr);
      CommonTableState& state = common_tables_.back();
      state.columns = NamedColumns(table, std::move(query.columns));
      bound.push_back(BoundCommonTable{table.name, *state.columns, std::move(query)});
      bound.back().query.columns = *state.columns;
    }
    return bound;
  }

  // A query inside another (a derived table, a subquery, a CTE): ORDER BY
  // only with TOP, which gives it rows to choose. Definitions stored before
  // this rule (a view read here) are taken as they are.
  BoundQuery NestedQuery(const parse::Query& query, const Scope* parent) {
    if (view_depth_ == 0) RequireTopForOrderBy(query);
    return Query(query, parent);
  }

  BoundQuery Query(const parse::Query& query, const Scope* parent) {
    BoundQuery bound;
    std::vector<Scope> scopes;
    CommonTableState* publish = std::exchange(publishing_, nullptr);
    for (size_t k = 0; k < query.terms.size(); ++k) {
      scopes.emplace_back();
      scopes.back().parent = parent;
      bound.terms.push_back(
          Block(*query.terms[k], scopes.back(), k == 0 ? &bound.columns : nullptr,
                query.order_by.empty() || query.terms.size() > 1 ? nullptr : &query.order_by,
                &bound.order_by));
      if (k == 0 && publish != nullptr)
        publish->columns = NamedColumns(*publish->definition, bound.columns);
    }
    bound.union_all = query.union_all;
    bool ties = std::any_of(query.terms.begin(), query.terms.end(),
                            [](const auto& term) { return term->top_ties; });
    if (ties && query.terms.size() > 1) Refuse("WITH TIES in a UNION");
    if (ties && query.order_by.empty()) throw MakeError(1062);
    if (query.terms.size() > 1) {
      UnifyUnionColumns(bound);
      SettleUnionCollations(bound);
      for (const parse::OrderItem& item : query.order_by) {
        int ordinal = OrdinalOf(*item.expr, bound.columns, query.terms.front()->items);
        if (ordinal == 0 && NamesNoUnionColumn(*item.expr, query.terms.front()->items))
          throw MakeError(104);
        if (ordinal == 0) Refuse("ORDER BY of a UNION names no result column");
        bound.order_by.push_back(BoundOrder{nullptr, ordinal, item.descending});
      }
    }
    // A view stored before these checks is read as it is.
    if (view_depth_ == 0) CheckQueryCollations(bound);
    CheckLargeObjectsUnsorted(bound);
    return bound;
  }

  // text, ntext and image values are never sorted, grouped or made
  // distinct: 306 for ORDER BY and GROUP BY, 8163 for DISTINCT and UNION.
  static void CheckLargeObjectsUnsorted(const BoundQuery& query) {
    auto large = [](const ColumnType& type) { return IsLargeObject(type.type); };
    for (const BoundOrder& order : query.order_by) {
      const ColumnType& type = order.expr ? order.expr->type : query.columns[order.ordinal - 1].type;
      if (large(type)) throw MakeError(306);
    }
    bool merged = std::any_of(query.union_all.begin(), query.union_all.end(),
                              [](bool all) { return !all; });
    for (const BoundSelectBlock& block : query.terms) {
      for (const Bound& group : block.group_by) {
        if (large(group->type)) throw MakeError(306);
      }
      if (!block.distinct && !merged) continue;
      for (const Bound& item : block.items) {
        if (large(item->type)) throw MakeError(8163);
      }
    }
  }

  BoundInsert Insert(const parse::InsertStatement& insert) {
    if (CommonTableNamed(insert.table)) Refuse("INSERT into a CTE");
    std::optional<TableShape> table = FindTable(insert.table);
    if (table->system_catalog) throw MakeError(259);
    change_ = Change::kInsert;
    std::vector<std::string> listed = insert.columns;
    std::optional<ViewTarget> through;
    if (table->view_query && TakenInstead(*table)) {
      // Written to the view itself; its INSTEAD OF trigger sees the rows.
      table->columns = ViewColumns(*table);
    } else if (table->view_query) {
      if (listed.empty()) {
        for (const Column& column : table->columns) listed.push_back(column.name);
      }
      changed_columns_ = &listed;
      through = UpdatableView(*table);
      changed_columns_ = nullptr;
      for (std::string& name : listed) name = through->WrittenColumn(name, table->name);
      table = through->table;
    }
    BoundInsert bound;
    bound.table_sql = table->sql;
    if (through) bound.check = ViewConditions(*through, "NEW", false);
    std::vector<const Column*> targets;
    if (insert.default_values) {
      // One row of every column's default; an identity column counts on and
      // a computed column takes no value.
      std::vector<Bound> values;
      for (const Column& column : table->columns) {
        if (column.type.identity || Computed(column, *table, table->columns)) continue;
        bound.columns.push_back(column.name);
        values.push_back(Default(column, *table, table->columns));
      }
      bound.rows.push_back(std::move(values));
      return bound;
    }
    if (listed.empty()) {
      // A computed column takes no value.
      for (const Column& column : table->columns) {
        if (!Computed(column, *table, table->columns)) targets.push_back(&column);
      }
    } else {
      for (const std::string& name : listed) {
        const Column* column = FindColumn(table->columns, name);
        if (column == nullptr) throw MakeError(207, {name});
        if (Computed(*column, *table, table->columns)) throw MakeError(271, {column->name});
        if (std::find(targets.begin(), targets.end(), column) != targets.end())
          throw MakeError(264, {column->name});
        targets.push_back(column);
      }
    }
    for (const Column* column : targets) {
      bound.columns.push_back(column->name);
      bound.column_types.push_back(column->type);
    }
    Scope none;
    for (const auto& row : insert.rows) {
      if (row.size() != targets.size()) {
        if (!listed.empty()) throw MakeError(row.size() < targets.size() ? 109 : 110);
        // The executor lists the columns of a table with an identity column.
        bool identity = std::any_of(targets.begin(), targets.end(),
                                    [](const Column* column) { return column->type.identity; });
        if (identity) Refuse("value count");
        throw MakeError(213);
      }
      std::vector<Bound> values;
      for (size_t k = 0; k < row.size(); ++k) {
        const Column& column = *targets[k];
        values.push_back(row[k] ? Assigned(Value(*row[k], none, Clause::kValues), column.type)
                                : Default(column, *table, table->columns));
        // A timestamp column takes NULL or DEFAULT only; its triggers give the value.
        if (column.type.row_version && !values.back()->null_literal) throw MakeError(273);
      }
      bound.rows.push_back(std::move(values));
    }
    if (insert.query) {
      bound.query = std::make_unique<BoundQuery>(Query(*insert.query, nullptr));
      if (size_t width = bound.query->columns.size(); width != targets.size()) {
        if (!listed.empty()) throw MakeError(width < targets.size() ? 120 : 121);
        // As for VALUES: the executor lists the columns of a table with an identity column.
        if (std::any_of(targets.begin(), targets.end(),
                        [](const Column* column) { return column->type.identity; }))
          Refuse("select list width");
        throw MakeError(213);
      }
      for (BoundSelectBlock& term : bound.query->terms) {
        for (size_t k = 0; k < targets.size(); ++k) {
          term.items[k] = Assigned(std::move(term.items[k]), targets[k]->type);
          if (targets[k]->type.row_version && !term.items[k]->null_literal)
            throw MakeError(273);
        }
      }
      SelectClockDefaults(*table, targets, bound);
    }
    return bound;
  }

  ViewLoadTarget ViewLoad(const TableShape& view, const std::vector<std::string>& columns,
                          bool fire_triggers) {
    change_ = Change::kInsert;
    ViewLoadTarget target;
    if (fire_triggers && TakenInstead(view)) {
      // The rows are written to the view itself, in its columns, for its
      // trigger: as sent, with no identity or default of a table.
      target.view_columns = ViewColumns(view);
      target.table = view;
      target.table.columns = target.view_columns;
      for (Column& column : target.table.columns) {
        column.type.identity = false;
        target.written.push_back(column.name);
      }
      target.table.column_defaults.assign(target.table.columns.size(), "");
      target.table.computed_columns.clear();
      target.instead = true;
      return target;
    }
    std::vector<std::string> loaded = columns;
    if (loaded.empty()) {
      for (const Column& column : view.columns) loaded.push_back(column.name);
    }
    changed_columns_ = &loaded;
    loading_ = true;
    load_fires_triggers_ = fire_triggers;
    ViewTarget through = UpdatableView(view);
    changed_columns_ = nullptr;
    loading_ = false;
    target.view_columns = ViewColumns(view);
    target.written = std::move(through.written);
    target.check = ViewConditions(through, "NEW", false);
    target.table = std::move(*through.table);
    return target;
  }

  // A column left out of INSERT ... SELECT whose DEFAULT reads the clock
  // (GETDATE()) is filled by the query instead of by the table's default,
  // which SQLite would work out again for each row: SQL Server works it out
  // once per statement, so every row the statement inserts has one value.
  static void SelectClockDefaults(const TableShape& table, const std::vector<const Column*>& targets,
                                  BoundInsert& bound) {
    for (size_t k = 0; k < table.columns.size() && k < table.column_defaults.size(); ++k) {
      const Column& column = table.columns[k];
      std::string text = table.column_defaults[k];
      std::transform(text.begin(), text.end(), text.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (text.find("getdate(") == std::string::npos &&
          text.find("getutcdate(") == std::string::npos)
        continue;
      if (std::find(targets.begin(), targets.end(), &column) != targets.end() ||
          column.type.identity || column.type.row_version ||
          Computed(column, table, table.columns))
        continue;
      bound.columns.push_back(column.name);
      bound.column_types.push_back(column.type);
      bound.query->columns.push_back(Column{column.name, column.type});
      for (BoundSelectBlock& term : bound.query->terms)
        term.items.push_back(Default(column, table, table.columns));
    }
  }

  BoundChange Update(const parse::UpdateStatement& update) {
    Scope scope;
    BoundChange bound;
    change_ = Change::kUpdate;
    std::vector<std::string> assigned;
    for (const parse::Assignment& assignment : update.assignments) {
      if (!assignment.column.empty()) assigned.push_back(assignment.column.back());
    }
    changed_columns_ = &assigned;
    const Binding& target = Target(update.target, update.from, scope, bound);
    changed_columns_ = nullptr;
    live_variables_ = AssignedVariables(update);
    for (const parse::Assignment& assignment : update.assignments) {
      if (assignment.column.empty()) {
        bound.assignments.push_back(VariableAssignment(assignment, scope));
        continue;
      }
      if (assignment.column.size() == 2 && !EqualsIgnoreCase(assignment.column[0], target.exposed))
        Refuse("SET column of another table");
      const Column* column = FindColumn(target.columns, assignment.column.back());
      if (column == nullptr) throw MakeError(207, {assignment.column.back()});
      if (view_target_ && view_target_->Derived(column->name))
        throw MakeError(4406, {view_target_->view_name});
      if (Computed(*column, target, target.columns)) throw MakeError(271, {column->name});
      if (column->type.row_version) throw MakeError(272);
      if (column->type.identity) Refuse("identity column");
      size_t k = static_cast<size_t>(column - target.columns.data());
      const std::string& written =
          k < target.written_names.size() ? target.written_names[k] : column->name;
      for (const BoundAssignment& earlier : bound.assignments) {
        if (earlier.column == written) throw MakeError(264, {column->name});
      }
      BoundAssignment item;
      item.column = written;
      item.value = assignment.value
                       ? Assigned(Value(*assignment.value, scope, Clause::kValues), column->type)
                       : Default(*column, target, target.columns);
      item.type = column->type;
      if (!assignment.variable.empty()) AlsoToVariable(item, assignment);
      bound.assignments.push_back(std::move(item));
    }
    if (update.where) AddCondition(bound, Predicate(*update.where, scope, Clause::kWhere));
    if (view_target_) bound.check = ViewConditions(*view_target_, "NEW", false);
    return bound;
  }

  Bound Condition(const Expr& condition) {
    Scope none;
    return Predicate(condition, none, Clause::kWhere);
  }

  // A table's columns are in reach bare: the expression is stored in the
  // table's own definition, where SQLite knows no alias.
  Bound TableExpression(const Expr& expr, const std::string& table,
                        const std::vector<Column>& columns, bool predicate,
                        const std::optional<ColumnType>& stored_as) {
    Scope scope;
    Binding row;
    row.exposed = table;
    row.columns = columns;
    scope.bindings.push_back(std::move(row));
    table_expression_ = true;
    if (predicate) return Predicate(expr, scope, Clause::kWhere);
    Bound value = Value(expr, scope, Clause::kWhere);
    return stored_as ? Assigned(std::move(value), *stored_as) : std::move(value);
  }

  BoundChange Delete(const parse::DeleteStatement& statement) {
    Scope scope;
    BoundChange bound;
    change_ = Change::kDelete;
    Target(statement.target, statement.from, scope, bound);
    if (statement.where) AddCondition(bound, Predicate(*statement.where, scope, Clause::kWhere));
    return bound;
  }

 private:
  // ---- variables an UPDATE assigns

  static std::vector<std::string> AssignedVariables(const parse::UpdateStatement& update) {
    std::vector<std::string> names;
    for (const parse::Assignment& assignment : update.assignments) {
      if (!assignment.variable.empty()) names.push_back(ToLower(assignment.variable));
    }
    return names;
  }

  bool IsLive(const std::string& name) const {
    return std::find(live_variables_.begin(), live_variables_.end(), ToLower(name)) !=
           live_variables_.end();
  }

  // Whether `e` (its subqueries too) reads `read`, a LiveRead.
  static bool ReadsVariable(const BoundExpr& e, const std::string& read) {
    if (e.kind == BoundKind::kParameter && e.sql == read) return true;
    for (const Bound& arg : e.args) {
      if (ReadsVariable(*arg, read)) return true;
    }
    if (!e.query) return false;
    for (const BoundSelectBlock& block : e.query->terms) {
      for (const Bound& item : block.items) {
        if (ReadsVariable(*item, read)) return true;
      }
      for (const Bound* part : {&block.where, &block.having}) {
        if (*part && ReadsVariable(**part, read)) return true;
      }
    }
    return false;
  }

  static std::string LiveRead(const std::string& slot) {
    return std::string(kReadFunction) + "(" + QuoteSqliteString(ToLower(slot)) + ")";
  }

  ColumnType DeclaredVariable(const std::string& name) {
    std::optional<ColumnType> type = catalog_.VariableType(name);
    if (!type) throw MakeError(137, {name});
    type->identity = false;
    return *type;
  }

  // `value` in the class of the variable's type; the executor fits it to the
  // type itself as it stores it (length, precision, range).
  static Bound ForVariable(Bound value, const ColumnType& type) {
    if (value->null_literal) return value;
    return ConvertTo(std::move(value), type);
  }

  // `@v = value`.
  BoundAssignment VariableAssignment(const parse::Assignment& assignment, const Scope& scope) {
    BoundAssignment bound;
    bound.variable = ToLower(assignment.variable);
    bound.variable_type = DeclaredVariable(assignment.variable);
    bound.variable_value =
        ForVariable(Value(*assignment.value, scope, Clause::kValues), bound.variable_type);
    return bound;
  }

  // `@v = column = value`: the variable takes the column's new value, which
  // the row holds under the column's slot.
  void AlsoToVariable(BoundAssignment& bound, const parse::Assignment& assignment) {
    bound.variable = ToLower(assignment.variable);
    bound.variable_type = DeclaredVariable(assignment.variable);
    ColumnType stored = bound.type;
    stored.nullable = true;
    stored.identity = false;
    Bound column_value = Make(BoundKind::kParameter, stored);
    column_value->sql = LiveRead(ColumnSlot(bound.column));
    bound.variable_value = ForVariable(std::move(column_value), bound.variable_type);
  }

  // ---- names

  // The table `name` names. Throws 208 when nothing of that name exists,
  // NotBound when it is something the binder cannot describe.
  std::optional<TableShape> FindTable(const std::vector<std::string>& name) {
    std::optional<TableShape> table = catalog_.FindTable(name);
    if (table) return table;
    // SQL Server names the object as it was written: 'bob.t', 'db..t'.
    if (!catalog_.ObjectExists(name)) throw MakeError(208, {DottedName{name, 0}.Written()});
    Refuse("a table the binder cannot describe");
  }

  // ---- data changes

  // One view of the chain a change is written through, outermost first.
  struct ViewLevel {
    std::shared_ptr<const parse::Query> query;  // keeps `where` alive
    const parse::Expr* where = nullptr;
    std::string source_name;                              // how the view's query names its source
    std::vector<Column> source_columns;                   // the source's columns, typed
    std::vector<std::optional<std::string>> item_source;  // each view column's source column
    std::vector<const parse::Expr*> item_expr;  // each view column's expression; null for a `*`
    std::vector<std::string> view_columns;
    std::vector<std::optional<std::string>> source_written;  // each source column in the table
    bool check_option = false;
    std::string view_schema, view_name;  // the view whose query this is
    // A view over an inner join writes one of its tables: the others and
    // the join's conditions hold a row in the view beside `where`.
    std::vector<const parse::TableSource*> joined_others;
    std::vector<const parse::Expr*> join_conditions;
    // The others as an UPDATE of the outermost view reads them beside its
    // table, under their own aliases (empty when not read so).
    std::vector<Binding> joined_bindings;
    // Over an outer join, such an UPDATE reads the view's whole FROM as one
    // derived table (its written table a second time, `written_leaf` among
    // its tables in order), tied to the changed row by that table's rowid:
    // `written_copy`, its alias. The join's conditions stay in its ON
    // clauses.
    const std::vector<std::unique_ptr<parse::TableSource>>* outer_from = nullptr;
    size_t written_leaf = 0;
    std::string written_copy;
  };

  // A change of a view without an INSTEAD OF trigger, written to the one
  // table under it (through nested views too), or to the first view on the
  // way that has an INSTEAD OF trigger for it.
  struct ViewTarget {
    std::string view_name;
    std::optional<TableShape> table;
    std::vector<std::string> view_columns;
    std::vector<std::optional<std::string>> written;  // nullopt: derived or constant
    std::vector<ViewLevel> levels;

    std::optional<size_t> IndexOf(const std::string& name) const {
      for (size_t k = 0; k < view_columns.size(); ++k) {
        if (EqualsIgnoreCase(view_columns[k], name)) return k;
      }
      return std::nullopt;
    }
    bool Derived(const std::string& name) const {
      std::optional<size_t> k = IndexOf(name);
      return k && !written[*k];
    }
    // Throws 207 for no such column, 4406 for a derived one.
    std::string WrittenColumn(const std::string& name, const std::string& view) const {
      std::optional<size_t> k = IndexOf(name);
      if (!k) throw MakeError(207, {name});
      if (!written[*k]) throw MakeError(4406, {view});
      return *written[*k];
    }
  };

  static std::optional<std::string> SourceColumnOf(const parse::Expr& expr) {
    if (expr.kind != ExprKind::kColumn) return std::nullopt;
    return expr.names.back();
  }

  // Whether `expr` calls an aggregate (not counting its subqueries').
  static bool CallsAggregate(const parse::Expr& expr) {
    if (expr.kind == ExprKind::kCall && expr.names.size() == 1) {
      const std::string& name = expr.names[0];
      if (name == "count" || name == "count_big" || name == "sum" || name == "avg" ||
          name == "min" || name == "max" || name == "checksum_agg" || name == "grouping" ||
          IsStatisticalAggregate(name))
        return true;
    }
    return std::any_of(expr.args.begin(), expr.args.end(),
                       [](const auto& arg) { return arg && CallsAggregate(*arg); });
  }

  // The table a change through `view` writes when the view's query `block`
  // reads several tables: the one the changed columns (`loaded`, by the
  // view's names) all come from (4405 when they come from more than one),
  // with, per view column, the column of that table it writes (nullopt for
  // the other tables' columns and derived ones).
  struct JoinedSource {
    const parse::TableSource* source = nullptr;
    std::vector<std::optional<std::string>> item_source;
    std::vector<const parse::Expr*> item_expr;
    std::vector<const parse::TableSource*> others;  // the tables not written
    std::vector<const parse::Expr*> conditions;     // the inner joins' ON conditions
    bool outer_join = false;
    size_t written_leaf = 0;  // the source's place among the join's tables
  };
  JoinedSource WrittenJoinSource(const TableShape& view, const parse::SelectBlock& block,
                                const std::vector<std::string>& loaded_columns) {
    std::vector<const parse::TableSource*> sources;
    std::vector<const parse::Expr*> conditions;
    bool outer_join = false;
    std::function<void(const parse::TableSource&)> flatten = [&](const parse::TableSource& from) {
      if (from.kind == parse::TableSource::Kind::kJoin) {
        if (from.join != parse::JoinKind::kInner && from.join != parse::JoinKind::kCross)
          outer_join = true;
        if (from.on) conditions.push_back(from.on.get());
        flatten(*from.left);
        flatten(*from.right);
      } else if (from.kind == parse::TableSource::Kind::kTable) {
        sources.push_back(&from);
      } else {
        Refuse("a change through a view of a derived table or a function");
      }
    };
    for (const auto& from : block.from) flatten(*from);
    std::vector<std::vector<Column>> columns;
    {
      BodyGuard inside(catalog_, view.schema, view.name, ObjectReach::Kind::kView);
      for (const parse::TableSource* from : sources) {
        std::optional<TableShape> shape = FindTable(from->name);
        columns.push_back(shape->view_query ? ViewColumns(*shape) : shape->columns);
      }
    }
    auto exposed = [](const parse::TableSource& from) {
      return from.alias.empty() ? from.name.back() : from.alias;
    };
    auto has = [](const std::vector<Column>& among, const std::string& name) {
      return std::any_of(among.begin(), among.end(),
                         [&](const Column& column) { return EqualsIgnoreCase(column.name, name); });
    };
    // Per view column (a * expanded): the source it reads and its column there.
    std::vector<std::optional<size_t>> item_table;
    std::vector<std::optional<std::string>> item_column;
    std::vector<const parse::Expr*> item_expr;
    for (const parse::SelectItem& item : block.items) {
      if (item.star) {
        for (size_t k = 0; k < sources.size(); ++k) {
          if (!item.star_qualifier.empty() &&
              !EqualsIgnoreCase(item.star_qualifier.back(), exposed(*sources[k])))
            continue;
          for (const Column& column : columns[k]) {
            item_table.push_back(k);
            item_column.push_back(column.name);
            item_expr.push_back(nullptr);
          }
        }
        continue;
      }
      std::optional<size_t> table;
      if (item.expr->kind == ExprKind::kColumn) {
        const std::vector<std::string>& names = item.expr->names;
        for (size_t k = 0; k < sources.size() && !table; ++k) {
          bool qualified_here =
              names.size() < 2 || EqualsIgnoreCase(names[names.size() - 2], exposed(*sources[k]));
          if (qualified_here && has(columns[k], names.back())) table = k;
        }
      }
      item_table.push_back(table);
      item_column.push_back(table ? std::optional<std::string>(item.expr->names.back())
                                  : std::nullopt);
      item_expr.push_back(item.expr.get());
    }
    if (item_table.size() != view.columns.size()) Refuse("view changed its width");
    std::optional<size_t> loaded;
    for (const std::string& name : loaded_columns) {
      for (size_t k = 0; k < view.columns.size(); ++k) {
        if (!EqualsIgnoreCase(view.columns[k].name, name) || !item_table[k]) continue;
        if (loaded && *loaded != *item_table[k]) throw MakeError(4405, {view.name});
        loaded = item_table[k];
      }
    }
    JoinedSource joined;
    joined.source = sources[loaded.value_or(0)];
    for (size_t k = 0; k < item_table.size(); ++k) {
      bool written = item_table[k] && *item_table[k] == loaded.value_or(0);
      joined.item_source.push_back(written ? item_column[k] : std::nullopt);
      joined.item_expr.push_back(item_expr[k]);
    }
    for (size_t k = 0; k < sources.size(); ++k) {
      if (k != loaded.value_or(0)) joined.others.push_back(sources[k]);
    }
    joined.conditions = std::move(conditions);
    joined.outer_join = outer_join;
    joined.written_leaf = loaded.value_or(0);
    return joined;
  }

  // How `view` writes to its table: one query block over one table or view,
  // without DISTINCT, TOP, GROUP BY, HAVING or an aggregate. Throws SQL
  // Server's error for the views it cannot write through (4403, 4426,
  // 4405), NotBound for those it writes and this engine does not.
  ViewTarget UpdatableView(const TableShape& view) {
    constexpr int kMaxViewNesting = 32;
    ViewTarget target;
    target.view_name = view.name;
    for (const Column& column : view.columns) target.view_columns.push_back(column.name);
    TableShape current = view;
    // A load's columns by the names of `current`, and whether a view so far
    // was made WITH CHECK OPTION (which holds for the views under it too).
    std::vector<std::string> loaded;
    if (changed_columns_ != nullptr) loaded = *changed_columns_;
    bool checked = false;
    for (int depth = 0;; ++depth) {
      if (depth >= kMaxViewNesting) Refuse("views nested too deeply");
      const parse::Query& query = *current.view_query;
      // UNION ALL may make a partitioned view, which SQL Server writes to
      // the member the row belongs to; this engine does not.
      if (std::find(query.union_all.begin(), query.union_all.end(), false) != query.union_all.end())
        throw MakeError(4426, {current.name});
      if (query.terms.size() != 1 || current.view_with) Refuse("change through a UNION view");
      const parse::SelectBlock& block = *query.terms.front();
      bool aggregated = std::any_of(
          block.items.begin(), block.items.end(),
          [](const parse::SelectItem& item) { return item.expr && CallsAggregate(*item.expr); });
      if (block.distinct || !block.group_by.empty() || block.having || aggregated)
        throw MakeError(4403, {current.name});
      std::optional<JoinedSource> joined;
      checked = checked || current.check_option;
      if (block.from.size() != 1 || block.from.front()->kind != parse::TableSource::Kind::kTable) {
        // A DELETE removes a row of the view from every table it reads.
        if (change_ == Change::kDelete) throw MakeError(4405, {current.name});
        joined = WrittenJoinSource(current, block, loaded);
        // An INSERT writes the one table whatever the join; an UPDATE of
        // the outermost view reads its whole join beside the table
        // (ReadJoinedBeside). The row of an outer join's view is not a
        // condition over the others, as a CHECK OPTION or a view further
        // in would ask.
        if (joined->outer_join && (checked || (change_ == Change::kUpdate && depth > 0)))
          Refuse("a change through a view of an outer join");
      }
      if (block.top) Refuse("change through a view with TOP");
      const parse::TableSource& from = joined ? *joined->source : *block.from.front();
      std::optional<TableShape> source;
      {
        BodyGuard inside(catalog_, current.schema, current.name, ObjectReach::Kind::kView);
        source = FindTable(from.name);
      }
      if (source->system_catalog) throw MakeError(259);
      // The statement's write lock and triggers are those of the view's own
      // database.
      if (joined && !loading_ && source->schema != current.schema)
        Refuse("a change through a join view to another database's table");
      if (joined && joined->outer_join && change_ == Change::kUpdate && source->view_query)
        Refuse("an UPDATE through an outer join's view of a view");
      ViewLevel level;
      level.query = current.view_query;
      level.where = block.where.get();
      level.source_name = from.alias.empty() ? from.name.back() : from.alias;
      level.source_columns = source->view_query ? ViewColumns(*source) : source->columns;
      for (const Column& column : current.columns) level.view_columns.push_back(column.name);
      level.check_option = current.check_option;
      level.view_schema = current.schema;
      level.view_name = current.name;
      if (joined) {
        level.item_source = std::move(joined->item_source);
        level.item_expr = std::move(joined->item_expr);
        level.joined_others = std::move(joined->others);
        level.join_conditions = std::move(joined->conditions);
        if (joined->outer_join) {
          level.outer_from = &block.from;
          level.written_leaf = joined->written_leaf;
          level.join_conditions.clear();
        }
      }
      for (const parse::SelectItem& item : block.items) {
        if (joined) break;
        if (item.star) {
          for (const Column& column : level.source_columns) {
            level.item_source.push_back(column.name);
            level.item_expr.push_back(nullptr);
          }
        } else {
          level.item_source.push_back(SourceColumnOf(*item.expr));
          level.item_expr.push_back(item.expr.get());
        }
      }
      if (level.item_source.size() != level.view_columns.size()) Refuse("view changed its width");
      std::vector<std::pair<std::string, std::string>> through;
      for (size_t k = 0; k < level.item_source.size(); ++k) {
        if (level.item_source[k]) through.emplace_back(*level.item_source[k], level.view_columns[k]);
      }
      catalog_.NoteWrittenThrough(current.schema, current.name, source->schema, source->name,
                                  std::move(through));
      std::vector<std::string> loaded_below;
      for (const std::string& name : loaded) {
        for (size_t k = 0; k < level.view_columns.size(); ++k) {
          if (EqualsIgnoreCase(level.view_columns[k], name) && level.item_source[k])
            loaded_below.push_back(*level.item_source[k]);
        }
      }
      loaded = std::move(loaded_below);
      target.levels.push_back(std::move(level));
      if (!source->view_query) {
        target.table = std::move(source);
        break;
      }
      // A load that fires no triggers passes a view's INSTEAD OF trigger by;
      // a statement writes that view, in its columns, and its trigger takes
      // the change.
      if ((!loading_ || load_fires_triggers_) && TakenInstead(*source)) {
        if (loading_ || checked) Refuse("change through a view over a view with a trigger");
        source->columns = target.levels.back().source_columns;
        target.table = std::move(source);
        break;
      }
      current = std::move(*source);
    }
    // Each level's source columns by their names in the table, innermost first.
    for (size_t i = target.levels.size(); i-- > 0;) {
      ViewLevel& level = target.levels[i];
      for (const Column& column : level.source_columns) {
        if (i + 1 == target.levels.size()) {
          level.source_written.push_back(column.name);
          continue;
        }
        const ViewLevel& inner = target.levels[i + 1];
        level.source_written.push_back(WrittenThrough(inner, column.name));
      }
    }
    for (const std::string& name : target.view_columns)
      target.written.push_back(WrittenThrough(target.levels.front(), name));
    return target;
  }

  // The table column that `level`'s view column `name` writes; nullopt for a
  // derived one.
  static std::optional<std::string> WrittenThrough(const ViewLevel& level,
                                                   const std::string& name) {
    for (size_t k = 0; k < level.view_columns.size(); ++k) {
      if (!EqualsIgnoreCase(level.view_columns[k], name)) continue;
      const std::optional<std::string>& source = level.item_source[k];
      if (!source) return std::nullopt;
      for (size_t j = 0; j < level.source_columns.size(); ++j) {
        if (EqualsIgnoreCase(level.source_columns[j].name, *source)) return level.source_written[j];
      }
      return std::nullopt;
    }
    return std::nullopt;
  }

  // The WHERE conditions of the views a change goes through, their columns
  // read as `sql_alias`."column" of the table: every view's (`all`, what
  // the rows changed must be visible through), or those a CHECK OPTION
  // asks of the changed rows (from the outermost view made WITH CHECK
  // OPTION inward). Null when there are none.
  Bound ViewConditions(const ViewTarget& target, const std::string& sql_alias, bool all) {
    Bound conditions;
    bool checked = all;
    for (const ViewLevel& level : target.levels) {
      checked = checked || level.check_option;
      if (!checked) continue;
      Bound condition = LevelCondition(level, sql_alias, all);
      if (condition) conditions = Both(std::move(conditions), std::move(condition));
    }
    return conditions;
  }

  // What keeps a row of `level`'s table (as `sql_alias`) in its view: the
  // view's WHERE; over a join, that the other tables have a row that meets
  // the join's conditions and the WHERE with it. Where the statement reads
  // the others beside its table (`in_statement`, an UPDATE of the outermost
  // view), the conditions tie them to it there. Null when nothing does.
  Bound LevelCondition(const ViewLevel& level, const std::string& sql_alias, bool in_statement) {
    std::vector<const parse::Expr*> parts = level.join_conditions;
    if (level.where != nullptr) parts.push_back(level.where);
    if (level.joined_others.empty() || (in_statement && !level.joined_bindings.empty())) {
      Bound conditions;
      for (const parse::Expr* part : parts)
        conditions = Both(std::move(conditions), InViewLevel(level, sql_alias, *part, true));
      if (in_statement && !level.written_copy.empty())
        conditions = Both(std::move(conditions), SameRow(sql_alias, level.written_copy));
      return conditions;
    }
    Scope outer = LevelScope(level, sql_alias, false);
    BodyGuard in_view(catalog_, level.view_schema, level.view_name, ObjectReach::Kind::kView);
    size_t visible = std::exchange(visible_common_tables_, 0);
    Scope inner;
    inner.parent = &outer;
    BoundSelectBlock block;
    for (const parse::TableSource* other : level.joined_others)
      block.from.push_back(Source(*other, inner));
    for (const parse::Expr* part : parts)
      block.where = Both(std::move(block.where), Predicate(*part, inner, Clause::kWhere));
    visible_common_tables_ = visible;
    Bound one = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt});
    one->sql = "1";
    block.items.push_back(std::move(one));
    Bound exists = Make(BoundKind::kExists, ColumnType{SqlType::kBit});
    exists->query = std::make_unique<BoundQuery>();
    exists->query->columns.push_back(Column{"", ColumnType{SqlType::kInt}});
    exists->query->terms.push_back(std::move(block));
    return exists;
  }

  // The names an expression of `level`'s query reads: its table's columns
  // under their names there (as `sql_alias`), with the other tables of its
  // join where the statement reads them (`with_joined`).
  static Scope LevelScope(const ViewLevel& level, const std::string& sql_alias, bool with_joined) {
    Scope scope;
    Binding binding;
    binding.exposed = level.source_name;
    binding.sql_alias = sql_alias;
    for (size_t k = 0; k < level.source_columns.size(); ++k) {
      if (!level.source_written[k]) continue;
      binding.columns.push_back(level.source_columns[k]);
      binding.written_names.push_back(*level.source_written[k]);
    }
    scope.bindings.push_back(std::move(binding));
    if (with_joined) {
      for (const Binding& other : level.joined_bindings) scope.bindings.push_back(other);
    }
    return scope;
  }

  // `expr` of the query of `level` (its condition, or one of its items),
  // bound over the table a change writes (`sql_alias`): the query's source
  // columns under their names there. Names in it (its subqueries') are the
  // view's, in its database; the changing statement's WITH list is not seen.
  Bound InViewLevel(const ViewLevel& level, const std::string& sql_alias, const parse::Expr& expr,
                    bool predicate) {
    Scope scope = LevelScope(level, sql_alias, true);
    BodyGuard in_view(catalog_, level.view_schema, level.view_name, ObjectReach::Kind::kView);
    size_t visible = std::exchange(visible_common_tables_, 0);
    Bound bound =
        predicate ? Predicate(expr, scope, Clause::kWhere) : Value(expr, scope, Clause::kWhere);
    visible_common_tables_ = visible;
    return bound;
  }

  // A derived column of the view an UPDATE or DELETE writes through, read
  // (in its WHERE, or a value it assigns): the view's expression for it.
  Bound DerivedViewColumn(const Column& column, const Binding& binding, bool outer) {
    if (outer) Refuse("a derived column of the changed view in a subquery");
    const ViewLevel& level = view_target_->levels.front();
    std::optional<size_t> k = view_target_->IndexOf(column.name);
    if (!k || *k >= level.item_expr.size() || level.item_expr[*k] == nullptr)
      Refuse("a derived column of the changed view");
    // A column of a view under it that is derived too: not written through.
    ++name_errors_held_;
    struct Release {
      int& held;
      ~Release() { --held; }
    } release{name_errors_held_};
    return InViewLevel(level, binding.sql_alias, *level.item_expr[*k], false);
  }

  // Whether `view` has an INSTEAD OF trigger for the statement being bound.
  bool TakenInstead(const TableShape& view) const {
    if (view.read_bound_query && (view.instead_of_insert || view.instead_of_update ||
                                  view.instead_of_delete) && change_ != Change::kNone)
      Refuse(
          "a change of a view read as its bound query (an older engine's, or one of another "
          "database's tables) that has an INSTEAD OF trigger");
    switch (change_) {
      case Change::kInsert:
        return view.instead_of_insert;
      case Change::kUpdate:
        return view.instead_of_update;
      case Change::kDelete:
        return view.instead_of_delete;
      case Change::kNone:
        break;
    }
    return false;
  }

  static const Column* FindColumn(const std::vector<Column>& columns, const std::string& name) {
    for (const Column& column : columns) {
      if (EqualsIgnoreCase(column.name, name)) return &column;
    }
    return nullptr;
  }

  // Whether `column` of `table` (a TableShape or a Binding) is computed.
  template <typename Table>
  static bool Computed(const Column& column, const Table& table,
                       const std::vector<Column>& columns) {
    size_t k = static_cast<size_t>(&column - columns.data());
    return k < table.computed_columns.size() && table.computed_columns[k];
  }

  // DEFAULT for `column` of `table` (a TableShape or a Binding): the
  // expression the table declares, else NULL.
  template <typename Table>
  static Bound Default(const Column& column, const Table& table,
                       const std::vector<Column>& columns) {
    size_t k = static_cast<size_t>(&column - columns.data());
    Bound node = Make(BoundKind::kLiteral, column.type);
    bool declared = k < table.column_defaults.size() && !table.column_defaults[k].empty();
    node->sql = declared ? "(" + table.column_defaults[k] + ")" : "NULL";
    node->null_literal = !declared;
    return node;
  }

  // `value` as a column of `column`'s type stores it. The column's triggers
  // (exec/normalised_columns.cpp) fit numbers to it and refuse text longer
  // than it; what SQLite's column affinity would read otherwise (a string
  // into a date or number column, a date into a string column) is converted
  // here, by SQL Server's rules and with its errors.
  static Bound Assigned(Bound value, const ColumnType& column) {
    if (value->null_literal) return value;
    if (column.type == SqlType::kSqlVariant) {
      // A sql_variant stores the value with its own type as the base type.
      if (!Convertible(value->type, column)) Refuse("assignment of this type");
      return ConvertTo(std::move(value), ColumnType{SqlType::kSqlVariant});
    }
    SqlType from = value->type.type;
    TypeClass f = ClassOf(from), t = ClassOf(column.type);
    // A real column holds single precision: the value is rounded to it here.
    if (column.type == SqlType::kReal && from != SqlType::kReal && IsNumeric(from))
      return ConvertTo(std::move(value), ColumnType{SqlType::kReal});
    if (IsNumeric(from) && IsNumeric(column.type)) return value;
    if (f == TypeClass::kOther || t == TypeClass::kOther) {
      bool text_column = column.type == SqlType::kText || column.type == SqlType::kNText;
      if (from == column.type && column.type != SqlType::kBinary) return value;
      if (text_column && f == TypeClass::kCharacter) return value;
      // Binary data into image, and a GUID's text, are stored as they are.
      if (column.type == SqlType::kImage && IsBinaryData(from)) return value;
      if (column.type == SqlType::kUniqueIdentifier && f == TypeClass::kCharacter) return value;
      if (!Convertible(value->type, column)) Refuse("assignment of this type");
    }
    if (f == TypeClass::kCharacter && t == f && value->type.length > 0 &&
        (column.length == kMaxLength || value->type.length <= column.length)) {
      // A char(n) value keeps its blanks in a varchar column; the column's
      // trigger still measures it against the column's length.
      ColumnType kept = column;
      kept.identity = false;
      kept.length = value->type.length;
      return AsResultValue(std::move(value), kept);
    }
    if (f == t) return value;
    // The bit column's trigger reads text by T-SQL's rules.
    if (column.type == SqlType::kBit && f == TypeClass::kCharacter) return value;
    ColumnType target = column;
    target.identity = false;
    return ConvertTo(std::move(value), target);
  }

  // Resolves the table an UPDATE or DELETE writes: a FROM clause's table
  // by its exposed name, else a table of the catalog beside the FROM
  // clause's sources. Fills the change's table, alias and sources.
  const Binding& Target(const std::vector<std::string>& name,
                        const std::vector<std::unique_ptr<parse::TableSource>>& from, Scope& scope,
                        BoundChange& bound) {
    std::vector<std::unique_ptr<BoundSource>> sources;
    for (const auto& source : from) sources.push_back(Source(*source, scope));
    std::optional<size_t> in_from;
    if (name.size() == 1) {
      for (size_t k = 0; k < scope.bindings.size(); ++k) {
        if (EqualsIgnoreCase(scope.bindings[k].exposed, name[0])) in_from = k;
      }
    }
    if (!in_from) {
      if (CommonTableNamed(name)) Refuse("change of a CTE");
      std::optional<TableShape> table = FindTable(name);
      if (table->system_catalog) throw MakeError(259);

      // The table named once in FROM under an alias is the target (UPDATE t
      // ... FROM t AS o JOIN ...); named more often it is a self-join SQL
      // Server resolves by its own rules.
      std::vector<const BoundSource*> same;
      for (const auto& source : sources) {
        CollectLeaves(*source, same, [&](const BoundSource& leaf) {
          return leaf.kind == BoundSource::Kind::kTable && !leaf.named_query &&
                 leaf.table_sql == table->sql;
        });
      }
      if (same.size() > 1) Refuse("target table named twice in FROM");
      if (same.size() == 1) {
        for (size_t k = 0; k < scope.bindings.size(); ++k) {
          if (scope.bindings[k].sql_alias == same.front()->alias) in_from = k;
        }
        if (!in_from) Refuse("target table in FROM");
      }
    }
    if (!in_from) {
      std::optional<TableShape> table = FindTable(name);
      Binding binding;
      binding.exposed = name.back();
      binding.columns = table->view_query ? ViewColumns(*table) : table->columns;
      binding.column_defaults = table->column_defaults;
      binding.computed_columns = table->computed_columns;
      if (table->view_query && !TakenInstead(*table)) {
        // Changed through to its table: the view's columns under the
        // table's names, the view's conditions added.
        view_target_ = UpdatableView(*table);
        if (change_ == Change::kUpdate) ReadJoinedBeside(view_target_->levels.front(), sources);
        // A derived column is read as the view's expression for it.
        for (const Column& column : binding.columns) {
          bool derived = view_target_->Derived(column.name);
          binding.derived.push_back(derived);
          binding.written_names.push_back(
              derived ? std::string() : view_target_->WrittenColumn(column.name, table->name));
        }
        binding.column_defaults.clear();
        binding.computed_columns.clear();
        table = view_target_->table;
      }
      bound.table_sql = table->sql;
      bound.alias = AddBinding(scope, std::move(binding));
      if (view_target_ && table->view_query) {
        // Written to a view further in (its INSTEAD OF trigger takes the
        // change): SQLite reads a changed view's rows under its own name only.
        bound.alias = QuoteSqliteName(table->name);
        scope.bindings.back().sql_alias = bound.alias;
      }
      bound.from = std::move(sources);
      if (view_target_) {
        if (Bound visible = ViewConditions(*view_target_, bound.alias, true))
          AddCondition(bound, std::move(visible));
      }
      return scope.bindings.back();
    }
    const Binding& target = scope.bindings[*in_from];
    const BoundSource* leaf = FindLeaf(
        sources, [&](const BoundSource& source) { return source.alias == target.sql_alias; });
    // A table source written as a query is a catalog view.
    if (leaf != nullptr && leaf->table_sql.starts_with("(")) throw MakeError(259);
    if (leaf == nullptr || leaf->kind != BoundSource::Kind::kTable ||
        (leaf->named_query && !leaf->changed_instead))
      Refuse("target not a table");
    bound.table_sql = leaf->table_sql;
    bound.alias = leaf->alias;
    // SQLite names the target of an UPDATE or DELETE only once: the inner
    // joins around it become conditions and the other sources stay.
    std::vector<Bound> conditions;
    for (auto& source : sources) Flatten(std::move(source), bound.alias, bound.from, conditions);
    for (Bound& condition : conditions) AddCondition(bound, std::move(condition));
    return target;
  }

  // An UPDATE through a view over a join reads the join's other tables
  // beside the one it writes, under aliases of their own: the view's
  // columns of those tables and its conditions read them there.
  void ReadJoinedBeside(ViewLevel& level, std::vector<std::unique_ptr<BoundSource>>& sources) {
    BodyGuard in_view(catalog_, level.view_schema, level.view_name, ObjectReach::Kind::kView);
    size_t visible = std::exchange(visible_common_tables_, 0);
    Scope beside;
    if (level.outer_from != nullptr) {
      // The join whole, as a derived table: each row's rowid of the
      // written table and the others' columns, under names of their own.
      // Its aliases are marked before its ON clauses are bound: none may
      // meet the statement's names.
      bool marked = std::exchange(marks_aliases_, true);
      BoundSelectBlock block;
      for (const auto& from : *level.outer_from) block.from.push_back(Source(*from, beside));
      marks_aliases_ = marked;
      std::string joined = QuoteSqliteName("joined#" + std::to_string(++inlined_sources_));
      auto query = std::make_unique<BoundQuery>();
      for (size_t k = 0; k < beside.bindings.size(); ++k) {
        const Binding& leaf = beside.bindings[k];
        if (k == level.written_leaf) {
          Bound rowid = Make(BoundKind::kColumn, ColumnType{SqlType::kBigInt});
          rowid->sql = leaf.sql_alias + ".rowid";
          block.items.push_back(std::move(rowid));
          query->columns.push_back(Column{std::string(kJoinedRow), ColumnType{SqlType::kBigInt}});
          continue;
        }
        Binding read = leaf;
        read.sql_alias = joined;
        read.written_names.clear();
        for (const Column& column : leaf.columns) {
          std::string name = std::to_string(k) + "#" + column.name;
          block.items.push_back(ColumnNode(leaf, column, false));
          query->columns.push_back(Column{name, column.type});
          read.written_names.push_back(std::move(name));
        }
        level.joined_bindings.push_back(std::move(read));
      }
      query->terms.push_back(std::move(block));
      auto source = std::make_unique<BoundSource>();
      source->kind = BoundSource::Kind::kDerived;
      source->derived = std::move(query);
      source->alias = joined;
      sources.push_back(std::move(source));
      level.written_copy = joined;
      visible_common_tables_ = visible;
      return;
    }
    for (const parse::TableSource* other : level.joined_others) {
      std::unique_ptr<BoundSource> source = Source(*other, beside);
      Binding& binding = beside.bindings.back();
      binding.sql_alias = QuoteSqliteName(binding.exposed + "#joined" +
                                          std::to_string(level.joined_bindings.size() + 1));
      source->alias = binding.sql_alias;
      level.joined_bindings.push_back(binding);
      sources.push_back(std::move(source));
    }
    visible_common_tables_ = visible;
  }

  template <typename Match>
  static void CollectLeaves(const BoundSource& source, std::vector<const BoundSource*>& found,
                            const Match& match) {
    if (source.kind != BoundSource::Kind::kJoin) {
      if (match(source)) found.push_back(&source);
      return;
    }
    CollectLeaves(*source.left, found, match);
    CollectLeaves(*source.right, found, match);
  }

  template <typename Match>
  static const BoundSource* FindLeaf(const std::vector<std::unique_ptr<BoundSource>>& sources,
                                     const Match& match) {
    for (const auto& source : sources) {
      if (const BoundSource* found = FindLeaf(*source, match)) return found;
    }
    return nullptr;
  }

  template <typename Match>
  static const BoundSource* FindLeaf(const BoundSource& source, const Match& match) {
    if (source.kind != BoundSource::Kind::kJoin) return match(source) ? &source : nullptr;
    if (const BoundSource* found = FindLeaf(*source.left, match)) return found;
    return FindLeaf(*source.right, match);
  }

  // Moves `source` into `others` without the target (`alias`): inner and
  // cross joins around it come apart into their sources and conditions; an
  // outer join containing it is refused.
  static void Flatten(std::unique_ptr<BoundSource> source, const std::string& alias,
                      std::vector<std::unique_ptr<BoundSource>>& others,
                      std::vector<Bound>& conditions) {
    auto is_target = [&](const BoundSource& leaf) { return leaf.alias == alias; };
    if (!FindLeaf(*source, is_target)) {
      others.push_back(std::move(source));
      return;
    }
    if (source->kind != BoundSource::Kind::kJoin) return;  // the target itself
    if (source->join != "JOIN" && source->join != "CROSS JOIN") Refuse("target in an outer join");
    if (source->on) conditions.push_back(std::move(source->on));
    Flatten(std::move(source->left), alias, others, conditions);
    Flatten(std::move(source->right), alias, others, conditions);
  }

  // The column of an outer join's rows (ReadJoinedBeside) that holds the
  // written table's rowid.
  static constexpr std::string_view kJoinedRow = "sqlengine_row";

  // `alias`.rowid = `joined`.sqlengine_row: the changed row is the one the
  // join's row holds.
  static Bound SameRow(const std::string& alias, const std::string& joined) {
    std::vector<Bound> rowids;
    for (std::string sql : {alias + ".rowid", joined + "." + QuoteSqliteName(kJoinedRow)}) {
      Bound rowid = Make(BoundKind::kColumn, ColumnType{SqlType::kBigInt});
      rowid->sql = std::move(sql);
      rowids.push_back(std::move(rowid));
    }
    Bound same = Compared(BoundKind::kComparison, std::move(rowids));
    same->op = "=";
    return same;
  }

  static void AddCondition(BoundChange& bound, Bound condition) {
    if (!bound.where) {
      bound.where = std::move(condition);
      return;
    }
    Bound both = Make(BoundKind::kAnd, ColumnType{SqlType::kBit});
    both->args.push_back(std::move(bound.where));
    both->args.push_back(std::move(condition));
    bound.where = std::move(both);
  }

  // ---- query blocks

  BoundSelectBlock Block(const parse::SelectBlock& block, Scope& scope,
                         std::vector<Column>* columns,
                         const std::vector<parse::OrderItem>* order_by,
                         std::vector<BoundOrder>* orders) {
    BoundSelectBlock bound;
    const parse::SelectBlock* outer_block = std::exchange(binding_block_, &block);
    struct RestoreBlock {
      const parse::SelectBlock*& current;
      const parse::SelectBlock* outer;
      ~RestoreBlock() { current = outer; }
    } restore_block{binding_block_, outer_block};
    // TOP n PERCENT counts a copy of its query: not one that reads an
    // enclosing query's row, nor copies nested without end.
    constexpr int kMaxPercentNesting = 8;
    const bool percent = block.top != nullptr && block.top_percent;
    if (percent && percent_nesting_ >= kMaxPercentNesting) Refuse("TOP PERCENT nested");
    if (percent) ++percent_nesting_;
    struct Leave {
      int& nesting;
      bool percent;
      ~Leave() {
        if (percent) --nesting;
      }
    } leave{percent_nesting_, percent};
    std::vector<size_t> source_bindings;  // each FROM entry's first binding
    for (const auto& source : block.from) {
      source_bindings.push_back(scope.bindings.size());
      bound.from.push_back(Source(*source, scope));
    }
    source_bindings.push_back(scope.bindings.size());
    if (block.top) {
      bound.top = Value(*block.top, scope, Clause::kTop);
      bound.top_percent = block.top_percent;
      bound.top_ties = block.top_ties;
      if (block.top_percent) {
        if (!IsNumeric(bound.top->type.type) || bound.top->type.type == SqlType::kBit)
          Refuse("TOP PERCENT of this type");
      } else if (ClassOf(bound.top->type.type) != TypeClass::kInteger) {
        Refuse("TOP count");
      }
    }
    bound.distinct = block.distinct;
    bound.group_all = block.group_all;
    switch (block.grouping) {
      case parse::SelectBlock::Grouping::kPlain:
        break;
      case parse::SelectBlock::Grouping::kRollup:
        bound.grouping = BoundSelectBlock::Grouping::kRollup;
        break;
      case parse::SelectBlock::Grouping::kCube:
        bound.grouping = BoundSelectBlock::Grouping::kCube;
        break;
    }
    const bool rolled = bound.grouping != BoundSelectBlock::Grouping::kPlain;
    if (rolled && block.group_all) Refuse("ROLLUP / CUBE with GROUP BY ALL");
    if (rolled && block.top && block.top_ties) Refuse("ROLLUP / CUBE with TOP ... WITH TIES");
    if (block.where) {
      bool allowed = std::exchange(old_outer_joins_allowed_, true);
      bound.where = Predicate(*block.where, scope, Clause::kWhere);
      old_outer_joins_allowed_ = allowed;
      OldOuterJoins(bound, scope, source_bindings);
    }
    for (const auto& group : block.group_by) {
      bound.group_by.push_back(Value(*group, scope, Clause::kGroupBy));
      if (HasAggregate(*bound.group_by.back())) Refuse("aggregate in GROUP BY");
    }
    std::vector<Column> result;
    for (const parse::SelectItem& item : block.items) {
      if (item.star && &block == exists_block_) {
        Bound one = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt});
        one->sql = "1";
        result.push_back(Column{"", one->type});
        bound.items.push_back(std::move(one));
        continue;
      }
      if (item.star) {
        ExpandStar(item, scope, bound, result);
        continue;
      }
      Bound value = Value(*item.expr, scope, Clause::kSelect);
      std::string name = item.alias;
      if (name.empty() && item.expr->kind == ExprKind::kColumn) name = item.expr->names.back();
      result.push_back(Column{name, value->type});
      bound.items.push_back(std::move(value));
    }
    if (block.having) bound.having = Predicate(*block.having, scope, Clause::kHaving);
    bool grouped = !bound.group_by.empty() || bound.having ||
                   std::any_of(bound.items.begin(), bound.items.end(),
                               [](const Bound& item) { return HasAggregate(*item); });
    if (order_by != nullptr) {
      for (const parse::OrderItem& item : *order_by) {
        int ordinal = OrdinalOf(*item.expr, result, block.items);
        if (ordinal > 0) {
          orders->push_back(BoundOrder{nullptr, ordinal, item.descending});
          continue;
        }
        Bound value = Value(*item.expr, scope, Clause::kOrderBy);
        if (block.distinct) {
          // A DISTINCT query sorts by its items only (e.name for the item name too).
          auto same = std::find_if(bound.items.begin(), bound.items.end(),
                                   [&](const Bound& listed) { return SameTree(*value, *listed); });
          if (same == bound.items.end()) throw MakeError(145);
          int position = static_cast<int>(same - bound.items.begin()) + 1;
          orders->push_back(BoundOrder{nullptr, position, item.descending});
          continue;
        }
        grouped = grouped || HasAggregate(*value);
        orders->push_back(BoundOrder{std::move(value), 0, item.descending});
      }
    }
    if (grouped) {
      for (size_t k = 0; k < bound.items.size(); ++k) CheckGrouped(*bound.items[k], bound, GroupedPlace::kSelectList);
      if (bound.having) CheckGrouped(*bound.having, bound, GroupedPlace::kHaving);
      if (orders != nullptr) {
        for (const BoundOrder& order : *orders) {
          if (order.expr) CheckGrouped(*order.expr, bound, GroupedPlace::kOrderBy);
        }
      }
    }
    if (rolled) {
      // An ORDER BY expression the select list holds (GROUPING(x), a grouped
      // column under another name) sorts by that item.
      for (size_t k = 0; orders != nullptr && k < orders->size(); ++k) {
        BoundOrder& order = (*orders)[k];
        if (!order.expr) continue;
        auto same = std::find_if(bound.items.begin(), bound.items.end(),
                                 [&](const Bound& listed) { return SameTree(*order.expr, *listed); });
        if (same == bound.items.end()) continue;
        order.expr = nullptr;
        order.ordinal = static_cast<int>(same - bound.items.begin()) + 1;
      }
      for (size_t k = 0; k < bound.items.size(); ++k) {
        MarkGrouping(bound.items[k], bound.group_by);
        result[k].type = bound.items[k]->type;
      }
      if (bound.having) MarkGrouping(bound.having, bound.group_by);
      for (size_t k = 0; orders != nullptr && k < orders->size(); ++k) {
        if ((*orders)[k].expr) Refuse("ORDER BY an expression of a ROLLUP / CUBE");
      }
    } else {
      bool grouping_call = std::any_of(bound.items.begin(), bound.items.end(),
                                       [](const Bound& item) { return HasGroupingCall(*item); }) ||
                           (bound.having && HasGroupingCall(*bound.having));
      for (size_t k = 0; orders != nullptr && k < orders->size(); ++k)
        grouping_call = grouping_call || ((*orders)[k].expr && HasGroupingCall(*(*orders)[k].expr));
      if (grouping_call) Refuse("GROUPING without ROLLUP or CUBE");
    }
    if (bound.group_all) {
      if (bound.group_by.empty()) Refuse("GROUP BY ALL without a list");
      for (size_t k = 0; orders != nullptr && k < orders->size(); ++k) {
        if ((*orders)[k].expr && HasAggregate(*(*orders)[k].expr))
          Refuse("ORDER BY an aggregate of GROUP BY ALL");
      }
    }
    if (percent && scope.parent != nullptr) {
      bool outer = ReadsOuter(bound);
      for (size_t k = 0; orders != nullptr && k < orders->size(); ++k)
        outer = outer || ((*orders)[k].expr && ReadsOuter(*(*orders)[k].expr));
      if (outer) Refuse("TOP PERCENT reading the enclosing query");
    }
    if (columns != nullptr) *columns = std::move(result);
    return bound;
  }

  // Whether anything in the block refers to a column of an enclosing query.
  static bool ReadsOuter(const BoundExpr& e) {
    if (e.outer_reference) return true;
    if (e.query && ReadsOuter(*e.query)) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const Bound& arg) { return arg && ReadsOuter(*arg); });
  }
  static bool ReadsOuter(const BoundSource& source) {
    if (source.derived && ReadsOuter(*source.derived)) return true;
    if (source.on && ReadsOuter(*source.on)) return true;
    return (source.left && ReadsOuter(*source.left)) || (source.right && ReadsOuter(*source.right));
  }
  static bool ReadsOuter(const BoundSelectBlock& block) {
    auto any = [](const std::vector<Bound>& list) {
      return std::any_of(list.begin(), list.end(), [](const Bound& e) { return ReadsOuter(*e); });
    };
    if (any(block.items) || any(block.group_by)) return true;
    for (const Bound* e : {&block.top, &block.where, &block.having}) {
      if (*e && ReadsOuter(**e)) return true;
    }
    return std::any_of(block.from.begin(), block.from.end(),
                       [](const auto& source) { return ReadsOuter(*source); });
  }
  // ---- ROLLUP and CUBE

  static bool HasGroupingCall(const BoundExpr& e) {
    if (e.kind == BoundKind::kCall && e.sql == "grouping") return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const Bound& arg) { return arg && HasGroupingCall(*arg); });
  }

  // Marks in `e` the GROUP BY expressions (kGroupingColumn, nullable: the
  // total rows hold NULL there) and turns GROUPING(x) into kGrouping.
  // Returns whether `e` holds a mark.
  static bool MarkGrouping(Bound& e, const std::vector<Bound>& group_by) {
    if (e->kind == BoundKind::kCall && e->sql == "grouping") {
      for (size_t k = 0; k < group_by.size(); ++k) {
        if (!SameTree(*e->args[0], *group_by[k])) continue;
        e->kind = BoundKind::kGrouping;
        e->sql = std::to_string(k);
        e->args.clear();
        return false;
      }
      Refuse("GROUPING of no GROUP BY expression");
    }
    if (e->kind == BoundKind::kAggregate) return false;
    for (size_t k = 0; k < group_by.size(); ++k) {
      if (!SameTree(*e, *group_by[k])) continue;
      Bound node = Make(BoundKind::kGroupingColumn, e->type);
      node->type.nullable = true;
      node->type.identity = false;
      node->sql = std::to_string(k);
      node->args.push_back(std::move(e));
      e = std::move(node);
      return true;
    }
    bool marked = false;
    for (Bound& arg : e->args) {
      if (arg && MarkGrouping(arg, group_by)) marked = true;
    }
    if (marked) e->type.nullable = true;
    return marked;
  }

  // ---- old-style outer joins

  static bool HasOldOuterJoin(const BoundExpr& e) {
    if (e.kind == BoundKind::kComparison && (e.sql == "*=" || e.sql == "=*")) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const Bound& arg) { return arg && HasOldOuterJoin(*arg); });
  }

  static void Conjuncts(Bound e, std::vector<Bound>& out) {
    if (e->kind == BoundKind::kAnd) {
      Conjuncts(std::move(e->args[0]), out);
      Conjuncts(std::move(e->args[1]), out);
      return;
    }
    out.push_back(std::move(e));
  }

  // The FROM entries whose columns `e` reads (indexes into the block's
  // FROM list), by the bindings each entry made; false when `e` reads an
  // enclosing query or holds a subquery.
  static bool EntriesRead(const BoundExpr& e, const Scope& scope,
                          const std::vector<size_t>& source_bindings,
                          std::vector<size_t>& entries) {
    if (e.query || e.outer_reference) return false;
    if (e.kind == BoundKind::kColumn) {
      for (size_t b = 0; b < scope.bindings.size(); ++b) {
        if (!e.sql.starts_with(scope.bindings[b].sql_alias + ".")) continue;
        size_t entry = 0;
        while (entry + 1 < source_bindings.size() && source_bindings[entry + 1] <= b) ++entry;
        if (std::find(entries.begin(), entries.end(), entry) == entries.end())
          entries.push_back(entry);
        return true;
      }
      return false;
    }
    for (const Bound& arg : e.args) {
      if (arg && !EntriesRead(*arg, scope, source_bindings, entries)) return false;
    }
    return true;
  }

  // WHERE a.x *= b.y (b.y =* a.x): a LEFT JOIN b ON a.x = b.y. As in SQL
  // Server, the other conditions on b alone join with it rather than drop
  // a's rows. A mark anywhere but a top-level condition between two FROM
  // entries is refused.
  void OldOuterJoins(BoundSelectBlock& bound, Scope& scope,
                     const std::vector<size_t>& source_bindings) {
    if (!bound.where || !HasOldOuterJoin(*bound.where)) return;
    std::vector<Bound> conditions;
    Conjuncts(std::move(bound.where), conditions);
    const size_t count = bound.from.size();
    struct Join {
      size_t kept, inner;
      std::vector<Bound> on;
    };
    std::vector<Join> joins;
    std::vector<bool> inner(count, false);
    std::vector<Bound> rest;
    for (Bound& condition : conditions) {
      if (!HasOldOuterJoin(*condition)) {
        rest.push_back(std::move(condition));
        continue;
      }
      if (condition->kind != BoundKind::kComparison) Refuse("old-style outer join inside");
      std::vector<size_t> left, right;
      if (!EntriesRead(*condition->args[0], scope, source_bindings, left) ||
          !EntriesRead(*condition->args[1], scope, source_bindings, right) || left.size() != 1 ||
          right.size() != 1 || left[0] == right[0])
        Refuse("old-style outer join shape");
      size_t kept = condition->sql == "*=" ? left[0] : right[0];
      size_t other = condition->sql == "*=" ? right[0] : left[0];
      condition->sql.clear();
      auto same = std::find_if(joins.begin(), joins.end(),
                               [&](const Join& j) { return j.kept == kept && j.inner == other; });
      if (same != joins.end()) {
        same->on.push_back(std::move(condition));
        continue;
      }
      if (inner[other]) Refuse("table inner to two old-style outer joins");
      inner[other] = true;
      joins.push_back(Join{kept, other, {}});
      joins.back().on.push_back(std::move(condition));
    }
    for (const Join& join : joins) {
      if (inner[join.kept]) Refuse("chained old-style outer joins");
    }
    // Conditions on an inner table alone belong to its join.
    std::vector<Bound> remaining;
    for (Bound& condition : rest) {
      std::vector<size_t> entries;
      bool simple = EntriesRead(*condition, scope, source_bindings, entries);
      if (simple && entries.size() == 1 && inner[entries[0]]) {
        for (Join& join : joins) {
          if (join.inner == entries[0]) join.on.push_back(std::move(condition));
        }
        continue;
      }
      remaining.push_back(std::move(condition));
    }
    std::vector<std::unique_ptr<BoundSource>> sources = std::move(bound.from);
    for (Join& join : joins) {
      auto joined = std::make_unique<BoundSource>();
      joined->kind = BoundSource::Kind::kJoin;
      joined->join = "LEFT JOIN";
      joined->left = std::move(sources[join.kept]);
      joined->right = std::move(sources[join.inner]);
      for (Bound& on : join.on) joined->on = Both(std::move(joined->on), std::move(on));
      sources[join.kept] = std::move(joined);
      for (size_t b = source_bindings[join.inner]; b < source_bindings[join.inner + 1]; ++b) {
        for (Column& column : scope.bindings[b].columns) column.type.nullable = true;
      }
    }
    for (size_t k = 0; k < count; ++k) {
      if (!inner[k]) bound.from.push_back(std::move(sources[k]));
    }
    for (Bound& condition : remaining)
      bound.where = Both(std::move(bound.where), std::move(condition));
  }

  static Bound Both(Bound a, Bound b) {
    if (!a) return b;
    Bound both = Make(BoundKind::kAnd, ColumnType{SqlType::kBit});
    both->args.push_back(std::move(a));
    both->args.push_back(std::move(b));
    return both;
  }

  static bool ReadsOuter(const BoundQuery& query) {
    for (const BoundSelectBlock& term : query.terms) {
      if (ReadsOuter(term)) return true;
    }
    for (const BoundOrder& order : query.order_by) {
      if (order.expr && ReadsOuter(*order.expr)) return true;
    }
    return false;
  }

  void ExpandStar(const parse::SelectItem& item, const Scope& scope, BoundSelectBlock& bound,
                  std::vector<Column>& result) {
    bool any = false;
    for (const Binding& binding : scope.bindings) {
      if (!item.star_qualifier.empty() && !Qualifies(binding, item.star_qualifier)) continue;
      any = true;
      for (const Column& column : binding.columns) {
        bound.items.push_back(ColumnNode(binding, column, false));
        result.push_back(column);
      }
    }
    if (!any) Refuse("* without a source");
  }

  // The 1-based select-list position an ORDER BY item names (a number, an
  // alias, or a column the list shows), else 0.
  static int OrdinalOf(const Expr& expr, const std::vector<Column>& columns,
                       const std::vector<parse::SelectItem>& items) {
    if (expr.kind == ExprKind::kLiteral && expr.literal == parse::LiteralKind::kInteger) {
      int ordinal = std::atoi(expr.value.c_str());
      if (ordinal < 1 || ordinal > static_cast<int>(columns.size()))
        throw MakeError(108, {expr.value});
      return ordinal;
    }
    if (expr.kind != ExprKind::kColumn || expr.names.size() != 1) return 0;
    for (size_t k = 0; k < items.size() && k < columns.size(); ++k) {
      if (!items[k].alias.empty() && EqualsIgnoreCase(items[k].alias, expr.names[0]))
        return static_cast<int>(k + 1);
    }
    bool has_star = std::any_of(items.begin(), items.end(),
                                [](const parse::SelectItem& item) { return item.star; });
    if (has_star) return 0;
    for (size_t k = 0; k < items.size(); ++k) {
      const Expr* item = items[k].expr.get();
      if (items[k].alias.empty() && item->kind == ExprKind::kColumn && item->names.size() == 1 &&
          EqualsIgnoreCase(item->names[0], expr.names[0]))
        return static_cast<int>(k + 1);
    }
    return 0;
  }

  // A bare name that is none of the first block's columns (which OrdinalOf
  // found none of): no UNION sorts by it.
  static bool NamesNoUnionColumn(const Expr& expr, const std::vector<parse::SelectItem>& items) {
    return expr.kind == ExprKind::kColumn && expr.names.size() == 1 &&
           std::none_of(items.begin(), items.end(),
                        [](const parse::SelectItem& item) { return item.star; });
  }

  void UnifyUnionColumns(BoundQuery& bound) {
    for (const BoundSelectBlock& term : bound.terms) {
      if (term.items.size() != bound.columns.size()) throw MakeError(205);
    }
    auto same_class = [](const ColumnType& a, const ColumnType& b) {
      return ClassOf(a.type) == ClassOf(b.type) || (IsNumeric(a.type) && IsNumeric(b.type));
    };
    for (size_t c = 0; c < bound.columns.size(); ++c) {
      std::optional<ColumnType> common;
      bool mixed = false;
      for (const BoundSelectBlock& term : bound.terms) {
        const BoundExpr& item = *term.items[c];
        if (item.null_literal) continue;
        mixed |= common && !same_class(*common, item.type);
        common = common ? CommonType(*common, item.type) : item.type;
      }
      ColumnType type = common.value_or(ColumnType{SqlType::kInt});
      type.nullable = false;
      for (const BoundSelectBlock& term : bound.terms)
        type.nullable |= term.items[c]->type.nullable;
      // Values of another class than the column's (by type precedence:
      // text under numbers, numbers under datetime) convert implicitly, as
      // in an assignment; a character value that is no number fails then.
      for (BoundSelectBlock& term : bound.terms) {
        Bound& item = term.items[c];
        if (item->null_literal) continue;
        if (mixed && !same_class(item->type, type)) {
          if (!Convertible(item->type, type)) Refuse("UNION of types that do not convert");
          item = ConvertTo(std::move(item), type);
        } else if (ClassOf(item->type.type) == TypeClass::kCharacter) {
          item = AsResultValue(std::move(item), type);
        }
      }
      bound.columns[c].type = type;
    }
  }

  // ---- FROM

  std::unique_ptr<BoundSource> Source(const parse::TableSource& source, Scope& scope) {
    auto bound = std::make_unique<BoundSource>();
    switch (source.kind) {
      case parse::TableSource::Kind::kTable: {
        if (const CommonTableState* common = CommonTableNamed(source.name)) {
          if (!common->columns) Refuse("recursive reference in the anchor");
          bound->kind = BoundSource::Kind::kTable;
          bound->table_sql = QuoteSqliteName(common->definition->name);
          bound->named_query = true;
          Binding binding;
          binding.aliased = !source.alias.empty();
          binding.exposed = binding.aliased ? source.alias : source.name.back();
          binding.columns = *common->columns;
          bound->alias = AddBinding(scope, std::move(binding));
          return bound;
        }
        std::optional<TableShape> table = FindTable(source.name);
        bound->kind = BoundSource::Kind::kTable;
        bound->table_sql = table->sql;
        bound->schema = table->schema;
        Binding binding;
        binding.aliased = !source.alias.empty();
        binding.exposed = binding.aliased ? source.alias : source.name.back();
        binding.columns = table->columns;
        binding.column_defaults = table->column_defaults;
        binding.computed_columns = table->computed_columns;
        if (table->view_query) {
          int calls_before = calls_elsewhere_;
          int unstored_before = views_read_bound_;
          BoundQuery query = ViewQuery(*table);
          binding.columns = query.columns;
          if (calls_elsewhere_ > calls_before || views_read_bound_ > unstored_before ||
              table->read_bound_query) {
            // SQLite's own copy of the view calls its functions by name
            // alone, which the engine would look up where the reader's
            // names resolve; the query bound here names their database.
            // (An older engine's copy is not the front end's SQL at all,
            // and a view of another database's tables has a stand-in
            // there, as has a view over such a view.)
            ++views_read_bound_;
            bound->kind = BoundSource::Kind::kDerived;
            bound->derived = std::make_unique<BoundQuery>(std::move(query));
          } else {
            bound->named_query = true;
            bound->changed_instead = TakenInstead(*table);
          }
        }
        bound->alias = AddBinding(scope, std::move(binding));
        return bound;
      }
      case parse::TableSource::Kind::kDerived: {
        bound->kind = BoundSource::Kind::kDerived;
        bound->derived = std::make_unique<BoundQuery>(NestedQuery(*source.derived, scope.parent));
        Binding binding;
        binding.aliased = true;
        binding.exposed = source.alias;
        std::vector<Column>& columns = bound->derived->columns;
        if (!source.columns.empty()) {
          if (columns.size() > source.columns.size()) throw MakeError(8158, {source.alias});
          if (columns.size() < source.columns.size()) throw MakeError(8159, {source.alias});
          for (size_t k = 0; k < columns.size(); ++k) columns[k].name = source.columns[k];
        }
        for (size_t k = 0; k < columns.size(); ++k) {
          if (columns[k].name.empty()) throw MakeError(8155, {std::to_string(k + 1), source.alias});
          binding.columns.push_back(columns[k]);
        }
        bound->alias = AddBinding(scope, std::move(binding));
        return bound;
      }
      case parse::TableSource::Kind::kFunction: {
        Binding binding;
        if (IsPropertyList(source.name)) {
          bound->kind = BoundSource::Kind::kFunctionRows;
          bound->rows_call = PropertyListCall(source, scope);
          ColumnType name{SqlType::kNVarChar, 128};
          bound->rows_columns = {{"objtype", name},
                                 {"objname", name},
                                 {"name", name},
                                 {"value", ColumnType{SqlType::kSqlVariant}}};
          binding.columns = bound->rows_columns;
          binding.aliased = !source.alias.empty();
          binding.exposed = binding.aliased ? source.alias : std::string("fn_listextendedproperty");
          bound->alias = AddBinding(scope, std::move(binding));
          return bound;
        }
        FunctionShape function = FindUserFunction(source.name, source.origin, true);
        if (function.kind == FunctionKind::kMultiStatementTable) {
          bound->kind = BoundSource::Kind::kFunctionRows;
          bound->rows_call = TableFunctionCall(function, source, scope);
          bound->rows_columns = function.table_columns;
          for (Column& column : bound->rows_columns) column.type.identity = false;
          binding.columns = bound->rows_columns;
        } else {
          bound->kind = BoundSource::Kind::kDerived;
          bound->derived = std::make_unique<BoundQuery>(TableUserCall(function, source, scope));
          binding.columns = bound->derived->columns;
        }
        binding.aliased = !source.alias.empty();
        binding.exposed = binding.aliased ? source.alias : source.name.back();
        bound->alias = AddBinding(scope, std::move(binding));
        return bound;
      }
      case parse::TableSource::Kind::kJoin:
        break;
    }
    bound->kind = BoundSource::Kind::kJoin;
    size_t left_begin = scope.bindings.size();
    bound->left = Source(*source.left, scope);
    size_t right_begin = scope.bindings.size();
    bound->right = Source(*source.right, scope);
    static constexpr std::string_view kJoins[] = {"JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN",
                                                  "CROSS JOIN"};
    bound->join = kJoins[static_cast<int>(source.join)];
    if (source.on) bound->on = Predicate(*source.on, scope, Clause::kOn);
    // The rows an outer join adds have NULLs on the other side.
    auto make_nullable = [&](size_t from, size_t to) {
      for (size_t k = from; k < to; ++k) {
        for (Column& column : scope.bindings[k].columns) column.type.nullable = true;
      }
    };
    if (source.join == parse::JoinKind::kLeft || source.join == parse::JoinKind::kFull)
      make_nullable(right_begin, scope.bindings.size());
    if (source.join == parse::JoinKind::kRight || source.join == parse::JoinKind::kFull)
      make_nullable(left_begin, right_begin);
    return bound;
  }

  // A view's columns: its names, the types of its query bound where the
  // view stands (its names resolve in the view's database, not the reader's
  // scope). SQLite reads the view itself.
  std::vector<Column> ViewColumns(const TableShape& view) {
    return ViewQuery(view).columns;
  }

  // The view's query bound where the view stands, its columns named as the
  // view names them.
  BoundQuery ViewQuery(const TableShape& view) {
    constexpr int kMaxViewNesting = 32;
    if (view_depth_ >= kMaxViewNesting) Refuse("views nested too deeply");
    ++view_depth_;
    bool inside = std::exchange(inside_aggregate_, false);
    // The reading statement's WITH list is not the view's.
    size_t visible = std::exchange(visible_common_tables_, 0);
    BoundQuery query;
    BodyGuard in_view(catalog_, view.schema, view.name, ObjectReach::Kind::kView);
    if (view.view_with) {
      // The view's own WITH list, bound apart from the reading statement's.
      Binder own(catalog_);
      own.view_depth_ = view_depth_;
      own.With(*view.view_with);
      query = own.Query(*view.view_query, nullptr);
      calls_elsewhere_ += own.calls_elsewhere_;
      views_read_bound_ += own.views_read_bound_;
    } else {
      query = Query(*view.view_query, nullptr);
    }
    visible_common_tables_ = visible;
    inside_aggregate_ = inside;
    --view_depth_;
    if (query.columns.size() != view.columns.size()) Refuse("view changed its width");
    for (size_t k = 0; k < query.columns.size(); ++k) {
      query.columns[k].name = view.columns[k].name;
      query.columns[k].type.identity = false;
    }
    return query;
  }

  std::string AddBinding(Scope& scope, Binding binding) {
    for (const Binding& other : scope.bindings) {
      if (EqualsIgnoreCase(other.exposed, binding.exposed)) Refuse("duplicate exposed name");
    }
    binding.sql_alias = QuoteSqliteName(binding.exposed);
    // Inside an inlined function the names get a mark of their own: a
    // caller's argument placed in the body must not reach the body's tables
    // (nor a statement's names a view's join it reads beside its target).
    if (!frames_.empty() || marks_aliases_)
      binding.sql_alias =
          QuoteSqliteName(binding.exposed + "#" + std::to_string(++inlined_sources_));
    std::string alias = binding.sql_alias;
    scope.bindings.push_back(std::move(binding));
    return alias;
  }

  static bool Qualifies(const Binding& binding, const std::vector<std::string>& qualifier) {
    if (qualifier.empty()) return true;
    if (!EqualsIgnoreCase(binding.exposed, qualifier.back())) return false;
    if (qualifier.size() == 1) return true;
    // owner.table or db.owner.table: only a table without an alias.
    if (binding.aliased) return false;
    const std::string& owner = qualifier[qualifier.size() - 2];
    return owner.empty() || EqualsIgnoreCase(owner, "dbo");
  }

  static Bound ColumnNode(const Binding& binding, const Column& column, bool outer) {
    Bound node = Make(BoundKind::kColumn, column.type);
    size_t k = static_cast<size_t>(&column - binding.columns.data());
    const std::string& name =
        k < binding.written_names.size() ? binding.written_names[k] : column.name;
    node->sql = binding.sql_alias.empty() ? QuoteSqliteName(name)
                                          : binding.sql_alias + "." + QuoteSqliteName(name);
    node->op = binding.exposed + "." + column.name;  // for messages
    node->outer_reference = outer;
    return node;
  }

  // Throws 207 for a name no source in reach has, 209 for one that two
  // sources of the same query have, 107 for a qualifier no source of a
  // query's FROM answers to; NotBound where the name may be no column at
  // all (a function's date part) or where SQL Server says something else (a
  // qualifier in a table's own definition, or where no FROM is in reach).
  Bound ResolveColumn(const Expr& expr, const Scope& scope) {
    std::vector<std::string> qualifier(expr.names.begin(), expr.names.end() - 1);
    const std::string& name = expr.names.back();
    bool outer = false;
    bool qualifier_found = qualifier.empty();
    for (const Scope* level = &scope; level != nullptr; level = level->parent) {
      const Binding* found_binding = nullptr;
      const Column* found = nullptr;
      for (const Binding& binding : level->bindings) {
        if (!Qualifies(binding, qualifier)) continue;
        qualifier_found = true;
        for (const Column& column : binding.columns) {
          if (!EqualsIgnoreCase(column.name, name)) continue;
          if (found != nullptr) throw MakeError(209, {name});
          found = &column;
          found_binding = &binding;
        }
      }
      if (found != nullptr) {
        size_t k = static_cast<size_t>(found - found_binding->columns.data());
        if (k < found_binding->derived.size() && found_binding->derived[k])
          return DerivedViewColumn(*found, *found_binding, outer);
        return ColumnNode(*found_binding, *found, outer);
      }
      outer = true;
    }
    // (Niladic functions such as SYSTEM_USER are reserved words the parser
    // hands on before they get here.)
    if (name_errors_held_ > 0) Refuse("unknown column");
    if (!qualifier_found) {
      bool sources = false;
      for (const Scope* level = &scope; level != nullptr && !sources; level = level->parent)
        sources = !level->bindings.empty();
      if (table_expression_ || !sources) Refuse("unknown column");
      std::string prefix;
      for (const std::string& part : qualifier) prefix += (prefix.empty() ? "" : ".") + part;
      throw MakeError(107, {prefix});
    }
    throw MakeError(207, {name});
  }

  // ---- grouping

  static bool HasAggregate(const BoundExpr& e) {
    if (e.kind == BoundKind::kAggregate) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const Bound& arg) { return HasAggregate(*arg); });
  }

  enum class GroupedPlace { kSelectList, kHaving, kOrderBy };

  // SQL Server refuses a column outside the aggregates and the GROUP BY list
  // (SQLite would answer with some row's value): 8118 / 8120 in the select
  // list, 8121 in HAVING and 8127 in ORDER BY of a query with GROUP BY;
  // without GROUP BY those two are refused.
  static void CheckGrouped(const BoundExpr& e, const BoundSelectBlock& block, GroupedPlace place) {
    bool select_list = place == GroupedPlace::kSelectList;
    if (e.kind == BoundKind::kAggregate) return;
    for (const Bound& group : block.group_by) {
      if (SameTree(e, *group)) return;
    }
    if (e.kind == BoundKind::kColumn && !e.outer_reference) {
      if (place == GroupedPlace::kHaving && !block.group_by.empty()) throw MakeError(8121, {e.op});
      if (place == GroupedPlace::kOrderBy && !block.group_by.empty()) throw MakeError(8127, {e.op});
      if (!select_list) Refuse("ungrouped column outside the select list");
      throw MakeError(block.group_by.empty() ? 8118 : 8120, {e.op});
    }
    if (e.query) {
      if (const BoundExpr* ungrouped = UngroupedOuterReference(*e.query, block)) {
        if (!select_list) Refuse("ungrouped column in a subquery outside the select list");
        throw MakeError(block.group_by.empty() ? 8118 : 8120, {ungrouped->op});
      }
    }
    for (const Bound& arg : e.args) CheckGrouped(*arg, block, place);
  }

  // The first column of an enclosing query that `query` reads and that is
  // none of `block`'s GROUP BY expressions; null when there is none. A
  // subquery reading no outer column (OBJECT_ID('t') and the other catalog
  // lookups) is the same for every group.
  static const BoundExpr* UngroupedOuterReference(const BoundQuery& query,
                                                  const BoundSelectBlock& block) {
    const BoundExpr* found = nullptr;
    auto check = [&](const BoundExpr& e) {
      if (found == nullptr) found = UngroupedOuterReference(e, block);
    };
    for (const BoundCommonTable& table : query.with)
      if (found == nullptr) found = UngroupedOuterReference(table.query, block);
    for (const BoundSelectBlock& term : query.terms) {
      for (const Bound& item : term.items) check(*item);
      for (const auto& source : term.from)
        if (found == nullptr) found = UngroupedOuterReference(*source, block);
      for (const Bound& group : term.group_by) check(*group);
      if (term.where) check(*term.where);
      if (term.having) check(*term.having);
      if (term.top) check(*term.top);
    }
    for (const BoundOrder& order : query.order_by)
      if (order.expr) check(*order.expr);
    return found;
  }

  static const BoundExpr* UngroupedOuterReference(const BoundExpr& e,
                                                  const BoundSelectBlock& block) {
    if (e.kind == BoundKind::kColumn && e.outer_reference && ReadsBlock(e, block)) {
      bool grouped = std::any_of(block.group_by.begin(), block.group_by.end(),
                                 [&](const Bound& group) { return SameTree(e, *group); });
      return grouped ? nullptr : &e;
    }
    if (e.query) {
      if (const BoundExpr* found = UngroupedOuterReference(*e.query, block)) return found;
    }
    for (const Bound& arg : e.args) {
      if (const BoundExpr* found = UngroupedOuterReference(*arg, block)) return found;
    }
    return nullptr;
  }

  // Whether column `e` is one of `block`'s sources' (rather than a query's
  // further out, which is the same for every group of the block).
  static bool ReadsBlock(const BoundExpr& e, const BoundSelectBlock& block) {
    return std::any_of(block.from.begin(), block.from.end(),
                       [&](const auto& source) { return HasAlias(*source, e.sql); });
  }

  static bool HasAlias(const BoundSource& source, const std::string& column_sql) {
    if (source.kind == BoundSource::Kind::kJoin)
      return HasAlias(*source.left, column_sql) || HasAlias(*source.right, column_sql);
    return column_sql.starts_with(source.alias + ".");
  }

  static const BoundExpr* UngroupedOuterReference(const BoundSource& source,
                                                  const BoundSelectBlock& block) {
    const BoundExpr* found = nullptr;
    if (source.derived) found = UngroupedOuterReference(*source.derived, block);
    if (found == nullptr && source.on) found = UngroupedOuterReference(*source.on, block);
    if (found == nullptr && source.left) found = UngroupedOuterReference(*source.left, block);
    if (found == nullptr && source.right) found = UngroupedOuterReference(*source.right, block);
    return found;
  }

  // ---- expressions

  Bound Predicate(const Expr& expr, const Scope& scope, Clause clause) {
    Bound bound = Any(expr, scope, clause);
    if (!IsPredicate(*bound)) Refuse("a value where a condition is due");
    return bound;
  }

  Bound Value(const Expr& expr, const Scope& scope, Clause clause) {
    Bound bound = Any(expr, scope, clause);
    if (IsPredicate(*bound)) Refuse("a condition where a value is due");
    return bound;
  }

  Bound Any(const Expr& expr, const Scope& scope, Clause clause) {
    switch (expr.kind) {
      case ExprKind::kLiteral:
        return Literal(expr);
      case ExprKind::kColumn:
        if (expr.names.size() > 1 && expr.names.front().empty()) Refuse("empty qualifier");
        return ResolveColumn(expr, scope);
      case ExprKind::kVariable: {
        if (!frames_.empty()) return Parameter(expr);
        std::optional<ColumnType> type = catalog_.VariableType(expr.value);
        if (!type) throw MakeError(137, {expr.value});
        type->nullable = true;
        type->identity = false;
        Bound node = Make(BoundKind::kParameter, *type);
        node->sql = expr.value;
        if (IsLive(expr.value)) node->sql = LiveRead(expr.value);
        return node;
      }
      case ExprKind::kSystemVariable:
        return SystemVariable(expr);
      case ExprKind::kUnary:
        return Unary(expr, scope, clause);
      case ExprKind::kBinary:
        return Binary(expr, scope, clause);
      case ExprKind::kComparison: {
        const bool old_join = expr.op == "*=" || expr.op == "=*";
        // Only a block's WHERE clause makes joins of them (OldOuterJoins).
        if (old_join && (clause != Clause::kWhere || !old_outer_joins_allowed_))
          Refuse("old-style outer join outside WHERE");
        std::vector<Bound> operands;
        {
          bool allowed = std::exchange(old_outer_joins_allowed_, false);
          operands.push_back(Value(*expr.args[0], scope, clause));
          operands.push_back(Value(*expr.args[1], scope, clause));
          old_outer_joins_allowed_ = allowed;
        }
        const bool null_operands[] = {NullUnderAnsiNullsOff(*operands[0]),
                                      NullUnderAnsiNullsOff(*operands[1])};
        Bound node = Compared(BoundKind::kComparison, std::move(operands), expr.op);
        node->op = old_join ? "=" : expr.op;
        if (old_join) node->sql = expr.op;  // the mark OldOuterJoins looks for
        const bool equality = expr.op == "=" || expr.op == "<>" || expr.op == "!=";
        if (!old_join && equality && !catalog_.AnsiNulls() &&
            (null_operands[0] || null_operands[1]))
          return NullsCompared(*expr.args[0], *expr.args[1], expr.op, std::move(node),
                               null_operands, scope, clause);
        return node;
      }
      case ExprKind::kAnd:
      case ExprKind::kOr: {
        Bound node = Make(expr.kind == ExprKind::kAnd ? BoundKind::kAnd : BoundKind::kOr,
                          ColumnType{SqlType::kBit});
        node->args.push_back(Predicate(*expr.args[0], scope, clause));
        node->args.push_back(Predicate(*expr.args[1], scope, clause));
        return node;
      }
      case ExprKind::kNot: {
        Bound node = Make(BoundKind::kNot, ColumnType{SqlType::kBit});
        node->args.push_back(Predicate(*expr.args[0], scope, clause));
        return node;
      }
      case ExprKind::kBetween:
      case ExprKind::kInList: {
        std::vector<Bound> operands;
        for (const auto& arg : expr.args) operands.push_back(Value(*arg, scope, clause));
        // Under SET ANSI_NULLS OFF a NULL literal or variable in the list
        // compares as a value: x IN (a, NULL) is x = a OR x = NULL, each
        // comparison by that setting's rules.
        if (expr.kind == ExprKind::kInList && !catalog_.AnsiNulls() &&
            std::any_of(operands.begin(), operands.end(),
                        [](const Bound& b) { return NullUnderAnsiNullsOff(*b); }))
          return InListUnderAnsiNullsOff(expr, scope, clause);
        if (AnyVariant(operands))
          return VariantMembership(expr.kind == ExprKind::kBetween, std::move(operands),
                                   expr.negated);
        Bound node =
            Compared(expr.kind == ExprKind::kBetween ? BoundKind::kBetween : BoundKind::kInList,
                     std::move(operands), expr.kind == ExprKind::kBetween ? ">=" : "=");
        node->negated = expr.negated;
        return node;
      }
      case ExprKind::kInQuery:
        return InQuery(expr, scope, clause);
      case ExprKind::kQuantified:
        return Quantified(expr, scope, clause);
      case ExprKind::kLike:
        return Like(expr, scope, clause);
      case ExprKind::kIsNull: {
        Bound node = Make(BoundKind::kIsNull, ColumnType{SqlType::kBit});
        node->negated = expr.negated;
        node->args.push_back(Value(*expr.args[0], scope, clause));
        return node;
      }
      case ExprKind::kExists: {
        Bound node = Make(BoundKind::kExists, ColumnType{SqlType::kBit});
        const parse::SelectBlock* first =
            expr.query->terms.size() == 1 ? expr.query->terms.front().get() : nullptr;
        const bool star = first != nullptr && first->items.size() == 1 &&
                          first->items.front().star && !first->from.empty();
        const parse::SelectBlock* outer = std::exchange(exists_block_, star ? first : nullptr);
        node->query = std::make_unique<BoundQuery>(NestedQuery(*expr.query, &scope));
        exists_block_ = outer;
        return node;
      }
      case ExprKind::kCase:
        return Case(expr, scope, clause);
      case ExprKind::kCast:
        return Cast(expr, scope, clause);
      case ExprKind::kCollate: {
        // The value in the named collation, which wins in a comparison.
        if (!IsKnownCollation(expr.value)) throw MakeError(448, {expr.value});
        Bound value = Value(*expr.args[0], scope, clause);
        if (!value->null_literal && ClassOf(value->type.type) != TypeClass::kCharacter)
          throw MakeError(447, {std::string(TypeName(value->type.type))});
        ApplyCollation(expr.value, value->type);
        value->explicit_collation = true;
        return value;
      }
      case ExprKind::kCall:
        return Call(expr, scope, clause);
      case ExprKind::kSubquery: {
        auto query = std::make_unique<BoundQuery>(NestedQuery(*expr.query, &scope));
        if (query->columns.size() != 1) throw MakeError(116);
        ColumnType type = query->columns[0].type;
        type.nullable = true;
        type.identity = false;
        SingleRowOnly(*query);
        Bound node = Make(BoundKind::kSubquery, type);
        node->query = std::move(query);
        return node;
      }
    }
    Refuse("expression");
  }

  // A subquery used as a value must give at most one row (512 otherwise):
  // its value goes through sqlengine_single_value unless its shape already
  // guarantees one row (an aggregate without GROUP BY, TOP 1).
  static void SingleRowOnly(BoundQuery& query) {
    if (query.terms.size() != 1) return SingleValueOfRows(query);
    BoundSelectBlock& block = query.terms.front();
    bool aggregate = HasAggregate(*block.items[0]);
    if (aggregate && block.group_by.empty() && !block.having) return;
    if (block.top && !block.top_percent && !block.top_ties &&
        block.top->kind == BoundKind::kLiteral && block.top->sql == "1")
      return;
    if (aggregate || block.top || block.distinct || !block.group_by.empty() || block.having)
      return SingleValueOfRows(query);
    ColumnType type = block.items[0]->type;
    Bound single = Make(BoundKind::kAggregate, type);
    single->sql = "sqlengine_single_value";
    single->args.push_back(std::move(block.items[0]));
    block.items[0] = std::move(single);
    // Its ORDER BY no longer has rows to order.
    query.order_by.clear();
  }

  // A subquery whose rows come from a UNION, DISTINCT, GROUP BY or TOP n:
  // read as a derived table, through sqlengine_single_value.
  static void SingleValueOfRows(BoundQuery& query) {
    static constexpr std::string_view kAliasName = "\"sqlengine_single\"";
    static constexpr std::string_view kColumnName = "sqlengine_value";
    ColumnType type = query.columns[0].type;
    query.columns[0].name = std::string(kColumnName);
    auto source = std::make_unique<BoundSource>();
    source->kind = BoundSource::Kind::kDerived;
    source->alias = std::string(kAliasName);
    source->derived = std::make_unique<BoundQuery>(std::move(query));
    Bound column = Make(BoundKind::kColumn, type);
    column->sql = std::string(kAliasName) + "." + QuoteSqliteName(std::string(kColumnName));
    Bound single = Make(BoundKind::kAggregate, type);
    single->sql = "sqlengine_single_value";
    single->args.push_back(std::move(column));
    BoundSelectBlock block;
    block.items.push_back(std::move(single));
    block.from.push_back(std::move(source));
    BoundQuery outer;
    outer.terms.push_back(std::move(block));
    outer.columns.push_back(Column{"", type});
    query = std::move(outer);
  }

  static Bound Literal(const Expr& expr) {
    ColumnType type;
    std::string sql = expr.value;
    switch (expr.literal) {
      case parse::LiteralKind::kInteger:
        type = IntegerLiteralType(expr.value);
        break;
      case parse::LiteralKind::kDecimal:
        type = DecimalLiteralType(expr.value);
        if (sql.front() == '.') sql = "0" + sql;
        break;
      case parse::LiteralKind::kFloat:
        type = ColumnType{SqlType::kFloat};
        if (sql.front() == '.') sql = "0" + sql;
        break;
      case parse::LiteralKind::kMoney: {
        type = *ColumnTypeFromName("money", {});
        if (sql.find_first_of("eE") != std::string::npos) Refuse("money constant with exponent");
        if (sql.front() == '.') sql = "0" + sql;
        size_t point = sql.find('.');
        // Money keeps four decimals.
        if (point != std::string::npos && sql.size() - point - 1 > 4) sql = "round(" + sql + ", 4)";
        break;
      }
      case parse::LiteralKind::kString:
      case parse::LiteralKind::kNationalString: {
        type = StringLiteralType(expr.value,
                                 expr.literal == parse::LiteralKind::kNationalString);
        sql = QuoteSqliteString(expr.value);
        break;
      }
      case parse::LiteralKind::kBinary: {
        std::string hex = expr.value.size() % 2 ? "0" + expr.value : expr.value;
        type = ColumnType{SqlType::kVarBinary};
        type.length = std::max<int>(1, static_cast<int>(hex.size() / 2));
        if (type.length > 8000) type.length = kMaxLength;
        sql = "X'" + hex + "'";
        break;
      }
      case parse::LiteralKind::kNull: {
        Bound node = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt});
        node->sql = "NULL";
        node->null_literal = true;
        return node;
      }
    }
    type.nullable = false;
    Bound node = Make(BoundKind::kLiteral, type);
    node->sql = sql;
    if (expr.literal == parse::LiteralKind::kInteger ||
        expr.literal == parse::LiteralKind::kString ||
        expr.literal == parse::LiteralKind::kNationalString)
      node->origin = expr.origin.offset;
    return node;
  }

  Bound SystemVariable(const Expr& expr) const {
    struct Known {
      std::string_view name;
      SqlType type;
    };
    static constexpr Known kKnown[] = {
        {"rowcount", SqlType::kInt},         {"error", SqlType::kInt},
        {"trancount", SqlType::kInt},        {"nestlevel", SqlType::kInt},
        {"spid", SqlType::kSmallInt},        {"identity", SqlType::kDecimal},
        {"datefirst", SqlType::kTinyInt},    {"textsize", SqlType::kInt},
        {"lock_timeout", SqlType::kInt},     {"max_precision", SqlType::kTinyInt},
        {"language", SqlType::kNVarChar},    {"servername", SqlType::kNVarChar},
        {"servicename", SqlType::kNVarChar}, {"dbts", SqlType::kVarBinary},
        {"fetch_status", SqlType::kInt},     {"cursor_rows", SqlType::kInt},
        {"version", SqlType::kNVarChar},     {"microsoftversion", SqlType::kInt},
        {"options", SqlType::kInt},          {"langid", SqlType::kSmallInt},
        {"max_connections", SqlType::kInt},  {"connections", SqlType::kInt},
        {"timeticks", SqlType::kInt},        {"cpu_busy", SqlType::kInt},
        {"io_busy", SqlType::kInt},          {"idle", SqlType::kInt},
        {"pack_received", SqlType::kInt},    {"pack_sent", SqlType::kInt},
        {"packet_errors", SqlType::kInt},    {"total_read", SqlType::kInt},
        {"total_write", SqlType::kInt},      {"total_errors", SqlType::kInt},
        {"procid", SqlType::kInt},           {"remserver", SqlType::kNVarChar}};
    for (const Known& known : kKnown) {
      if (expr.value != known.name) continue;
      ColumnType type{known.type};
      if (known.type == SqlType::kDecimal) {
        type.precision = 38;
      } else if (known.name != "remserver") {  // NULL: no remote server calls here
        type.nullable = false;
      }
      // sysname; @@VERSION is nvarchar(256).
      if (known.type == SqlType::kNVarChar) type.length = known.name == "version" ? 256 : 128;
      if (known.type == SqlType::kVarBinary) type.length = 8;
      if (table_expression_) return Evaluated("@@" + expr.value, {}, type);
      Bound node = Make(BoundKind::kParameter, type);
      node->sql = std::string(kSystemVariablePrefix) + expr.value;
      return node;
    }
    Refuse("system variable");
  }

  Bound Unary(const Expr& expr, const Scope& scope, Clause clause) {
    Bound operand = Value(*expr.args[0], scope, clause);
    if (expr.op == "+" && IsNumeric(operand->type.type)) return operand;
    bool integer = ClassOf(operand->type.type) == TypeClass::kInteger;
    // ~ takes every integer type, bit included; minus no bit.
    if (expr.op == "-" && operand->type.type == SqlType::kBit)
      throw MakeError(8117, {"bit", "minus"});
    if (!IsNumeric(operand->type.type) || (expr.op == "-" && operand->type.type == SqlType::kBit) ||
        (expr.op == "~" && !integer) || expr.op == "+") {
      Refuse("unary operand");
    }
    if (operand->kind == BoundKind::kLiteral && expr.op == "-") {
      // -2147483648 is an int literal.
      std::string digits = operand->sql;
      // "--5" would start a comment in SQLite.
      operand->sql = digits.starts_with("-") ? digits.substr(1) : "-" + digits;
      operand->origin = kNoOrigin;  // no longer the token's own value
      if (operand->type.type == SqlType::kDecimal && operand->type.scale == 0 &&
          digits == "2147483648") {
        operand->type = ColumnType{SqlType::kInt};
        operand->type.nullable = false;
      }
      return operand;
    }
    // The negative of a tinyint, which has no sign, is a smallint.
    if (expr.op == "-" && operand->type.type == SqlType::kTinyInt) {
      ColumnType wider{SqlType::kSmallInt};
      wider.nullable = operand->type.nullable;
      Bound converted = Make(BoundKind::kConvert, wider);
      converted->args.push_back(std::move(operand));
      operand = std::move(converted);
    }
    Bound node = Make(BoundKind::kNegate, operand->type);
    node->type.identity = false;
    node->op = expr.op;
    node->args.push_back(std::move(operand));
    return node;
  }

  Bound Binary(const Expr& expr, const Scope& scope, Clause clause) {
    Bound left = Value(*expr.args[0], scope, clause);
    Bound right = Value(*expr.args[1], scope, clause);
    char op = expr.op[0];
    const bool null_concatenates = op == '+' && !catalog_.ConcatNullYieldsNull();
    if (null_concatenates && left->null_literal != right->null_literal) {
      // CONCAT_NULL_YIELDS_NULL OFF: NULL beside a string is the empty string.
      Bound& other = left->null_literal ? right : left;
      if (ClassOf(other->type.type) == TypeClass::kCharacter) return std::move(other);
    }
    // NULL with anything is NULL of the other operand's type.
    if (left->null_literal || right->null_literal) {
      Bound node = Make(BoundKind::kLiteral, left->null_literal ? right->type : left->type);
      node->type.nullable = true;
      node->type.identity = false;
      node->sql = "NULL";
      node->null_literal = left->null_literal && right->null_literal;
      return node;
    }
    if (IsLargeObject(left->type.type) || IsLargeObject(right->type.type))
      throw MakeError(402, {std::string(NameOf(left->type.type)),
                            std::string(NameOf(right->type.type)),
                            std::string(OperatorName(op))});
    TypeClass l = ClassOf(left->type.type), r = ClassOf(right->type.type);
    if (op == '+' && l == TypeClass::kCharacter && r == TypeClass::kCharacter) {
      Bound node = Make(BoundKind::kConcat, ConcatenationType(left->type, right->type));
      if (null_concatenates) {
        left = NullAsEmpty(std::move(left));
        right = NullAsEmpty(std::move(right));
        node->type.nullable = false;
      }
      node->args.push_back(std::move(left));
      node->args.push_back(std::move(right));
      RequireCollationLabel(*node);
      return node;
    }
    if (op == '+' && IsComparedBinary(left->type.type) && IsComparedBinary(right->type.type)) {
      // Binary data joins its bytes, up to 8000.
      bool fixed = left->type.type == SqlType::kBinary && right->type.type == SqlType::kBinary;
      ColumnType joined{fixed ? SqlType::kBinary : SqlType::kVarBinary};
      joined.length = left->type.length == kMaxLength || right->type.length == kMaxLength
                          ? kMaxLength
                          : std::min(left->type.length + right->type.length, 8000);
      joined.nullable = left->type.nullable || right->type.nullable;
      Bound node = Make(BoundKind::kConcat, joined);
      node->args.push_back(std::move(left));
      node->args.push_back(std::move(right));
      return node;
    }
    // Text on both sides of - * / % is no number ('2' * '3' is 8117).
    if (l == TypeClass::kCharacter && r == TypeClass::kCharacter && op != '+') {
      std::string_view name = op == '-'   ? "subtract"
                              : op == '*' ? "multiply"
                              : op == '/' ? "divide"
                              : op == '%' ? "modulo"
                                          : "";
      if (!name.empty())
        throw MakeError(8117, {std::string(NameOf(Higher(left->type, right->type).type)),
                               std::string(name)});
    }
    if ((op == '+' || op == '-') && (l == TypeClass::kDateTime || r == TypeClass::kDateTime))
      return DateArithmetic(op, std::move(left), std::move(right));
    // Character data beside a number converts to the number's type.
    if (l == TypeClass::kCharacter && IsNumeric(right->type.type))
      left = ConvertTo(std::move(left), right->type);
    if (r == TypeClass::kCharacter && IsNumeric(left->type.type))
      right = ConvertTo(std::move(right), left->type);
    bool bitwise = op == '&' || op == '|' || op == '^';
    {
      // Binary data beside an integer is read as a value of the integer's
      // type, of its last bytes (a bigint's eight, a tinyint's one), for
      // arithmetic as for bitwise operators: 0x7FFFFFFF + 1 overflows an int.
      auto binary = [](const Bound& b) {
        return b->type.type == SqlType::kBinary || b->type.type == SqlType::kVarBinary;
      };
      auto as_integer = [](Bound value, const ColumnType& beside) {
        ColumnType to{beside.type};
        to.nullable = value->type.nullable;
        Bound node = Make(BoundKind::kConvert, to);
        node->args.push_back(std::move(value));
        return node;
      };
      // Of two binary operands neither is read as an integer: 402.
      if (bitwise && binary(left) && binary(right)) {
        throw MakeError(402, {std::string(NameOf(left->type.type)),
                              std::string(NameOf(right->type.type)),
                              std::string(OperatorName(op))});
      }
      if (binary(left) && ClassOf(right->type.type) == TypeClass::kInteger)
        left = as_integer(std::move(left), right->type);
      if (binary(right) && ClassOf(left->type.type) == TypeClass::kInteger)
        right = as_integer(std::move(right), left->type);
    }
    std::optional<ColumnType> type;
    if (bitwise) {
      if (ClassOf(left->type.type) == TypeClass::kInteger &&
          ClassOf(right->type.type) == TypeClass::kInteger) {
        type = Higher(left->type, right->type);
        type->nullable = left->type.nullable || right->type.nullable;
        type->identity = false;
      }
    } else {
      // float and real take no remainder: 8117 names the approximate operand.
      if (op == '%' && IsNumeric(left->type.type) && IsNumeric(right->type.type)) {
        for (const Bound* operand : {&left, &right}) {
          if (ClassOf((*operand)->type.type) == TypeClass::kApproximate)
            throw MakeError(8117, {std::string(NameOf((*operand)->type.type)), "modulo"});
        }
      }
      type = ArithmeticType(op, left->type, right->type);
    }
    // bit takes part in arithmetic only beside a wider type.
    if (!type && !bitwise && left->type.type == SqlType::kBit && right->type.type == SqlType::kBit)
      throw MakeError(8117, {"bit", std::string(OperatorName(op))});
    // Dates are added to and subtracted from, never multiplied or divided.
    if (!type && (op == '*' || op == '/' || op == '%')) {
      for (const Bound* operand : {&left, &right}) {
        if (ClassOf((*operand)->type.type) == TypeClass::kDateTime)
          throw MakeError(8117, {std::string(NameOf((*operand)->type.type)),
                                 std::string(OperatorName(op))});
      }
    }
    if (!type) Refuse("operands");
    // Exact values take their remainder in the engine's decimal arithmetic.
    if (op == '%' && ClassOf(type->type) != TypeClass::kInteger &&
        ClassOf(type->type) != TypeClass::kExactDecimal)
      Refuse("modulo of non-integers");
    Bound node = Make(BoundKind::kArithmetic, *type);
    node->op = expr.op;
    node->args.push_back(std::move(left));
    node->args.push_back(std::move(right));
    return node;
  }

  // A string operand of a concatenation under CONCAT_NULL_YIELDS_NULL OFF:
  // NULL reads as '' (a fixed-length value padded first, a NULL not).
  static Bound NullAsEmpty(Bound value) {
    if (!value->type.nullable) return value;
    ColumnType varying = value->type;
    if (varying.type == SqlType::kChar) varying.type = SqlType::kVarChar;
    if (varying.type == SqlType::kNChar) varying.type = SqlType::kNVarChar;
    if (varying.type != value->type.type) {
      Bound converted = Make(BoundKind::kConvert, varying);
      converted->args.push_back(std::move(value));
      value = std::move(converted);
    }
    varying.nullable = false;
    Bound empty = Make(BoundKind::kLiteral, varying);
    empty->sql = "''";
    Bound node = Make(BoundKind::kCall, varying);
    node->sql = "ifnull";
    node->args.push_back(std::move(value));
    node->args.push_back(std::move(empty));
    return node;
  }

  // datetime + n, n + datetime and datetime - n move the date by n days (n
  // may have a fraction); d1 - d2 and d1 + d2 count d2 as its days since
  // 1900-01-01. The result is a smalldatetime when the date is one and the
  // other operand no datetime.
  static Bound DateArithmetic(char op, Bound left, Bound right) {
    // Character data beside a datetime reads as a datetime, by datetime's
    // precedence (241 when the text holds none).
    auto as_date = [](Bound& operand) {
      SqlType type = operand->type.type;
      if (ClassOf(type) != TypeClass::kCharacter || type == SqlType::kText ||
          type == SqlType::kNText)
        return;
      ColumnType date{SqlType::kDateTime};
      date.nullable = operand->type.nullable;
      operand = ConvertTo(std::move(operand), date);
    };
    as_date(left);
    as_date(right);
    if (ClassOf(left->type.type) != TypeClass::kDateTime) {
      if (op == '-') Refuse("number minus datetime");
      std::swap(left, right);
    }
    bool both_dates = ClassOf(right->type.type) == TypeClass::kDateTime;
    if (!both_dates && !IsNumeric(right->type.type)) Refuse("datetime arithmetic operand");
    bool small = left->type.type == SqlType::kSmallDateTime &&
                 (!both_dates || right->type.type == SqlType::kSmallDateTime);
    ColumnType days_type{SqlType::kFloat};
    days_type.nullable = right->type.nullable;
    if (both_dates) {
      Bound days = Make(BoundKind::kCall, days_type);
      days->sql = "sqlengine_datetime_days";
      days->args.push_back(std::move(right));
      right = std::move(days);
    }
    if (op == '-') {
      Bound negated = Make(BoundKind::kNegate, right->type);
      negated->type.identity = false;
      negated->op = "-";
      negated->args.push_back(std::move(right));
      right = std::move(negated);
    }
    ColumnType type{SqlType::kDateTime};
    type.nullable = left->type.nullable || right->type.nullable;
    Bound node = Make(BoundKind::kCall, type);
    node->sql = "sqlengine_datetime_add_days";
    node->args.push_back(std::move(left));
    node->args.push_back(std::move(right));
    if (!small) return node;
    type.type = SqlType::kSmallDateTime;
    Bound rounded = Make(BoundKind::kConvert, type);
    rounded->args.push_back(std::move(node));
    return rounded;
  }

  // A uniqueidentifier compared with a uniqueidentifier or character data:
  // equal for the same 16 bytes whatever the case of the hexadecimal digits,
  // ordered as SQL Server orders them (see the sqlengine_guid collation).
  static bool IdentifiersAmong(const std::vector<Bound>& operands) {
    bool identifier = false;
    for (const Bound& operand : operands) {
      SqlType type = operand->type.type;
      if (type == SqlType::kUniqueIdentifier) {
        identifier = true;
      } else if (!operand->null_literal && ClassOf(type) != TypeClass::kCharacter) {
        return false;
      }
    }
    return identifier;
  }

  // An operand SET ANSI_NULLS OFF compares as a value when it is NULL: a
  // NULL literal or a variable.
  static bool NullUnderAnsiNullsOff(const BoundExpr& operand) {
    return operand.null_literal ||
           (operand.kind == BoundKind::kParameter &&
            (operand.sql.starts_with("@") || operand.sql.starts_with(kReadFunction)));
  }

  // x [NOT] IN (a, b, ...) under SET ANSI_NULLS OFF, with a NULL literal or
  // variable among the values: x = a OR x = b ... (x <> a AND x <> b ... for
  // NOT IN), each comparison as that setting makes it.
  Bound InListUnderAnsiNullsOff(const Expr& expr, const Scope& scope, Clause clause) {
    const std::string op = expr.negated ? "<>" : "=";
    Bound joined;
    for (size_t k = 1; k < expr.args.size(); ++k) {
      std::vector<Bound> operands;
      operands.push_back(Value(*expr.args[0], scope, clause));
      operands.push_back(Value(*expr.args[k], scope, clause));
      const bool null_operands[] = {NullUnderAnsiNullsOff(*operands[0]),
                                    NullUnderAnsiNullsOff(*operands[1])};
      Bound comparison = Compared(BoundKind::kComparison, std::move(operands), op);
      comparison->op = op;
      if (null_operands[0] || null_operands[1])
        comparison = NullsCompared(*expr.args[0], *expr.args[k], op, std::move(comparison),
                                   null_operands, scope, clause);
      if (!joined) {
        joined = std::move(comparison);
        continue;
      }
      Bound node = Make(expr.negated ? BoundKind::kAnd : BoundKind::kOr, ColumnType{SqlType::kBit});
      node->args.push_back(std::move(joined));
      node->args.push_back(std::move(comparison));
      joined = std::move(node);
    }
    return joined;
  }

  // `comparison` (left = right or left <> right) under SET ANSI_NULLS OFF:
  // when one of the operands marked in `nullable` is NULL, = is true exactly
  // when both are NULL and <> when one is not; otherwise the comparison
  // answers as written, unknown included. The operands are bound again for
  // each use.
  Bound NullsCompared(const Expr& left, const Expr& right, std::string_view op, Bound comparison,
                      const bool nullable[2], const Scope& scope, Clause clause) {
    auto is_null = [&](size_t k) {
      Bound node = Make(BoundKind::kIsNull, ColumnType{SqlType::kBit});
      node->args.push_back(Value(k == 0 ? left : right, scope, clause));
      return node;
    };
    auto joined = [](BoundKind kind, Bound a, Bound b) {
      Bound node = Make(kind, ColumnType{SqlType::kBit});
      node->args.push_back(std::move(a));
      node->args.push_back(std::move(b));
      return node;
    };
    auto negated = [](Bound a) {
      Bound node = Make(BoundKind::kNot, ColumnType{SqlType::kBit});
      node->args.push_back(std::move(a));
      return node;
    };
    auto any_null = [&] {
      if (nullable[0] && nullable[1]) return joined(BoundKind::kOr, is_null(0), is_null(1));
      return is_null(nullable[0] ? 0 : 1);
    };
    Bound both_null = joined(BoundKind::kAnd, is_null(0), is_null(1));
    Bound null_answer = op == "=" ? std::move(both_null) : negated(std::move(both_null));
    return joined(BoundKind::kOr, joined(BoundKind::kAnd, any_null(), std::move(null_answer)),
                  joined(BoundKind::kAnd, negated(any_null()), std::move(comparison)));
  }

  static Bound IdentifiersCompared(BoundKind kind, std::vector<Bound> operands) {
    Bound node = Make(kind, ColumnType{SqlType::kBit});
    node->guid_comparison = true;
    node->args = std::move(operands);
    return node;
  }

  // The name SQL Server gives an arithmetic or bitwise operator in 402.
  static std::string_view OperatorName(char op) {
    switch (op) {
      case '+': return "add";
      case '-': return "subtract";
      case '*': return "multiply";
      case '/': return "divide";
      case '%': return "modulo";
      case '&': return "boolean AND";
      case '|': return "boolean OR";
      default: return "boolean XOR";
    }
  }

  static bool IsComparedBinary(SqlType type) {
    return type == SqlType::kBinary || type == SqlType::kVarBinary;
  }

  static bool AnyVariant(const std::vector<Bound>& operands) {
    return std::any_of(operands.begin(), operands.end(),
                       [](const Bound& b) { return b->type.type == SqlType::kSqlVariant; });
  }

  // BETWEEN and IN with a sql_variant operand: every operand taken as a
  // variant and compared in sql_variant order by sqlengine_variant_between /
  // sqlengine_variant_in, whose 1, 0 or NULL is then tested (NOT: against 0).
  static Bound VariantMembership(bool between, std::vector<Bound> operands, bool negated) {
    Bound test = Make(BoundKind::kCall, ColumnType{SqlType::kInt});
    test->sql = between ? "sqlengine_variant_between" : "sqlengine_variant_in";
    for (Bound& operand : operands)
      test->args.push_back(ConvertTo(std::move(operand), ColumnType{SqlType::kSqlVariant}));
    Bound expected = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt, 0, 0, 0, false});
    expected->sql = negated ? "0" : "1";
    Bound node = Make(BoundKind::kComparison, ColumnType{SqlType::kBit});
    node->op = "=";
    node->args.push_back(std::move(test));
    node->args.push_back(std::move(expected));
    return node;
  }

  // How SQL Server names the operation `op` (a comparison's) in 446.
  static std::string_view OperationName(std::string_view op) {
    if (op == "<>" || op == "!=") return "not equal to";
    if (op == "<" || op == "!>") return op == "<" ? "less than" : "not greater than";
    if (op == ">" || op == "!<") return op == ">" ? "greater than" : "not less than";
    if (op == "<=") return "less than or equal to";
    if (op == ">=") return "greater than or equal to";
    if (op == "like") return "like";
    return "equal to";
  }

  // Gives `node` the collation its character `operands` compare in, by SQL
  // Server's precedence: a COLLATE clause's over a column's over any other
  // value's (a function of a column or a concatenation of one holding the
  // column's). Two COLLATE clauses of different collations are 449; two
  // columns of different collations, or text whose columns conflicted, are
  // 446 unless a COLLATE clause settles it. Among other values the
  // first that is not the default's wins.
  static void SettleCollation(BoundExpr& node, const std::vector<Bound>& operands,
                              std::string_view op) {
    const ColumnType* chosen = nullptr;
    int strength = 0;
    bool conflict = false;
    for (const Bound& operand : operands) {
      if (operand->null_literal || ClassOf(operand->type.type) != TypeClass::kCharacter) continue;
      CollationLabel label = LabelOf(*operand);
      int held = label.strength;
      if (held == 1 && SameCollation(*label.collation, ColumnType{})) continue;
      if (held > strength) {
        chosen = label.collation;
        strength = held;
        conflict = label.conflict;
      } else if (held == strength && held > 1 &&
                 (label.conflict || conflict || !SameCollation(*chosen, *label.collation))) {
        if (held == 3) RequireSameExplicit(*chosen, *label.collation);
        conflict = held == 2;
      }
    }
    if (conflict) throw MakeError(446, {std::string(OperationName(op))});
    if (chosen == nullptr) return;
    CopyCollation(*chosen, node.collation);
    node.case_sensitive = chosen->case_sensitive;
  }

  // Comparison-like nodes (=, BETWEEN, IN): the operands converted to the
  // type of highest precedence; character data compared case-insensitively,
  // binary data with trailing zero bytes ignored.
  static Bound Compared(BoundKind kind, std::vector<Bound> operands, std::string_view op = "=") {
    if (IdentifiersAmong(operands)) return IdentifiersCompared(kind, std::move(operands));
    if (std::any_of(operands.begin(), operands.end(),
                    [](const Bound& b) { return IsLargeObject(b->type.type); }))
      throw MakeError(306);
    Bound node = Make(kind, ColumnType{SqlType::kBit});
    bool any_null = std::any_of(operands.begin(), operands.end(),
                                [](const Bound& b) { return b->null_literal; });
    bool all_text = std::all_of(operands.begin(), operands.end(), [](const Bound& b) {
      return b->null_literal || ClassOf(b->type.type) == TypeClass::kCharacter;
    });
    bool all_binary = std::all_of(operands.begin(), operands.end(), [](const Bound& b) {
      return b->null_literal || IsComparedBinary(b->type.type);
    });
    if (AnyVariant(operands) && !any_null) {
      // sql_variant values compare by their families and base values:
      // sqlengine_variant_compare(a, b) op 0.
      if (kind != BoundKind::kComparison || operands.size() != 2)
        Refuse("sql_variant in BETWEEN or IN");
      Bound compare = Make(BoundKind::kCall, ColumnType{SqlType::kInt});
      compare->sql = "sqlengine_variant_compare";
      for (Bound& operand : operands)
        compare->args.push_back(ConvertTo(std::move(operand), ColumnType{SqlType::kSqlVariant}));
      Bound zero = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt, 0, 0, 0, false});
      zero->sql = "0";
      node->args.push_back(std::move(compare));
      node->args.push_back(std::move(zero));
      return node;
    }
    if (all_text) {
      node->text_comparison = true;
      SettleCollation(*node, operands, op);
    } else if (all_binary) {
      node->binary_comparison = true;
    } else if (!(any_null && operands.size() == 2)) {
      // Binary data converts to the other side's type, which comes higher in
      // precedence: beside an integer by its bytes (0x10 = 16), beside
      // character data to the characters its bytes hold (0x61 = 'a'), then
      // compared as that text is.
      auto binary = [](const Bound& b) {
        return b->type.type == SqlType::kBinary || b->type.type == SqlType::kVarBinary;
      };
      std::optional<ColumnType> target;
      for (const Bound& operand : operands) {
        if (operand->null_literal) continue;
        if (ClassOf(operand->type.type) == TypeClass::kOther && !binary(operand))
          Refuse("comparison of this type");
        target = target ? Higher(*target, operand->type) : operand->type;
      }
      TypeClass target_class = ClassOf(target->type);
      if (target_class != TypeClass::kInteger && target_class != TypeClass::kCharacter &&
          target->type != SqlType::kDecimal &&
          std::any_of(operands.begin(), operands.end(),
                      [&](const Bound& b) { return !b->null_literal && binary(b); }))
        Refuse("comparison of this type");
      if (target_class == TypeClass::kCharacter) {
        node->text_comparison = true;
        SettleCollation(*node, operands, op);
      }
      for (Bound& operand : operands) {
        ColumnType to = *target;
        // Binary data becomes as many characters as its bytes make, whatever
        // the length of the text beside it.
        if (target_class == TypeClass::kCharacter && binary(operand) &&
            operand->type.length != kMaxLength)
          to.length = std::max(
              1, IsNational(to.type) ? (operand->type.length + 1) / 2 : operand->type.length);
        operand = ConvertTo(std::move(operand), to);
      }
    }
    node->args = std::move(operands);
    return node;
  }

  Bound InQuery(const Expr& expr, const Scope& scope, Clause clause) {
    Bound node = Make(BoundKind::kInQuery, ColumnType{SqlType::kBit});
    node->negated = expr.negated;
    node->args.push_back(Value(*expr.args[0], scope, clause));
    node->query = std::make_unique<BoundQuery>(NestedQuery(*expr.query, &scope));
    if (node->query->columns.size() != 1) throw MakeError(116);
    TypeClass value = ClassOf(node->args[0]->type.type);
    TypeClass listed = ClassOf(node->query->columns[0].type.type);
    bool numbers =
        IsNumeric(node->args[0]->type.type) && IsNumeric(node->query->columns[0].type.type);
    if (value != listed && !numbers) {
      // x IN (query) is x = ANY (query): the two sides meet in the type of
      // higher precedence, as `=` compares them.
      Bound any = QuantifiedComparison(std::move(node->args[0]), std::move(node->query), "=", "any");
      if (!expr.negated) return any;
      Bound negated = Make(BoundKind::kNot, ColumnType{SqlType::kBit});
      negated->args.push_back(std::move(any));
      return negated;
    }
    node->text_comparison = value == TypeClass::kCharacter;
    {
      std::vector<Bound> compared;
      compared.push_back(std::move(node->args[0]));
      Bound listed = Make(BoundKind::kColumn, node->query->columns[0].type);
      compared.push_back(std::move(listed));
      SettleCollation(*node, compared, "=");
      node->args[0] = std::move(compared[0]);
    }
    node->binary_comparison = IsComparedBinary(node->args[0]->type.type) &&
                              IsComparedBinary(node->query->columns[0].type.type);
    return node;
  }

  // x op ALL / ANY (query): the comparison of x with the query's column is
  // typed as `x op column` would be.
  Bound Quantified(const Expr& expr, const Scope& scope, Clause clause) {
    auto query = std::make_unique<BoundQuery>(NestedQuery(*expr.query, &scope));
    if (query->columns.size() != 1) Refuse("quantified subquery width");
    return QuantifiedComparison(Value(*expr.args[0], scope, clause), std::move(query), expr.op,
                                expr.value);
  }

  // `value op quantifier (query)`, quantifier "all" or "any"; the query has
  // one column.
  static Bound QuantifiedComparison(Bound value, std::unique_ptr<BoundQuery> query,
                                    const std::string& op, const std::string& quantifier) {
    Bound node = Make(BoundKind::kQuantified, ColumnType{SqlType::kBit});
    node->op = quantifier;
    node->query = std::move(query);
    Column& listed = node->query->columns[0];
    listed.name = "sqlengine_value";
    Bound column = Make(BoundKind::kColumn, listed.type);
    column->sql = "\"sqlengine_quantified\".\"sqlengine_value\"";
    std::vector<Bound> operands;
    operands.push_back(std::move(value));
    operands.push_back(std::move(column));
    Bound comparison = Compared(BoundKind::kComparison, std::move(operands), op);
    comparison->op = op;
    node->args.push_back(std::move(comparison));
    return node;
  }

  Bound Like(const Expr& expr, const Scope& scope, Clause clause) {
    Bound node = Make(BoundKind::kLike, ColumnType{SqlType::kBit});
    node->negated = expr.negated;
    for (const auto& arg : expr.args) {
      Bound value = Value(*arg, scope, clause);
      TypeClass type_class = ClassOf(value->type.type);
      if (type_class == TypeClass::kInteger && node->args.empty()) {
        ColumnType text{SqlType::kVarChar};
        text.length = IntegerTextWidth(value->type.type);
        value = ConvertTo(std::move(value), text);
      } else if (IsLargeText(value->type.type)) {
        // text and ntext match patterns as their varying forms do.
        value = AsVaryingText(std::move(value));
      } else if (type_class != TypeClass::kCharacter && !value->null_literal) {
        Refuse("LIKE operand");
      }
      node->args.push_back(std::move(value));
    }
    // The value and the pattern settle their collation as a comparison's
    // operands do (the escape character takes no part).
    std::vector<Bound> compared;
    for (size_t k = 0; k < 2; ++k) compared.push_back(std::move(node->args[k]));
    SettleCollation(*node, compared, "like");
    for (size_t k = 0; k < 2; ++k) node->args[k] = std::move(compared[k]);
    return node;
  }

  Bound Case(const Expr& expr, const Scope& scope, Clause clause) {
    Bound node = Make(BoundKind::kCase, ColumnType{});
    size_t first = expr.has_operand ? 1 : 0;
    size_t pairs_end = expr.args.size() - (expr.has_else ? 1 : 0);
    std::vector<Bound> results;
    for (size_t k = first; k < pairs_end; k += 2) {
      if (expr.has_operand) {
        // CASE x WHEN y is CASE WHEN x = y, compared by the rules of '='.
        std::vector<Bound> operands;
        operands.push_back(Value(*expr.args[0], scope, clause));
        operands.push_back(Value(*expr.args[k], scope, clause));
        Bound when = Compared(BoundKind::kComparison, std::move(operands));
        when->op = "=";
        node->args.push_back(std::move(when));
      } else {
        node->args.push_back(Predicate(*expr.args[k], scope, clause));
      }
      node->args.push_back(nullptr);
      results.push_back(Value(*expr.args[k + 1], scope, clause));
    }
    if (expr.has_else) results.push_back(Value(*expr.args.back(), scope, clause));
    std::optional<ColumnType> type;
    for (const Bound& result : results) {
      if (result->null_literal) continue;
      type = type ? (ClassOf(type->type) == ClassOf(result->type.type) ||
                             (IsNumeric(type->type) && IsNumeric(result->type.type))
                         ? CommonType(*type, result->type)
                         : Higher(*type, result->type))
                  : result->type;
    }
    if (!type) type = ColumnType{SqlType::kInt};
    type->nullable = !expr.has_else;
    type->identity = false;
    for (Bound& result : results) {
      type->nullable = type->nullable || result->type.nullable;
      result = AsResultValue(std::move(result), *type);
    }
    size_t next = 0;
    for (Bound& slot : node->args) {
      if (!slot) slot = std::move(results[next++]);
    }
    if (expr.has_else) node->args.push_back(std::move(results[next]));
    node->has_else = expr.has_else;
    node->type = *type;
    RequireCollationLabel(*node);
    return node;
  }

  Bound Cast(const Expr& expr, const Scope& scope, Clause clause) {
    Bound value = Value(*expr.args[0], scope, clause);
    std::optional<ColumnType> target = ColumnTypeFromName(expr.type->name, expr.type->arguments);
    if (!target) Refuse("unknown type");
    // CAST / CONVERT to character or binary data without a length take 30.
    if ((ClassOf(target->type) == TypeClass::kCharacter || target->type == SqlType::kBinary ||
         target->type == SqlType::kVarBinary) &&
        expr.type->arguments.empty())
      target->length = kDefaultConversionLength;
    target->nullable = value->type.nullable;
    Bound node = Make(BoundKind::kConvert, *target);
    if (expr.args.size() > 1) {
      Bound style = Value(*expr.args[1], scope, clause);
      bool styled =
          (ClassOf(value->type.type) == TypeClass::kDateTime &&
           ClassOf(target->type) == TypeClass::kCharacter) ||
          (ClassOf(value->type.type) == TypeClass::kCharacter &&
           ClassOf(target->type) == TypeClass::kDateTime) ||
          // Between character types the style changes nothing.
          (ClassOf(value->type.type) == TypeClass::kCharacter &&
           ClassOf(target->type) == TypeClass::kCharacter) ||
          ((ClassOf(value->type.type) == TypeClass::kExactDecimal ||
            ClassOf(value->type.type) == TypeClass::kApproximate) &&
           ClassOf(target->type) == TypeClass::kCharacter &&
           Convertible(value->type, *target));
      if (style->kind != BoundKind::kLiteral) Refuse("CONVERT style");
      if (styled) {
        node->args.push_back(std::move(value));
        node->args.push_back(std::move(style));
        return node;
      }
      // Where no style applies (an integer's text, text read as a number)
      // SQL Server ignores the one given: CONVERT(varchar, 12, 3) is '12'.
    }
    // A sql_variant converts explicitly to any type its base value could.
    bool from_variant = value->type.type == SqlType::kSqlVariant && VariantHolds(*target);
    if (!value->null_literal && !from_variant && !Convertible(value->type, *target)) {
      // Binary data has no layout of a float or real to be read as.
      if ((IsBinaryData(value->type.type) && ClassOf(target->type) == TypeClass::kApproximate) ||
          IsLargeObject(value->type.type) || IsLargeObject(target->type))
        throw MakeError(529, {std::string(NameOf(value->type.type)),
                              std::string(NameOf(target->type))});
      Refuse("conversion");
    }
    node->args.push_back(std::move(value));
    return node;
  }

  // Whether `e` reads a query or a session's setting (a catalog function's
  // lookup, GETANSINULL's @@OPTIONS): neither can stand in a table's own
  // expression.
  static bool ReadsQueryOrSetting(const BoundExpr& e) {
    if (e.query || e.kind == BoundKind::kParameter) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const Bound& arg) { return arg && ReadsQueryOrSetting(*arg); });
  }

  // A table's CHECK, DEFAULT or computed column keeps no query and no
  // parameter: a catalog function or a system variable there is a call of
  // sqlengine_builtin('name' | '@@name', arguments...), which the session
  // evaluates as that T-SQL each time the expression is.
  static Bound Evaluated(const std::string& name, std::vector<Bound> args, ColumnType type) {
    type.nullable = true;
    Bound node = Make(BoundKind::kCall, type);
    node->sql = std::string(kBuiltinFunction);
    Bound written = Make(BoundKind::kLiteral, ColumnType{SqlType::kVarChar});
    written->sql = QuoteSqliteString(name);
    node->args.push_back(std::move(written));
    for (Bound& arg : args) node->args.push_back(std::move(arg));
    return node;
  }

  Bound Call(const Expr& expr, const Scope& scope, Clause clause) {
    if (expr.names.size() > 1) return ScalarUserCall(expr, scope, clause);
    const std::string& name = expr.names[0];
    if (name == "grouping") {
      if (expr.args.size() != 1 || expr.distinct || expr.count_star ||
          (clause != Clause::kSelect && clause != Clause::kHaving && clause != Clause::kOrderBy))
        Refuse("GROUPING here");
      ColumnType type{SqlType::kInt};
      type.nullable = false;
      Bound node = Make(BoundKind::kCall, type);
      node->sql = "grouping";
      node->args.push_back(Value(*expr.args[0], scope, clause));
      return node;
    }
    if (name == "count" || name == "count_big" || name == "sum" || name == "avg" || name == "min" ||
        name == "max" || name == "checksum_agg" || IsStatisticalAggregate(name)) {
      return Aggregate(expr, scope, clause);
    }
    if (name == "identity") return IdentityFunction(expr, clause);
    const FunctionRule* rule = nullptr;
    for (const FunctionRule& candidate : kFunctions) {
      if (candidate.name == name) rule = &candidate;
    }
    if ((name == "checksum" || name == "binary_checksum") && expr.count_star &&
        expr.args.empty() && !expr.distinct)
      return ChecksumOfRow(expr, scope, clause);
    if (expr.distinct || expr.count_star) Refuse("function");
    if (Bound session = SessionFunction(expr, scope, clause)) return session;
    if (IsCatalogFunction(name, expr.args.size())) {
      std::vector<Bound> args;
      for (const auto& arg : expr.args) args.push_back(Value(*arg, scope, clause));
      Bound lookup = BindCatalogFunction(name, std::move(args), catalog_);
      if (!table_expression_ || !ReadsQueryOrSetting(*lookup)) return lookup;
      std::vector<Bound> arguments;
      for (const auto& arg : expr.args) arguments.push_back(Value(*arg, scope, clause));
      return Evaluated(name, std::move(arguments), lookup->type);
    }
    if (rule == nullptr) return Library(expr, scope, clause);
    int count = static_cast<int>(expr.args.size());
    if (count < rule->min_args || count > rule->max_args) {
      if (rule->min_args == rule->max_args)
        throw MakeError(174, {name, std::to_string(rule->min_args)});
      throw MakeError(189, {name, std::to_string(rule->min_args), std::to_string(rule->max_args)});
    }
    Bound node = Make(BoundKind::kCall, ColumnType{SqlType::kInt});
    node->sql = rule->sql;
    size_t first = 0;
    if (name == "datediff" || name == "dateadd" || name == "datepart" || name == "datename") {
      // The date part is a bare word, passed as text.
      const Expr& part = *expr.args[0];
      if (part.kind != ExprKind::kColumn || part.names.size() != 1) Refuse("date part");
      Bound text = Make(BoundKind::kLiteral, ColumnType{SqlType::kVarChar});
      text->sql = QuoteSqliteString(ToLower(part.names[0]));
      node->args.push_back(std::move(text));
      first = 1;
    }
    for (size_t k = first; k < expr.args.size(); ++k)
      node->args.push_back(Value(*expr.args[k], scope, clause));
    auto& args = node->args;
    // A number or a date where text is due is its text (LEN(123) is 3).
    auto require_text = [&](size_t k) {
      // NULL where text is due is text: RTRIM(NULL) + 'a' is NULL, no 245.
      if (args[k]->null_literal) {
        ColumnType text{SqlType::kVarChar};
        text.length = 1;
        args[k] = ConvertTo(std::move(args[k]), text);
        return;
      }
      if (args[k]->type.type == SqlType::kUniqueIdentifier) {
        ColumnType text{SqlType::kVarChar};
        text.length = 36;
        args[k] = ConvertTo(std::move(args[k]), text);
      }
      if (IsLargeObject(args[k]->type.type))
        throw MakeError(8116, {std::string(NameOf(args[k]->type.type)), std::to_string(k + 1),
                               name});
      if (std::optional<ColumnType> text = ImplicitTextType(*args[k]))
        args[k] = ConvertTo(std::move(args[k]), *text);
      if (ClassOf(args[k]->type.type) != TypeClass::kCharacter && !args[k]->null_literal)
        Refuse("character argument");
    };
    // args[k] explicitly converted to `type` (ConvertTo leaves numbers as they are).
    auto convert = [&](size_t k, SqlType type) {
      ColumnType to{type};
      to.nullable = args[k]->type.nullable;
      Bound converted = Make(BoundKind::kConvert, to);
      converted->args.push_back(std::move(args[k]));
      args[k] = std::move(converted);
    };
    // A number with a fraction where an int is due gives its whole part
    // (DATEADD(day, 1.75, d) adds one day), text the int it reads as.
    auto require_integer = [&](size_t k) {
      TypeClass number = ClassOf(args[k]->type.type);
      if ((number == TypeClass::kExactDecimal || number == TypeClass::kApproximate ||
           number == TypeClass::kCharacter) &&
          !args[k]->null_literal)
        convert(k, SqlType::kInt);
      if (ClassOf(args[k]->type.type) != TypeClass::kInteger && !args[k]->null_literal)
        Refuse("integer argument");
    };
    // A number where a date is due is its days since 1900-01-01.
    auto require_date = [&](size_t k) {
      TypeClass c = ClassOf(args[k]->type.type);
      if (IsNumeric(args[k]->type.type) && args[k]->type.type != SqlType::kBit &&
          !args[k]->null_literal)
        return convert(k, SqlType::kDateTime);
      if (c != TypeClass::kDateTime && c != TypeClass::kCharacter && !args[k]->null_literal)
        Refuse("date argument");
    };
    auto varying = [](ColumnType type) {
      if (type.type == SqlType::kChar) type.type = SqlType::kVarChar;
      if (type.type == SqlType::kNChar) type.type = SqlType::kNVarChar;
      type.identity = false;
      return type;
    };
    ColumnType type{SqlType::kInt};
    if (name == "getdate" || name == "getutcdate") {
      type = ColumnType{SqlType::kDateTime};
      type.nullable = false;
    } else if (name == "datediff") {
      require_date(1), require_date(2);
    } else if (name == "dateadd") {
      require_integer(1), require_date(2);
      type = ColumnType{SqlType::kDateTime};
    } else if (name == "datepart" || name == "year" || name == "month" || name == "day") {
      require_date(args.size() - 1);
    } else if (name == "datename") {
      require_date(1);
      type = ColumnType{SqlType::kNVarChar};
      type.length = 30;
    } else if (name == "len") {
      require_text(0);
    } else if (name == "charindex") {
      require_text(0), require_text(1);
      if (args.size() > 2) require_integer(2);
      // Under a case-sensitive collation of either text the search matches case.
      if (args[0]->type.case_sensitive || args[1]->type.case_sensitive)
        node->sql = "sqlengine_charindex_cs";
    } else if (name == "upper" || name == "lower") {
      require_text(0);
      type = args[0]->type;
      type.identity = false;
    } else if (name == "ltrim" || name == "rtrim") {
      require_text(0);
      type = varying(args[0]->type);
    } else if (name == "substring" && IsLargeObject(args[0]->type.type)) {
      // Of text, ntext and image it gives varchar, nvarchar and varbinary,
      // up to the longest value of each.
      SqlType from = args[0]->type.type;
      type = ColumnType{from == SqlType::kText    ? SqlType::kVarChar
                        : from == SqlType::kNText ? SqlType::kNVarChar
                                                  : SqlType::kVarBinary};
      type.length = from == SqlType::kNText ? 4000 : 8000;
      CopyCollation(args[0]->type, type);
      type.case_sensitive = args[0]->type.case_sensitive;
      args[0] = AsVaryingText(std::move(args[0]));
      require_integer(1), require_integer(2);
    } else if (name == "substring" && IsComparedBinary(args[0]->type.type)) {
      // Binary data gives its bytes, a binary(n) value all n of them.
      ColumnType bytes = args[0]->type;
      bytes.type = SqlType::kVarBinary;
      bytes.identity = false;
      if (args[0]->type.type == SqlType::kBinary) args[0] = ConvertTo(std::move(args[0]), bytes);
      require_integer(1), require_integer(2);
      type = bytes;
    } else if (name == "substring" || name == "left" || name == "right") {
      require_text(0), require_integer(1);
      if (args.size() > 2) require_integer(2);
      type = varying(args[0]->type);
    } else if (name == "abs") {
      // Text reads as a float; a date, a bit or binary data is refused.
      SqlType given = args[0]->type.type;
      if (ClassOf(given) == TypeClass::kCharacter && !IsLargeText(given) && !args[0]->null_literal)
        convert(0, SqlType::kFloat);
      else if (!args[0]->null_literal && (!IsNumeric(given) || given == SqlType::kBit))
        throw MakeError(8116, {std::string(NameOf(given)), "1", "abs"});
      type = args[0]->type;
      type.identity = false;
    } else if (name == "isnull" && args[0]->null_literal) {
      // A NULL constant has no type of its own: the other argument's holds.
      type = args[1]->type;
      type.identity = false;
    } else if (name == "isnull" || name == "nullif") {
      type = args[0]->type;
      type.identity = false;
      if (args[0]->null_literal) Refuse("NULL first argument");
      // ISNULL's text takes the first argument's length too, cut or padded:
      // ISNULL(<NULL varchar(3)>, 'abcdef') is 'abc'. (NULLIF compares its
      // arguments whole.)
      const ColumnType& other = args[1]->type;
      bool resized = name == "isnull" && ClassOf(type.type) == TypeClass::kCharacter &&
                     !args[1]->null_literal && ClassOf(other.type) == TypeClass::kCharacter &&
                     !IsLargeText(other.type) && type.length != kMaxLength &&
                     (other.length == kMaxLength || other.length > type.length ||
                      ((type.type == SqlType::kChar || type.type == SqlType::kNChar) &&
                       other.type != type.type));
      if (resized) {
        ColumnType to = type;
        to.nullable = other.nullable;
        Bound converted = Make(BoundKind::kConvert, to);
        converted->args.push_back(std::move(args[1]));
        args[1] = std::move(converted);
      }
      args[1] = ConvertTo(std::move(args[1]), type);
      // ISNULL's number takes an integer first argument's type as a conversion
      // does, held to its range: ISNULL(<NULL tinyint>, 300) is 220.
      if (name == "isnull" && ClassOf(type.type) == TypeClass::kInteger &&
          type.type != SqlType::kBit && !args[1]->null_literal && args[1]->type.type != type.type) {
        ColumnType to = type;
        to.nullable = args[1]->type.nullable;
        Bound converted = Make(BoundKind::kConvert, to);
        converted->args.push_back(std::move(args[1]));
        args[1] = std::move(converted);
      }
      type.nullable = name == "nullif" || (type.nullable && args[1]->type.nullable);
    } else if (name == "coalesce") {
      // As CASE: arguments of one class take their common type, of several
      // classes the one of highest precedence, the others converting to it.
      std::optional<ColumnType> common;
      bool mixed = false;
      for (const Bound& arg : args) {
        if (arg->null_literal) continue;
        bool same = !common || ClassOf(common->type) == ClassOf(arg->type.type) ||
                    (IsNumeric(common->type) && IsNumeric(arg->type.type));
        mixed |= !same;
        common = !common ? arg->type : same ? CommonType(*common, arg->type) : Higher(*common, arg->type);
      }
      if (!common) throw MakeError(4127);
      if (mixed) {
        for (Bound& arg : args) {
          if (arg->null_literal) continue;
          if (!Convertible(arg->type, *common)) Refuse("COALESCE of types that do not convert");
          arg = AsResultValue(std::move(arg), *common);
        }
      }
      // Nullable as the CASE it stands for, unless every argument is NOT NULL
      // (ISNULL needs only its last one so): the general rule below.
      type = *common;
    }
    if (name != "getdate" && name != "getutcdate" && name != "isnull" && name != "nullif")
      type.nullable = NullableAny(args);
    node->type = type;
    // DATEADD answers in its date's type: a smalldatetime moves to the
    // nearest minute.
    if (name == "dateadd" && args[2]->type.type == SqlType::kSmallDateTime) {
      Bound small_flag = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt});
      small_flag->sql = "1";
      node->args.push_back(std::move(small_flag));
      ColumnType small{SqlType::kSmallDateTime};
      small.nullable = type.nullable;
      Bound rounded = Make(BoundKind::kConvert, small);
      rounded->args.push_back(std::move(node));
      return rounded;
    }
    return node;
  }

  // Functions answered from the session: SCOPE_IDENTITY(), DB_NAME(),
  // USER_NAME(), SUSER_SNAME() (without arguments; with one they read the
  // catalog, which the older path does) and IS_SRVROLEMEMBER(role [, login]).
  // Null for another function.
  Bound SessionFunction(const Expr& expr, const Scope& scope, Clause clause) {
    const std::string& name = expr.names[0];
    if (name == "scope_identity" && expr.args.empty()) {
      ColumnType type{SqlType::kDecimal};
      type.precision = 38;
      Bound node = Make(BoundKind::kParameter, type);
      node->sql = std::string(kSystemVariablePrefix) + "scope_identity";
      return node;
    }
    // ROWCOUNT_BIG(): @@ROWCOUNT as a bigint.
    if (name == "rowcount_big" && expr.args.empty()) {
      ColumnType type{SqlType::kBigInt};
      type.nullable = false;
      Bound node = Make(BoundKind::kParameter, type);
      node->sql = std::string(kSystemVariablePrefix) + "rowcount";
      return node;
    }
    if ((name == "db_name" || name == "user_name" || name == "suser_sname") && expr.args.empty()) {
      ColumnType type{SqlType::kNVarChar};
      type.length = 128;  // sysname
      type.nullable = false;
      // A table's expression names the database of the table, read from
      // wherever (see Evaluated).
      if (name == "db_name" && table_expression_) return Evaluated(name, {}, type);
      Bound node = Make(BoundKind::kCall, type);
      node->sql = name;
      return node;
    }
    if (name == "user_name" && expr.args.size() == 1) {
      ColumnType type{SqlType::kNVarChar};
      type.length = 128;  // sysname
      Bound node = Make(BoundKind::kCall, type);
      node->sql = name;
      Bound uid = Value(*expr.args[0], scope, clause);
      if (ClassOf(uid->type.type) != TypeClass::kInteger && !uid->null_literal) Refuse("user id");
      node->args.push_back(std::move(uid));
      return node;
    }
    // IS_MEMBER(role), HAS_DBACCESS(database) and PERMISSIONS() ask the
    // session what the user may do; PERMISSIONS(objectid [, column]) is a
    // catalog function (catalog_functions.h).
    if (name == "is_member" || name == "has_dbaccess") {
      if (expr.args.size() != 1) throw MakeError(174, {name, "1"});
      Bound node = Make(BoundKind::kCall, ColumnType{SqlType::kInt});
      node->sql = name;
      Bound value = Value(*expr.args[0], scope, clause);
      if (ClassOf(value->type.type) != TypeClass::kCharacter && !value->null_literal)
        Refuse("name argument");
      node->args.push_back(std::move(value));
      return node;
    }
    if (name == "permissions" && expr.args.empty()) {
      ColumnType type{SqlType::kInt};
      type.nullable = false;
      Bound node = Make(BoundKind::kCall, type);
      node->sql = "sqlengine_permissions";
      return node;
    }
    if (name == "permissions" && expr.args.size() > 2) throw MakeError(189, {name, "0", "2"});
    if (name == "is_srvrolemember" && (expr.args.size() == 1 || expr.args.size() == 2)) {
      Bound node = Make(BoundKind::kCall, ColumnType{SqlType::kInt});
      node->sql = name;
      for (const auto& arg : expr.args) {
        Bound value = Value(*arg, scope, clause);
        if (ClassOf(value->type.type) != TypeClass::kCharacter) Refuse("role name");
        node->args.push_back(std::move(value));
      }
      return node;
    }
    return nullptr;
  }

  // A function of the library table (library_functions.h).
  // CHECKSUM(*) and BINARY_CHECKSUM(*): the hash of every column of the
  // query's sources, in their order. BINARY_CHECKSUM leaves out the columns
  // it cannot compare (text, ntext, image); CHECKSUM is refused over them.
  Bound ChecksumOfRow(const Expr& expr, const Scope& scope, Clause clause) {
    Expr listed;
    listed.kind = expr.kind;
    listed.origin = expr.origin;
    listed.names = expr.names;
    for (const Binding& binding : scope.bindings) {
      for (const Column& column : binding.columns) {
        SqlType type = column.type.type;
        if (type == SqlType::kText || type == SqlType::kNText || type == SqlType::kImage) {
          if (expr.names[0] == "checksum") Refuse("CHECKSUM(*) over text, ntext or image");
          continue;
        }
        if (column.name.empty()) Refuse("CHECKSUM(*) over an unnamed column");
        auto part = std::make_unique<Expr>();
        part->kind = ExprKind::kColumn;
        part->origin = expr.origin;
        part->names = {binding.exposed, column.name};
        listed.args.push_back(std::move(part));
      }
    }
    if (listed.args.empty()) Refuse("CHECKSUM(*) without a column");
    return Library(listed, scope, clause);
  }

  // The mathematical functions and STR: their arguments are numbers.
  static bool TakesNumbers(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "acos", "asin",  "atan", "atn2",  "ceiling", "cos",  "cot",    "degrees", "exp", "floor",
        "log",  "log10", "power", "radians", "round", "sign", "sin", "sqrt",   "square", "str", "tan"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
  }

  // A library function whose arguments bind only once some are converted
  // as SQL Server does implicitly: a number or a date where text is due
  // reads as its text (REPLACE(12345, 3, 'x')); for the string functions
  // that take a count or a code, text where a whole number is due reads as
  // that number (SPACE('3')), and for the mathematical functions and STR
  // text where a number is due reads as a float (ROUND('7.75', 0) is
  // 8.0), where a count as that count. The fewest conversions win; `args`
  // are converted to the shapes the call takes.
  static std::optional<LibraryCall> ImplicitlyConverted(const std::string& name,
                                                        std::vector<Bound>& args,
                                                        const std::vector<ArgumentShape>& shapes) {
    static constexpr std::string_view kCountedText[] = {"space", "replicate", "stuff", "char",
                                                        "nchar"};
    const bool counts_text =
        std::find(std::begin(kCountedText), std::end(kCountedText), name) != std::end(kCountedText);
    const bool numbers_text = TakesNumbers(name);
    const size_t n = args.size();
    std::vector<std::optional<ColumnType>> other(n);
    for (size_t k = 0; k < n; ++k) {
      if ((other[k] = ImplicitTextType(*args[k]))) continue;
      if ((!counts_text && !numbers_text) || args[k]->null_literal ||
          ClassOf(args[k]->type.type) != TypeClass::kCharacter || IsLargeText(args[k]->type.type))
        continue;
      // ROUND's and STR's later arguments are counts.
      bool count = counts_text || (k > 0 && (name == "round" || name == "str"));
      ColumnType number{count ? SqlType::kInt : SqlType::kFloat};
      number.nullable = args[k]->type.nullable;
      other[k] = number;
    }
    if (n > 8) return std::nullopt;
    std::optional<LibraryCall> best;
    unsigned chosen = 0;
    int fewest = static_cast<int>(n) + 1;
    for (unsigned mask = 1; mask < (1u << n); ++mask) {
      int changed = std::popcount(mask);
      if (changed >= fewest) continue;
      std::vector<ArgumentShape> tried = shapes;
      bool possible = true;
      for (size_t k = 0; k < n && possible; ++k) {
        if (!(mask & (1u << k))) continue;
        possible = other[k].has_value();
        if (possible) tried[k] = ArgumentShape{*other[k], false, std::nullopt};
      }
      if (!possible) continue;
      std::optional<LibraryCall> call = BindLibraryFunction(name, tried);
      if (!call) continue;
      best = std::move(call);
      chosen = mask;
      fewest = changed;
    }
    if (!best) return std::nullopt;
    for (size_t k = 0; k < n; ++k) {
      if (!(chosen & (1u << k))) continue;
      if (ClassOf(other[k]->type) == TypeClass::kCharacter) {
        args[k] = ConvertTo(std::move(args[k]), *other[k]);
        continue;
      }
      Bound converted = Make(BoundKind::kConvert, *other[k]);
      converted->args.push_back(std::move(args[k]));
      args[k] = std::move(converted);
    }
    return best;
  }

  Bound Library(const Expr& expr, const Scope& scope, Clause clause) {
    std::vector<Bound> args;
    std::vector<ArgumentShape> shapes;
    // A function the library does not know may take words that are no
    // columns (DATENAME(weekday, d)).
    ++name_errors_held_;
    struct Release {
      int& held;
      ~Release() { --held; }
    } release{name_errors_held_};
    for (const auto& arg : expr.args) {
      Bound bound = Value(*arg, scope, clause);
      ArgumentShape shape{bound->type, bound->null_literal, std::nullopt};
      if (arg->kind == ExprKind::kLiteral && arg->literal == parse::LiteralKind::kInteger)
        shape.integer = IntegerLiteralValue(arg->value);
      shapes.push_back(shape);
      args.push_back(std::move(bound));
    }
    // PATINDEX searches text and ntext too (CHARINDEX does not: 8116).
    if (EqualsIgnoreCase(expr.names[0], "patindex") && args.size() == 2 &&
        IsLargeText(args[1]->type.type)) {
      args[1] = AsVaryingText(std::move(args[1]));
      shapes[1].type = args[1]->type;
    }
    std::optional<LibraryCall> call = BindLibraryFunction(expr.names[0], shapes);
    if (!call) call = ImplicitlyConverted(expr.names[0], args, shapes);
    // A count or length with a fraction is taken as its whole part
    // (REPLICATE('ab', 2.5) repeats twice, ROUND(x, 1.9) rounds to 1 place):
    // each such argument in turn, then all of them after the first.
    std::vector<size_t> fractional;
    for (size_t k = 0; k < args.size(); ++k) {
      TypeClass c = ClassOf(args[k]->type.type);
      if (!args[k]->null_literal && (c == TypeClass::kExactDecimal || c == TypeClass::kApproximate))
        fractional.push_back(k);
    }
    auto as_whole = [&](size_t k) {
      ArgumentShape shape{ColumnType{SqlType::kInt}, false, std::nullopt};
      const Expr& written = *expr.args[k];
      if (written.kind == ExprKind::kLiteral && written.literal == parse::LiteralKind::kDecimal)
        shape.integer = IntegerLiteralValue(written.value.substr(0, written.value.find('.')));
      return shape;
    };
    std::vector<size_t> taken_whole;
    for (size_t k : fractional) {
      if (call) break;
      std::vector<ArgumentShape> tried = shapes;
      tried[k] = as_whole(k);
      if ((call = BindLibraryFunction(expr.names[0], tried))) taken_whole = {k};
    }
    if (!call && fractional.size() > 1) {
      std::vector<ArgumentShape> tried = shapes;
      std::vector<size_t> later;
      for (size_t k : fractional)
        if (k > 0) tried[k] = as_whole(k), later.push_back(k);
      if ((call = BindLibraryFunction(expr.names[0], tried))) taken_whole = later;
    }
    for (size_t k : taken_whole) {
      ColumnType whole{SqlType::kInt};
      whole.nullable = args[k]->type.nullable;
      Bound converted = Make(BoundKind::kConvert, whole);
      converted->args.push_back(std::move(args[k]));
      args[k] = std::move(converted);
    }
    // SQL Server 2000's LOG takes no base.
    if (!call && expr.names[0] == "log" && expr.args.size() != 1)
      throw MakeError(174, {"log", "1"});
    if (!call && !IsBuiltInFunctionName(expr.names[0]))
      throw MakeError(195, {expr.names[0], "function name"});
    // A text, ntext or image value is taken only by the functions made for
    // it; others refuse it by its place.
    for (size_t k = 0; !call && k < args.size(); ++k) {
      if (IsLargeObject(args[k]->type.type))
        throw MakeError(8116, {std::string(NameOf(args[k]->type.type)), std::to_string(k + 1),
                               expr.names[0]});
    }
    // The mathematical functions refuse a date, a bit, binary data or a
    // uniqueidentifier by its place (FLOOR(GETDATE()) is 8116).
    for (size_t k = 0; !call && TakesNumbers(expr.names[0]) && k < args.size(); ++k) {
      SqlType type = args[k]->type.type;
      if (!args[k]->null_literal && ClassOf(type) != TypeClass::kCharacter &&
          (!IsNumeric(type) || type == SqlType::kBit))
        throw MakeError(8116, {std::string(NameOf(type)), std::to_string(k + 1), expr.names[0]});
    }
    if (!call) Refuse("function");
    Bound node = Make(BoundKind::kCall, call->type);
    node->sql = call->sql;
    node->args = std::move(args);
    if (call->variant_argument)
      node->args[0] = ConvertTo(std::move(node->args[0]), ColumnType{SqlType::kSqlVariant});
    node->type.nullable = !call->never_null && (call->null_for_some || NullableAny(node->args));
    for (const std::string& extra : call->extra_arguments) {
      Bound literal = Make(BoundKind::kLiteral, ColumnType{SqlType::kInt});
      literal->sql = extra;
      node->args.push_back(std::move(literal));
    }
    if (!call->convert_result) return node;
    Bound converted = Make(BoundKind::kConvert, node->type);
    converted->args.push_back(std::move(node));
    return converted;
  }

  // IDENTITY(type [, seed, increment]) in the select list of SELECT INTO:
  // the new table's identity column. Bound as a NULL of the type marked as
  // an identity, its seed and increment the node's two literal arguments
  // (see IdentityFunctionOf); the table assigns the values. Elsewhere 177.
  Bound IdentityFunction(const Expr& expr, Clause clause) {
    if (clause != Clause::kSelect || identity_block_ == nullptr ||
        identity_block_ != binding_block_ || inside_aggregate_)
      throw MakeError(177);
    if (expr.args.size() != 1 && expr.args.size() != 3)
      throw MakeError(174, {"identity", expr.args.size() < 1 ? "1" : "3"});
    const Expr& written = *expr.args[0];
    std::optional<ColumnType> type;
    if (written.kind == ExprKind::kColumn && written.names.size() == 1) {
      type = ColumnTypeFromName(written.names[0], {});
    } else if (written.kind == ExprKind::kCall && written.names.size() == 1) {
      std::vector<std::string> arguments;
      for (const auto& arg : written.args) {
        if (arg->kind != ExprKind::kLiteral || arg->literal != parse::LiteralKind::kInteger)
          Refuse("IDENTITY type");
        arguments.push_back(arg->value);
      }
      type = ColumnTypeFromName(written.names[0], arguments);
    }
    bool whole = type && (ClassOf(type->type) == TypeClass::kInteger ||
                          (type->type == SqlType::kDecimal && type->scale == 0));
    if (!whole || type->type == SqlType::kBit) Refuse("IDENTITY type");
    auto whole_number = [](const Expr& e) {
      const Expr* literal = &e;
      bool negative = false;
      if (e.kind == ExprKind::kUnary && (e.op == "-" || e.op == "+") && e.args.size() == 1) {
        negative = e.op == "-";
        literal = e.args[0].get();
      }
      if (literal->kind != ExprKind::kLiteral || literal->literal != parse::LiteralKind::kInteger)
        Refuse("IDENTITY seed or increment");
      Bound node = Make(BoundKind::kLiteral, ColumnType{SqlType::kBigInt});
      node->sql = (negative ? "-" : "") + literal->value;
      return node;
    };
    type->identity = true;
    type->nullable = false;
    Bound node = Make(BoundKind::kLiteral, *type);
    node->sql = "NULL";
    if (expr.args.size() == 3) {
      node->args.push_back(whole_number(*expr.args[1]));
      node->args.push_back(whole_number(*expr.args[2]));
    }
    return node;
  }

  static bool IsStatisticalAggregate(const std::string& name) {
    return name == "stdev" || name == "stdevp" || name == "var" || name == "varp";
  }

  // Whether `e`, as written, holds a subquery (EXISTS, IN, ALL / ANY too).
  static bool WritesSubquery(const Expr& e) {
    if (e.query) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const auto& arg) { return arg && WritesSubquery(*arg); });
  }

  Bound Aggregate(const Expr& expr, const Scope& scope, Clause clause) {
    if (clause != Clause::kSelect && clause != Clause::kHaving && clause != Clause::kOrderBy) {
      // In a subquery an aggregate of an outer column may stand in WHERE.
      if (clause == Clause::kWhere && scope.parent == nullptr) throw MakeError(147);
      if (clause == Clause::kGroupBy) throw MakeError(144);
      Refuse("aggregate outside the select list");
    }
    // No aggregate over an aggregate or a subquery (130).
    if (inside_aggregate_ || (!expr.args.empty() && WritesSubquery(*expr.args[0])))
      throw MakeError(130);
    const std::string& name = expr.names[0];
    Bound node = Make(BoundKind::kAggregate, ColumnType{SqlType::kInt});
    node->sql = name == "count_big" ? "count" : name;
    node->distinct = expr.distinct;
    node->count_star = expr.count_star;
    if (expr.count_star) {
      if (name != "count" && name != "count_big") Refuse("* argument");
    } else {
      if (expr.args.size() != 1) Refuse("aggregate arguments");
      inside_aggregate_ = true;
      Bound arg = Value(*expr.args[0], scope, clause);
      inside_aggregate_ = false;
      node->args.push_back(std::move(arg));
    }
    ColumnType type{name == "count_big" ? SqlType::kBigInt : SqlType::kInt};
    if (IsStatisticalAggregate(name)) {
      // STDEV, STDEVP, VAR and VARP read their values as floats.
      if (!IsNumeric(node->args[0]->type.type) || node->args[0]->type.type == SqlType::kBit)
        Refuse("STDEV / VAR of this type");
      node->sql = "sqlengine_" + name;
      ColumnType real{SqlType::kFloat};
      real.nullable = node->args[0]->type.nullable;
      Bound as_float = Make(BoundKind::kConvert, real);
      as_float->args.push_back(std::move(node->args[0]));
      node->args[0] = std::move(as_float);
      type = ColumnType{SqlType::kFloat};
    } else if (name == "count" || name == "count_big") {
      type.nullable = false;
    } else if (name == "checksum_agg") {
      // The XOR of int values; tinyint and smallint widen to int, other
      // types (bigint, bit, decimals, text) are refused.
      const ColumnType& of = node->args[0]->type;
      if (!node->args[0]->null_literal &&
          (ClassOf(of.type) != TypeClass::kInteger || of.type == SqlType::kBigInt ||
           of.type == SqlType::kBit))
        throw MakeError(8117, {std::string(NameOf(of.type)), name});
      node->sql = "sqlengine_checksum_agg";
      type.nullable = true;
    } else {
      const ColumnType& of = node->args[0]->type;
      TypeClass type_class = ClassOf(of.type);
      if (name == "min" || name == "max") {
        // SQL Server 2000 neither takes the least nor the greatest uniqueidentifier.
        if (of.type == SqlType::kUniqueIdentifier)
          throw MakeError(8117, {"uniqueidentifier", name});
        // Nor the text, ntext, image or bit value that sorts first or last.
        if (of.type == SqlType::kText || of.type == SqlType::kNText ||
            of.type == SqlType::kImage || of.type == SqlType::kBit)
          throw MakeError(8117, {std::string(NameOf(of.type)), name});
        // sql_variant values compare by their family first, then by value.
        // Binary values by their bytes, the shorter read as padded with
        // zeros: SQLite's order of blobs (bytes, then length) agrees, and
        // parts only values SQL Server holds equal.
        if (of.type == SqlType::kSqlVariant)
          node->sql = "sqlengine_variant_" + name;
        else if (type_class == TypeClass::kOther && !IsComparedBinary(of.type))
          Refuse("MIN / MAX of this type");
        type = of;
        // The greatest timestamp is a binary(8) value, not a row's version.
        type.row_version = false;
      } else {
        if (of.type == SqlType::kSqlVariant) Refuse("SUM / AVG of this type");
        if (!IsNumeric(of.type) || of.type == SqlType::kBit)
          throw MakeError(409, {"sum or average aggregate", std::string(NameOf(of.type))});
        if (type_class == TypeClass::kInteger) {
          type = ColumnType{of.type == SqlType::kBigInt ? SqlType::kBigInt : SqlType::kInt};
        } else if (of.type == SqlType::kDecimal) {
          type = of;
          type.precision = 38;
          if (name == "avg") type.scale = std::max(of.scale, 6);
        } else if (type_class == TypeClass::kApproximate) {
          type = ColumnType{SqlType::kFloat};
        } else {
          // Money and smallmoney sum as money, four decimals kept.
          type = *ColumnTypeFromName("money", {});
        }
      }
      type.nullable = true;
      type.identity = false;
    }
    node->type = type;
    return node;
  }

  // ---- user functions

  // A call being inlined: its function and the arguments written for it,
  // bound where the call stands whenever the body names a parameter.
  struct CallFrame {
    const FunctionShape* function;
    const std::vector<std::unique_ptr<Expr>>* arguments;
    const Scope* scope;
    Clause clause;
  };

  // SQL Server's nesting limit for functions calling functions.
  static constexpr int kMaxCallNesting = 32;

  // Throws 4121 (a table source: 208) when there is no such function.
  FunctionShape FindUserFunction(const std::vector<std::string>& name, const Token& origin,
                                 bool table_source = false) {
    std::optional<FunctionShape> function = catalog_.FindFunction(name);
    if (!function && table_source) {
      if (!catalog_.ObjectExists(name)) throw MakeError(208, {name.back()});
      Refuse("a table source called with arguments");
    }
    if (!function) {
      std::string written;
      for (const std::string& part : name) written += (written.empty() ? "" : ".") + part;
      SqlError error = MakeError(4121, {name.front(), written});
      error.message().line = origin.line;
      throw error;
    }
    if (frames_.size() >= kMaxCallNesting) throw MakeError(217, {std::to_string(kMaxCallNesting)});
    return *function;
  }

  void CheckArgumentCount(const FunctionShape& function,
                          const std::vector<std::unique_ptr<Expr>>& arguments) {
    if (arguments.size() < function.parameters.size()) throw MakeError(313, {function.name});
    if (arguments.size() > function.parameters.size()) throw MakeError(8144, {function.name});
  }

  // The engine's call `engine_call`('name', ...) of a function whose body
  // runs statement by statement; engine_call_in('database', 'name', ...)
  // for a function of another database than names without one reach. A
  // statement's call written with an owner keeps it,
  // engine_call_of('database' or '', 'owner', 'name', ...): the bare name
  // reaches only the caller's and dbo's functions. Stored expressions keep
  // the forms above.
  void CalledName(BoundExpr& call, const std::string& engine_call, const FunctionShape& function,
                  const std::vector<std::string>& written) {
    std::string owner = written.size() >= 2 ? written[written.size() - 2] : std::string();
    bool with_owner = !owner.empty() && !table_expression_;
    call.sql = engine_call;
    auto literal = [&](const std::string& text) {
      Bound part = Make(BoundKind::kLiteral, ColumnType{SqlType::kNVarChar});
      part->sql = QuoteSqliteString(text);
      call.args.push_back(std::move(part));
    };
    if (!function.database.empty()) ++calls_elsewhere_;
    if (with_owner) {
      call.sql += "_of";
      literal(function.database);
      literal(owner);
    } else if (!function.database.empty()) {
      call.sql += "_in";
      literal(function.database);
    }
    literal(function.name);
  }

  // owner.f(arguments): the function's RETURN expression with the
  // parameters standing for the arguments, converted to the declared type.
  Bound ScalarUserCall(const Expr& expr, const Scope& scope, Clause clause) {
    FunctionShape function = FindUserFunction(expr.names, expr.origin);
    if (function.kind != FunctionKind::kScalar) {
      std::string written;
      for (const std::string& part : expr.names) written += (written.empty() ? "" : ".") + part;
      throw MakeError(4121, {expr.names.front(), written});
    }
    CheckArgumentCount(function, expr.args);
    if (!function.expression) {
      // A body with statements runs through the engine for each call.
      ColumnType returns = function.returns;
      returns.nullable = true;
      returns.identity = false;
      Bound node = Make(BoundKind::kCall, returns);
      CalledName(*node, "sqlengine_user_function", function, expr.names);
      for (size_t k = 0; k < function.parameters.size(); ++k)
        node->args.push_back(Argument(function, expr.args, k, scope, clause));
      return node;
    }
    frames_.push_back(CallFrame{&function, &expr.args, &scope, clause});
    Scope body_scope;
    bool inside = std::exchange(inside_aggregate_, false);
    size_t visible = std::exchange(visible_common_tables_, 0);
    std::optional<BodyGuard> in_body;
    in_body.emplace(catalog_, function.schema, function.name, ObjectReach::Kind::kScalarFunction);
    Bound body = Value(*function.expression, body_scope, Clause::kValues);
    in_body.reset();
    visible_common_tables_ = visible;
    inside_aggregate_ = inside;
    frames_.pop_back();
    return Returned(std::move(body), function.returns);
  }

  // ::fn_listextendedproperty(...), or fn_listextendedproperty(...) where
  // the database has no function of that name.
  bool IsPropertyList(const std::vector<std::string>& name) {
    if (name.size() != 1) return false;
    if (name.front() == "::fn_listextendedproperty") return true;
    return ToLower(name.front()) == "fn_listextendedproperty" && !catalog_.FindFunction(name);
  }

  // The engine's call that lists the properties, its seven arguments as
  // nvarchar values (DEFAULT and NULL alike).
  Bound PropertyListCall(const parse::TableSource& source, const Scope& scope) {
    constexpr size_t kArguments = 7;
    const char* written = "fn_listextendedproperty";
    if (source.arguments.size() < kArguments) throw MakeError(313, {written});
    if (source.arguments.size() > kArguments) throw MakeError(8144, {written});
    Bound node = Make(BoundKind::kCall, ColumnType{SqlType::kNVarChar, kMaxLength});
    node->sql = "sqlengine_extended_properties";
    for (const std::unique_ptr<Expr>& argument : source.arguments) {
      Bound value;
      if (argument) value = Value(*argument, scope, Clause::kValues);
      if (!value || value->null_literal) {
        value = Make(BoundKind::kLiteral, ColumnType{SqlType::kNVarChar, 128});
        value->sql = "NULL";
        value->null_literal = true;
      }
      node->args.push_back(std::move(value));
    }
    return node;
  }

  // FROM f(arguments): the inline function's query with the parameters
  // standing for the arguments.
  // FROM f(arguments) of a multi-statement function: a call that runs its
  // body with the arguments converted to the parameters' types.
  Bound TableFunctionCall(const FunctionShape& function, const parse::TableSource& source,
                          const Scope& scope) {
    if (function.table_columns.empty()) Refuse("table function columns");
    CheckArgumentCount(function, source.arguments);
    Bound node = Make(BoundKind::kCall, ColumnType{SqlType::kNVarChar, kMaxLength});
    CalledName(*node, "sqlengine_table_function", function, source.name);
    for (size_t k = 0; k < function.parameters.size(); ++k)
      node->args.push_back(Argument(function, source.arguments, k, scope, Clause::kValues));
    return node;
  }

  BoundQuery TableUserCall(const FunctionShape& function, const parse::TableSource& source,
                           const Scope& scope) {
    if (function.kind == FunctionKind::kScalar) throw MakeError(208, {source.name.back()});
    if (!function.query) Refuse("table function body");
    CheckArgumentCount(function, source.arguments);
    frames_.push_back(CallFrame{&function, &source.arguments, &scope, Clause::kValues});
    bool inside = std::exchange(inside_aggregate_, false);
    size_t visible = std::exchange(visible_common_tables_, 0);
    std::optional<BodyGuard> in_body;
    in_body.emplace(catalog_, function.schema, function.name, ObjectReach::Kind::kTableFunction);
    BoundQuery query = Query(*function.query, nullptr);
    in_body.reset();
    visible_common_tables_ = visible;
    inside_aggregate_ = inside;
    frames_.pop_back();
    for (size_t k = 0; k < query.columns.size(); ++k) {
      if (query.columns[k].name.empty())
        throw MakeError(8155, {std::to_string(k + 1), function.name});
      query.columns[k].type.identity = false;
    }
    return query;
  }

  // The value a function returns: converted to its declared type as a
  // variable of that type would hold it.
  static Bound Returned(Bound value, ColumnType returns) {
    returns.nullable = true;
    returns.identity = false;
    if (value->null_literal) {
      value->type = returns;
      return value;
    }
    const ColumnType& from = value->type;
    if (from.type == returns.type && from.length == returns.length &&
        from.precision == returns.precision && from.scale == returns.scale) {
      value->type.nullable = true;
      return value;
    }
    if (!IsNumeric(from.type) || !IsNumeric(returns.type)) {
      if (!Convertible(from, returns) && !Convertible(from, ColumnType{returns.type, kMaxLength}))
        Refuse("returned type");
    }
    Bound node = Make(BoundKind::kConvert, returns);
    node->args.push_back(std::move(value));
    return node;
  }

  // @name inside an inlined function: the argument written for that
  // parameter (or its default), bound where the call stands and converted to
  // the parameter's type. 137 for a name that is no parameter.
  Bound Parameter(const Expr& expr) {
    const CallFrame frame = frames_.back();
    const std::vector<ParameterDeclaration>& parameters = frame.function->parameters;
    size_t k = 0;
    while (k < parameters.size() && !EqualsIgnoreCase(parameters[k].name, expr.value)) ++k;
    if (k == parameters.size()) throw MakeError(137, {expr.value});
    // The argument sees the caller's parameters, not this function's.
    frames_.pop_back();
    Bound value;
    try {
      value = Argument(*frame.function, *frame.arguments, k, *frame.scope, frame.clause);
    } catch (...) {
      frames_.push_back(frame);
      throw;
    }
    frames_.push_back(frame);
    return value;
  }

  // The argument written for parameter k of a call (or the parameter's
  // default for DEFAULT), bound in the caller's scope and converted to the
  // parameter's type.
  Bound Argument(const FunctionShape& function, const std::vector<std::unique_ptr<Expr>>& arguments,
                 size_t k, const Scope& scope, Clause clause) {
    const ParameterDeclaration& parameter = function.parameters[k];
    const Expr* argument = arguments[k].get();
    std::unique_ptr<Expr> default_value;
    if (argument == nullptr) {
      if (parameter.default_value.empty()) throw MakeError(313, {function.name});
      Tokens tokens = parameter.default_value;
      tokens.emplace_back();
      default_value = parse::ParseExpression(tokens);
      argument = default_value.get();
    }
    Bound value = Value(*argument, scope, clause);
    ColumnType type = parameter.type;
    type.nullable = value->type.nullable;
    type.identity = false;
    if (value->null_literal) {
      value->type = type;
      value->type.nullable = true;
      return value;
    }
    // The value takes the parameter's type as SET takes a variable's: the
    // type, and a decimal's precision and scale, a text's length (2.55 is 2.6
    // for a decimal(5,1), 'abcdef' is 'abc' for a varchar(3), 'ab' five
    // characters for a char(5)), a datetime's minute for a smalldatetime.
    const ColumnType& given = value->type;
    const bool numbers = IsNumeric(given.type) && IsNumeric(type.type) &&
                         (given.type != type.type ||
                          (type.type == SqlType::kDecimal &&
                           (given.precision != type.precision || given.scale != type.scale)));
    const bool texts = ClassOf(type.type) == TypeClass::kCharacter && type.length != kMaxLength &&
                       ClassOf(given.type) == TypeClass::kCharacter && !IsLargeText(given.type) &&
                       (given.type != type.type || given.length != type.length);
    const bool minutes = type.type == SqlType::kSmallDateTime && given.type == SqlType::kDateTime;
    if (numbers || texts || minutes) {
      Bound node = Make(BoundKind::kConvert, type);
      node->args.push_back(std::move(value));
      return node;
    }
    return Assigned(std::move(value), type);
  }

  // ---- common table expressions

  struct CommonTableState {
    const parse::CommonTable* definition;
    std::optional<std::vector<Column>> columns;  // known once its anchor is bound
  };

  // The columns of `table` under the names its column list gives.
  static std::vector<Column> NamedColumns(const parse::CommonTable& table,
                                          std::vector<Column> columns) {
    if (!table.columns.empty()) {
      if (columns.size() > table.columns.size()) throw MakeError(8158, {table.name});
      if (columns.size() < table.columns.size()) throw MakeError(8159, {table.name});
      for (size_t k = 0; k < columns.size(); ++k) columns[k].name = table.columns[k];
    }
    for (size_t k = 0; k < columns.size(); ++k) {
      if (columns[k].name.empty()) throw MakeError(8155, {std::to_string(k + 1), table.name});
      columns[k].type.identity = false;
    }
    return columns;
  }

  // The visible common table a one-part name refers to, else null.
  const CommonTableState* CommonTableNamed(const std::vector<std::string>& name) const {
    if (name.size() != 1) return nullptr;
    for (size_t k = visible_common_tables_; k-- > 0;) {
      if (EqualsIgnoreCase(common_tables_[k].definition->name, name[0])) return &common_tables_[k];
    }
    return nullptr;
  }

  Catalog& catalog_;
  // The variables the UPDATE being bound assigns row by row, in lower case:
  // read where they stand as they are at that row.
  std::vector<std::string> live_variables_;
  std::vector<CallFrame> frames_;  // the user function calls being inlined, innermost last
  int inlined_sources_ = 0;
  bool marks_aliases_ = false;  // every new source's alias gets a mark, as inlined ones do
  // Calls bound so far of a function of another database than the one the
  // session's names reach.
  int calls_elsewhere_ = 0;
  // Views bound so far that are read as their bound query, not as SQLite's
  // copy: a view over one is read so too.
  int views_read_bound_ = 0;
  // Set while a block's own WHERE clause is bound (not its subqueries').
  bool old_outer_joins_allowed_ = false;
  // Binding a table's CHECK, DEFAULT or computed column (TableExpression).
  bool table_expression_ = false;
  bool inside_aggregate_ = false;
  // The data change being bound, which decides whether a view's INSTEAD OF
  // trigger takes it.
  enum class Change { kNone, kInsert, kUpdate, kDelete } change_ = Change::kNone;
  // UPDATE / DELETE of a view written through to its table.
  std::optional<ViewTarget> view_target_;
  // The view columns an INSERT or UPDATE through a view writes, while its
  // target is bound; null for a DELETE and outside a change.
  const std::vector<std::string>* changed_columns_ = nullptr;
  // A bulk copy's target is being bound: a view of several tables loads the
  // one its loaded columns come from.
  bool loading_ = false;
  bool load_fires_triggers_ = false;  // that load's FIRE_TRIGGERS
  // The select block being bound, and the one whose INTO lets its select
  // list call IDENTITY().
  const parse::SelectBlock* binding_block_ = nullptr;
  const parse::SelectBlock* identity_block_ = nullptr;
  // The block of an EXISTS (SELECT * ...): its * stands for a constant, so
  // a grouped subquery may select it.
  const parse::SelectBlock* exists_block_ = nullptr;
  int view_depth_ = 0;
  // While positive, an unknown column is NotBound rather than 207.
  int name_errors_held_ = 0;
  int percent_nesting_ = 0;  // TOP n PERCENT blocks being bound inside each other
  // A deque: the states' addresses stay valid as tables are added.
  std::deque<CommonTableState> common_tables_;
  size_t visible_common_tables_ = 0;
  // The common table whose anchor the next Query() call binds.
  CommonTableState* publishing_ = nullptr;
};

// Binds the statement's WITH list, then the statement itself by `bind`
// (which sees the list's tables), and hands the bound list to the result.
template <typename Bind>
auto BindAfterWith(Catalog& catalog, const std::vector<parse::CommonTable>& with, Bind bind) {
  Binder binder(catalog);
  std::vector<BoundCommonTable> tables = binder.With(with);
  auto bound = bind(binder);
  bound.with = std::move(tables);
  return bound;
}

}  // namespace

void RequireTopForOrderBy(const parse::Query& query) {
  if (query.order_by.empty()) return;
  for (const auto& term : query.terms) {
    if (term->top) return;
  }
  throw MakeError(1033);
}

BoundQuery Bind(const parse::Query& query, Catalog& catalog,
                const std::vector<parse::CommonTable>& with,
                const std::vector<std::string>& live_variables) {
  return BindAfterWith(catalog, with, [&](Binder& binder) {
    binder.ReadLive(live_variables);
    binder.AllowIdentityFunction(query);
    BoundQuery bound = binder.Query(query, nullptr);
    binder.AssignInOrder(bound);
    return bound;
  });
}

std::optional<IdentityFunction> IdentityFunctionOf(const BoundQuery& query) {
  if (query.terms.empty()) return std::nullopt;
  const std::vector<std::unique_ptr<BoundExpr>>& items = query.terms.front().items;
  for (size_t k = 0; k < items.size(); ++k) {
    const BoundExpr& item = *items[k];
    if (item.kind != BoundKind::kLiteral || !item.type.identity) continue;
    IdentityFunction found{k, 1, 1};
    if (item.args.size() == 2) {
      found.seed = std::stoll(item.args[0]->sql);
      found.increment = std::stoll(item.args[1]->sql);
    }
    return found;
  }
  return std::nullopt;
}

BoundInsert BindInsert(const parse::InsertStatement& insert, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with) {
  return BindAfterWith(catalog, with, [&](Binder& binder) { return binder.Insert(insert); });
}

ViewLoadTarget BindViewLoad(const TableShape& view, const std::vector<std::string>& columns,
                            bool fire_triggers, Catalog& catalog) {
  Binder binder(catalog);
  return binder.ViewLoad(view, columns, fire_triggers);
}

BoundChange BindUpdate(const parse::UpdateStatement& update, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with) {
  return BindAfterWith(catalog, with, [&](Binder& binder) { return binder.Update(update); });
}

BoundChange BindDelete(const parse::DeleteStatement& statement, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with) {
  return BindAfterWith(catalog, with, [&](Binder& binder) { return binder.Delete(statement); });
}

std::unique_ptr<BoundExpr> BindCondition(const parse::Expr& condition, Catalog& catalog) {
  return Binder(catalog).Condition(condition);
}

std::unique_ptr<BoundExpr> BindTableExpression(const parse::Expr& expr, const std::string& table,
                                               const std::vector<Column>& columns, bool predicate,
                                               const std::optional<ColumnType>& stored_as,
                                               Catalog& catalog) {
  return Binder(catalog).TableExpression(expr, table, columns, predicate, stored_as);
}

}  // namespace sqlengine::tsql::bind
