// The T-SQL front end's first stages on their own: lexing, splitting
// batches without semicolons, type names.
#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/tests/sql/thrown_error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql {
namespace {

using testing::ThrownErrorNumber;

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
  EXPECT_EQ(ThrownErrorNumber([] { Lex("SELECT 'abc"); }), 105);
  EXPECT_EQ(ThrownErrorNumber([] { Lex("SELECT [abc"); }), 105);
  EXPECT_EQ(ThrownErrorNumber([] { Lex("SELECT 1 /* /* */"); }), 113);
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
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("ELSE SELECT 1"); }), 156);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("BEGIN SELECT 1"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("IF 1 = 1"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("SELECT 1 END"); }), 156);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("(SELECT 1)"); }), 170);
  // Nesting deep enough to exhaust a stack is refused.
  std::string blocks;
  for (int i = 0; i < 100000; ++i) blocks += "BEGIN ";
  EXPECT_EQ(ThrownErrorNumber([&] { ParseBatch(blocks); }), 191);
  std::string parentheses = "SELECT " + std::string(100000, '(');
  EXPECT_EQ(ThrownErrorNumber([&] { ParseBatch(parentheses); }), 191);
}

TEST(Parser, WithListStandsInFrontOfItsStatement) {
  using K = StatementKind;
  StatementList statements = ParseBatch(
      "SELECT * FROM t WITH (NOLOCK)\n;WITH a (x, [y z]) AS (SELECT (1), 2), b AS (SELECT x FROM "
      "a)\n"
      "INSERT INTO t SELECT x FROM b BEGIN WITH c AS (SELECT 1 AS x) DELETE t END");
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0]->tokens.size(), 8u);
  EXPECT_TRUE(statements[0]->with.empty());
  const Statement& insert = *statements[1];
  EXPECT_EQ(insert.kind, K::kInsert);
  EXPECT_EQ(insert.line, 2);
  EXPECT_TRUE(insert.tokens.front().IsWord("insert"));
  ASSERT_EQ(insert.with.size(), 2u);
  EXPECT_EQ(insert.with[0].name.value, "a");
  ASSERT_EQ(insert.with[0].columns.size(), 2u);
  EXPECT_EQ(insert.with[0].columns[1].value, "y z");
  EXPECT_EQ(insert.with[0].query.size(), 6u);
  EXPECT_TRUE(insert.with[1].columns.empty());
  EXPECT_EQ(statements[2]->body.at(0)->kind, K::kDelete);
  EXPECT_EQ(statements[2]->body.at(0)->with.size(), 1u);
  EXPECT_EQ(Kinds("RAISERROR ('x', 1, 1) WITH NOWAIT SELECT 1"),
            (std::vector<K>{K::kRaiserror, K::kSelect}));
  EXPECT_EQ(Kinds("CREATE VIEW v AS WITH c AS (SELECT 1 AS a) SELECT a FROM c SELECT 2"),
            (std::vector<K>{K::kCreateOther, K::kSelect}));

  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH"); }), 156);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH c AS (SELECT 1; SELECT 2) SELECT 3"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH c () AS (SELECT 1) SELECT 3"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH c AS () SELECT 3"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH c AS (SELECT 1) EXEC p"); }), 156);
  EXPECT_EQ(ThrownErrorNumber([] { ParseBatch("WITH c AS (SELECT 1) c2 AS (SELECT 2) SELECT 3"); }),
            170);
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
