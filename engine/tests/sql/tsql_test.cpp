// The T-SQL front end on its own: lexing, splitting batches without
// semicolons, and the rewriting into SQLite SQL.
#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/rewriter.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql {
namespace {

int ErrorNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const SqlError& error) {
    return error.message().number;
  }
  return 0;
}

TEST(Lexer, QuotingCommentsAndLines) {
  Tokens tokens =
      Lex("SELECT [a]]b], \"c\"\"d\", N'it''s', 'x' /* one /* nested */ still */ -- tail\n@v, "
          "@@ROWCOUNT, 0x0A, 1.5e3");
  ASSERT_EQ(tokens.back().kind, TokenKind::kEnd);
  EXPECT_EQ(tokens[1].kind, TokenKind::kQuotedName);
  EXPECT_EQ(tokens[1].value, "a]b");
  EXPECT_EQ(tokens[3].value, "c\"d");
  EXPECT_EQ(tokens[5].kind, TokenKind::kNationalString);
  EXPECT_EQ(tokens[5].value, "it's");
  EXPECT_EQ(tokens[7].kind, TokenKind::kString);
  EXPECT_EQ(tokens[8].kind, TokenKind::kVariable);
  EXPECT_EQ(tokens[8].line, 2);
  EXPECT_EQ(tokens[10].kind, TokenKind::kSystemVariable);
  EXPECT_EQ(tokens[12].kind, TokenKind::kBinary);
  EXPECT_EQ(tokens[12].value, "0A");
  EXPECT_EQ(tokens[14].kind, TokenKind::kNumber);
  EXPECT_EQ(tokens[14].text, "1.5e3");
}

TEST(Lexer, UnclosedTextIsAnErrorWithItsLine) {
  EXPECT_EQ(ErrorNumber([] { Lex("SELECT 'abc"); }), 105);
  EXPECT_EQ(ErrorNumber([] { Lex("SELECT [abc"); }), 105);
  EXPECT_EQ(ErrorNumber([] { Lex("SELECT 1 /* /* */"); }), 113);
  try {
    Lex("SELECT 1\n\n  'open");
    FAIL();
  } catch (const SqlError& error) {
    EXPECT_EQ(error.message().line, 3);
  }
}

std::vector<StatementKind> Kinds(std::string_view batch) {
  std::vector<StatementKind> kinds;
  for (const auto& statement : ParseBatch(batch)) kinds.push_back(statement->kind);
  return kinds;
}

TEST(Parser, SplitsWithoutSemicolons) {
  using K = StatementKind;
  EXPECT_EQ(Kinds("SELECT 1 SELECT 2 FROM t WHERE a = (SELECT max(b) FROM u)"),
            (std::vector<K>{K::kSelect, K::kSelect}));
  EXPECT_EQ(Kinds("INSERT INTO t SELECT a FROM u UNION ALL SELECT b FROM v SELECT 3"),
            (std::vector<K>{K::kInsert, K::kSelect}));
  EXPECT_EQ(Kinds("INSERT t VALUES (1) SELECT * FROM t"), (std::vector<K>{K::kInsert, K::kSelect}));
  EXPECT_EQ(Kinds("UPDATE t SET a = 1 SET NOCOUNT ON"), (std::vector<K>{K::kUpdate, K::kSet}));
  EXPECT_EQ(Kinds("SELECT CASE WHEN a = 1 THEN 'x' ELSE 'y' END FROM t DELETE t"),
            (std::vector<K>{K::kSelect, K::kDelete}));
  EXPECT_EQ(Kinds("CREATE TABLE t (a int REFERENCES u(a) ON DELETE CASCADE) DROP TABLE t"),
            (std::vector<K>{K::kCreateTable, K::kDropTable}));
  EXPECT_EQ(Kinds(";;USE db; PRINT 'x';"), (std::vector<K>{K::kUse, K::kPrint}));
  EXPECT_EQ(
      Kinds(
          "SET NOCOUNT ON INSERT INTO t VALUES (1) SET ANSI_NULLS ON DELETE t UPDATE t SET a = 1"),
      (std::vector<K>{K::kSet, K::kInsert, K::kSet, K::kDelete, K::kUpdate}));
  EXPECT_EQ(Kinds("sp_who"), (std::vector<K>{K::kExecute}));
}

TEST(Parser, BuildsControlFlow) {
  StatementList statements = ParseBatch(
      "IF IS_SRVROLEMEMBER ('sysadmin') = 1 SELECT 'SYSADMIN' As [Usertype] "
      "ELSE IF IS_SRVROLEMEMBER ('sysadmin') = 0 SELECT 'NORMAL' As [Usertype] "
      "ELSE IF IS_SRVROLEMEMBER ('sysadmin') IS NULL SELECT 'ERROR' As [Usertype] ");
  ASSERT_EQ(statements.size(), 1u);
  const Statement& first = *statements[0];
  EXPECT_EQ(first.kind, StatementKind::kIf);
  EXPECT_EQ(first.condition.size(), 6u);
  EXPECT_EQ(first.body[0]->kind, StatementKind::kSelect);
  ASSERT_TRUE(first.else_branch);
  ASSERT_TRUE(first.else_branch->else_branch);
  EXPECT_EQ(first.else_branch->else_branch->kind, StatementKind::kIf);
  EXPECT_FALSE(first.else_branch->else_branch->else_branch);

  StatementList loop =
      ParseBatch("WHILE @i < 3 BEGIN SET @i = @i + 1 IF @i = 2 BREAK END SELECT @i");
  ASSERT_EQ(loop.size(), 2u);
  EXPECT_EQ(loop[0]->body[0]->kind, StatementKind::kBlock);
  EXPECT_EQ(loop[0]->body[0]->body.size(), 2u);
}

TEST(Parser, RejectsBrokenStructure) {
  EXPECT_EQ(ErrorNumber([] { ParseBatch("ELSE SELECT 1"); }), 156);
  EXPECT_EQ(ErrorNumber([] { ParseBatch("BEGIN SELECT 1"); }), 170);
  EXPECT_EQ(ErrorNumber([] { ParseBatch("IF 1 = 1"); }), 170);
  EXPECT_EQ(ErrorNumber([] { ParseBatch("SELECT 1 END"); }), 156);
  EXPECT_EQ(ErrorNumber([] { ParseBatch("(SELECT 1)"); }), 170);
  // Nesting deep enough to exhaust a stack is refused.
  std::string blocks;
  for (int i = 0; i < 100000; ++i) blocks += "BEGIN ";
  EXPECT_EQ(ErrorNumber([&] { ParseBatch(blocks); }), 191);
  std::string parentheses = "SELECT " + std::string(100000, '(');
  EXPECT_EQ(ErrorNumber([&] { ParseBatch(parentheses); }), 191);
}

// Resolves every database to a schema of the same name, "main" for "cur".
class FakeResolver : public NameResolver {
 public:
  std::string SchemaFor(std::string_view database) override {
    if (database == "missing") throw MakeError(911, {database});
    return database == "cur" ? "main" : std::string(database);
  }
  std::optional<std::string> CatalogView(std::string_view database,
                                         std::string_view view) override {
    if (view != "sysobjects") return std::nullopt;
    return "(SELECT '" + std::string(database) + "' AS db)";
  }
};

std::string Rewrite(std::string_view batch) {
  FakeResolver resolver;
  StatementList statements = ParseBatch(batch);
  return RewriteStatement(*statements.at(0), resolver).sql;
}

TEST(Rewriter, NamesLiteralsAndTop) {
  EXPECT_EQ(Rewrite("SELECT [a b], N'x''y' FROM dbo.[t]"), "SELECT \"a b\" , 'x''y' FROM \"t\"");
  EXPECT_EQ(Rewrite("SELECT * FROM other..t JOIN other.dbo.u ON t.a = u.a"),
            "SELECT * FROM \"other\".t JOIN \"other\".u ON t.a = u.a");
  EXPECT_EQ(Rewrite("SELECT TOP 3 a FROM t ORDER BY a"), "SELECT a FROM t ORDER BY a LIMIT 3");
  EXPECT_EQ(Rewrite("SELECT a FROM t WHERE b IN (SELECT TOP (1) b FROM u) ORDER BY a"),
            "SELECT a FROM t WHERE b IN ( SELECT b FROM u LIMIT 1 ) ORDER BY a");
  EXPECT_EQ(Rewrite("SELECT isnull(a, 0), left(b, 2) FROM #tmp"),
            "SELECT ifnull ( a , 0 ) , \"left\" ( b , 2 ) FROM \"#tmp\"");
  EXPECT_EQ(Rewrite("SELECT name FROM sysobjects o"), "SELECT name FROM (SELECT '' AS db) o");
  EXPECT_EQ(Rewrite("SELECT name FROM other.dbo.sysobjects"),
            "SELECT name FROM (SELECT 'other' AS db) AS \"sysobjects\"");
  EXPECT_EQ(Rewrite("SELECT 'a' + name FROM t WHERE a !< 2"),
            "SELECT sqlengine_add ( 'a' , name ) FROM t WHERE a >= 2");
  EXPECT_EQ(ErrorNumber([] { Rewrite("SELECT * FROM missing..t"); }), 911);
  EXPECT_EQ(
      ErrorNumber([] { Rewrite("SELECT a FROM t WHERE a IN (SELECT TOP 10 PERCENT a FROM t)"); }),
      156);
}

TEST(Rewriter, BinaryPlusKeepsPrecedenceAndAssociativity) {
  EXPECT_EQ(Rewrite("SELECT a + b * c - d + -e x FROM t"),
            "SELECT sqlengine_add ( sqlengine_add ( a , b * c ) - d , - e ) x FROM t");
  EXPECT_EQ(Rewrite("SELECT t.a + f(b, +1), CASE WHEN a = 1 THEN 'x' END + CAST(b AS int) FROM t"),
            "SELECT sqlengine_add ( t.a , f ( b , + 1 ) ) , sqlengine_add ( CASE WHEN a = 1 THEN "
            "'x' END , CAST( b AS int) ) FROM t");
  EXPECT_EQ(Rewrite("SELECT a FROM t WHERE a + 1 > (b + c) * 2"),
            "SELECT a FROM t WHERE sqlengine_add ( a , 1 ) > ( sqlengine_add ( b , c ) ) * 2");
}

TEST(Rewriter, CreateTableKeepsDeclaredTypes) {
  EXPECT_EQ(Rewrite("CREATE TABLE dbo.t (id int IDENTITY(1,1) PRIMARY KEY CLUSTERED, "
                    "name nvarchar(50) NOT NULL, note varchar(max), price decimal(10,2) DEFAULT 0, "
                    "at datetime DEFAULT getdate()) ON [PRIMARY]"),
            "CREATE TABLE t ( id INTEGER PRIMARY KEY AUTOINCREMENT , name nvarchar(50) NOT NULL "
            "COLLATE NOCASE , note \"varchar(max)\" COLLATE NOCASE , price decimal(10,2) DEFAULT 0 "
            ", at datetime DEFAULT ( getdate ( ) ) )");
  EXPECT_EQ(Rewrite("CREATE TABLE #t (a char(3) COLLATE Latin1_General_CS_AS)"),
            "CREATE TEMP TABLE \"#t\" ( a char(3) COLLATE BINARY )");
  EXPECT_EQ(ErrorNumber([] { Rewrite("CREATE TABLE t (a nosuchtype)"); }), 2715);
  EXPECT_EQ(ErrorNumber([] { Rewrite("CREATE TABLE t (a varchar(9000))"); }), 2715);
}

TEST(TypeName, ParsesAndPrintsDeclarations) {
  for (std::string_view text : {"int", "nvarchar(50)", "decimal(10,2)", "varchar(max)", "datetime",
                                "varbinary(16)", "money", "bit"}) {
    std::optional<ColumnType> type = ParseDeclaredType(text);
    ASSERT_TRUE(type) << text;
    EXPECT_EQ(TypeDeclaration(*type), text);
  }
  EXPECT_EQ(ParseDeclaredType("INTEGER")->type, SqlType::kInt);
  EXPECT_EQ(ParseDeclaredType("float(10)")->type, SqlType::kReal);
  EXPECT_EQ(ParseDeclaredType("decimal")->precision, 18);
  EXPECT_FALSE(ParseDeclaredType("int(4)"));
  EXPECT_FALSE(ParseDeclaredType("decimal(5,6)"));
}

}  // namespace
}  // namespace sqlengine::tsql
