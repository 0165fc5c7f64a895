// The syntax of cursor statements, TRY / CATCH blocks and table variables
// standing as tables, on their own.
#include "engine/tsql/cursor_statements.h"

#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/exec/table_variables.h"
#include "engine/tests/sql/thrown_error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"

namespace sqlengine::tsql {
namespace {

Tokens Statement(std::string_view text) {
  Tokens tokens = Lex(text);
  tokens.pop_back();  // kEnd
  return tokens;
}

CursorDeclaration Declared(std::string_view text) {
  return ParseCursorDeclaration(Statement(text), 2, 1);
}

using testing::ThrownErrorNumber;

TEST(CursorDeclaration, OptionsDecideScrollingAndChanges) {
  CursorDeclaration plain = Declared("DECLARE c CURSOR FOR SELECT a FROM t");
  EXPECT_FALSE(plain.scroll);
  EXPECT_FALSE(plain.read_only);
  EXPECT_EQ(plain.kind, CursorKind::kDynamic);
  EXPECT_EQ(plain.scope, CursorScope::kDefault);

  // STATIC, KEYSET and DYNAMIC scroll unless FORWARD_ONLY is written.
  CursorDeclaration keyset = Declared("DECLARE c CURSOR LOCAL KEYSET FOR SELECT a FROM t");
  EXPECT_TRUE(keyset.scroll);
  EXPECT_EQ(keyset.scope, CursorScope::kLocal);
  EXPECT_FALSE(Declared("DECLARE c CURSOR FORWARD_ONLY STATIC FOR SELECT a FROM t").scroll);
  EXPECT_TRUE(Declared("DECLARE c CURSOR STATIC FOR SELECT a FROM t").read_only);

  CursorDeclaration fast = Declared("DECLARE c CURSOR GLOBAL FAST_FORWARD FOR SELECT a FROM t");
  EXPECT_FALSE(fast.scroll);
  EXPECT_TRUE(fast.read_only);
  EXPECT_EQ(fast.scope, CursorScope::kGlobal);

  // The SQL-92 form.
  CursorDeclaration insensitive =
      Declared("DECLARE c INSENSITIVE SCROLL CURSOR FOR SELECT a FROM t");
  EXPECT_TRUE(insensitive.scroll);
  EXPECT_TRUE(insensitive.read_only);
  EXPECT_EQ(insensitive.kind, CursorKind::kStatic);
}

TEST(CursorDeclaration, ForClauseLeavesTheQuery) {
  CursorDeclaration update =
      Declared("DECLARE c CURSOR FOR SELECT a, (SELECT 1 FROM u) FROM t FOR UPDATE OF a, [b c]");
  EXPECT_TRUE(update.for_update);
  EXPECT_EQ(update.update_columns, (std::vector<std::string>{"a", "b c"}));
  EXPECT_EQ(update.query.kind, StatementKind::kSelect);
  EXPECT_EQ(update.query.tokens.back().text, "t");

  CursorDeclaration read = Declared("DECLARE c CURSOR FOR SELECT a FROM t FOR READ ONLY");
  EXPECT_TRUE(read.read_only);
  EXPECT_EQ(read.query.tokens.size(), 4u);

  EXPECT_EQ(ThrownErrorNumber([] { Declared("DECLARE c CURSOR BACKWARDS FOR SELECT 1"); }), 170);
  EXPECT_EQ(ThrownErrorNumber([] { Declared("DECLARE c CURSOR FOR UPDATE t SET a = 1"); }), 156);
  EXPECT_NE(
      ThrownErrorNumber([] { Declared("DECLARE c CURSOR FOR SELECT a FROM t FOR UPDATE OF"); }), 0);
  EXPECT_NE(ThrownErrorNumber([] { Declared("DECLARE c CURSOR FOR SELECT a FROM t FOR READ"); }),
            0);
}

TEST(CursorStatements, FetchDirectionsAndTargets) {
  FetchStatement plain = ParseFetch(Statement("FETCH c"));
  EXPECT_EQ(plain.direction, FetchDirection::kNext);
  EXPECT_EQ(plain.cursor.name, "c");
  EXPECT_TRUE(plain.into.empty());

  FetchStatement absolute =
      ParseFetch(Statement("FETCH ABSOLUTE -2 FROM GLOBAL [my c] INTO @a, @b"));
  EXPECT_EQ(absolute.direction, FetchDirection::kAbsolute);
  ASSERT_EQ(absolute.offset.size(), 2u);
  EXPECT_TRUE(absolute.cursor.global);
  EXPECT_EQ(absolute.cursor.name, "my c");
  EXPECT_EQ(absolute.into, (std::vector<std::string>{"@a", "@b"}));

  FetchStatement variable = ParseFetch(Statement("FETCH RELATIVE @n FROM @cur"));
  EXPECT_TRUE(variable.cursor.variable);
  EXPECT_EQ(variable.offset.front().text, "@n");

  EXPECT_NE(ThrownErrorNumber([] { ParseFetch(Statement("FETCH NEXT c")); }), 0);
  EXPECT_NE(ThrownErrorNumber([] { ParseFetch(Statement("FETCH ABSOLUTE FROM c")); }), 0);
  EXPECT_NE(ThrownErrorNumber([] { ParseFetch(Statement("FETCH NEXT FROM c INTO @a,")); }), 0);
  EXPECT_NE(ThrownErrorNumber([] { ParseCursorStatement(Statement("CLOSE c extra")); }), 0);
}

TEST(CursorStatements, FindsWhereCurrentOf) {
  EXPECT_EQ(CurrentOfAt(Statement("UPDATE t SET a = 1 WHERE CURRENT OF c")), 6u);
  // A subquery's WHERE is not the statement's.
  EXPECT_FALSE(
      CurrentOfAt(Statement("UPDATE t SET a = (SELECT 1 FROM u WHERE CURRENT OF c) WHERE a = 1")));
  EXPECT_EQ(CurrentOfAt(Statement("DELETE FROM t WHERE CURRENT OF GLOBAL c")), 3u);
  EXPECT_FALSE(CurrentOfAt(Statement("DELETE FROM t WHERE a = 1")));
  // Only UPDATE and DELETE change a row through a cursor.
  EXPECT_FALSE(CurrentOfAt(Statement("SELECT a FROM t WHERE CURRENT OF c")));
}

TEST(CursorStatements, BatchSplitsAroundCursorStatements) {
  StatementList batch = ParseBatch(
      "DECLARE c CURSOR FOR SELECT a FROM t FOR UPDATE OF a\n"
      "OPEN c FETCH NEXT FROM c INTO @a\n"
      "SET @v = CURSOR FOR SELECT a FROM t FOR UPDATE\n"
      "UPDATE t SET a = 2 WHERE CURRENT OF c\n"
      "CLOSE c DEALLOCATE c SET NOCOUNT ON UPDATE t SET a = 1");
  ASSERT_EQ(batch.size(), 9u);
  EXPECT_EQ(batch[0]->kind, StatementKind::kDeclare);
  EXPECT_EQ(batch[0]->tokens.back().text, "a");
  EXPECT_EQ(batch[1]->kind, StatementKind::kOpenCursor);
  EXPECT_EQ(batch[2]->kind, StatementKind::kFetch);
  EXPECT_EQ(batch[3]->kind, StatementKind::kSet);
  EXPECT_EQ(batch[3]->tokens.back().text, "UPDATE");
  EXPECT_EQ(batch[4]->kind, StatementKind::kUpdate);
  EXPECT_EQ(batch[5]->kind, StatementKind::kCloseCursor);
  EXPECT_EQ(batch[6]->kind, StatementKind::kDeallocateCursor);
  // An UPDATE after a SET option's ON is a statement of its own.
  EXPECT_EQ(batch[8]->kind, StatementKind::kUpdate);
}

TEST(TryCatch, BlocksNestAndMustPair) {
  StatementList batch = ParseBatch(
      "BEGIN TRY SELECT 1 BEGIN TRY SELECT 2 END TRY BEGIN CATCH SELECT 3 END CATCH END TRY\n"
      "BEGIN CATCH PRINT 'x' END CATCH SELECT 4");
  ASSERT_EQ(batch.size(), 2u);
  const auto& outer = *batch[0];
  EXPECT_EQ(outer.kind, StatementKind::kTryCatch);
  ASSERT_EQ(outer.body.size(), 2u);
  EXPECT_EQ(outer.body[1]->kind, StatementKind::kTryCatch);
  ASSERT_TRUE(outer.else_branch);
  EXPECT_EQ(outer.else_branch->body.size(), 1u);
  EXPECT_EQ(outer.else_branch->body[0]->kind, StatementKind::kPrint);

  EXPECT_NE(ThrownErrorNumber([] { ParseBatch("BEGIN TRY SELECT 1 END TRY"); }), 0);
  EXPECT_NE(ThrownErrorNumber([] { ParseBatch("BEGIN TRY SELECT 1 END CATCH"); }), 0);
  EXPECT_NE(
      ThrownErrorNumber([] { ParseBatch("BEGIN TRY SELECT 1 END TRY BEGIN CATCH SELECT 2 END"); }),
      0);
}

TEST(TableVariables, StandAsTablesOnlyWhereATableGoes) {
  using exec::TableVariables;
  EXPECT_EQ(TableVariables::TablePositions(Statement("SELECT @a FROM @t WHERE x = @b")),
            (std::vector<size_t>{3}));
  EXPECT_EQ(TableVariables::TablePositions(
                Statement("SELECT * FROM t, @u JOIN @v ON 1 = 1 WHERE a IN (SELECT b FROM @w)")),
            (std::vector<size_t>{5, 7, 19}));
  EXPECT_EQ(TableVariables::TablePositions(Statement("INSERT @t VALUES (@a)")),
            (std::vector<size_t>{1}));
  EXPECT_EQ(TableVariables::TablePositions(Statement("UPDATE @t SET a = @b, c = @d")),
            (std::vector<size_t>{1}));
  EXPECT_TRUE(TableVariables::TablePositions(Statement("SELECT @a, @b")).empty());
}

}  // namespace
}  // namespace sqlengine::tsql
