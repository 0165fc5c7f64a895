// CREATE TRIGGER's parts, and the trigger-only functions of a body bound to
// one firing, without an engine.
#include "engine/tsql/trigger_definition.h"

#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/procedure_definition.h"

namespace sqlengine::tsql {
namespace {

TriggerDefinition Parse(std::string_view text) {
  StatementList statements = ParseBatch(text);
  EXPECT_EQ(statements.size(), 1u) << "the body is the rest of the batch";
  EXPECT_EQ(statements.front()->kind, StatementKind::kCreateTrigger);
  return ParseTriggerDefinition(statements.front()->tokens);
}

int ErrorNumber(std::string_view text) {
  try {
    Parse(text);
  } catch (const SqlError& error) {
    return error.message().number;
  }
  return 0;
}

TEST(TriggerDefinition, ReadsNameTableKindAndEvents) {
  TriggerDefinition after = Parse(
      "CREATE TRIGGER dbo.t1 ON [dbo].[Orders] WITH ENCRYPTION FOR DELETE, INSERT "
      "NOT FOR REPLICATION AS\nDELETE FROM x\nINSERT INTO y SELECT * FROM inserted");
  EXPECT_EQ(after.name, "t1");
  EXPECT_EQ(after.table, "Orders");
  EXPECT_TRUE(after.encrypted);
  EXPECT_FALSE(after.instead_of);
  EXPECT_TRUE(after.on_insert && after.on_delete && !after.on_update);
  EXPECT_EQ(TokensText(after.body), "DELETE FROM x\nINSERT INTO y SELECT * FROM inserted");

  TriggerDefinition instead =
      Parse("ALTER TRIGGER t2 ON Orders INSTEAD OF UPDATE WITH APPEND AS PRINT 'x'");
  EXPECT_TRUE(instead.instead_of && instead.on_update && !instead.on_insert);
}

TEST(TriggerDefinition, RefusesWhatSqlServerRefuses) {
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER t ON x FOR SELECT AS PRINT 1"), 156);
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER a.b.t ON x FOR INSERT AS PRINT 1"), 170);
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER t ON x INSERT AS PRINT 1"), 156);
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER t ON x FOR INSERT PRINT 1"), 156);
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER t ON x FOR INSERT AS"), 156);  // near AS
  EXPECT_EQ(ErrorNumber("CREATE TRIGGER t FOR INSERT AS PRINT 1"), 156);
}

TEST(TriggerDefinition, BindsUpdateAndColumnsUpdatedForOneFiring) {
  Tokens body = Lex("IF UPDATE ( price ) AND NOT UPDATE([name]) SELECT COLUMNS_UPDATED()");
  auto updated = [](const std::string& column) { return column == "price"; };
  Tokens bound = BindUpdateFunctions(body, updated, "02");
  EXPECT_EQ(TokensText(bound), "IF ( 1 = 1 ) AND NOT ( 1 = 0 ) SELECT 0x02");
  // The bound body parses as an ordinary IF.
  StatementList statements = ParseBatch(bound);
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements.front()->kind, StatementKind::kIf);
}

TEST(TriggerDefinition, AssignedColumnsAreTheSetListsTargets) {
  EXPECT_EQ(AssignedColumns(Lex("UPDATE t SET a = 1, t.b = (SELECT c FROM u WHERE d = 2), "
                                "[e f] = 3 FROM t JOIN u ON g = 1 WHERE h = 1")),
            (std::vector<std::string>{"a", "b", "e f"}));
  EXPECT_EQ(AssignedColumns(Lex("UPDATE TOP (2) t SET a = CASE WHEN b = 1 THEN 2 END")),
            (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace sqlengine::tsql
