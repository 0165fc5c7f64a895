#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/generate/update_rows.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/tsql/arithmetic_functions.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/generate/integer_checks.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"
#include "engine/values/binary_integer.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::tsql::generate {
namespace {

using bind::BoundExpr;
using bind::BoundKind;
using bind::BoundQuery;
using bind::BoundSelectBlock;
using bind::BoundSource;
using bind::ClassOf;
using bind::TypeClass;

bool IsBinaryData(SqlType type) {
  return type == SqlType::kBinary || type == SqlType::kVarBinary || type == SqlType::kImage;
}

class Generator : public ExprWriter {
 public:
  // Exact values are read and yielded in their stored form
  // (values/exact_storage.h); otherwise as SQLite numbers.
  void StoredForm() { stored_form_ = true; }
  bool stored_form() const { return stored_form_; }

  // Tables of the current database are named without "main"; outside_main()
  // tells whether the query read another schema's.
  void SchemaFree() { schema_free_ = true; }

  // From now on the literals of WHERE clauses, INSERT rows and UPDATE
  // values are written as parameters, gathered in `text` by TakeLiterals.
  // Nowhere else: a select list's literal names its column, an ORDER BY
  // integer is a column's position, and GROUP BY matches the select list
  // by its text.
  void ParameterizeLiterals() { parameterize_ = true; }
  void TakeLiterals(SqliteText& text) {
    text.literals = std::move(literals_);
    text.literal_types = std::move(literal_types_);
    text.literal_origins = std::move(literal_origins_);
    text.written_literals = std::move(written_literals_);
  }
  bool outside_main() const { return outside_main_; }
  bool reads_temp() const { return reads_temp_; }

  // "WITH name (columns) AS (query), ... " or "".
  std::string With(const std::vector<bind::BoundCommonTable>& with) {
    std::string sql;
    for (const bind::BoundCommonTable& table : with) {
      sql += sql.empty() ? "WITH " : ", ";
      sql += QuoteSqliteName(table.name) + " (";
      for (size_t k = 0; k < table.columns.size(); ++k)
        sql += (k > 0 ? ", " : "") + QuoteSqliteName(table.columns[k].name);
      sql += ") AS (" + Query(table.query) + ")";
    }
    return sql.empty() ? sql : sql + " ";
  }

  // The next Query, the statement's own, may group by hashing (see HashedBlock).
  void HashGrouping() { hash_allowed_ = true; }

  std::string Query(const BoundQuery& query) override {
    // A query's own clauses decide where its literals may be parameters.
    LiteralScope scope(*this, false);
    bool keyed = std::exchange(keyed_items_, false);
    bool may_hash = std::exchange(hash_allowed_, false);
    if (query.terms.size() == 1 &&
        query.terms.front().grouping != BoundSelectBlock::Grouping::kPlain)
      return GroupingSets(query);
    std::string sql;
    bool compound = query.terms.size() > 1;
    std::optional<std::string> hashed;
    if (may_hash && !compound && !keyed) hashed = HashedBlock(query);
    for (size_t k = 0; k < query.terms.size(); ++k) {
      if (k > 0) sql += query.union_all[k - 1] ? " UNION ALL " : " UNION ";
      const BoundSelectBlock& term = query.terms[k];
      keyed_block_ = keyed;
      // A compound's terms cannot have a LIMIT of their own.
      if (hashed) {
        sql += *hashed;
      } else if (compound && term.top) {
        std::string block = Block(term, query);
        sql += "SELECT * FROM (" + block + " LIMIT " + Limit(term, block) + ")";
      } else {
        sql += Block(term, query);
      }
    }
    if (!query.order_by.empty()) sql += " ORDER BY " + OrderList(query, false);
    const BoundSelectBlock& first = query.terms.front();
    if (!compound && first.top && first.top_ties) return WithTies(query, sql);
    if (!compound && first.top) sql += " LIMIT " + Limit(first, sql);
    hashed_.reset();
    return sql;
  }

  // The ORDER BY list. A window's ORDER BY takes no positions: with
  // `positions_as_items` a position is written as its item's expression.
  std::string OrderList(const BoundQuery& query, bool positions_as_items) {
    std::string sql;
    for (size_t k = 0; k < query.order_by.size(); ++k) {
      const bind::BoundOrder& order = query.order_by[k];
      if (k > 0) sql += ", ";
      const BoundExpr& sorted =
          order.expr ? *order.expr : *query.terms.front().items[order.ordinal - 1];
      if (sorted.type.type == SqlType::kSqlVariant &&
          (order.expr || positions_as_items || query.terms.size() == 1)) {
        // sql_variant values sort by SQL Server's family order, then value.
        sql += "sqlengine_variant_key(" + Expr(sorted) + ")";
        if (order.descending) sql += " DESC";
        continue;
      }
      // Binary data sorts by its key, so that 0x01 and 0x0100 tie.
      if (IsComparedBinary(sorted.type.type) &&
          (order.expr || positions_as_items || query.terms.size() == 1))
        sql += BinaryKey(sorted);
      else if (!order.expr && !positions_as_items)
        sql += std::to_string(order.ordinal);
      else
        sql += Expr(sorted);
      // Character data sorts as the server's collation compares it, columns
      // too: their declared collation would put 'a' before 'a ', which the
      // server holds equal, so a later key must break the tie.
      if (ClassOf(sorted.type.type) == TypeClass::kCharacter && !sorted.null_literal)
        sql += " COLLATE " + std::string(CollationOf(sorted.type));
      if (sorted.type.type == SqlType::kUniqueIdentifier)
        sql += " COLLATE " + std::string(kGuidCollation);
      if (order.descending) sql += " DESC";
    }
    return sql;
  }

  // TOP n [PERCENT] WITH TIES: the rows whose rank by the ORDER BY is within
  // the first n, so the rows tied with the n-th come too. `counted` is the
  // query without its LIMIT, for PERCENT.
  std::string WithTies(const BoundQuery& query, const std::string& counted) {
    const BoundSelectBlock& block = query.terms.front();
    std::string ranked =
        block.distinct
            ? DistinctRanked(query)
            : Block(block, query, "rank() OVER (ORDER BY " + OrderList(query, true) + ")");
    std::string sql = "SELECT ";
    for (size_t k = 0; k < block.items.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += PositionalName(k);
      if (k < query.columns.size() && !query.columns[k].name.empty())
        sql += " AS " + QuoteSqliteName(query.columns[k].name);
    }
    return sql + " FROM (" + ranked + ") WHERE \"sqlengine_rank\" <= " + Limit(block, counted) +
           " ORDER BY \"sqlengine_rank\"";
  }

  // DISTINCT ranks the distinct rows, not the rows they come from: the
  // rank is taken over the DISTINCT query, by the positions its ORDER BY
  // names (a DISTINCT query orders by its items only).
  std::string DistinctRanked(const BoundQuery& query) {
    const BoundSelectBlock& block = query.terms.front();
    std::string order;
    for (const bind::BoundOrder& item : query.order_by) {
      const BoundExpr& sorted = *block.items[item.ordinal - 1];
      std::string name = PositionalName(item.ordinal - 1);
      if (IsComparedBinary(sorted.type.type))
        name = std::string(kBinaryKeyFunction) + "(" + name + ")";
      order += (order.empty() ? "" : ", ") + name + (item.descending ? " DESC" : "");
    }
    std::string columns;
    for (size_t k = 0; k < block.items.size(); ++k) columns += PositionalName(k) + ", ";
    // The NULL rank of the inner query keeps its rows distinct by the items alone.
    return "SELECT " + columns + "rank() OVER (ORDER BY " + order +
           ") AS \"sqlengine_rank\" FROM (" + Block(block, query, "NULL") + ")";
  }

  static std::string PositionalName(size_t k) {
    return "\"sqlengine_c" + std::to_string(k + 1) + "\"";
  }

  // GROUP BY ... WITH ROLLUP | CUBE: one grouped query per set of the GROUP
  // BY expressions kept (ROLLUP: each leading part of the list; CUBE: every
  // subset), the others totalled over (NULL, GROUPING 1), joined by UNION
  // ALL. Without an ORDER BY the rows come as SQL Server's sorting gives
  // them: by each expression, its total after its values.
  std::string GroupingSets(const BoundQuery& query) {
    const BoundSelectBlock& block = query.terms.front();
    const size_t n = block.group_by.size();
    std::vector<std::vector<bool>> sets;
    if (block.grouping == BoundSelectBlock::Grouping::kRollup) {
      for (size_t kept = n + 1; kept-- > 0;) {
        std::vector<bool> totalled(n);
        for (size_t k = kept; k < n; ++k) totalled[k] = true;
        sets.push_back(std::move(totalled));
      }
    } else {
      for (size_t mask = 0; mask < (size_t{1} << n); ++mask) {
        std::vector<bool> totalled(n);
        for (size_t k = 0; k < n; ++k) totalled[k] = (mask >> (n - 1 - k)) & 1;
        sets.push_back(std::move(totalled));
      }
    }
    std::string sets_sql;
    for (const std::vector<bool>& totalled : sets) {
      totalled_ = totalled;
      std::string sql = "SELECT ";
      for (size_t k = 0; k < block.items.size(); ++k)
        sql += ServerCollated(*block.items[k]) + " AS " + PositionalName(k) + ", ";
      for (size_t k = 0; k < n; ++k) {
        sql += std::string(totalled[k] ? "1" : "0") + " AS \"sqlengine_g" + std::to_string(k) +
               "\", " + (totalled[k] ? "NULL" : ServerCollated(*block.group_by[k])) +
               " AS \"sqlengine_v" + std::to_string(k) + "\"" + (k + 1 < n ? ", " : "");
      }
      sql += Sources(block.from);
      if (block.where) sql += " WHERE " + Expr(*block.where);
      std::string groups;
      for (size_t k = 0; k < n; ++k) {
        if (totalled[k]) continue;
        groups += (groups.empty() ? "" : ", ") + GroupKey(*block.group_by[k]);
      }
      // The grand total groups by a constant: one row however the select
      // list reads, and none over no rows, as for any group.
      sql += " GROUP BY " + (groups.empty() ? std::string("NULL") : groups);
      if (block.having) sql += " HAVING " + Expr(*block.having);
      sets_sql += (sets_sql.empty() ? "" : " UNION ALL ") + sql;
    }
    totalled_.clear();
    std::string names;  // the items by position, under their result names
    for (size_t k = 0; k < block.items.size(); ++k) {
      if (k > 0) names += ", ";
      names += PositionalName(k);
      if (k < query.columns.size() && !query.columns[k].name.empty())
        names += " AS " + QuoteSqliteName(query.columns[k].name);
    }
    std::string order;
    for (size_t k = 0; k < query.order_by.size(); ++k) {
      const bind::BoundOrder& order_item = query.order_by[k];
      order += (k > 0 ? ", " : "") + std::to_string(order_item.ordinal) +
               (order_item.descending ? " DESC" : "");
    }
    // Without an ORDER BY the rows come detail first, each total after
    // the groups it totals.
    std::string rolled_order;
    for (size_t k = 0; k < n; ++k) {
      rolled_order += (k > 0 ? ", " : "") + std::string("\"sqlengine_g") + std::to_string(k) +
                      "\", \"sqlengine_v" + std::to_string(k) + "\"";
    }
    std::string sql;
    if (!block.distinct) {
      sql = "SELECT " + names + " FROM (" + sets_sql + ") ORDER BY " +
            (order.empty() ? rolled_order : order);
    } else {
      // DISTINCT: each distinct row once, where it first comes in the
      // rolled-up order unless the ORDER BY says otherwise.
      std::string positions;
      for (size_t k = 0; k < block.items.size(); ++k)
        positions += (k > 0 ? ", " : "") + PositionalName(k);
      std::string numbered = "SELECT *, row_number() OVER (ORDER BY " + rolled_order +
                             ") AS \"sqlengine_seq\" FROM (" + sets_sql + ")";
      std::string first = "SELECT " + positions + ", min(\"sqlengine_seq\") AS \"sqlengine_seq\" FROM (" +
                          numbered + ") GROUP BY " + positions;
      sql = "SELECT " + names + " FROM (" + first + ") ORDER BY " +
            (order.empty() ? std::string("\"sqlengine_seq\"") : order);
    }
    if (block.top) sql += " LIMIT " + Limit(block, sql);
    return sql;
  }

  // SELECT @v = ... ORDER BY ... whose items read a variable it assigns
  // (SELECT @list = @list + name + ',' FROM t ORDER BY name). SQLite works
  // out a sorted query's values before it sorts them, so each row would read
  // the variables before the rows ahead of it in the order had assigned
  // them. The rows are sorted first instead: a materialized common table
  // holds the columns the items read, in the order asked for, and the items
  // are worked out over it row by row. Returns the common table's entry
  // for the WITH list and the query; nullopt for a shape this does not
  // cover (grouping, DISTINCT, subqueries, an order that reads a variable).
  std::optional<std::pair<std::string, std::string>> OrderedAssignment(const BoundQuery& query) {
    if (query.terms.size() != 1 || query.order_by.empty()) return std::nullopt;
    const BoundSelectBlock& block = query.terms.front();
    if (block.grouping != BoundSelectBlock::Grouping::kPlain || !block.group_by.empty() ||
        block.having || block.distinct || block.top_ties || block.from.empty())
      return std::nullopt;
    for (const auto& item : block.items) {
      if (HasAggregate(*item) || HasQuery(*item)) return std::nullopt;
    }
    for (const bind::BoundOrder& order : query.order_by) {
      const BoundExpr& sorted = order.expr ? *order.expr : *block.items[order.ordinal - 1];
      if (ReadsVariable(sorted) || HasQuery(sorted)) return std::nullopt;
    }
    std::vector<std::string> columns;
    for (const auto& item : block.items) CollectColumns(*item, columns);
    std::string rows = "SELECT ";
    for (size_t k = 0; k < columns.size(); ++k)
      rows += (k > 0 ? ", " : "") + columns[k] + " AS \"c" + std::to_string(k) + "\"";
    if (columns.empty()) rows += "NULL AS \"c0\"";
    rows += Sources(block.from);
    if (block.where) rows += " WHERE " + Expr(*block.where);
    std::string counted = rows;
    rows += " ORDER BY " + OrderList(query, true);
    // The LIMIT keeps SQLite from dropping the ORDER BY of a subquery.
    rows += " LIMIT " + (block.top ? Limit(block, counted) : std::string("-1"));
    for (size_t k = 0; k < columns.size(); ++k)
      column_remap_[columns[k]] = std::string(kOrderedRows) + ".\"c" + std::to_string(k) + "\"";
    std::string sql = "SELECT ";
    for (size_t k = 0; k < block.items.size(); ++k) {
      const BoundExpr& item = *block.items[k];
      sql += (k > 0 ? ", " : "") + (item.kind == BoundKind::kColumn ? Expr(item) : ServerCollated(item));
      if (k < query.columns.size() && !query.columns[k].name.empty())
        sql += " AS " + QuoteSqliteName(query.columns[k].name);
    }
    column_remap_.clear();
    sql += " FROM " + std::string(kOrderedRows);
    // Items that read no column still read the table (for the authorizer,
    // a column of it), row by row.
    if (columns.empty()) sql += " WHERE " + std::string(kOrderedRows) + ".\"c0\" IS NULL";
    return std::make_pair(std::string(kOrderedRows) + " AS MATERIALIZED (" + rows + ")", sql);
  }

  static bool ReadsVariable(const BoundExpr& e) {
    if (e.kind == BoundKind::kParameter && e.sql.starts_with(bind::kReadFunction)) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const auto& arg) { return ReadsVariable(*arg); });
  }

  static bool HasQuery(const BoundExpr& e) {
    if (e.query) return true;
    return std::any_of(e.args.begin(), e.args.end(), [](const auto& arg) { return HasQuery(*arg); });
  }

  static void CollectColumns(const BoundExpr& e, std::vector<std::string>& columns) {
    if (e.kind == BoundKind::kColumn &&
        std::find(columns.begin(), columns.end(), e.sql) == columns.end())
      columns.push_back(e.sql);
    for (const auto& arg : e.args) CollectColumns(*arg, columns);
  }

  std::string Insert(const bind::BoundInsert& insert) {
    // A table of nothing but an identity column takes only its defaults.
    if (insert.columns.empty() && !insert.query)
      return "INSERT INTO " + insert.table_sql + " DEFAULT VALUES";
    std::string sql = "INSERT INTO " + insert.table_sql + " (";
    for (size_t k = 0; k < insert.columns.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += QuoteSqliteName(insert.columns[k]);
    }
    sql += ")";
    if (insert.query) {
      // The query's items are written as the columns store them.
      item_targets_ = {insert.query.get(), &insert.column_types};
      return sql + " " + Query(*insert.query);
    }
    sql += " VALUES ";
    for (size_t r = 0; r < insert.rows.size(); ++r) {
      if (r > 0) sql += ", ";
      sql += "(";
      for (size_t k = 0; k < insert.rows[r].size(); ++k) {
        if (k > 0) sql += ", ";
        LiteralScope scope(*this, parameterize_);
        ValueFree(*insert.rows[r][k]);
        sql += Written(*insert.rows[r][k],
                       k < insert.column_types.size() ? &insert.column_types[k] : nullptr);
      }
      sql += ")";
    }
    return sql;
  }

  std::string Update(const bind::BoundChange& update) {
    if (AssignsVariables(update)) return VariableUpdate(update);
    std::string sql = "UPDATE " + update.table_sql + " AS " + update.alias + " SET ";
    LiteralScope scope(*this, parameterize_);
    for (size_t k = 0; k < update.assignments.size(); ++k) {
      if (k > 0) sql += ", ";
      ValueFree(*update.assignments[k].value);
      sql += QuoteSqliteName(update.assignments[k].column) + " = " +
             Written(*update.assignments[k].value, &update.assignments[k].type);
    }
    sql += Sources(update.from);
    if (update.where) sql += " WHERE " + Expr(*update.where);
    return sql;
  }

  // The rows an UPDATE changes, as a query: each row's rowid (once for
  // every match of the FROM clause's sources), then the value each SET item
  // writes, in the order written.
  std::string UpdateRows(const bind::BoundChange& update) {
    std::string sql = "SELECT " + update.alias + ".rowid";
    for (const bind::BoundAssignment& item : update.assignments)
      sql += ", " + Written(*item.value, &item.type);
    sql += " FROM " + update.table_sql + " AS " + update.alias;
    for (const auto& source : update.from) sql += ", " + Source(*source);
    if (update.where) sql += " WHERE " + Expr(*update.where);
    return sql;
  }

  // The rows an UPDATE that assigns variables changes, after
  // VariableUpdateWith's list: each row's rowid and the values of the SET
  // items that write a column, in the order written. Reading them assigns
  // the variables row by row, as the UPDATE would.
  std::string VariableUpdateRows(const bind::BoundChange& update) {
    std::string sql = "SELECT \"sqlengine_key\"";
    size_t k = 0;
    for (const bind::BoundAssignment& item : update.assignments) {
      if (!item.column.empty()) sql += ", \"c" + std::to_string(k++) + "\"";
    }
    return sql + " FROM " + std::string(kAssignedRows);
  }

  static bool AssignsVariables(const bind::BoundChange& update) {
    return std::any_of(update.assignments.begin(), update.assignments.end(),
                       [](const bind::BoundAssignment& item) { return !item.variable.empty(); });
  }

  // The common table an UPDATE that assigns variables reads its rows from.
  static constexpr std::string_view kAssignedRows = "\"sqlengine_assigned_rows\"";

  // An UPDATE that assigns variables, after the WITH list `with` ("" or
  // "WITH ... "): a materialized common table computes every row's values
  // before the table changes, the variables first in the order written (each
  // seeing the variables as the items before it left them), then the
  // columns' new values, which read the variables as the row left them; the
  // UPDATE writes those values to the rows by rowid.
  std::string VariableUpdateWith(const bind::BoundChange& update, const std::string& with) {
    std::string row = "sqlengine_row(" + update.alias + ".rowid";
    for (const bind::BoundAssignment& item : update.assignments) {
      if (item.variable.empty()) continue;
      if (!item.column.empty())
        row += ", " + AssignCall(bind::ColumnSlot(item.column), Written(*item.value, &item.type));
      row += ", " + AssignCall(item.variable, Written(*item.variable_value, &item.variable_type));
    }
    std::string rows = "SELECT " + row + ") AS \"sqlengine_key\"";
    size_t k = 0;
    for (const bind::BoundAssignment& item : update.assignments) {
      if (item.column.empty()) continue;
      std::string value = item.variable.empty()
                              ? Written(*item.value, &item.type)
                              : std::string(bind::kReadFunction) + "(" +
                                    QuoteSqliteString(ToLower(bind::ColumnSlot(item.column))) + ")";
      rows += ", " + value + " AS \"c" + std::to_string(k++) + "\"";
    }
    rows += " FROM " + update.table_sql + " AS " + update.alias;
    for (const auto& source : update.from) rows += ", " + Source(*source);
    if (update.where) rows += " WHERE " + Expr(*update.where);
    return (with.empty() ? std::string("WITH ") : with.substr(0, with.size() - 1) + ", ") +
           std::string(kAssignedRows) + " AS MATERIALIZED (" + rows + ") ";
  }

  std::string VariableUpdate(const bind::BoundChange& update) {
    std::string sql = "UPDATE " + update.table_sql + " AS " + update.alias + " SET ";
    size_t k = 0;
    for (const bind::BoundAssignment& item : update.assignments) {
      if (item.column.empty()) continue;
      sql += (k > 0 ? ", " : "") + QuoteSqliteName(item.column) + " = " +
             std::string(kAssignedRows) + ".\"c" + std::to_string(k) + "\"";
      ++k;
    }
    // Only variables: every row the statement qualifies is still updated
    // (its triggers fire, @@ROWCOUNT counts it), its values as they were.
    if (k == 0) sql += "rowid = rowid";
    return sql + " FROM " + std::string(kAssignedRows) + " WHERE " + update.alias +
           ".rowid = " + std::string(kAssignedRows) + ".\"sqlengine_key\"";
  }

  static std::string AssignCall(const std::string& name, const std::string& value) {
    return std::string(bind::kAssignFunction) + "(" + QuoteSqliteString(ToLower(name)) + ", " +
           value + ")";
  }

  std::string TableValue(const BoundExpr& expr) { return Expr(expr); }

  // A condition a trigger evaluates, which can take no parameters: its
  // literals stay in the text, its subqueries' too.
  std::string Condition(const BoundExpr& condition) {
    bool parameterize = std::exchange(parameterize_, false);
    std::string sql = "SELECT CASE WHEN " + Expr(condition) + " THEN 1 ELSE 0 END";
    parameterize_ = parameterize;
    return sql;
  }

  std::string Delete(const bind::BoundChange& change) {
    std::string sql = "DELETE FROM " + change.table_sql + " AS " + change.alias;
    LiteralScope scope(*this, parameterize_);
    if (change.from.empty()) {
      if (change.where) sql += " WHERE " + Expr(*change.where);
      return sql;
    }
    // SQLite's DELETE has no FROM clause of its own: a row goes when the
    // other sources have a match for it.
    sql += " WHERE EXISTS (SELECT 1" + Sources(change.from);
    if (change.where) sql += " WHERE " + Expr(*change.where);
    return sql + ")";
  }

 private:
  // The common table OrderedAssignment sorts the rows into.
  static constexpr std::string_view kOrderedRows = "\"sqlengine_ordered_rows\"";
  // Column references written as another ("alias"."column" -> its column of
  // kOrderedRows) while OrderedAssignment writes the items.
  std::map<std::string, std::string> column_remap_;
  bool stored_form_ = false;
  bool parameterize_ = false;
  // Whether the expression being written may have its literals as parameters.
  bool literal_scope_ = false;
  std::vector<std::variant<std::int64_t, std::string>> literals_;
  std::string literal_types_;
  std::vector<SqliteText::LiteralOrigin> literal_origins_;
  std::vector<std::size_t> written_literals_;
  bool writing_literal_ = false;
  // Literals whose place in the statement writes them alike whatever their
  // value (an operand of a comparison, of arithmetic, of IN or BETWEEN; a
  // value an INSERT row or an UPDATE assigns), as far as the generator
  // goes: SqliteText::literal_origins.
  std::vector<const BoundExpr*> value_free_;
  void ValueFree(const BoundExpr& e) {
    if (parameterize_ && e.kind == BoundKind::kLiteral && e.origin != bind::kNoOrigin)
      value_free_.push_back(&e);
  }
  // A statement of many rows of literals is unlikely to come back: the
  // literals past these stay written out (SQLite takes at most 32766
  // parameters).
  static constexpr std::size_t kMaxLiteralParameters = 100;

  class LiteralScope {
   public:
    LiteralScope(Generator& generator, bool parameters)
        : generator_(generator),
          outer_(std::exchange(generator.literal_scope_, parameters)) {}
    ~LiteralScope() { generator_.literal_scope_ = outer_; }
    LiteralScope(const LiteralScope&) = delete;
    LiteralScope& operator=(const LiteralScope&) = delete;

   private:
    Generator& generator_;
    bool outer_;
  };

  // A literal as a parameter bound to the value SQLite reads from its text:
  // an integer (at most 18 digits, so surely a 64-bit one) or a character
  // string. Anything else (NULL, reals, binary data, money's rounding)
  // stays written out.
  std::string LiteralParameter(const BoundExpr& e) {
    const std::string& sql = e.sql;
    if (e.null_literal || literals_.size() >= kMaxLiteralParameters || sql.empty()) return sql;
    std::variant<std::int64_t, std::string> value;
    if (sql.size() >= 2 && sql.front() == '\'' && sql.back() == '\'') {
      std::string text;
      text.reserve(sql.size() - 2);
      for (size_t i = 1; i + 1 < sql.size(); ++i) {
        if (sql[i] == '\'') {
          if (i + 2 >= sql.size() || sql[i + 1] != '\'') return sql;
          ++i;
        }
        text += sql[i];
      }
      value = std::move(text);
    } else {
      size_t digits = sql.front() == '-' ? 1 : 0;
      if (sql.size() == digits || sql.size() - digits > 18 ||
          !std::all_of(sql.begin() + static_cast<std::ptrdiff_t>(digits), sql.end(),
                       [](char c) { return c >= '0' && c <= '9'; }))
        return sql;
      value = static_cast<std::int64_t>(std::stoll(sql));
    }
    literal_types_ += std::to_string(static_cast<int>(e.type.type)) + ' ' +
                      std::to_string(e.type.length) + ' ' + std::to_string(e.type.precision) +
                      ' ' + std::to_string(e.type.scale) + ';';
    SqliteText::LiteralOrigin origin{e.origin, e.type, false};
    origin.value_free = std::find(value_free_.begin(), value_free_.end(), &e) != value_free_.end();
    literal_origins_.push_back(origin);
    literals_.push_back(std::move(value));
    return std::string(kLiteralPrefix) + std::to_string(literals_.size() - 1);
  }
  // A query whose items are written as the given types (the columns an
  // INSERT ... SELECT fills), in the stored form.
  struct ItemTargets {
    const BoundQuery* query = nullptr;
    const std::vector<ColumnType>* types = nullptr;
  } item_targets_;
  bool schema_free_ = false;
  bool outside_main_ = false;
  bool reads_temp_ = false;
  // While a set of GroupingSets is written: which GROUP BY expressions it
  // totals over.
  std::vector<bool> totalled_;
  // The next Query's items, and then its blocks' items, are written as
  // their binary keys: the list of an IN (subquery) over binary data.
  bool keyed_items_ = false;
  bool keyed_block_ = false;
  // While a GROUP BY ALL block's list is written: its WHERE condition, which
  // filters the rows each aggregate reads.
  std::string aggregate_filter_;
  // Set by HashGrouping for the statement's own query.
  bool hash_allowed_ = false;
  // While a query grouped by sqlengine_grouped is written: the result
  // columns of that function its keys and aggregates are read from.
  struct Hashed {
    std::vector<const BoundExpr*> keys;  // beside the function's c0, c1, ...
    struct Aggregate {
      int value = 0;
      int nulls = -1;  // the count of NULLs it skipped, for 8153
      bool ranged = false;  // an integer SUM, checked against its type's range
    };
    std::map<const BoundExpr*, Aggregate> aggregates;
  };
  std::optional<Hashed> hashed_;

  // The row count of `block`'s TOP; `counted` is the query it limits, as
  // it reads without the LIMIT. n PERCENT is n percent of that query's
  // rows, rounded up, counted through a copy of it.
  std::string Limit(const BoundSelectBlock& block, const std::string& counted) {
    if (!block.top_percent) return Top(*block.top);
    return "(SELECT CAST(p AS INTEGER) + (p > CAST(p AS INTEGER)) FROM (SELECT count(*) * (" +
           Expr(*block.top) + ") / 100.0 AS p FROM (" + counted + ")))";
  }

  std::string Top(const BoundExpr& top) {
    if (top.kind == BoundKind::kLiteral && !top.sql.starts_with("-")) return top.sql;
    // A negative count from a variable is error 1014.
    return "sqlengine_top_count(" + Expr(top) + ")";
  }

  // With a `rank`, the items are named by position and the rank comes
  // after them as "sqlengine_rank" (see WithTies).
  std::string Block(const BoundSelectBlock& block, const BoundQuery& query,
                    const std::string& rank = {}) {
    // GROUP BY ALL keeps every group: the WHERE clause filters what the
    // aggregates read instead of the rows.
    std::string filter = block.group_all && block.where ? Expr(*block.where) : std::string();
    std::string outer_filter = std::exchange(aggregate_filter_, filter);
    bool keyed = std::exchange(keyed_block_, false);
    // SQLite's DISTINCT tells 0x01 from 0x0100: with binary items the
    // duplicates are grouped away by their keys instead.
    bool distinct_groups =
        block.distinct && block.group_by.empty() &&
        std::any_of(block.items.begin(), block.items.end(),
                    [](const auto& item) { return IsComparedBinary(item->type.type); }) &&
        std::none_of(block.items.begin(), block.items.end(),
                     [](const auto& item) { return HasAggregate(*item); });
    std::string sql = block.distinct && !distinct_groups ? "SELECT DISTINCT " : "SELECT ";
    // A table's column stays bare where no duplicates are removed: a view
    // then keeps the column's declared type, and an index its use.
    const bool deduplicated =
        block.distinct ||
        std::any_of(query.union_all.begin(), query.union_all.end(), [](bool all) { return !all; });
    // HAVING without GROUP BY makes the rows one group (SELECT 1 FROM t
    // WHERE 1 = 0 HAVING 1 = 1 is one row); SQLite takes it only where the
    // select list holds an aggregate, so the first item is given one that
    // leaves its value as it is.
    const bool one_group = block.having && block.group_by.empty() && !distinct_groups &&
                           std::none_of(block.items.begin(), block.items.end(),
                                        [](const auto& item) { return HasAggregate(*item); });
    for (size_t k = 0; k < block.items.size(); ++k) {
      if (k > 0) sql += ", ";
      const BoundExpr& item = *block.items[k];
      if (k == 0 && one_group) sql += "CASE WHEN count(*) >= 0 THEN ";
      if (keyed && IsComparedBinary(item.type.type))
        sql += BinaryKey(item);
      else if (const ColumnType* target = ItemTarget(query, k, item.type))
        sql += ExactConverted(Expr(item), item.type, *target);
      else
        sql += item.kind == BoundKind::kColumn && !deduplicated ? Expr(item) : ServerCollated(item);
      if (k == 0 && one_group) sql += " END";
      if (!rank.empty()) {
        sql += " AS " + PositionalName(k);
      } else if (&block == &query.terms.front() && k < query.columns.size() &&
                 !query.columns[k].name.empty()) {
        // Derived tables and subqueries are read by these names.
        sql += " AS " + QuoteSqliteName(query.columns[k].name);
      }
    }
    if (!rank.empty()) sql += ", " + rank + " AS \"sqlengine_rank\"";
    aggregate_filter_.clear();
    sql += Sources(block.from);
    if (block.where && !block.group_all) {
      LiteralScope scope(*this, parameterize_);
      sql += " WHERE " + Expr(*block.where);
    }
    const auto& groups = distinct_groups ? block.items : block.group_by;
    if (!groups.empty()) {
      sql += " GROUP BY ";
      for (size_t k = 0; k < groups.size(); ++k) {
        if (k > 0) sql += ", ";
        sql += GroupKey(*groups[k]);
      }
    }
    aggregate_filter_ = filter;
    if (block.having) sql += " HAVING " + Expr(*block.having);
    aggregate_filter_ = outer_filter;
    return sql;
  }

  // A plain grouped query of tables whose keys are columns the engine
  // compares as the GROUP BY does, and whose aggregates are COUNT, MIN,
  // MAX, the exact SUM and AVG and the SUM of integers, of row values that
  // read no variable the statement assigns: its rows are grouped by
  // sqlengine_grouped (exec/hash_grouping.h), not by SQLite's sort of every
  // row. That function yields the groups in the
  // order SQLite's GROUP BY gives them; the select list, HAVING and ORDER
  // BY are written over its rows (hashed_ set). nullopt for any other query.
  std::optional<std::string> HashedBlock(const BoundQuery& query) {
    const BoundSelectBlock& block = query.terms.front();
    if (!stored_form_ || !query.with.empty() || block.group_by.empty() || block.group_all ||
        block.distinct || block.top_ties || block.grouping != BoundSelectBlock::Grouping::kPlain)
      return std::nullopt;
    std::vector<std::string> parameters;
    for (const auto& source : block.from) {
      if (!SimpleSource(*source, parameters)) return std::nullopt;
    }
    if (block.where && !RowValue(*block.where, parameters)) return std::nullopt;
    Hashed hashed;
    std::string plan = "keys:";
    std::vector<std::string> read;  // the inner query's columns: keys, then arguments
    for (const auto& key : block.group_by) {
      std::optional<char> letter = KeyComparison(key->type);
      if (!letter || key->kind != BoundKind::kColumn || key->outer_reference) return std::nullopt;
      plan += *letter;
      hashed.keys.push_back(key.get());
      read.push_back(Expr(*key));
    }
    std::vector<const BoundExpr*> aggregates;
    for (const auto& item : block.items) {
      if (!GroupedValue(*item, hashed.keys, aggregates)) return std::nullopt;
    }
    if (block.having && !GroupedValue(*block.having, hashed.keys, aggregates)) return std::nullopt;
    for (const bind::BoundOrder& order : query.order_by) {
      if (order.expr && !GroupedValue(*order.expr, hashed.keys, aggregates)) return std::nullopt;
    }
    std::vector<std::string> outputs;
    for (size_t k = 0; k < hashed.keys.size(); ++k) outputs.push_back("k" + std::to_string(k));
    for (const BoundExpr* aggregate : aggregates) {
      Hashed::Aggregate columns;
      columns.value = static_cast<int>(outputs.size());
      if (aggregate->count_star) {
        outputs.push_back("n");
      } else {
        const BoundExpr& argument = *aggregate->args[0];
        if (aggregate->distinct || !RowValue(argument, parameters)) return std::nullopt;
        // Each argument is read once however many aggregates take it.
        std::string sql = Expr(argument);
        auto found = std::find(read.begin(), read.end(), sql);
        std::string column = std::to_string(found - read.begin());
        if (found == read.end()) read.push_back(std::move(sql));
        const std::string& name = aggregate->sql;
        if (name == "count") {
          outputs.push_back("c" + column);
        } else if (name == "min" || name == "max") {
          std::optional<char> letter = MinMaxComparison(argument);
          if (!letter) return std::nullopt;
          outputs.push_back((name == "min" ? "m" : "x") + column + ":" + *letter);
        } else if (name == "sum" && CheckedInteger(aggregate->type) &&
                   ClassOf(argument.type.type) == TypeClass::kInteger) {
          outputs.push_back("i" + column);
          columns.ranged = true;
        } else if ((name == "sum" || name == "avg") && values::IsExactType(argument.type.type)) {
          outputs.push_back((name == "sum" ? "s" : "a") + column + ":" +
                            Unquoted(ExactTypeArgument(argument.type)) + ":" +
                            Unquoted(ExactTypeArgument(aggregate->type)));
        } else {
          return std::nullopt;
        }
        if (argument.type.nullable) {
          columns.nulls = static_cast<int>(outputs.size());
          outputs.push_back("z" + column);
        }
      }
      hashed.aggregates[aggregate] = columns;
    }
    if (outputs.size() > kHashedColumns || parameters.size() > kHashedParameters)
      return std::nullopt;
    std::string inner = "SELECT ";
    for (size_t k = 0; k < read.size(); ++k) inner += (k > 0 ? ", " : "") + read[k];
    inner += Sources(block.from);
    if (block.where) inner += " WHERE " + Expr(*block.where);
    std::string values;
    for (const std::string& parameter : parameters) {
      plan += ";?" + parameter;
      values += ", " + parameter;
    }
    for (const std::string& output : outputs) plan += ";" + output;

    hashed_ = std::move(hashed);
    std::string sql = "SELECT ";
    for (size_t k = 0; k < block.items.size(); ++k) {
      const BoundExpr& item = *block.items[k];
      sql += (k > 0 ? ", " : "") +
             (item.kind == BoundKind::kColumn ? Expr(item) : ServerCollated(item));
      if (k < query.columns.size() && !query.columns[k].name.empty())
        sql += " AS " + QuoteSqliteName(query.columns[k].name);
    }
    sql += " FROM sqlengine_grouped(" + QuoteSqliteString(inner) + ", " + QuoteSqliteString(plan) +
           values + ") AS " + std::string(kHashedAlias);
    if (block.having) sql += " WHERE " + Expr(*block.having);
    return sql;
  }

  // The result columns sqlengine_grouped has (exec/hash_grouping.h).
  static constexpr size_t kHashedColumns = 64;
  static constexpr size_t kHashedParameters = 8;
  static constexpr std::string_view kHashedAlias = "\"sqlengine_g\"";

  static std::string Unquoted(const std::string& literal) {
    return literal.substr(1, literal.size() - 2);
  }

  // How sqlengine_grouped compares a key of type `type` as the GROUP BY
  // does: n as SQLite compares numbers and stored exact values, i and s as
  // the collations sqlengine_ci and sqlengine_cs; nullopt for a type it does
  // not group.
  static std::optional<char> KeyComparison(const ColumnType& type) {
    switch (ClassOf(type.type)) {
      case TypeClass::kInteger:
      case TypeClass::kExactDecimal:
      case TypeClass::kApproximate:
        return 'n';
      case TypeClass::kCharacter:
        if (type.type == SqlType::kText || type.type == SqlType::kNText ||
            type.length == kMaxLength)
          return std::nullopt;
        return HashedCollation(type);
      default:
        return std::nullopt;
    }
  }

  // How MIN and MAX compare `argument` (as ServerCollated writes it).
  static std::optional<char> MinMaxComparison(const BoundExpr& argument) {
    SqlType type = argument.type.type;
    if (type == SqlType::kUniqueIdentifier || type == SqlType::kSqlVariant ||
        type == SqlType::kText || type == SqlType::kNText || type == SqlType::kImage)
      return std::nullopt;
    if (ClassOf(type) != TypeClass::kCharacter || argument.null_literal) return 'n';
    return HashedCollation(argument.type);
  }

  // The letter of sqlengine_grouped for character data of `type`: i, u or s
  // for sqlengine_ci, sqlengine_ci_n or sqlengine_cs, a digit for the
  // dictionary collations.
  static std::optional<char> HashedCollation(const ColumnType& type) {
    std::string_view collation = CollationOf(type);
    if (collation == kCaseSensitiveCollation) return 's';
    if (collation == kNationalTextCollation) return 'u';
    if (collation == kTextCollation) return 'i';
    return GroupingDigit(collation);
  }

  // Tables, and joins of tables, that a query of their own reads as well.
  static bool SimpleSource(const BoundSource& source, std::vector<std::string>& parameters) {
    switch (source.kind) {
      case BoundSource::Kind::kTable:
        return !(source.named_query && source.schema.empty());  // not a common table
      case BoundSource::Kind::kJoin:
        return SimpleSource(*source.left, parameters) && SimpleSource(*source.right, parameters) &&
               (!source.on || RowValue(*source.on, parameters));
      default:
        return false;
    }
  }

  // @name, :name or ?n: a parameter SQLite binds by that name.
  static bool BindableName(const std::string& name) {
    if (name.size() < 2 || (name[0] != '@' && name[0] != ':' && name[0] != '?')) return false;
    return std::all_of(name.begin() + 1, name.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
             c == '$';
    });
  }

  // A value of one row that a query of its own computes alike: no
  // variable, subquery, aggregate or outer column. Its parameters are
  // added to `parameters` (the query's are bound to the statement's values).
  static bool RowValue(const BoundExpr& e, std::vector<std::string>& parameters) {
    if (e.query || e.outer_reference) return false;
    switch (e.kind) {
      case BoundKind::kParameter:
        // A variable the statement itself assigns is read by a call.
        if (!BindableName(e.sql)) return false;
        if (std::find(parameters.begin(), parameters.end(), e.sql) == parameters.end())
          parameters.push_back(e.sql);
        return true;
      case BoundKind::kAggregate:
      case BoundKind::kSubquery:
      case BoundKind::kExists:
      case BoundKind::kInQuery:
      case BoundKind::kQuantified:
      case BoundKind::kGrouping:
      case BoundKind::kGroupingColumn:
        return false;
      case BoundKind::kCall:
        if (e.sql == bind::kReadFunction || e.sql == bind::kAssignFunction) return false;
        break;
      default:
        break;
    }
    return std::all_of(e.args.begin(), e.args.end(),
                       [&](const auto& arg) { return RowValue(*arg, parameters); });
  }

  // A value of one group read from sqlengine_grouped's row: its columns
  // keys, no subquery or variable; its aggregates are added to `aggregates`.
  static bool GroupedValue(const BoundExpr& e, const std::vector<const BoundExpr*>& keys,
                           std::vector<const BoundExpr*>& aggregates) {
    if (e.query) return false;
    switch (e.kind) {
      case BoundKind::kAggregate:
        aggregates.push_back(&e);
        return true;
      case BoundKind::kColumn:
        return !e.outer_reference &&
               std::any_of(keys.begin(), keys.end(),
                           [&e](const BoundExpr* key) { return key->sql == e.sql; });
      case BoundKind::kGrouping:
      case BoundKind::kGroupingColumn:
        return false;
      case BoundKind::kCall:
        if (e.sql == bind::kReadFunction || e.sql == bind::kAssignFunction) return false;
        break;
      default:
        break;
    }
    return std::all_of(e.args.begin(), e.args.end(),
                       [&](const auto& arg) { return GroupedValue(*arg, keys, aggregates); });
  }

  // A key or an aggregate of the query grouped by sqlengine_grouped, read
  // from its row. A character key takes the server's collation, by which
  // ORDER BY and comparisons read it ('a ' in the key equals 'a').
  std::optional<std::string> HashedRead(const BoundExpr& e) const {
    auto column = [](int k) {
      return std::string(kHashedAlias) + ".\"c" + std::to_string(k) + "\"";
    };
    if (e.kind == BoundKind::kColumn && !e.outer_reference) {
      for (size_t k = 0; k < hashed_->keys.size(); ++k) {
        if (hashed_->keys[k]->sql != e.sql) continue;
        if (ClassOf(e.type.type) != TypeClass::kCharacter) return column(static_cast<int>(k));
        return "(" + column(static_cast<int>(k)) + " COLLATE " + std::string(CollationOf(e.type)) +
               ")";
      }
      return std::nullopt;
    }
    if (e.kind != BoundKind::kAggregate) return std::nullopt;
    auto found = hashed_->aggregates.find(&e);
    if (found == hashed_->aggregates.end()) return std::nullopt;
    std::string value = column(found->second.value);
    if (found->second.ranged) value = CheckedRange(value, e.type);
    if (found->second.nulls < 0) return value;
    return "sqlengine_nulls_noted(" + value + ", " + column(found->second.nulls) + ")";
  }

  // " FROM a, b ..."; empty without sources.
  std::string Sources(const std::vector<std::unique_ptr<BoundSource>>& from) {
    std::string sql;
    for (size_t k = 0; k < from.size(); ++k) sql += (k == 0 ? " FROM " : ", ") + Source(*from[k]);
    return sql;
  }

  std::string Source(const BoundSource& source) {
    switch (source.kind) {
      case BoundSource::Kind::kTable:
        if (schema_free_ && !source.schema.empty()) {
          if (source.schema != "main") outside_main_ = true;
          if (source.schema == "temp") reads_temp_ = true;
          // table_sql is "schema"."name".
          return source.table_sql.substr(QuoteSqliteName(source.schema).size() + 1) + " AS " +
                 source.alias;
        }
        return source.table_sql + " AS " + source.alias;
      case BoundSource::Kind::kDerived:
        return "(" + Query(*source.derived) + ") AS " + source.alias;
      case BoundSource::Kind::kFunctionRows:
        return FunctionRows(source);
      case BoundSource::Kind::kJoin:
        break;
    }
    // A join on the right (a JOIN (b JOIN c ON x) ON y) keeps its parentheses.
    std::string right = Source(*source.right);
    if (source.right->kind == BoundSource::Kind::kJoin) right = "(" + right + ")";
    std::string sql = Source(*source.left) + " " + source.join + " " + right;
    if (source.on) sql += " ON " + Expr(*source.on);
    return sql;
  }

  // Each row of the JSON text the call returns, one column per element.
  std::string FunctionRows(const BoundSource& source) {
    std::string sql = "(SELECT ";
    for (size_t k = 0; k < source.rows_columns.size(); ++k) {
      const Column& column = source.rows_columns[k];
      std::string value = "json_extract(value, '$[" + std::to_string(k) + "]')";
      SqlType type = column.type.type;
      // Bytes travel as hex text, as do the keys of wide exact numbers.
      if (IsBinaryData(type) || type == SqlType::kSqlVariant ||
          (stored_form_ && values::IsExactType(type) && !values::StoredAsInteger(column.type)))
        value = "sqlengine_table_blob(" + value + ")";
      sql += (k == 0 ? "" : ", ") + value + " AS " + QuoteSqliteName(column.name);
    }
    return sql + " FROM json_each(" + Expr(*source.rows_call) + ")) AS " + source.alias;
  }

  std::string Args(const BoundExpr& e, size_t from = 0) {
    std::string sql;
    for (size_t k = from; k < e.args.size(); ++k) {
      if (k > from) sql += ", ";
      sql += Expr(*e.args[k]);
    }
    return sql;
  }

  // A function's arguments, char(n) values with their blanks (see Padded).
  std::string CallArgs(const BoundExpr& e) {
    std::string sql;
    for (size_t k = 0; k < e.args.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += Padded(*e.args[k]);
    }
    return sql;
  }

  // A char(n) or nchar(n) value is n characters long in SQL Server, blanks
  // included, but is kept without its trailing blanks (comparisons ignore
  // them and result rows are padded on the wire). Where the blanks count,
  // in concatenation, string functions and conversion to other character
  // types, the value is padded here.
  std::string Padded(const BoundExpr& e) {
    bool fixed = e.type.type == SqlType::kChar || e.type.type == SqlType::kNChar;
    if (!fixed || e.null_literal || e.type.length <= 0 || e.type.length == kMaxLength)
      return Expr(e);
    return std::string(kPadFunction) + "(" + Expr(e) + ", " + std::to_string(e.type.length) + ")";
  }

  // A binary(n) value with the zero bytes that fill it to n, which the
  // stored form leaves off.
  std::string PaddedBinary(const BoundExpr& e) {
    if (e.type.type != SqlType::kBinary || e.null_literal || e.type.length <= 0) return Expr(e);
    return "sqlengine_binary(" + Expr(e) + ", " + QuoteSqliteString(TypeDeclaration(e.type)) + ")";
  }

  // The conversion to real Expr is writing the inner part of.
  const BoundExpr* rounding_ = nullptr;

  // Unicode data ('national') under the case-insensitive collation reads
  // 'ß' as "ss"; other data does not.
  static std::string_view CollationOf(const ColumnType& type) {
    return SqliteCollation(type, bind::IsNational(type.type));
  }

  // Character data with its collation attached as the comparison ignoring
  // trailing spaces, so that DISTINCT, GROUP BY, UNION, MIN and MAX, and the
  // columns of a derived table, treat 'a', 'A' and 'a ' as SQL Server does.
  // (Columns of older files are declared NOCASE or BINARY, which do not.)
  std::string ServerCollated(const BoundExpr& e) {
    if (e.type.type == SqlType::kUniqueIdentifier && !e.null_literal)
      return "(" + Expr(e) + ") COLLATE " + std::string(kGuidCollation);
    if (ClassOf(e.type.type) != TypeClass::kCharacter || e.null_literal) return Expr(e);
    return "(" + Expr(e) + ") COLLATE " + std::string(CollationOf(e.type));
  }

  static bool IsComparedBinary(SqlType type) {
    return type == SqlType::kBinary || type == SqlType::kVarBinary;
  }

  static bool HasAggregate(const BoundExpr& e) {
    if (e.kind == BoundKind::kAggregate) return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const auto& arg) { return HasAggregate(*arg); });
  }

  // What groups `e`'s equal values together: binary data by its key,
  // character data under the server's collation.
  std::string GroupKey(const BoundExpr& e) {
    return IsComparedBinary(e.type.type) ? BinaryKey(e) : ServerCollated(e);
  }

  // Binary data compared as SQL Server compares it: trailing zero bytes ignored.
  std::string BinaryKey(const BoundExpr& e) {
    if (e.null_literal) return Expr(e);
    return std::string(kBinaryKeyFunction) + "(" + Expr(e) + ")";
  }

  std::string Collated(const BoundExpr& e, const BoundExpr& comparison) {
    std::string sql = Expr(e);
    if (comparison.guid_comparison) return sql + " COLLATE " + std::string(kGuidCollation);
    if (comparison.text_comparison) {
      // Compared as Unicode when any operand is (the other was converted).
      bool national = std::any_of(comparison.args.begin(), comparison.args.end(),
                                  [](const auto& arg) { return bind::IsNational(arg->type.type); });
      sql += " COLLATE " + std::string(SqliteCollation(comparison.collation, national));
    }
    return sql;
  }

  // value LIKE pattern [ESCAPE c]: case apart under a case-sensitive
  // collation, ranges in the collation's order; the value's trailing blanks
  // are ignored unless it is Unicode.
  std::string Like(const BoundExpr& e) {
    bool unicode = bind::IsNational(e.args[0]->type.type) ||
                   (e.args.size() > 1 && bind::IsNational(e.args[1]->type.type));
    std::string escape = e.args.size() > 2 ? Expr(*e.args[2]) : std::string("NULL");
    return std::string(e.negated ? "(NOT " : "(") + std::string(kLikeFunction) + "(" +
           Padded(*e.args[0]) + ", " + Expr(*e.args[1]) + ", " + escape + ", " +
           std::to_string((e.case_sensitive ? 1 : 0) | (e.collation.accent_insensitive ? 2 : 0) |
                          (e.collation.binary_order ? 0 : 4) | (e.collation.upper_first ? 8 : 0)) +
           ", " + (unicode ? "1" : "0") + "))";
  }

  std::string Argument(const BoundExpr& e) override { return Padded(e); }

  // A value written to a column of type `column` (null: unknown). In the
  // stored form an exact value, or a value written to an exact column, is
  // converted here; other values are left to the column's triggers.
  std::string Written(const BoundExpr& value, const ColumnType* column) {
    // A value given to an identity (SET IDENTITY_INSERT ON) converts to the
    // declared type as any column's would: its triggers can only tell a
    // value past the type's range, and report it as a generated one.
    if (column != nullptr && column->identity && !value.null_literal &&
        (column->type == SqlType::kTinyInt || column->type == SqlType::kSmallInt ||
         column->type == SqlType::kInt))
      return "sqlengine_number(" + Expr(value) + ", '" + TypeDeclaration(*column) + "')";
    if (!stored_form_ || column == nullptr || value.null_literal) return Expr(value);
    return ExactConverted(Expr(value), value.type, *column);
  }

  // The type item k of a block of `query` is written as, when it must be
  // converted to it in the stored form: a column INSERT ... SELECT fills,
  // or the column of a UNION whose terms' exact types differ.
  const ColumnType* ItemTarget(const BoundQuery& query, size_t k, const ColumnType& item) const {
    if (!stored_form_) return nullptr;
    const ColumnType* target = nullptr;
    if (item_targets_.query == &query && k < item_targets_.types->size())
      target = &(*item_targets_.types)[k];
    else if (query.terms.size() > 1 && k < query.columns.size())
      target = &query.columns[k].type;
    if (target == nullptr ||
        (!values::IsExactType(item.type) && !values::IsExactType(target->type)))
      return nullptr;
    return target;
  }

  std::string Expr(const BoundExpr& e) override {
    if (e.kind == BoundKind::kLiteral && e.origin != bind::kNoOrigin && !writing_literal_) {
      // Noted when its token's value is written into the text itself.
      writing_literal_ = true;
      const std::size_t parameters = literals_.size();
      std::string sql = Expr(e);
      writing_literal_ = false;
      if (literals_.size() == parameters) written_literals_.push_back(e.origin);
      return sql;
    }
    // An operand of these is written the same way whatever its value.
    if (e.kind == BoundKind::kComparison || e.kind == BoundKind::kArithmetic ||
        e.kind == BoundKind::kInList || e.kind == BoundKind::kBetween) {
      for (const auto& arg : e.args) ValueFree(*arg);
    }
    // A value converted to real keeps a real's single precision.
    if (e.kind == BoundKind::kConvert && e.type.type == SqlType::kReal && rounding_ != &e &&
        e.args[0]->type.type != SqlType::kReal && !e.args[0]->null_literal) {
      const BoundExpr* outer = std::exchange(rounding_, &e);
      std::string converted = Expr(e);
      rounding_ = outer;
      return "sqlengine_real(" + converted + ")";
    }
    if (hashed_) {
      if (std::optional<std::string> sql = HashedRead(e)) return *sql;
    }
    if (e.kind == BoundKind::kColumn && !column_remap_.empty()) {
      if (auto found = column_remap_.find(e.sql); found != column_remap_.end()) {
        BoundExpr moved;
        moved.kind = e.kind;
        moved.type = e.type;
        moved.sql = found->second;
        moved.case_sensitive = e.case_sensitive;
        moved.collation = e.collation;
        return Expr(moved);
      }
    }
    if (stored_form_) {
      if (std::optional<std::string> sql = StoredFormExpr(e, *this)) return *sql;
    }
    switch (e.kind) {
      case BoundKind::kLiteral:
        return literal_scope_ ? LiteralParameter(e) : e.sql;
      case BoundKind::kColumn:
      case BoundKind::kParameter:
        return e.sql;
      case BoundKind::kNegate:
        if (e.op == "-" && CheckedInteger(e.type)) return CheckedNegation(Expr(*e.args[0]), e.type);
        // The unsigned types keep their own bits: ~ of tinyint 5 is 250.
        if (e.op == "~" && (e.type.type == SqlType::kTinyInt || e.type.type == SqlType::kBit))
          return "((~ " + Expr(*e.args[0]) + ") & " + (e.type.type == SqlType::kBit ? "1" : "255") +
                 ")";
        return "(" + e.op + " " + Expr(*e.args[0]) + ")";
      case BoundKind::kArithmetic:
        return Arithmetic(e);
      case BoundKind::kConcat: {
        if (IsComparedBinary(e.type.type))
          return "sqlengine_binary_concat(" + PaddedBinary(*e.args[0]) + ", " +
                 PaddedBinary(*e.args[1]) + ", " + std::to_string(e.type.length) + ")";
        std::string joined = "(" + Padded(*e.args[0]) + " || " + Padded(*e.args[1]) + ")";
        // Past 8000 bytes (4000 national characters) the result is cut to
        // the length its type was given.
        const int left = e.args[0]->type.length, right = e.args[1]->type.length;
        if (e.type.length == kMaxLength || left == kMaxLength || right == kMaxLength ||
            left + right <= e.type.length)
          return joined;
        return "substr(" + joined + ", 1, " + std::to_string(e.type.length) + ")";
      }
      case BoundKind::kComparison:
        if (e.binary_comparison)
          return "(" + BinaryKey(*e.args[0]) + " " + e.op + " " + BinaryKey(*e.args[1]) + ")";
        return "(" + Expr(*e.args[0]) + " " + e.op + " " + Collated(*e.args[1], e) +
               ")";
      case BoundKind::kAnd:
        return "(" + Expr(*e.args[0]) + " AND " + Expr(*e.args[1]) + ")";
      case BoundKind::kOr:
        return "(" + Expr(*e.args[0]) + " OR " + Expr(*e.args[1]) + ")";
      case BoundKind::kNot:
        return "(NOT " + Expr(*e.args[0]) + ")";
      case BoundKind::kBetween:
        if (e.binary_comparison)
          return "(" + BinaryKey(*e.args[0]) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") +
                 BinaryKey(*e.args[1]) + " AND " + BinaryKey(*e.args[2]) + ")";
        return "(" + Collated(*e.args[0], e) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") +
               Expr(*e.args[1]) + " AND " + Expr(*e.args[2]) + ")";
      case BoundKind::kInList:
        if (e.binary_comparison) {
          std::string list;
          for (size_t k = 1; k < e.args.size(); ++k)
            list += (k > 1 ? ", " : "") + BinaryKey(*e.args[k]);
          return "(" + BinaryKey(*e.args[0]) + (e.negated ? " NOT IN (" : " IN (") + list + "))";
        }
        return "(" + Collated(*e.args[0], e) + (e.negated ? " NOT IN (" : " IN (") + Args(e, 1) +
               "))";
      case BoundKind::kInQuery:
        if (e.binary_comparison) {
          keyed_items_ = true;
          return "(" + BinaryKey(*e.args[0]) + (e.negated ? " NOT IN (" : " IN (") +
                 Query(*e.query) + "))";
        }
        return "(" + Collated(*e.args[0], e) + (e.negated ? " NOT IN (" : " IN (") +
               Query(*e.query) + "))";
      case BoundKind::kLike:
        return Like(e);
      case BoundKind::kIsNull:
        return "(" + Expr(*e.args[0]) + (e.negated ? " IS NOT NULL)" : " IS NULL)");
      case BoundKind::kExists:
        return "EXISTS (" + Query(*e.query) + ")";
      case BoundKind::kCase: {
        std::string sql = "CASE";
        size_t pairs = e.args.size() - (e.has_else ? 1 : 0);
        for (size_t k = 0; k < pairs; k += 2)
          sql += " WHEN " + Expr(*e.args[k]) + " THEN " + Expr(*e.args[k + 1]);
        if (e.has_else) sql += " ELSE " + Expr(*e.args.back());
        return sql + " END";
      }
      case BoundKind::kConvert:
        return Convert(e);
      case BoundKind::kCall:
        if (e.sql == "abs" && CheckedInteger(e.type))
          return CheckedRange("abs(" + CallArgs(e) + ")", e.type);
        // NULLIF compares its texts as '=' would: by the collation, trailing
        // blanks ignored (SQLite's nullif takes the first collation it sees).
        if (e.sql == "nullif" && ClassOf(e.args[0]->type.type) == TypeClass::kCharacter &&
            !e.args[0]->null_literal)
          return "nullif((" + Padded(*e.args[0]) + ") COLLATE " +
                 std::string(CollationOf(e.args[0]->type)) + ", " + Padded(*e.args[1]) + ")";
        return e.sql + "(" + CallArgs(e) + ")";
      case BoundKind::kAggregate: {
        std::string filter =
            aggregate_filter_.empty() ? "" : " FILTER (WHERE " + aggregate_filter_ + ")";
        if (e.count_star) return "count(*)" + filter;
        return NullsNoted(Aggregate(e, filter), e, filter);
      }
      case BoundKind::kSubquery:
        return "(" + Query(*e.query) + ")";
      case BoundKind::kQuantified:
        return Quantified(e);
      case BoundKind::kGroupingColumn: {
        size_t k = std::stoul(e.sql);
        return k < totalled_.size() && totalled_[k] ? "NULL" : Expr(*e.args[0]);
      }
      case BoundKind::kGrouping: {
        size_t k = std::stoul(e.sql);
        return k < totalled_.size() && totalled_[k] ? "1" : "0";
      }
    }
    return "NULL";
  }

  // An aggregate of a value: SQLite's, or the engine's where SQLite would
  // answer otherwise. `filter` limits the rows it reads (GROUP BY ALL).
  std::string Aggregate(const BoundExpr& e, const std::string& filter) {
    if (ExactlyAdded(e) || (stored_form_ && (e.sql == "sum" || e.sql == "avg") &&
                            values::IsExactType(e.args[0]->type.type)))
      return ExactAggregate(e, filter);
    std::string operand = (e.distinct ? "(DISTINCT " : "(") + ServerCollated(*e.args[0]) + ")";
    std::string sql = e.sql + operand + filter;
    // SUM and AVG of integers add in the result's type, which an
    // overflowing total leaves (8115); AVG's fraction is cut.
    if ((e.sql == "sum" || e.sql == "avg") && CheckedInteger(e.type)) {
      std::string total = CheckedRange("sum" + operand + filter, e.type);
      if (e.sql == "sum") return total;
      sql = "(CASE WHEN " + total + " IS NULL THEN NULL ELSE " + sql + " END)";
    }
    if (e.sql == "avg" && ClassOf(e.type.type) == TypeClass::kInteger)
      sql = "CAST(" + sql + " AS INTEGER)";
    return sql;
  }

  // An aggregate over a value that may be NULL notes the NULLs it skips
  // (warning 8153), counted by the aggregate sqlengine_null_count.
  std::string NullsNoted(std::string aggregate, const BoundExpr& e, const std::string& filter) {
    const BoundExpr& value = *e.args[0];
    if (!value.type.nullable) return aggregate;
    return "sqlengine_nulls_noted(" + aggregate + ", sqlengine_null_count(" + Expr(value) + ")" +
           filter + ")";
  }

  // SUM and AVG of decimal, numeric and money values add them exactly
  // (exec/exact_aggregates.h) where SQLite's own would add doubles. SQLite
  // takes DISTINCT with one argument only: those keep SQLite's.
  static bool ExactlyAdded(const BoundExpr& e) {
    return (e.sql == "sum" || e.sql == "avg") && !e.distinct &&
           ClassOf(e.args[0]->type.type) == TypeClass::kExactDecimal;
  }

  std::string ExactAggregate(const BoundExpr& e, const std::string& filter) {
    const ColumnType& of = e.args[0]->type;
    if (stored_form_) {
      return generate::ExactAggregate(e.sql, (e.distinct ? "DISTINCT " : "") + Expr(*e.args[0]), of,
                                      e.type, filter);
    }
    int scale = of.type == SqlType::kDecimal ? of.scale : 4;
    return "sqlengine_decimal_" + e.sql + "(" + Expr(*e.args[0]) + ", " + std::to_string(scale) +
           ", " + QuoteSqliteString(TypeDeclaration(e.type)) + ")" + filter;
  }

  // ALL: false when some row compares false, else unknown when some row
  // compares unknown, else true (also for no rows). ANY: true when some row
  // compares true, else unknown when some compares unknown, else false.
  std::string Quantified(const BoundExpr& e) {
    std::string rows = "SELECT 1 FROM (" + Query(*e.query) + ") AS \"sqlengine_quantified\" WHERE ";
    std::string comparison = Expr(*e.args[0]);
    bool all = e.op == "all";
    return "(CASE WHEN EXISTS (" + rows + (all ? "NOT " : "") + comparison + ") THEN " +
           (all ? "0" : "1") + " WHEN EXISTS (" + rows + comparison + " IS NULL) THEN NULL ELSE " +
           (all ? "1" : "0") + " END)";
  }

  std::string Arithmetic(const BoundExpr& e) {
    std::string left = Expr(*e.args[0]);
    std::string right = Expr(*e.args[1]);
    const std::string& op = e.op;
    if (CheckedInteger(e.type) && (op == "+" || op == "-" || op == "*" || op == "/" || op == "%"))
      return CheckedArithmetic(op, left, right, e.type);
    if (op == "/" || op == "%") {
      // SQLite divides two integer values as integers, whatever their declared type.
      if (ClassOf(e.type.type) != TypeClass::kInteger) left = "CAST(" + left + " AS REAL)";
      std::string quotient = left + " " + op + " " + std::string(kDivisorFunction) + "(" + right + ")";
      if (e.type.type == SqlType::kReal) return "sqlengine_real(" + quotient + ")";
      if (e.type.type == SqlType::kFloat) return "sqlengine_float(" + quotient + ")";
      return "(" + quotient + ")";
    }
    if (op == "^") return "((" + left + " | " + right + ") - (" + left + " & " + right + "))";
    // A real result is held in single precision, as each step of SQL
    // Server's real arithmetic is.
    if (e.type.type == SqlType::kReal) return "sqlengine_real(" + left + " " + op + " " + right + ")";
    if (e.type.type == SqlType::kFloat)
      return "sqlengine_float(" + left + " " + op + " " + right + ")";
    return "(" + left + " " + op + " " + right + ")";
  }

  // CAST / CONVERT to binary(n) or varbinary(n): an integer as its type's
  // bytes, binary data padded with zeros or cut on the right, character
  // data as its bytes.
  // A number's text held to a character type's length: 8115 naming the
  // type when it is longer (sqlengine_fitted_text).
  static std::string FittedText(const std::string& text, const ColumnType& to) {
    if (to.length == kMaxLength) return text;
    return "sqlengine_fitted_text(" + text + ", " + std::to_string(to.length) + ", " +
           QuoteSqliteString(std::string(TypeName(to.type))) + ")";
  }

  std::string ToBinary(const BoundExpr& e) {
    const BoundExpr& value = *e.args[0];
    const ColumnType& to = e.type;
    // A char(n) or binary(n) value's bytes are its padded ones.
    std::string sql = value.type.type == SqlType::kBinary ? PaddedBinary(value) : Padded(value);
    if (ClassOf(value.type.type) == TypeClass::kInteger) {
      return "sqlengine_integer_bytes(" + sql + ", " +
             std::to_string(values::IntegerWidth(value.type.type)) + ", " +
             std::to_string(to.length) + ", " + (to.type == SqlType::kBinary ? "1" : "0") + ")";
    }
    const TypeClass source = ClassOf(value.type.type);
    const std::string fitting =
        std::to_string(to.length) + ", " + (to.type == SqlType::kBinary ? "1" : "0") + ")";
    if (value.type.type == SqlType::kUniqueIdentifier)
      return "sqlengine_guid_bytes(" + sql + ", " + fitting;
    if (source == TypeClass::kCharacter)
      return "sqlengine_text_bytes(" + sql + ", " + (bind::IsNational(value.type.type) ? "1" : "0") +
             ", " + fitting;
    if (source == TypeClass::kExactDecimal || source == TypeClass::kApproximate ||
        source == TypeClass::kDateTime) {
      return "sqlengine_value_bytes(" + Expr(value) + ", " +
             QuoteSqliteString(TypeDeclaration(value.type)) + ", " + fitting;
    }
    return "sqlengine_binary(" + sql + ", " + QuoteSqliteString(TypeDeclaration(to)) + ")";
  }

  std::string Convert(const BoundExpr& e) {
    const BoundExpr& value = *e.args[0];
    std::string sql = ClassOf(e.type.type) == TypeClass::kCharacter ? Padded(value) : Expr(value);
    if (value.null_literal) return "NULL";
    const ColumnType& to = e.type;
    const ColumnType& from = value.type;
    TypeClass source = ClassOf(from.type), target = ClassOf(to.type);
    std::string declaration = QuoteSqliteString(TypeDeclaration(to));
    if (from.type == SqlType::kSqlVariant)
      return "sqlengine_variant_value(" + sql + ", " + declaration + ")";
    if (to.type == SqlType::kSqlVariant)
      return "sqlengine_variant(" + sql + ", " + QuoteSqliteString(TypeDeclaration(from)) + ")";
    // A datetime read as a number is its days since 1900-01-01 (to the
    // nearest day for an integer), and a number read as a datetime the
    // reverse.
    const bool numeric_target = target == TypeClass::kInteger ||
                                target == TypeClass::kExactDecimal ||
                                target == TypeClass::kApproximate;
    if (source == TypeClass::kDateTime && numeric_target && to.type != SqlType::kBit) {
      sql = "sqlengine_datetime_days(" + sql + ")";
      if (target == TypeClass::kInteger)
        return CheckedRange("CAST(round(" + sql + ") AS INTEGER)", to);
      source = TypeClass::kApproximate;
    }
    const bool numeric_source = source == TypeClass::kInteger ||
                                source == TypeClass::kExactDecimal ||
                                source == TypeClass::kApproximate;
    if (to.type == SqlType::kBit) {
      // Character data by T-SQL's rules ('1', '0', else 245), binary data
      // by its bytes.
      if (source == TypeClass::kCharacter || IsBinaryData(from.type))
        return "sqlengine_number(" + sql + ", " + declaration + ")";
      return "(CAST(" + sql + " AS REAL) <> 0)";
    }
    if (to.type == SqlType::kBinary || to.type == SqlType::kVarBinary) return ToBinary(e);
    if (IsBinaryData(from.type) && target == TypeClass::kDateTime)
      return "sqlengine_bytes_datetime(" + sql + ", " + declaration + ")";
    if (IsBinaryData(from.type) && to.type == SqlType::kUniqueIdentifier)
      return "sqlengine_bytes_guid(" + sql + ")";
    if (IsBinaryData(from.type) && target == TypeClass::kExactDecimal)
      return "sqlengine_decimal(" + sql + ", " + declaration + ")";
    if (IsBinaryData(from.type) && target == TypeClass::kCharacter) {
      return "sqlengine_bytes_text(" + sql + ", " + (bind::IsNational(to.type) ? "1" : "0") +
             ", " + (to.length == kMaxLength ? std::string("-1") : std::to_string(to.length)) + ")";
    }
    switch (target) {
      case TypeClass::kInteger:
        // Character data by T-SQL's rules, binary data by its bytes.
        if (source == TypeClass::kCharacter || from.type == SqlType::kBinary ||
            from.type == SqlType::kVarBinary)
          return "CAST(sqlengine_number(" + sql + ", " + declaration + ") AS INTEGER)";
        if (source == TypeClass::kInteger) return CheckedNarrowing(sql, from, to);
        if (source == TypeClass::kApproximate) return CheckedFromFloat(sql, to);
        return "CAST(" + sql + " AS INTEGER)";
      case TypeClass::kExactDecimal:
        if (source == TypeClass::kCharacter)
          return "sqlengine_number(" + sql + ", " + declaration + ")";
        return "round(" + sql + ", " + std::to_string(to.type == SqlType::kDecimal ? to.scale : 4) +
               ")";
      case TypeClass::kApproximate:
        if (source == TypeClass::kCharacter)
          return "sqlengine_number(" + sql + ", " + declaration + ")";
        return "CAST(" + sql + " AS REAL)";
      case TypeClass::kDateTime: {
        const bool small = to.type == SqlType::kSmallDateTime;
        std::string value = sql;
        if (e.args.size() > 1) {
          value = "sqlengine_datetime_styled(" + sql + ", " + Expr(*e.args[1]) + ")";
        } else if (numeric_source) {
          value = "sqlengine_days_datetime(" + sql + ")";
        } else if (source != TypeClass::kDateTime && !small) {
          value = "sqlengine_datetime(" + sql + ")";
        }
        // A smalldatetime is rounded to the minute and has its own range
        // (296 for text, 298 for a datetime value).
        if (!small) return value;
        return "sqlengine_smalldatetime(" + value +
               (source == TypeClass::kDateTime ? ", 1)" : ")");
      }
      case TypeClass::kCharacter:
        if (source == TypeClass::kDateTime)
          return "sqlengine_date_style(" + sql + ", " +
                 (e.args.size() > 1 ? Expr(*e.args[1]) : std::string("0")) + ")";
        if (source == TypeClass::kInteger) {
          // Digits that do not fit a char or varchar show as '*', an nchar
          // or nvarchar refuses them.
          if (to.length == kMaxLength || to.length >= bind::IntegerTextWidth(from.type))
            return "CAST(" + sql + " AS TEXT)";
          if (bind::IsNational(to.type)) return FittedText("CAST(" + sql + " AS TEXT)", to);
          return "(CASE WHEN length(CAST(" + sql + " AS TEXT)) > " + std::to_string(to.length) +
                 " THEN '*' ELSE CAST(" + sql + " AS TEXT) END)";
        }
        if (source == TypeClass::kExactDecimal || source == TypeClass::kApproximate) {
          std::string kind = from.type == SqlType::kMoney || from.type == SqlType::kSmallMoney
                                 ? "'money'"
                             : from.type == SqlType::kDecimal ? "'decimal'"
                                                              : "'float'";
          std::string text = "sqlengine_number_style(" + sql + ", " + kind + ", " +
                             std::to_string(from.scale) + ", " +
                             (e.args.size() > 1 ? Expr(*e.args[1]) : std::string("0")) + ")";
          return source == TypeClass::kApproximate ? FittedText(text, to) : text;
        }
        if (from.type == SqlType::kUniqueIdentifier)
          return to.length == kMaxLength || to.length >= 36
                     ? sql
                     : "sqlengine_guid_text(" + sql + ", " + std::to_string(to.length) + ")";
        if (to.length != kMaxLength && (from.length == kMaxLength || from.length > to.length))
          return "substr(" + sql + ", 1, " + std::to_string(to.length) + ")";
        return sql;
      default:
        return sql;
    }
  }
};

// The text of a statement after its WITH list: its errors report the
// statement's line.
SqliteText ChangeText(std::string with, std::string sql, int line, ExactForm form) {
  SqliteText text;
  text.statement_offset = with.size();
  text.sql = std::move(with) + std::move(sql);
  text.lines.emplace_back(0, line);
  text.exact_stored_form = form == ExactForm::kStored;
  return text;
}

Generator GeneratorFor(ExactForm form, Literals literals = Literals::kWritten) {
  Generator generator;
  if (form == ExactForm::kStored) generator.StoredForm();
  if (literals == Literals::kParameters) generator.ParameterizeLiterals();
  return generator;
}

}  // namespace

// A change's text with, for a change through a view WITH CHECK OPTION, the
// condition every written row of `table_sql` must meet.
SqliteText Guarded(SqliteText text, Generator& generator,
                   const std::unique_ptr<bind::BoundExpr>& check, const std::string& table_sql) {
  if (check) text.row_guard = SqliteText::RowGuard{table_sql, generator.Condition(*check)};
  return text;
}

SqliteText GenerateInsert(const bind::BoundInsert& insert, int line, ExactForm form,
                          Literals literals) {
  Generator generator = GeneratorFor(form, literals);
  SqliteText text =
      Guarded(ChangeText(generator.With(insert.with), generator.Insert(insert), line, form),
              generator, insert.check, insert.table_sql);
  text.changed_table = insert.table_sql;
  generator.TakeLiterals(text);
  return text;
}

SqliteText GenerateUpdate(const bind::BoundChange& update, int line, ExactForm form,
                          Literals literals) {
  Generator generator = GeneratorFor(form, literals);
  std::string with = generator.With(update.with);
  if (Generator::AssignsVariables(update)) with = generator.VariableUpdateWith(update, with);
  SqliteText text = Guarded(ChangeText(std::move(with), generator.Update(update), line, form),
                            generator, update.check, update.table_sql);
  text.changed_table = update.table_sql;
  for (const bind::BoundAssignment& item : update.assignments) {
    if (!item.column.empty() && !item.variable.empty())
      text.row_values.push_back({ToLower(bind::ColumnSlot(item.column)), item.type});
    if (!item.variable.empty()) text.row_values.push_back({item.variable, std::nullopt});
  }
  generator.TakeLiterals(text);
  return text;
}

SqliteText GenerateUpdateRows(const bind::BoundChange& update, int line, ExactForm form) {
  Generator generator = GeneratorFor(form);
  std::string with = generator.With(update.with);
  std::string rows;
  if (Generator::AssignsVariables(update)) {
    with = generator.VariableUpdateWith(update, with);
    rows = generator.VariableUpdateRows(update);
  } else {
    rows = generator.UpdateRows(update);
  }
  SqliteText text = ChangeText(std::move(with), std::move(rows), line, form);
  generator.TakeLiterals(text);
  return text;
}

SqliteText GenerateDelete(const bind::BoundChange& change, int line, ExactForm form,
                          Literals literals) {
  Generator generator = GeneratorFor(form, literals);
  SqliteText text = ChangeText(generator.With(change.with), generator.Delete(change), line, form);
  text.changed_table = change.table_sql;
  generator.TakeLiterals(text);
  return text;
}

std::optional<SqliteText> GenerateViewQuery(const bind::BoundQuery& query, int line,
                                            ExactForm form, bool* reads_temp) {
  Generator generator = GeneratorFor(form);
  generator.SchemaFree();
  std::string with = generator.With(query.with);
  SqliteText text = ChangeText(std::move(with), generator.Query(query), line, form);
  if (reads_temp != nullptr) *reads_temp = generator.reads_temp();
  if (generator.outside_main()) return std::nullopt;
  return text;
}

std::string GenerateTableExpression(const bind::BoundExpr& expr, ExactForm form) {
  return GeneratorFor(form).TableValue(expr);
}

SqliteText GenerateCondition(const bind::BoundExpr& condition, int line, ExactForm form) {
  return ChangeText("", GeneratorFor(form).Condition(condition), line, form);
}

SqliteText GenerateSelect(const bind::BoundQuery& query, int line, ExactForm form,
                          Literals literals) {
  Generator generator = GeneratorFor(form, literals);
  std::string with = generator.With(query.with);
  std::string sql;
  if (!query.order_by.empty() && query.terms.size() == 1 &&
      std::any_of(query.terms.front().items.begin(), query.terms.front().items.end(),
                  [](const auto& item) { return Generator::ReadsVariable(*item); })) {
    auto ordered = generator.OrderedAssignment(query);
    if (!ordered) throw bind::NotBound("a variable read by the ordered SELECT that assigns it");
    with = (with.empty() ? std::string("WITH ") : with.substr(0, with.size() - 1) + ", ") +
           ordered->first + " ";
    sql = std::move(ordered->second);
  } else {
    generator.HashGrouping();
    sql = generator.Query(query);
  }
  SqliteText text = ChangeText(std::move(with), std::move(sql), line, form);
  text.typed_result = true;
  text.result_columns = query.columns;
  generator.TakeLiterals(text);
  return text;
}

}  // namespace sqlengine::tsql::generate
