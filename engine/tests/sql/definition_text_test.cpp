// The text a definition keeps: the author's, cut from the batch it was read
// from; and a view's text read back from the engine's stored form of it.
#include "engine/tsql/definition_text.h"

#include <gtest/gtest.h>

#include "engine/exec/front_end_view.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"

namespace sqlengine {
namespace {

std::string KeptText(std::string_view batch, size_t statement = 0) {
  tsql::StatementList statements = tsql::ParseBatch(batch);
  return tsql::DefinitionText(batch, statements.at(statement)->tokens);
}

TEST(DefinitionTextTest, KeepsTheBatchAroundALoneDefinition) {
  EXPECT_EQ(KeptText("-- header\n/* more */\nCREATE PROC p AS SELECT 1 -- one\n\n"),
            "-- header\n/* more */\nCREATE PROC p AS SELECT 1 -- one\n\n");
  EXPECT_EQ(KeptText("create view v as select  1  as a"), "create view v as select  1  as a");
}

TEST(DefinitionTextTest, CutsAtTheStatementWhereOthersStandBeside) {
  EXPECT_EQ(KeptText("SELECT 1 /* a */ CREATE VIEW v AS SELECT 2 AS b", 1),
            "CREATE VIEW v AS SELECT 2 AS b");
  EXPECT_EQ(KeptText("CREATE VIEW v AS SELECT 2 AS b; SELECT 3", 0),
            "CREATE VIEW v AS SELECT 2 AS b");
}

TEST(DefinitionTextTest, RebuildsFromTokensWithoutTheirSource) {
  tsql::StatementList statements = tsql::ParseBatch("CREATE VIEW v AS SELECT 2 AS b");
  EXPECT_EQ(tsql::DefinitionText("", statements[0]->tokens), "CREATE VIEW v AS SELECT 2 AS b");
  EXPECT_EQ(tsql::DefinitionText("something else entirely", statements[0]->tokens),
            "CREATE VIEW v AS SELECT 2 AS b");
}

TEST(DefinitionTextTest, ViewTextComesFromTheStoredForm) {
  // Kept as written.
  EXPECT_EQ(exec::ViewTextAsWritten("CREATE VIEW \"v\" (\"a\") AS /*sqlengine-written create "
                                    "view v as select 1 a -- x *\\/ */ /*sqlengine-tsql select 1 "
                                    "a */ SELECT 1 AS \"a\""),
            "create view v as select 1 a -- x */");
  // A view made before its text was kept: rebuilt from its query.
  EXPECT_EQ(exec::ViewTextAsWritten("CREATE VIEW \"my view\" (\"a\") AS /*sqlengine-tsql "
                                    "check-option select 1 a */ SELECT 1 AS \"a\""),
            "CREATE VIEW [my view] AS select 1 a WITH CHECK OPTION");
  // A column name that holds a marker does not mislead the reader.
  EXPECT_EQ(exec::ViewTextAsWritten("CREATE VIEW \"w\" (\") AS /*sqlengine-written x */ \") AS "
                                    "/*sqlengine-tsql select 2 */ SELECT 2"),
            "CREATE VIEW w AS select 2");
  // The token rewriter's view is its stored statement.
  EXPECT_EQ(exec::ViewTextAsWritten("CREATE VIEW old AS SELECT 1 AS a"),
            "CREATE VIEW old AS SELECT 1 AS a");
}

}  // namespace
}  // namespace sqlengine
