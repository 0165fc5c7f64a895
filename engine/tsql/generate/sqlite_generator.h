#pragma once
// Writes SQLite SQL for a bound query or data change. T-SQL semantics SQLite lacks go
// through the engine's registered functions: sqlengine_divisor (8134 on a
// zero divisor), sqlengine_number / sqlengine_datetime (conversions with
// SQL Server's errors), sqlengine_like_as (T-SQL patterns), and the
// sqlengine_ci and sqlengine_cs collations (case-insensitive or by the
// bytes, trailing spaces ignored either way).

#include <optional>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::tsql::generate {

inline constexpr std::string_view kTextCollation = "sqlengine_ci";
inline constexpr std::string_view kCaseSensitiveCollation = "sqlengine_cs";
// Unicode data under the case-insensitive collation ('ß' compares as "ss").
inline constexpr std::string_view kNationalTextCollation = "sqlengine_ci_n";
// uniqueidentifiers in SQL Server's order (exec/guid_order.h).
inline constexpr std::string_view kGuidCollation = "sqlengine_guid";
inline constexpr std::string_view kLikeFunction = "sqlengine_like_as";
inline constexpr std::string_view kPadFunction = "sqlengine_pad";
inline constexpr std::string_view kBinaryKeyFunction = "sqlengine_binary_key";

// How generated SQL holds decimal, numeric, money and smallmoney values:
// as SQLite numbers (files of the older formats), or in their exact stored
// form (values/exact_storage.h, tsql/generate/exact_expressions.h), the
// texts then marked exact_stored_form.
enum class ExactForm { kNumbers, kStored };

// Whether the literals of a statement's WHERE clauses, INSERT rows and
// UPDATE values may be written as parameters (SqliteText::literals), for a
// text run by the executor, which binds them. Never for SQL stored in the
// schema (views, triggers, defaults), which SQLite allows no parameters.
enum class Literals { kWritten, kParameters };

// The SQL for `query`, its result columns typed (typed_result set); `line`
// is the batch line errors of the statement report.
SqliteText GenerateSelect(const bind::BoundQuery& query, int line,
                          ExactForm form = ExactForm::kNumbers,
                          Literals literals = Literals::kWritten);

// The SQL for INSERT, UPDATE and DELETE. The written table comes right
// after INSERT INTO / UPDATE / DELETE FROM, where the executor's error
// translation and identity lookup read it.
SqliteText GenerateInsert(const bind::BoundInsert& insert, int line,
                          ExactForm form = ExactForm::kNumbers,
                          Literals literals = Literals::kWritten);
SqliteText GenerateUpdate(const bind::BoundChange& update, int line,
                          ExactForm form = ExactForm::kNumbers,
                          Literals literals = Literals::kWritten);
SqliteText GenerateDelete(const bind::BoundChange& change, int line,
                          ExactForm form = ExactForm::kNumbers,
                          Literals literals = Literals::kWritten);

// The query of a view stored in the current database: its tables named
// without their schema, as SQLite requires of a view that may be read from
// another database (attached under another name). nullopt when the query
// reads a table outside the current database (#temp, another database);
// `reads_temp`, when given, is set to whether it reads a #temp table.
std::optional<SqliteText> GenerateViewQuery(const bind::BoundQuery& query, int line,
                                            ExactForm form = ExactForm::kNumbers,
                                            bool* reads_temp = nullptr);

// A control-flow condition as a query of one row and column: 1 when the
// condition holds, else 0 (false and unknown alike).
SqliteText GenerateCondition(const bind::BoundExpr& condition, int line,
                             ExactForm form = ExactForm::kNumbers);

// An expression bound over one table's bare columns, as the table's
// definition stores it (a CHECK, a DEFAULT, a computed column). In the stored
// form it reads the table's exact columns as they are kept and yields a value
// in its own type's stored form.
std::string GenerateTableExpression(const bind::BoundExpr& expr,
                                    ExactForm form = ExactForm::kNumbers);

}  // namespace sqlengine::tsql::generate
