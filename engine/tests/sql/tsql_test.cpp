// The T-SQL front end's first stages on their own: lexing, splitting
// batches without semicolons, type names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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

TEST(Lexer, SymbolsOfOneAndTwoCharacters) {
  std::vector<std::string> symbols;
  for (const Token& token : Lex("<> <= >= != !< !> :: += -= *= /= %= &= |= ^= <>= =< ! : ; = ~ (")) {
    if (token.kind == TokenKind::kSymbol) symbols.push_back(token.text);
  }
  EXPECT_EQ(symbols, (std::vector<std::string>{"<>", "<=", ">=", "!=", "!<", "!>", "::", "+=",
                                               "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<>",
                                               "=", "=", "<", "!", ":", ";", "=", "~", "("}));
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

// The error (number, line) a batch fails with, or {0, 0}.
std::pair<int, int> FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SqlError& error) {
    return {error.message().number, error.message().line};
  }
  return {0, 0};
}

void ExpectSameStatements(const StatementList& a, const StatementList& b);

void ExpectSameStatement(const Statement& a, const Statement& b) {
  if (std::optional<Statement> read = ReadDeferred(a)) return ExpectSameStatement(*read, b);
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.line, b.line);
  for (Tokens Statement::*part : {&Statement::tokens, &Statement::condition}) {
    const Tokens& x = a.*part;
    const Tokens& y = b.*part;
    ASSERT_EQ(x.size(), y.size());
    for (size_t t = 0; t < x.size(); ++t) {
      EXPECT_EQ(x[t].kind, y[t].kind);
      EXPECT_EQ(x[t].text, y[t].text);
      EXPECT_EQ(x[t].value, y[t].value);
      EXPECT_EQ(x[t].line, y[t].line);
      EXPECT_EQ(x[t].offset, y[t].offset);
    }
  }
  ExpectSameStatements(a.body, b.body);
  ASSERT_EQ(a.else_branch == nullptr, b.else_branch == nullptr);
  if (a.else_branch) ExpectSameStatement(*a.else_branch, *b.else_branch);
}

void ExpectSameStatements(const StatementList& a, const StatementList& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) ExpectSameStatement(*a[i], *b[i]);
}

// A batch's text is read as the parser goes (its statements' tokens kept or
// deferred); what it answers, and where it fails, is what reading the whole
// text first gives.
TEST(Parser, ReadingAsItParsesAnswersAsReadingFirst) {
  std::string long_batch = "BEGIN TRAN\n";
  for (int i = 0; i < 3000; ++i) {
    long_batch += "INSERT INTO h (a, d) VALUES (" + std::to_string(i) + ", 'x''" +
                  std::to_string(i) + "') SELECT b FROM t WHERE id = " + std::to_string(i) +
                  (i % 7 == 0 ? ";\n" : "\n");
  }
  long_batch += "COMMIT TRAN";
  for (std::string_view batch :
       {std::string_view(long_batch),
        std::string_view("IF 1 = 1 SELECT 1 ELSE BEGIN PRINT 'a' END WHILE 0 = 1 BREAK"),
        std::string_view("lbl: SELECT 1 GOTO lbl CREATE PROCEDURE p AS SELECT 1 SELECT 2"),
        std::string_view("BEGIN TRY SELECT 1 END TRY BEGIN CATCH SELECT 2 END CATCH;;")}) {
    ExpectSameStatements(ParseBatch(batch), ParseBatch(LexClientText(batch)));
    ExpectSameStatements(ParseBatchDeferringTokens(batch), ParseBatch(LexClientText(batch)));
  }
  StatementList deferring = ParseBatchDeferringTokens(long_batch);
  EXPECT_EQ(std::count_if(deferring.begin(), deferring.end(),
                          [](const auto& statement) { return statement->deferred.has_value(); }),
            6000);
  // A text that cannot be read fails as that, even after a statement that
  // cannot be parsed; otherwise the first statement that cannot be parsed
  // names itself.
  for (std::string_view batch :
       {"SELECT 1\nELSE SELECT 2\nSELECT 'open", "END\nSELECT 1 /* /* */",
        "SELECT 1\nSELECT 2 END\nSELECT [x", "SELECT 1\n\nBEGIN SELECT 1", "SELECT 1\nELSE"}) {
    std::pair<int, int> first_read = FailureOf([&] { ParseBatch(LexClientText(batch)); });
    EXPECT_NE(first_read.first, 0) << batch;
    EXPECT_EQ(FailureOf([&] { ParseBatch(batch); }), first_read) << batch;
  }
  EXPECT_EQ(FailureOf([] { ParseBatch("ELSE\n'abc"); }), (std::pair<int, int>{105, 2}));
  EXPECT_EQ(FailureOf([] { ParseBatch("ELSE\nSELECT 1"); }), (std::pair<int, int>{156, 1}));
}

// Every batch of the script tests (the T-SQL fuzzer's seed corpus), under
// either QUOTED_IDENTIFIER setting: read as the parser goes, it splits into
// the same statements, or fails with the same error, as when read first.
TEST(Parser, ReadingAsItParsesAnswersAsReadingFirstForEveryScriptBatch) {
  size_t batches = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TSQL_CORPUS_DIR)) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string batch = text.str();
    for (bool quoted : {true, false}) {
      QuotedIdentifierScope scope(quoted);
      StatementList first_read;
      std::pair<int, int> first_failure =
          FailureOf([&] { first_read = ParseBatch(LexClientText(batch)); });
      StatementList as_it_goes;
      std::pair<int, int> failure = FailureOf([&] { as_it_goes = ParseBatch(batch); });
      StatementList deferring;
      std::pair<int, int> deferring_failure =
          FailureOf([&] { deferring = ParseBatchDeferringTokens(batch); });
      SCOPED_TRACE(entry.path().filename().string() + (quoted ? " ON" : " OFF"));
      EXPECT_EQ(failure, first_failure);
      EXPECT_EQ(deferring_failure, first_failure);
      ExpectSameStatements(as_it_goes, first_read);
      ExpectSameStatements(deferring, first_read);
    }
    ++batches;
  }
  EXPECT_GT(batches, 100u);
}

// SET QUOTED_IDENTIFIER takes effect for the rest of the batch as it is read.
TEST(Lexer, QuotedIdentifierFollowsSetWithinTheBatch) {
  QuotedIdentifierScope on(true);
  auto kinds = [](std::string_view text) {
    std::vector<TokenKind> quoted;
    for (const Token& token : LexClientText(text)) {
      if (token.text.starts_with('"')) quoted.push_back(token.kind);
    }
    return quoted;
  };
  using K = TokenKind;
  EXPECT_EQ(kinds("SELECT \"a\" SET QUOTED_IDENTIFIER OFF SELECT \"a\" SET QUOTED_IDENTIFIER ON "
                  "SELECT \"a\""),
            (std::vector<K>{K::kQuotedName, K::kString, K::kQuotedName}));
  // In a list of options, and whatever the other options are called.
  EXPECT_EQ(kinds("SET ANSI_NULLS, quoted_identifier , set OFF SELECT \"a\""),
            (std::vector<K>{K::kString}));
  EXPECT_EQ(kinds("SET QUOTED_IDENTIFIER , ON OFF SELECT \"a\""), (std::vector<K>{K::kString}));
  // Not an option list: a quoted option name, two words in a row, ON after
  // an option list ended.
  EXPECT_EQ(kinds("SET [QUOTED_IDENTIFIER] OFF SELECT \"a\""), (std::vector<K>{K::kQuotedName}));
  EXPECT_EQ(kinds("SET x QUOTED_IDENTIFIER OFF SELECT \"a\""), (std::vector<K>{K::kQuotedName}));
  EXPECT_EQ(kinds("SET QUOTED_IDENTIFIER ON , x OFF SELECT \"a\""),
            (std::vector<K>{K::kQuotedName}));
  EXPECT_EQ(kinds("SET a ON, QUOTED_IDENTIFIER OFF SELECT \"a\""),
            (std::vector<K>{K::kQuotedName}));
  // Text the engine keeps is read with "x" as a name whatever the session says.
  QuotedIdentifierScope off(false);
  EXPECT_EQ(kinds("SELECT \"a\""), (std::vector<K>{K::kString}));
  EXPECT_EQ(Lex("SET QUOTED_IDENTIFIER OFF SELECT \"a\"")[4].kind, K::kQuotedName);
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
