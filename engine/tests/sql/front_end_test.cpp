// The front end's stages on their own: the parser's tree shapes and error
// positions, the binder's SQL Server types, and T-SQL LIKE patterns.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>

#include "engine/common/error.h"
#include "engine/exec/guid_order.h"
#include "engine/exec/text_comparison.h"
#include "engine/tests/sql/odbc_client.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/function_definition.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/type_name.h"
#include "testing/test_engine.h"

namespace sqlengine::tsql {
namespace {

using parse::Expr;
using parse::ExprKind;

Tokens WithoutEnd(std::string_view text) {
  Tokens tokens = Lex(text);
  tokens.pop_back();
  return tokens;
}

// A tree in prefix form: (op left right), names joined by '.'.
std::string Shape(const Expr& e) {
  auto children = [&](std::string head) {
    for (const auto& arg : e.args) head += " " + Shape(*arg);
    return "(" + head + ")";
  };
  switch (e.kind) {
    case ExprKind::kLiteral:
      return e.literal == parse::LiteralKind::kNull ? "NULL" : e.value;
    case ExprKind::kColumn: {
      std::string name;
      for (const std::string& part : e.names) name += (name.empty() ? "" : ".") + part;
      return name;
    }
    case ExprKind::kVariable:
    case ExprKind::kSystemVariable:
      return e.value;
    case ExprKind::kUnary:
    case ExprKind::kBinary:
    case ExprKind::kComparison:
      return children(e.op);
    case ExprKind::kAnd:
      return children("AND");
    case ExprKind::kOr:
      return children("OR");
    case ExprKind::kNot:
      return children("NOT");
    case ExprKind::kBetween:
      return children(e.negated ? "NOT-BETWEEN" : "BETWEEN");
    case ExprKind::kInList:
      return children(e.negated ? "NOT-IN" : "IN");
    case ExprKind::kLike:
      return children(e.negated ? "NOT-LIKE" : "LIKE");
    case ExprKind::kIsNull:
      return children(e.negated ? "IS-NOT-NULL" : "IS-NULL");
    case ExprKind::kCase:
      return children(e.has_operand ? "CASE-OF" : "CASE");
    case ExprKind::kCast:
      return children("CAST:" + e.type->name);
    case ExprKind::kCall:
      return children(e.names[0] + (e.count_star ? "*" : "") + (e.distinct ? "-DISTINCT" : ""));
    case ExprKind::kInQuery:
      return children("IN-QUERY");
    case ExprKind::kExists:
      return "(EXISTS)";
    case ExprKind::kSubquery:
      return "(SUBQUERY)";
    case ExprKind::kQuantified:
      return children(e.op + "-" + e.value);
    case ExprKind::kCollate:
      return children("COLLATE:" + e.value);
  }
  return "?";
}

std::string ShapeOf(std::string_view expression) {
  return Shape(*parse::ParseExpression(WithoutEnd(expression)));
}

TEST(QueryParser, OperatorPrecedenceAndAssociativity) {
  EXPECT_EQ(ShapeOf("1 + 2 * 3 - 4"), "(- (+ 1 (* 2 3)) 4)");
  EXPECT_EQ(ShapeOf("a - b - c"), "(- (- a b) c)");
  EXPECT_EQ(ShapeOf("a / b % c * d"), "(* (% (/ a b) c) d)");
  EXPECT_EQ(ShapeOf("a + b & c | d ^ e"), "(^ (| (& (+ a b) c) d) e)");
  EXPECT_EQ(ShapeOf("-a * ~b"), "(* (- a) (~ b))");
  EXPECT_EQ(ShapeOf("(1 + 2) * 3"), "(* (+ 1 2) 3)");
  EXPECT_EQ(ShapeOf("a = 1 OR b = 2 AND NOT c != 3"), "(OR (= a 1) (AND (= b 2) (NOT (<> c 3))))");
  EXPECT_EQ(ShapeOf("a !< 1 AND b !> 2"), "(AND (>= a 1) (<= b 2))");
  EXPECT_EQ(ShapeOf("x + 1 NOT BETWEEN 1 AND 2 + 3 AND y = 1"),
            "(AND (NOT-BETWEEN (+ x 1) 1 (+ 2 3)) (= y 1))");
  EXPECT_EQ(ShapeOf("x NOT IN (1, 2) OR x LIKE 'a%' ESCAPE '!' OR x IS NOT NULL"),
            "(OR (OR (NOT-IN x 1 2) (LIKE x a% !)) (IS-NOT-NULL x))");
}

TEST(QueryParser, PrimaryForms) {
  EXPECT_EQ(ShapeOf("CASE x WHEN 1 THEN 'a' ELSE NULL END"), "(CASE-OF x 1 a NULL)");
  EXPECT_EQ(ShapeOf("CASE WHEN x > 1 THEN 2 END"), "(CASE (> x 1) 2)");
  EXPECT_EQ(ShapeOf("CAST(x AS varchar(10)) + CONVERT(char, y, 112)"),
            "(+ (CAST:varchar x) (CAST:char y 112))");
  EXPECT_EQ(ShapeOf("COUNT(*) + COUNT(DISTINCT x) + left(s, 2)"),
            "(+ (+ (count*) (count-DISTINCT x)) (left s 2))");
  EXPECT_EQ(ShapeOf("@v + @@ROWCOUNT"), "(+ @v rowcount)");
  EXPECT_EQ(ShapeOf("srv.db.dbo.t + db..t.c + [quoted name]"),
            "(+ (+ srv.db.dbo.t db..t.c) quoted name)");
  EXPECT_EQ(ShapeOf("1.5e3 + .5 + N'x'"), "(+ (+ 1.5e3 .5) x)");
  EXPECT_EQ(ShapeOf("x IN (SELECT a FROM t) AND EXISTS (SELECT 1)"), "(AND (IN-QUERY x) (EXISTS))");
  auto literal = parse::ParseExpression(WithoutEnd("2.50"));
  EXPECT_EQ(literal->literal, parse::LiteralKind::kDecimal);
}

TEST(QueryParser, SelectClauses) {
  auto query = parse::ParseSelect(WithoutEnd(
      "SELECT DISTINCT TOP (5) Total = SUM(x), 'Label' = 1, y AS a, z b, t.*, * "
      "FROM db.dbo.t1 AS t INNER JOIN t2 ON t.k = t2.k LEFT OUTER JOIN (SELECT 1 AS k) d ON 1 = 1, "
      "t3 WHERE x > 1 GROUP BY y, z HAVING COUNT(*) > 1 "
      "UNION ALL SELECT 1, 2, 3, 4, 5 ORDER BY 1 DESC, a"));
  ASSERT_EQ(query->terms.size(), 2u);
  EXPECT_TRUE(query->union_all[0]);
  const parse::SelectBlock& first = *query->terms[0];
  EXPECT_TRUE(first.distinct);
  ASSERT_TRUE(first.top);
  std::vector<std::string> aliases;
  for (const auto& item : first.items) aliases.push_back(item.star ? "*" : item.alias);
  EXPECT_EQ(aliases, (std::vector<std::string>{"Total", "Label", "a", "b", "*", "*"}));
  EXPECT_EQ(first.items[4].star_qualifier, std::vector<std::string>{"t"});
  ASSERT_EQ(first.from.size(), 2u);
  const parse::TableSource& join = *first.from[0];
  EXPECT_EQ(join.join, parse::JoinKind::kLeft);
  EXPECT_EQ(join.right->kind, parse::TableSource::Kind::kDerived);
  EXPECT_EQ(join.left->left->name, (std::vector<std::string>{"db", "dbo", "t1"}));
  EXPECT_EQ(join.left->left->alias, "t");
  EXPECT_EQ(first.group_by.size(), 2u);
  EXPECT_TRUE(first.having);
  ASSERT_EQ(query->order_by.size(), 2u);
  EXPECT_TRUE(query->order_by[0].descending);
}

// INTO names a table only in a statement's first SELECT; nested or after
// UNION it is left to the older path, which reports SQL Server's error.
TEST(QueryParser, IntoBelongsToTheFirstSelectOnly) {
  auto query = parse::ParseSelect(
      WithoutEnd("SELECT a, (SELECT MAX(b) FROM u) AS m INTO db..copy FROM t UNION SELECT 1, 2"));
  EXPECT_EQ(query->terms[0]->into, (std::vector<std::string>{"db", "", "copy"}));
  EXPECT_TRUE(query->terms[1]->into.empty());
  EXPECT_EQ(parse::ParseSelect(WithoutEnd("SELECT * INTO #t FROM t"))->terms[0]->into,
            std::vector<std::string>{"#t"});
  for (std::string_view handed_on :
       {"SELECT 1 UNION SELECT 2 INTO t", "SELECT (SELECT 1 INTO t) AS x",
        "SELECT x FROM (SELECT 1 AS x INTO t) d"}) {
    EXPECT_THROW(parse::ParseSelect(WithoutEnd(handed_on)), parse::NotParsed) << handed_on;
  }
}

// The number and text of the error a statement gives.
std::pair<int, std::string> ErrorOf(std::string_view statement) {
  try {
    parse::ParseSelect(WithoutEnd(statement));
  } catch (const SqlError& error) {
    return {error.message().number, error.message().text};
  } catch (const parse::NotParsed&) {
    return {-1, "not parsed"};
  }
  return {0, ""};
}

TEST(QueryParser, SyntaxErrorsNameTheTokenAndItsLine) {
  EXPECT_EQ(ErrorOf("SELECT FROM t"),
            std::make_pair(156, std::string("Incorrect syntax near the keyword 'FROM'.")));
  EXPECT_EQ(ErrorOf("SELECT a,\n b\nFROM t\nWHERE a = = 1"),
            std::make_pair(170, std::string("Line 4: Incorrect syntax near '='.")));
  EXPECT_EQ(ErrorOf("SELECT a FROM t WHERE"),
            std::make_pair(156, std::string("Incorrect syntax near the keyword 'WHERE'.")));
  EXPECT_EQ(ErrorOf("SELECT (1 + 2 FROM t"),
            std::make_pair(156, std::string("Incorrect syntax near the keyword 'FROM'.")));
  EXPECT_EQ(ErrorOf("SELECT a FROM t ORDER x").first, 170);
  EXPECT_EQ(ErrorOf("SELECT CAST(1 varchar)"),
            std::make_pair(170, std::string("Line 1: Incorrect syntax near 'varchar'.")));
  EXPECT_EQ(ErrorOf("SELECT a FROM (SELECT 1 AS a)").first, 170);
  // Valid T-SQL the tree does not cover is handed on, not refused.
  EXPECT_EQ(ErrorOf("SELECT a FROM t UNION SELECT b INTO #t FROM u").first, -1);
  EXPECT_EQ(ErrorOf("SELECT a FROM t FOR BROWSE").first, -1);
  EXPECT_EQ(ErrorOf("SELECT a FROM t FOR XML AUTO, ELEMENTS").first, 0);
  EXPECT_EQ(ErrorOf("SELECT a FROM t FOR XML NESTED").first, 170);
  EXPECT_EQ(ErrorOf("SELECT a FROM t COMPUTE SUM(a)").first, -1);
}

TEST(QueryParser, GroupingFormsOldJoinsAndUserFunctions) {
  auto query = parse::ParseSelect(
      WithoutEnd("SELECT a, dbo.f(a, DEFAULT) FROM t, db.dbo.tvf(1, 'x') AS v, tvf() "
                 "WHERE t.k *= v.k AND v.j =* t.j GROUP BY ALL a, b WITH CUBE"));
  const parse::SelectBlock& block = *query->terms.front();
  EXPECT_TRUE(block.group_all);
  EXPECT_EQ(block.grouping, parse::SelectBlock::Grouping::kCube);
  EXPECT_EQ(Shape(*block.where), "(AND (*= t.k v.k) (=* v.j t.j))");
  const Expr& call = *block.items[1].expr;
  EXPECT_EQ(call.kind, ExprKind::kCall);
  EXPECT_EQ(call.names, (std::vector<std::string>{"dbo", "f"}));
  ASSERT_EQ(call.args.size(), 2u);
  EXPECT_EQ(call.args[1], nullptr);  // DEFAULT
  ASSERT_EQ(block.from.size(), 3u);
  EXPECT_EQ(block.from[1]->kind, parse::TableSource::Kind::kFunction);
  EXPECT_EQ(block.from[1]->name, (std::vector<std::string>{"db", "dbo", "tvf"}));
  EXPECT_EQ(block.from[1]->arguments.size(), 2u);
  EXPECT_EQ(block.from[1]->alias, "v");
  EXPECT_TRUE(block.from[2]->arguments.empty());
  EXPECT_EQ(block.from[2]->kind, parse::TableSource::Kind::kFunction);
  auto rollup = parse::ParseSelect(WithoutEnd("SELECT a FROM t GROUP BY a WITH ROLLUP"));
  EXPECT_EQ(rollup->terms.front()->grouping, parse::SelectBlock::Grouping::kRollup);
  // A table hint in parentheses is still a hint, not a call.
  auto hinted = parse::ParseSelect(WithoutEnd("SELECT a FROM t (NOLOCK)"));
  EXPECT_EQ(hinted->terms.front()->from.front()->kind, parse::TableSource::Kind::kTable);
  EXPECT_EQ(ErrorOf("SELECT a.b.c.d.e(1)").first, 170);
}

TEST(FunctionDefinitions, KindsParametersAndBodies) {
  FunctionDefinition scalar = ParseFunctionDefinition(
      Lex("CREATE FUNCTION dbo.f (@a int, @b varchar(5) = 'x') RETURNS decimal(6,2)\n"
          "WITH SCHEMABINDING AS BEGIN RETURN @a + 1 END"));
  EXPECT_EQ(scalar.name, "f");
  EXPECT_EQ(scalar.kind, FunctionKind::kScalar);
  ASSERT_EQ(scalar.parameters.size(), 2u);
  EXPECT_EQ(scalar.parameters[1].type.length, 5);
  EXPECT_FALSE(scalar.parameters[1].default_value.empty());
  EXPECT_EQ(scalar.returns.type, SqlType::kDecimal);
  EXPECT_EQ(scalar.returns.scale, 2);
  std::optional<Tokens> returned = SingleReturnExpression(scalar);
  ASSERT_TRUE(returned);
  EXPECT_EQ(Shape(*parse::ParseExpression(*returned)), "(+ @a 1)");

  FunctionDefinition statements = ParseFunctionDefinition(
      Lex("ALTER FUNCTION g () RETURNS int AS BEGIN DECLARE @x int SET @x = 1 RETURN @x END"));
  EXPECT_TRUE(statements.parameters.empty());
  EXPECT_FALSE(SingleReturnExpression(statements));

  FunctionDefinition inline_table = ParseFunctionDefinition(Lex(
      "CREATE FUNCTION db.dbo.t (@k int) RETURNS TABLE AS RETURN (SELECT a FROM u WHERE k = @k)"));
  EXPECT_EQ(inline_table.kind, FunctionKind::kInlineTable);
  EXPECT_EQ(inline_table.database, "db");
  EXPECT_EQ(FunctionObjectType(inline_table.kind), std::string("IF"));
  EXPECT_EQ(parse::ParseSelect(inline_table.body)->terms.size(), 1u);

  FunctionDefinition table = ParseFunctionDefinition(
      Lex("CREATE FUNCTION m () RETURNS @r TABLE (a int, b varchar(3)) AS BEGIN "
          "INSERT @r VALUES (1, 'x') RETURN END"));
  EXPECT_EQ(table.kind, FunctionKind::kMultiStatementTable);
  EXPECT_EQ(table.table_variable, "@r");
  EXPECT_EQ(table.table_columns.size(), 9u);  // a int , b varchar ( 3 ) and the end
  EXPECT_EQ(FunctionObjectType(table.kind), std::string("TF"));

  auto number = [](std::string_view text) {
    try {
      ParseFunctionDefinition(Lex(text));
    } catch (const SqlError& error) {
      return error.message().number;
    }
    return 0;
  };
  EXPECT_EQ(number("CREATE FUNCTION f RETURNS int AS BEGIN RETURN 1 END"), 170);
  EXPECT_EQ(number("CREATE FUNCTION f () AS BEGIN RETURN 1 END"), 156);
  EXPECT_EQ(number("CREATE FUNCTION f () RETURNS nosuch AS BEGIN RETURN 1 END"), 2715);
  EXPECT_EQ(number("CREATE FUNCTION f () RETURNS TABLE AS RETURN 1"), 170);
}

TEST(QueryParser, TableHintsAreReadAndRefusedWhereSqlServerRefusesThem) {
  EXPECT_EQ(ErrorOf("SELECT a FROM t WITH (NOLOCK) JOIN u (UPDLOCK, INDEX(1)) ON u.a = t.a").first,
            0);
  EXPECT_EQ(ErrorOf("SELECT a FROM t x WITH (INDEX = ix HOLDLOCK) WHERE a = 1").first, 0);
  EXPECT_EQ(ErrorOf("SELECT a FROM t WITH (NOLOCK, FASTEST)"),
            std::make_pair(321, std::string("FASTEST is not a recognized table hints option.")));
  // A table function, not hints.
  EXPECT_EQ(ErrorOf("SELECT a FROM f(1)").first, 0);
  auto number = [](auto parse, std::string_view statement) {
    try {
      parse(WithoutEnd(statement));
    } catch (const SqlError& error) {
      return error.message().number;
    }
    return 0;
  };
  EXPECT_EQ(number(parse::ParseInsert, "INSERT t WITH (TABLOCK) (a) VALUES (1)"), 0);
  EXPECT_EQ(number(parse::ParseUpdate, "UPDATE t WITH (ROWLOCK) SET a = 1"), 0);
  EXPECT_EQ(number(parse::ParseUpdate, "UPDATE t WITH (NOLOCK) SET a = 1"), 1065);
  EXPECT_EQ(number(parse::ParseDelete, "DELETE t WITH (READUNCOMMITTED) WHERE a = 1"), 1065);
  // After INSERT's table a parenthesis opens the column list.
  EXPECT_EQ(parse::ParseInsert(WithoutEnd("INSERT t (rowlock) VALUES (1)"))->columns,
            std::vector<std::string>{"rowlock"});
}

TEST(QueryParser, DataChangeForms) {
  auto insert = parse::ParseInsert(WithoutEnd("INSERT t (a, [b c]) VALUES (1, 2), (3, 'x' + 'y')"));
  EXPECT_EQ(insert->table, std::vector<std::string>{"t"});
  EXPECT_EQ(insert->columns, (std::vector<std::string>{"a", "b c"}));
  ASSERT_EQ(insert->rows.size(), 2u);
  EXPECT_EQ(Shape(*insert->rows[1][1]), "(+ x y)");
  insert = parse::ParseInsert(WithoutEnd("INSERT INTO db..t SELECT * FROM u UNION SELECT 1"));
  EXPECT_EQ(insert->table, (std::vector<std::string>{"db", "", "t"}));
  ASSERT_TRUE(insert->query);
  EXPECT_EQ(insert->query->terms.size(), 2u);
  insert = parse::ParseInsert(WithoutEnd("INSERT INTO #t (a, b) VALUES (1, DEFAULT)"));
  EXPECT_EQ(insert->table, std::vector<std::string>{"#t"});
  ASSERT_EQ(insert->rows.size(), 1u);
  EXPECT_FALSE(insert->rows[0][1]);  // DEFAULT

  auto update = parse::ParseUpdate(
      WithoutEnd("UPDATE a SET x = 1, a.y = y + 1 FROM t a JOIN u ON u.k = a.k WHERE a.z > 0"));
  EXPECT_EQ(update->target, std::vector<std::string>{"a"});
  ASSERT_EQ(update->assignments.size(), 2u);
  EXPECT_EQ(update->assignments[1].column, (std::vector<std::string>{"a", "y"}));
  EXPECT_EQ(Shape(*update->assignments[1].value), "(+ y 1)");
  ASSERT_EQ(update->from.size(), 1u);
  EXPECT_EQ(update->from[0]->kind, parse::TableSource::Kind::kJoin);
  EXPECT_EQ(Shape(*update->where), "(> a.z 0)");

  update = parse::ParseUpdate(WithoutEnd("UPDATE t SET x = DEFAULT"));
  EXPECT_FALSE(update->assignments[0].value);

  auto removal = parse::ParseDelete(WithoutEnd("DELETE FROM t FROM t JOIN u ON u.k = t.k"));
  EXPECT_EQ(removal->target, std::vector<std::string>{"t"});
  EXPECT_EQ(removal->from.size(), 1u);
  removal = parse::ParseDelete(WithoutEnd("DELETE db.dbo.t WHERE x = 1"));
  EXPECT_EQ(removal->target, (std::vector<std::string>{"db", "dbo", "t"}));
  EXPECT_TRUE(removal->from.empty());
  EXPECT_TRUE(removal->where);
}

// The three SET items: column = value, @v = value, @v = column = value; a
// name after `@v =` is the column only when another `=` follows it.
TEST(QueryParser, UpdateAssignsVariables) {
  auto update = parse::ParseUpdate(WithoutEnd(
      "UPDATE t SET @a = x, @b = t.y = @b + 1, z = @a, @c = x + 1, @d = t.y FROM t WHERE k = 1"));
  ASSERT_EQ(update->assignments.size(), 5u);
  const auto& items = update->assignments;
  EXPECT_EQ(items[0].variable, "@a");
  EXPECT_TRUE(items[0].column.empty());
  EXPECT_EQ(Shape(*items[0].value), "x");
  EXPECT_EQ(items[1].variable, "@b");
  EXPECT_EQ(items[1].column, (std::vector<std::string>{"t", "y"}));
  EXPECT_EQ(Shape(*items[1].value), "(+ @b 1)");
  EXPECT_TRUE(items[2].variable.empty());
  EXPECT_EQ(items[2].column, std::vector<std::string>{"z"});
  EXPECT_EQ(Shape(*items[3].value), "(+ x 1)");
  EXPECT_TRUE(items[4].column.empty());
  EXPECT_EQ(Shape(*items[4].value), "t.y");
  EXPECT_TRUE(update->where);

  auto refused = [](std::string_view statement) {
    try {
      parse::ParseUpdate(WithoutEnd(statement));
    } catch (const SqlError& error) {
      return error.message().number;
    } catch (const parse::NotParsed&) {
      return -1;
    }
    return 0;
  };
  // Syntax errors, not forms handed on.
  EXPECT_GT(refused("UPDATE t SET @v = x = DEFAULT"), 0);
  EXPECT_GT(refused("UPDATE t SET @v = "), 0);
}

TEST(QueryParser, DataChangesItDoesNotCoverAreHandedOn) {
  auto outcome = [](auto parse, std::string_view statement) {
    try {
      parse(WithoutEnd(statement));
    } catch (const SqlError& error) {
      return error.message().number;
    } catch (const parse::NotParsed&) {
      return -1;
    }
    return 0;
  };
  for (std::string_view statement : {"INSERT t EXEC p", "INSERT t SELECT a INTO #x FROM u",
                                     "INSERT TOP (1) t SELECT a FROM u"}) {
    EXPECT_EQ(outcome(parse::ParseInsert, statement), -1) << statement;
  }
  EXPECT_EQ(outcome(parse::ParseInsert, "INSERT INTO t DEFAULT VALUES"), 0);
  EXPECT_TRUE(parse::ParseInsert(WithoutEnd("INSERT t DEFAULT VALUES"))->default_values);
  EXPECT_EQ(outcome(parse::ParseInsert, "INSERT INTO t (a) DEFAULT VALUES"), 156);
  // The caller reports a syntax error where the parser stopped.
  try {
    parse::ParseUpdate(WithoutEnd("UPDATE t SET x = 1\nOUTPUT inserted.x"));
    ADD_FAILURE() << "OUTPUT parsed";
  } catch (const parse::NotParsed& why) {
    ASSERT_TRUE(why.at().has_value());
    EXPECT_EQ(why.at()->text, "OUTPUT");
    EXPECT_EQ(why.at()->line, 2);
  }
  for (std::string_view statement :
       {"UPDATE TOP (1) t SET x = 1", "UPDATE t SET @v += x", "UPDATE t SET x += 1",
        "UPDATE t SET x = 1 OUTPUT inserted.x"}) {
    EXPECT_EQ(outcome(parse::ParseUpdate, statement), -1) << statement;
  }
  EXPECT_EQ(outcome(parse::ParseDelete, "DELETE t OUTPUT deleted.x"), -1);
  EXPECT_EQ(outcome(parse::ParseDelete, "DELETE FROM t WHERE CURRENT OF c"), -1);
  // Malformed statements are syntax errors with the offending token's line.
  EXPECT_EQ(outcome(parse::ParseUpdate, "UPDATE t SET x = 1 WHERE"), 156);
  EXPECT_EQ(outcome(parse::ParseUpdate, "UPDATE t x = 1"), 170);
  EXPECT_EQ(outcome(parse::ParseInsert, "INSERT INTO t VALUES (1,)"), 170);
  EXPECT_EQ(outcome(parse::ParseDelete, "DELETE FROM"), 156);
}

// SQL Server's answer to a statement nested too deeply, before the stack overflows.
TEST(QueryParser, DeepNestingIsRefusedNotOverflowed) {
  std::string deep = "SELECT " + std::string(5000, '(') + "1" + std::string(5000, ')');
  EXPECT_EQ(ErrorOf(deep).first, 191);
}

// The weight of each byte of a uniqueidentifier's text: the last group
// first, the first three groups read from the right.
TEST(GuidOrder, WeighsTheByteGroupsAsSqlServerDoes) {
  std::optional<std::array<unsigned char, 16>> key =
      exec::GuidSortKey("ffeeddcc-BBAA-9988-6677-001122334455");
  ASSERT_TRUE(key.has_value());
  for (int k = 0; k < 16; ++k) EXPECT_EQ((*key)[static_cast<size_t>(k)], k * 0x11) << k;
  EXPECT_EQ(exec::GuidSortKey("{FFEEDDCC-BBAA-9988-6677-001122334455}"), key);
  for (std::string_view not_guid :
       {"", "FFEEDDCC-BBAA-9988-6677-00112233445", "FFEEDDCCXBBAA-9988-6677-001122334455",
        "GFEEDDCC-BBAA-9988-6677-001122334455"})
    EXPECT_FALSE(exec::GuidSortKey(not_guid).has_value()) << not_guid;
  EXPECT_LT(exec::CompareGuids("FFFFFFFF-FFFF-FFFF-FFFF-000000000000",
                               "00000000-0000-0000-0000-000000000001"),
            0);
  EXPECT_EQ(exec::CompareGuids("6F9619FF-8B86-D011-B42D-00C04FC964FF",
                               "6f9619ff-8b86-d011-b42d-00c04fc964ff"),
            0);
  // Text that is no GUID sorts after every GUID, by its letters.
  EXPECT_GT(exec::CompareGuids("abc", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"), 0);
  EXPECT_EQ(exec::CompareGuids("abc", "ABC"), 0);
}

// Tables as declared types, for the binder.
class DeclaredTables final : public bind::Catalog {
 public:
  void Add(const std::string& name, std::vector<std::pair<std::string, std::string>> columns) {
    bind::TableShape shape;
    shape.sql = "\"main\".\"" + name + "\"";
    shape.name = name;
    for (const auto& [column, declared] : columns) {
      shape.columns.push_back(Column{column, *ParseDeclaredType(declared)});
    }
    tables_[ToLower(name)] = shape;
  }
  std::optional<bind::TableShape> FindTable(const std::vector<std::string>& name) override {
    auto it = tables_.find(ToLower(name.back()));
    if (it == tables_.end()) return std::nullopt;
    return it->second;
  }
  bool ObjectExists(const std::vector<std::string>& name) override {
    return FindTable(name).has_value();
  }
  std::optional<ColumnType> VariableType(std::string_view name) override {
    if (name == "@v") return ColumnTypeFromName("varchar", {});
    return std::nullopt;
  }

 private:
  std::map<std::string, bind::TableShape> tables_;
};

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    tables_.Add("t", {{"i", "int"},
                      {"s", "smallint"},
                      {"d", "decimal(10,2)"},
                      {"m", "money"},
                      {"f", "float"},
                      {"c", "char(5)"},
                      {"v", "varchar(20)"},
                      {"n", "nvarchar(10)"},
                      {"dt", "datetime"}});
  }

  // The result's types as "name(length)" / "name(p,s)".
  std::string Types(std::string_view select) {
    bind::BoundQuery bound = bind::Bind(*parse::ParseSelect(WithoutEnd(select)), tables_);
    std::string text;
    for (const Column& column : bound.columns) {
      const ColumnType& type = column.type;
      text += text.empty() ? "" : "|";
      text += std::string(TypeName(type.type));
      if (type.type == SqlType::kDecimal) {
        text += "(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
      } else if (IsCharacterType(type.type)) {
        text += "(" + std::to_string(type.length) + ")";
      }
    }
    return text;
  }

  std::string Sql(std::string_view select) {
    bind::BoundQuery bound = bind::Bind(*parse::ParseSelect(WithoutEnd(select)), tables_);
    return generate::GenerateSelect(bound, 1).sql;
  }

  DeclaredTables tables_;
};

// Character columns are declared in the collation their comparisons use, so
// an equality on a key or an indexed column is a search of its index, never
// a scan; the tables are made by the engine, the plans read from its file.
TEST_F(Binding, LookupsOnCharacterKeysSearchTheirIndexes) {
  testing_support::TestEngine engine;
  {
    testing::OdbcClient client(engine.Port(), "sa", "");
    testing::BatchOutcome made = client.Execute(
        "CREATE TABLE t (i int, s smallint, d decimal(10,2), m money, f float, "
        "c char(5) PRIMARY KEY, v varchar(20) UNIQUE, n nvarchar(10), dt datetime) "
        "CREATE INDEX ix_t_n ON t (n, i)");
    ASSERT_FALSE(made.failed) << made.Describe();
  }
  ASSERT_EQ(engine.Stop(), 0);
  sqlite3* db = nullptr;
  std::string data = (engine.DataFolder() / "master.mdf").string();
  ASSERT_EQ(sqlite3_open_v2(data.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  exec::RegisterTextComparison(db);
  auto plan = [&](std::string_view select) {
    std::string sql = "EXPLAIN QUERY PLAN " + Sql(select);
    sqlite3_stmt* read = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &read, nullptr) != SQLITE_OK)
      return std::string("error: ") + sqlite3_errmsg(db) + " in " + sql;
    std::string steps;
    while (sqlite3_step(read) == SQLITE_ROW)
      steps += std::string(reinterpret_cast<const char*>(sqlite3_column_text(read, 3))) + ";";
    sqlite3_finalize(read);
    return steps;
  };
  for (std::string_view select :
       {"SELECT i FROM t WHERE v = 'x'", "SELECT i FROM t WHERE 'X ' = v",
        "SELECT i FROM t WHERE c = 'ab'", "SELECT i FROM t WHERE n = N'\u00c4'",
        "SELECT i FROM t WHERE v IN ('a', 'b')"}) {
    std::string steps = plan(select);
    EXPECT_NE(steps.find("SEARCH t USING "), std::string::npos) << select << ": " << steps;
    EXPECT_EQ(steps.find("SCAN"), std::string::npos) << select << ": " << steps;
  }
  // A join on a key searches the inner table's index.
  std::string joined = plan("SELECT a.i FROM t a JOIN t b ON b.v = a.v WHERE a.c = 'x'");
  EXPECT_NE(joined.find("SEARCH b USING "), std::string::npos) << joined;
  sqlite3_close(db);
}

TEST_F(Binding, ArithmeticFollowsTypePrecedence) {
  EXPECT_EQ(Types("SELECT i + s, s + s, i / 2, i + d, d * d, d / i, i * m, f + d, i % 4 FROM t"),
            "int|smallint|int|decimal(13,2)|decimal(21,4)|decimal(21,13)|money|float|int");
  EXPECT_EQ(Types("SELECT 1, 3000000000, 1.50, 0.5, 1e2, 'ab', N'abc', NULL"),
            "int|decimal(10,0)|decimal(3,2)|decimal(1,1)|float|varchar(2)|nvarchar(3)|int");
  EXPECT_EQ(Types("SELECT i + '1', '2' * d, c + v, v + n, c + c FROM t"),
            "int|decimal(21,4)|varchar(25)|nvarchar(30)|char(10)");
}

TEST_F(Binding, AggregatesConversionsAndFunctions) {
  EXPECT_EQ(Types("SELECT SUM(s), AVG(i), SUM(d), AVG(d), SUM(m), MAX(v), COUNT(*), "
                  "COUNT_BIG(i), AVG(f) FROM t"),
            "int|int|decimal(38,2)|decimal(38,6)|money|varchar(20)|int|bigint|float");
  EXPECT_EQ(Types("SELECT CAST(i AS varchar), CONVERT(nchar, v), CAST(d AS decimal(5,1)), "
                  "CONVERT(varchar(8), dt, 112), @v FROM t"),
            "varchar(30)|nchar(30)|decimal(5,1)|varchar(8)|varchar(1)");
  EXPECT_EQ(Types("SELECT ISNULL(v, 'x'), COALESCE(c, v), LEN(v), UPPER(n), LTRIM(c), "
                  "DATEADD(day, 1, dt), DATEDIFF(day, dt, '20000101'), "
                  "CASE WHEN i > 0 THEN 1 ELSE 2.5 END, CASE WHEN i > 0 THEN c ELSE v END FROM t"),
            "varchar(20)|varchar(20)|int|nvarchar(10)|varchar(5)|datetime|int|decimal(11,1)|"
            "varchar(20)");
}

TEST_F(Binding, ImplicitConversionsAndCollationInTheSql) {
  // A string beside a datetime becomes a datetime; text compares without case.
  EXPECT_EQ(Sql("SELECT i FROM t WHERE dt BETWEEN '19970101' AND '19971231' AND v = 'x'"),
            "SELECT \"t\".\"i\" AS \"i\" FROM \"main\".\"t\" AS \"t\" WHERE ((\"t\".\"dt\" BETWEEN "
            "sqlengine_datetime('19970101') AND sqlengine_datetime('19971231')) AND (\"t\".\"v\" = "
            "'x' COLLATE sqlengine_ci))");
  // A number beside text converts the text, with SQL Server's errors.
  EXPECT_EQ(
      Sql("SELECT v + 1 FROM t"),
      "SELECT sqlengine_int_add(CAST(sqlengine_number(\"t\".\"v\", 'int') AS INTEGER), 1, 4) "
      "FROM \"main\".\"t\" AS \"t\"");
  EXPECT_EQ(Sql("SELECT d / 4, i / 0 FROM t"),
            "SELECT (CAST(\"t\".\"d\" AS REAL) / sqlengine_divisor(4)), "
            "sqlengine_int_divide(\"t\".\"i\", 0, 4) FROM \"main\".\"t\" AS \"t\"");
  EXPECT_EQ(Sql("SELECT TOP 3 AVG(i) FROM t GROUP BY s ORDER BY s"),
            "SELECT sqlengine_nulls_noted(CAST((CASE WHEN sqlengine_int_range(sum(\"t\".\"i\"), 4) "
            "IS NULL THEN NULL ELSE avg(\"t\".\"i\") END) AS INTEGER), "
            "sqlengine_null_count(\"t\".\"i\")) FROM \"main\".\"t\" AS \"t\" GROUP BY "
            "\"t\".\"s\" ORDER BY \"t\".\"s\" LIMIT 3");
}

TEST_F(Binding, RefusesWhatSqlServerRefusesAndHandsOnTheRest) {
  auto number = [&](std::string_view select) {
    try {
      Types(select);
    } catch (const SqlError& error) {
      return error.message().number;
    } catch (const bind::NotBound&) {
      return -1;
    }
    return 0;
  };
  EXPECT_EQ(number("SELECT i, COUNT(*) FROM t"), 8118);
  EXPECT_EQ(number("SELECT i, s FROM t GROUP BY i"), 8120);
  EXPECT_EQ(number("SELECT i + 1, COUNT(*) FROM t GROUP BY i + 1"), 0);
  EXPECT_EQ(number("SELECT i FROM t GROUP BY i HAVING MAX(s) > 1 ORDER BY COUNT(*)"), 0);
  EXPECT_EQ(number("SELECT nope FROM t"), 207);
  EXPECT_EQ(number("SELECT i FROM nosuch"), 208);
  EXPECT_EQ(number("SELECT a.i FROM t a, t b WHERE i = 1"), 209);
  EXPECT_EQ(number("SELECT i FROM t WHERE EXISTS (SELECT * FROM t x WHERE x.i = nope)"), 207);
  EXPECT_EQ(number("SELECT i AS k FROM t ORDER BY k + 1"), 207);
  // Words that may be no column are left to the older path; DATENAME's
  // date part is one.
  EXPECT_EQ(number("SELECT DATENAME(weekday, dt) FROM t"), 0);
  EXPECT_EQ(number("SELECT SOUNDEX(weekday) FROM t"), -1);
  EXPECT_EQ(number("SELECT @undeclared"), 137);
  EXPECT_EQ(number("SELECT 1 UNION SELECT 1, 2"), 205);
  EXPECT_EQ(number("SELECT i FROM t ORDER BY 2"), 108);
  EXPECT_EQ(number("SELECT f % 2 FROM t"), 8117);  // float takes no remainder
  EXPECT_EQ(number("SELECT SUM(v) FROM t"), 409);  // no sum of character data
  EXPECT_EQ(number("SELECT i = 1 FROM t"), 0);  // an alias, not a comparison
  // Shapes SQL Server refuses with its own numbers, not as a gap of ours.
  EXPECT_EQ(number("SELECT (SELECT i, s FROM t)"), 116);
  EXPECT_EQ(number("SELECT i FROM t WHERE i IN (SELECT i, s FROM t)"), 116);
  EXPECT_EQ(number("SELECT i FROM t WHERE SUM(i) > 1"), 147);
  EXPECT_EQ(number("SELECT COUNT(*) FROM t GROUP BY COUNT(*)"), 144);
  EXPECT_EQ(number("SELECT ABS(i, 2) FROM t"), 174);
  EXPECT_EQ(number("SELECT x.i FROM t"), 107);  // no source is named x
  EXPECT_EQ(number("SELECT COALESCE(NULL, NULL)"), 4127);
  EXPECT_EQ(number("SELECT i LIKE 'a' FROM t"), 156);
  EXPECT_EQ(number("SELECT i FROM t ORDER BY i BETWEEN 1 AND 2"), 156);
}

class DataChangeBinding : public Binding {
 protected:
  void SetUp() override {
    Binding::SetUp();
    tables_.Add("u", {{"k", "int"}, {"w", "varchar(20)"}});
  }

  std::string Sql(std::string_view statement) {
    Tokens tokens = WithoutEnd(statement);
    if (tokens.front().IsWord("insert"))
      return generate::GenerateInsert(bind::BindInsert(*parse::ParseInsert(tokens), tables_), 1)
          .sql;
    if (tokens.front().IsWord("update"))
      return generate::GenerateUpdate(bind::BindUpdate(*parse::ParseUpdate(tokens), tables_), 1)
          .sql;
    return generate::GenerateDelete(bind::BindDelete(*parse::ParseDelete(tokens), tables_), 1).sql;
  }

  bool HandedOn(std::string_view statement) {
    try {
      Sql(statement);
    } catch (const bind::NotBound&) {
      return true;
    }
    return false;
  }
  int ErrorNumber(std::string_view statement) {
    try {
      Sql(statement);
    } catch (const SqlError& error) {
      return error.message().number;
    }
    return 0;
  }
};

TEST_F(DataChangeBinding, ValuesAreConvertedAsTheirColumnsStoreThem) {
  // Strings into date and number columns are read by SQL Server's rules, not
  // by SQLite's affinity; numbers into number columns are fitted by the
  // column's triggers; a date into a string column takes style 0.
  EXPECT_EQ(Sql("INSERT t (dt, i, v, d) VALUES ('19970101', 1.7, 'x', '2.5'), (NULL, '5', 'y', 1)"),
            "INSERT INTO \"main\".\"t\" (\"dt\", \"i\", \"v\", \"d\") VALUES "
            "(sqlengine_datetime('19970101'), 1.7, 'x', sqlengine_number('2.5', 'decimal(10,2)')), "
            "(NULL, CAST(sqlengine_number('5', 'int') AS INTEGER), 'y', 1)");
  EXPECT_EQ(
      Sql("INSERT INTO t (v, i) SELECT dt, k FROM t, u"),
      "INSERT INTO \"main\".\"t\" (\"v\", \"i\") SELECT (sqlengine_date_style(\"t\".\"dt\", 0)) "
      "COLLATE sqlengine_ci AS \"dt\", \"u\".\"k\" AS \"k\" FROM \"main\".\"t\" AS \"t\", "
      "\"main\".\"u\" AS \"u\"");
  // DEFAULT is the column's declared default; u declares none.
  EXPECT_EQ(Sql("INSERT u VALUES (DEFAULT, 'x')"),
            "INSERT INTO \"main\".\"u\" (\"k\", \"w\") VALUES (NULL, 'x')");
  EXPECT_EQ(ErrorNumber("INSERT t (i, s) VALUES (1)"), 109);
  EXPECT_EQ(ErrorNumber("INSERT t (i) VALUES (1, 2)"), 110);
  EXPECT_EQ(ErrorNumber("INSERT t (i, i) VALUES (1, 2)"), 264);
  EXPECT_EQ(ErrorNumber("INSERT t (nope) VALUES (1)"), 207);
  EXPECT_EQ(ErrorNumber("INSERT nosuch VALUES (1)"), 208);
  EXPECT_EQ(ErrorNumber("UPDATE t SET nope = 1"), 207);
  // An int is a number of days after 1900-01-01.
  EXPECT_EQ(Sql("INSERT t (dt) VALUES (1)"),
            "INSERT INTO \"main\".\"t\" (\"dt\") VALUES (sqlengine_days_datetime(1))");
}

TEST_F(DataChangeBinding, UpdateNamesItsTargetOnceAndJoinsTheRest) {
  EXPECT_EQ(Sql("UPDATE t SET dt = '19980101', v = v + '!' WHERE dt < '1998' AND v = 'A'"),
            "UPDATE \"main\".\"t\" AS \"t\" SET \"dt\" = sqlengine_datetime('19980101'), \"v\" = "
            "(\"t\".\"v\" || '!') WHERE ((\"t\".\"dt\" < sqlengine_datetime('1998')) AND "
            "(\"t\".\"v\" = 'A' COLLATE sqlengine_ci))");
  EXPECT_EQ(Sql("UPDATE a SET i = u.k FROM t a JOIN u ON u.k = a.s WHERE u.w IS NULL"),
            "UPDATE \"main\".\"t\" AS \"a\" SET \"i\" = \"u\".\"k\" FROM \"main\".\"u\" AS \"u\" "
            "WHERE ((\"u\".\"k\" = \"a\".\"s\") AND (\"u\".\"w\" IS NULL))");
  EXPECT_EQ(Sql("UPDATE t SET i = k FROM u WHERE k = s"),
            "UPDATE \"main\".\"t\" AS \"t\" SET \"i\" = \"u\".\"k\" FROM \"main\".\"u\" AS \"u\" "
            "WHERE (\"u\".\"k\" = \"t\".\"s\")");
  EXPECT_TRUE(HandedOn("UPDATE a SET i = 1 FROM u LEFT JOIN t a ON a.i = u.k"));
  // The table named once in FROM under an alias is the target; twice, a
  // self-join SQL Server resolves by its own rules.
  EXPECT_EQ(Sql("UPDATE t SET i = 1 FROM t a"), "UPDATE \"main\".\"t\" AS \"a\" SET \"i\" = 1");
  EXPECT_TRUE(HandedOn("UPDATE t SET i = 1 FROM t a JOIN t b ON a.i = b.s"));
  EXPECT_TRUE(HandedOn("UPDATE t SET u.k = 1 FROM u"));
  EXPECT_EQ(ErrorNumber("UPDATE t SET i = 1, i = 2"), 264);
}

TEST_F(DataChangeBinding, DeleteWithSourcesKeepsRowsWithoutAMatch) {
  EXPECT_EQ(Sql("DELETE t WHERE dt >= '19970101'"),
            "DELETE FROM \"main\".\"t\" AS \"t\" WHERE (\"t\".\"dt\" >= "
            "sqlengine_datetime('19970101'))");
  EXPECT_EQ(Sql("DELETE FROM a FROM t a JOIN u ON u.k = a.i WHERE u.w = 'x'"),
            "DELETE FROM \"main\".\"t\" AS \"a\" WHERE EXISTS (SELECT 1 FROM \"main\".\"u\" AS "
            "\"u\" WHERE ((\"u\".\"k\" = \"a\".\"i\") AND (\"u\".\"w\" = 'x' COLLATE sqlengine_ci)))");
  EXPECT_EQ(Sql("DELETE t FROM u WHERE u.k = t.i"),
            "DELETE FROM \"main\".\"t\" AS \"t\" WHERE EXISTS (SELECT 1 FROM \"main\".\"u\" AS "
            "\"u\" WHERE (\"u\".\"k\" = \"t\".\"i\"))");
  EXPECT_TRUE(HandedOn("DELETE a FROM u FULL JOIN t a ON a.i = u.k"));
}

TEST(TypeRules, DecimalPrecisionIsCappedKeepingTheWholePart) {
  ColumnType wide{SqlType::kDecimal};
  wide.precision = 38;
  wide.scale = 10;
  std::optional<ColumnType> product = bind::ArithmeticType('*', wide, wide);
  ASSERT_TRUE(product);
  EXPECT_EQ(product->precision, 38);
  EXPECT_EQ(product->scale, 6);
  std::optional<ColumnType> quotient = bind::ArithmeticType('/', wide, ColumnType{SqlType::kInt});
  EXPECT_EQ(quotient->precision, 38);
  EXPECT_EQ(quotient->scale, 10);
  EXPECT_FALSE(bind::ArithmeticType('+', ColumnType{SqlType::kBit}, ColumnType{SqlType::kBit}));
}

TEST(LikePatterns, ClassesRangesEscapesAndCase) {
  using exec::LikeMatches;
  EXPECT_TRUE(LikeMatches("Bravo", "[A-C]%"));
  EXPECT_TRUE(LikeMatches("bravo", "[A-C]%"));
  EXPECT_FALSE(LikeMatches("delta", "[A-C]%"));
  EXPECT_TRUE(LikeMatches("42", "[0-9][0-9]"));
  EXPECT_FALSE(LikeMatches("4x", "[0-9][0-9]"));
  EXPECT_FALSE(LikeMatches("420", "[0-9][0-9]"));
  EXPECT_TRUE(LikeMatches("x", "[^0-9]"));
  EXPECT_FALSE(LikeMatches("7", "[^0-9]"));
  EXPECT_TRUE(LikeMatches("a-b", "a[-]b"));
  const exec::LikeRules bang{
      .escape = '!', .case_sensitive = false, .trailing_blanks_ignored = false};
  EXPECT_TRUE(LikeMatches("50%", "%!%", bang));
  EXPECT_FALSE(LikeMatches("50", "%!%", bang));
  EXPECT_TRUE(LikeMatches("a_b", "a!_b", bang));
  EXPECT_FALSE(LikeMatches("axb", "a!_b", bang));
  EXPECT_TRUE(LikeMatches("[x", "[[]x"));
  EXPECT_TRUE(LikeMatches("[", "["));  // an unclosed class is the character itself
  EXPECT_TRUE(LikeMatches("", "%"));
  EXPECT_FALSE(LikeMatches("", "_"));
  EXPECT_TRUE(LikeMatches("ÄBC", "_bc"));  // one character, however many bytes
  // Under a case-sensitive collation; trailing blanks of the value.
  const exec::LikeRules exact{.escape = std::nullopt, .case_sensitive = true};
  EXPECT_FALSE(LikeMatches("Bravo", "b%", exact));
  EXPECT_FALSE(LikeMatches("bravo", "[A-C]%", exact));
  EXPECT_TRUE(LikeMatches("Bravo", "[A-C]%", exact));
  const exec::LikeRules padded{
      .escape = std::nullopt, .case_sensitive = false, .trailing_blanks_ignored = true};
  EXPECT_TRUE(LikeMatches("ab  ", "ab", padded));
  EXPECT_TRUE(LikeMatches("ab  ", "ab _", padded));
  EXPECT_FALSE(LikeMatches("ab", "ab ", padded));
  EXPECT_FALSE(LikeMatches("ab  ", "ab", {}));
  EXPECT_TRUE(LikeMatches("abcabcabd", "%abc%abd"));
  EXPECT_FALSE(LikeMatches(std::string(200, 'a'), std::string(30, '%') + "b"));
}

// Types from the binder hold for every row: a value past the first thousand
// that does not look like them is neither cut nor rounded.
TEST(FrontEndResults, RowsAfterTheFirstThousandKeepTheirValues) {
  testing_support::TestEngine engine;
  testing::OdbcClient client(engine.Port(), "sa", "");
  ASSERT_FALSE(client
                   .Execute("CREATE TABLE digits (d int) "
                            "INSERT INTO digits VALUES (0) INSERT INTO digits VALUES (1) "
                            "INSERT INTO digits VALUES (2) INSERT INTO digits VALUES (3) "
                            "INSERT INTO digits VALUES (4) INSERT INTO digits VALUES (5) "
                            "INSERT INTO digits VALUES (6) INSERT INTO digits VALUES (7) "
                            "INSERT INTO digits VALUES (8) INSERT INTO digits VALUES (9) "
                            "CREATE TABLE rows (k int, x float, v varchar(6000)) "
                            "INSERT INTO rows SELECT a.d * 100 + b.d * 10 + c.d, 1, 'short' "
                            "FROM digits a, digits b, digits c")
                   .failed);
  std::string long_text(4500, 'y');
  ASSERT_FALSE(client.Execute("INSERT INTO rows VALUES (1000, 2.5, '" + long_text + "')").failed);
  testing::BatchOutcome outcome = client.Execute("SELECT k, x * 1, v + '!' FROM rows ORDER BY k");
  ASSERT_FALSE(outcome.failed) << outcome.Describe();
  ASSERT_EQ(outcome.results.size(), 1u);
  const auto& rows = outcome.results[0].rows;
  ASSERT_EQ(rows.size(), 1001u);
  EXPECT_EQ(outcome.results[0].types, (std::vector<std::string>{"int", "float", "varchar(6001)"}));
  EXPECT_EQ(rows[0][1].value_or("NULL"), "1");
  EXPECT_EQ(rows[1000][1].value_or("NULL"), "2.5");
  EXPECT_EQ(rows[1000][2].value_or("NULL"), long_text + "!");
}

// Stored database files rely on one form per type: a row written through the
// front end holds the SQLite values the older files hold (datetimes as text
// with milliseconds, numbers fitted to their column, bits as 0 / 1). Read
// from the data file itself once the engine has stopped.
TEST(FrontEndResults, WrittenValuesAreStoredInTheFilesForms) {
  testing_support::TestEngine engine;
  {
    testing::OdbcClient client(engine.Port(), "sa", "");
    ASSERT_FALSE(client
                     .Execute("CREATE TABLE fronted (at datetime, sd smalldatetime, flag bit, "
                              "ratio float, n int, small tinyint, label varchar(10), note text) "
                              "INSERT INTO fronted VALUES ('1997-06-15 10:30', "
                              "'1997-06-15 10:30:31', 1, 12.5, 1.7, '7', 'abc', 'long')")
                     .failed);
    ASSERT_FALSE(client.Execute("UPDATE fronted SET n = n * 2.5, flag = 7").failed);
  }
  ASSERT_EQ(engine.Stop(), 0);
  sqlite3* db = nullptr;
  std::string data = (engine.DataFolder() / "master.mdf").string();
  ASSERT_EQ(sqlite3_open_v2(data.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* read = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT quote(at), quote(sd), quote(flag), quote(ratio), quote(n), "
                               "quote(small), quote(label), quote(note) FROM fronted",
                               -1, &read, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  ASSERT_EQ(sqlite3_step(read), SQLITE_ROW);
  std::vector<std::string> forms;
  for (int k = 0; k < sqlite3_column_count(read); ++k)
    forms.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(read, k)));
  sqlite3_finalize(read);
  sqlite3_close(db);
  EXPECT_EQ(forms,
            (std::vector<std::string>{"'1997-06-15 10:30:00.000'", "'1997-06-15 10:31:00.000'", "1",
                                      "12.5", "2", "7", "'abc'", "'long'"}));
}

}  // namespace
}  // namespace sqlengine::tsql
