// Table definitions read as syntax trees and written as the SQLite text the
// engine stores: what each clause becomes, and what SQL Server refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/common/error.h"
#include "engine/exec/schema_statement_sql.h"
#include "engine/exec/table_definition_sql.h"
#include "engine/tests/sql/thrown_error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::tsql {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::ThrownErrorNumber;

// Every database is a schema of its own name; "cur" is the current one.
class Databases final : public NameResolver {
 public:
  std::string SchemaFor(std::string_view database) override {
    if (database == "missing") throw MakeError(911, {database});
    return database == "cur" ? "main" : std::string(database);
  }
  std::optional<std::string> CatalogView(std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

// A database without tables or functions.
class NoTables final : public bind::Catalog {
 public:
  std::optional<bind::TableShape> FindTable(const std::vector<std::string>&) override {
    return std::nullopt;
  }
  bool ObjectExists(const std::vector<std::string>&) override { return false; }
  std::optional<ColumnType> VariableType(std::string_view) override { return std::nullopt; }
};

Tokens Statement(std::string_view text) { return ParseBatch(text).at(0)->tokens; }

std::string CreateTableSql(std::string_view text) {
  Databases databases;
  NoTables tables;
  StatementList statements = ParseBatch(text);
  return exec::TypedCreateTable(*statements.at(0), databases, tables).sql;
}

std::vector<std::string> SchemaSql(std::string_view text) {
  Databases databases;
  NoTables tables;
  StatementList statements = ParseBatch(text);
  std::vector<std::string> sql;
  for (const SqliteText& step :
       exec::SchemaStatementSql(*statements.at(0), nullptr, databases, tables))
    sql.push_back(step.sql);
  return sql;
}

TEST(TableDefinitionSyntax, ReadsColumnsAndConstraints) {
  Tokens tokens = Statement(
      "CREATE TABLE sales.dbo.[order line] (\n"
      "  id int IDENTITY(100, -5) NOT NULL CONSTRAINT pk_line PRIMARY KEY NONCLUSTERED,\n"
      "  code varchar(10) COLLATE Latin1_General_CS_AS NULL DEFAULT 'x' UNIQUE,\n"
      "  guid uniqueidentifier ROWGUIDCOL,\n"
      "  parent int FOREIGN KEY REFERENCES other.dbo.parents (id) ON DELETE CASCADE,\n"
      "  doubled AS id * 2,\n"
      "  CONSTRAINT ck CHECK (code <> ''),\n"
      "  UNIQUE CLUSTERED (code DESC, guid),\n"
      "  FOREIGN KEY (parent, code) REFERENCES parents ON UPDATE NO ACTION ON DELETE CASCADE)");
  CreateTableSyntax create = ParseCreateTable(tokens);
  EXPECT_EQ(create.name.Written(), "sales.dbo.order line");
  ASSERT_EQ(create.elements.size(), 8u);

  const ColumnSyntax& id = *create.elements[0].column;
  EXPECT_EQ(id.type_name->value, "int");
  ASSERT_TRUE(id.identity.has_value());
  EXPECT_EQ(id.identity->seed, "100");
  EXPECT_EQ(id.identity->increment, "-5");
  EXPECT_EQ(id.nullable, false);
  ASSERT_EQ(id.constraints.size(), 1u);
  EXPECT_EQ(id.constraints[0].name, "pk_line");
  EXPECT_EQ(id.constraints[0].kind, ConstraintKind::kPrimaryKey);
  EXPECT_EQ(id.constraints[0].clustered, false);

  const ColumnSyntax& code = *create.elements[1].column;
  EXPECT_EQ(code.type_arguments, std::vector<std::string>{"10"});
  EXPECT_EQ(code.collation, "Latin1_General_CS_AS");
  EXPECT_EQ(code.nullable, true);
  ASSERT_EQ(code.constraints.size(), 2u);
  EXPECT_EQ(code.constraints[0].kind, ConstraintKind::kDefault);
  EXPECT_EQ(tokens[code.constraints[0].expression.begin].value, "x");
  EXPECT_EQ(code.constraints[0].expression.end, code.constraints[1].begin);
  EXPECT_EQ(code.constraints[1].kind, ConstraintKind::kUnique);

  EXPECT_TRUE(create.elements[2].column->rowguidcol);
  const ConstraintSyntax& parent = create.elements[3].column->constraints.at(0);
  EXPECT_EQ(parent.kind, ConstraintKind::kForeignKey);
  EXPECT_EQ(parent.references->table.Written(), "other.dbo.parents");
  EXPECT_EQ(parent.references->columns, std::vector<std::string>{"id"});
  EXPECT_EQ(parent.references->on_delete, "CASCADE");

  const ColumnSyntax& doubled = *create.elements[4].column;
  EXPECT_FALSE(doubled.type_name.has_value());
  EXPECT_EQ(tokens[doubled.computed.begin].value, "id");
  EXPECT_EQ(doubled.computed.end - doubled.computed.begin, 3u);

  const ConstraintSyntax& check = *create.elements[5].constraint;
  EXPECT_EQ(check.name, "ck");
  EXPECT_TRUE(tokens[check.expression.begin].IsSymbol("("));
  EXPECT_TRUE(tokens[check.expression.end - 1].IsSymbol(")"));

  const ConstraintSyntax& unique = *create.elements[6].constraint;
  EXPECT_EQ(unique.columns, (std::vector<std::string>{"code", "guid"}));
  EXPECT_EQ(unique.descending, (std::vector<bool>{true, false}));
  EXPECT_EQ(unique.clustered, true);

  const ConstraintSyntax& foreign = *create.elements[7].constraint;
  EXPECT_EQ(foreign.columns, (std::vector<std::string>{"parent", "code"}));
  EXPECT_TRUE(foreign.references->columns.empty());
  EXPECT_EQ(foreign.references->on_update, "NO ACTION");
  EXPECT_EQ(foreign.references->on_delete, "CASCADE");
}

TEST(TableDefinitionSyntax, RefusesWhatSqlServerDoes) {
  auto create = [](std::string_view text) {
    return ThrownErrorNumber([&] { ParseCreateTable(Statement(text)); });
  };
  EXPECT_EQ(create("CREATE TABLE t (a int, b int,)"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a)"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int PRIMARY)"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int IDENTITY(1))"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int NULL NOT NULL)"), 156);
  EXPECT_EQ(create("CREATE TABLE t (a int CHECK a > 0)"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int DEFAULT)"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int REFERENCES p ON DELETE SET NULL)"), 156);
  EXPECT_EQ(create("CREATE TABLE t (a int, FOREIGN KEY (a DESC) REFERENCES p)"), 156);
  EXPECT_EQ(create("CREATE TABLE t (select int)"), 156);
  EXPECT_EQ(create("CREATE TABLE t (a int) x"), 170);
  EXPECT_EQ(create("CREATE TABLE t (a int PRIMARY KEY (a))"), 170);
  // A column names no other column's key; a table constraint must.
  EXPECT_EQ(create("CREATE TABLE t (a int, PRIMARY KEY)"), 170);
}

TEST(TableDefinitionSyntax, ReadsIndexesAndAlterations) {
  std::optional<CreateIndexSyntax> index =
      ParseCreateIndex(Statement("CREATE UNIQUE INDEX ix ON db..t (a DESC, [b c])"));
  ASSERT_TRUE(index.has_value());
  EXPECT_TRUE(index->unique);
  EXPECT_EQ(index->table.Database(), "db");
  ASSERT_EQ(index->columns.size(), 2u);
  EXPECT_TRUE(index->columns[0].descending);
  EXPECT_EQ(index->columns[1].name, "b c");
  EXPECT_EQ(ThrownErrorNumber([] { ParseCreateIndex(Statement("CREATE INDEX ix ON t")); }), 170);

  std::optional<std::vector<DroppedIndexSyntax>> dropped =
      ParseDropIndex(Statement("DROP INDEX t.ix, dbo.u.iy"));
  ASSERT_TRUE(dropped.has_value());
  ASSERT_EQ(dropped->size(), 2u);
  EXPECT_EQ((*dropped)[1].table.Last(), "u");
  EXPECT_EQ((*dropped)[1].index, "iy");
  EXPECT_EQ(ThrownErrorNumber([] { ParseDropIndex(Statement("DROP INDEX ix")); }), 170);

  std::optional<AlterTableSyntax> alter =
      ParseAlterTable(Statement("ALTER TABLE t DROP COLUMN a, b"));
  ASSERT_TRUE(alter.has_value());
  EXPECT_EQ(alter->dropped_columns, (std::vector<std::string>{"a", "b"}));
  alter = ParseAlterTable(Statement("ALTER TABLE t ADD c int NULL, d AS c + 1"));
  ASSERT_TRUE(alter.has_value());
  EXPECT_EQ(alter->added.size(), 2u);
  EXPECT_FALSE(ParseAlterTable(Statement("ALTER TABLE t NOCHECK CONSTRAINT ALL")).has_value());
}

TEST(TableDefinitionSql, KeepsTheStoredShape) {
  std::string sql = CreateTableSql(
      "CREATE TABLE dbo.t (id int IDENTITY(1,1) PRIMARY KEY CLUSTERED, "
      "name nvarchar(50) NOT NULL, note varchar(max), code char(3) COLLATE Latin1_General_CS_AS,"
      " at datetime DEFAULT getdate(), CONSTRAINT u UNIQUE NONCLUSTERED (name)) ON [PRIMARY]");
  EXPECT_THAT(sql, StartsWith("CREATE TABLE t ( id INTEGER /*sqlengine_type int*/ PRIMARY KEY "
                              "AUTOINCREMENT UNIQUE ON CONFLICT ABORT , name nvarchar(50) NOT NULL "
                              "COLLATE sqlengine_ci_n , note \"varchar(max)\" COLLATE sqlengine_ci , "
                              "code char(3) COLLATE sqlengine_cs_as , at datetime DEFAULT ("));
  EXPECT_THAT(sql, HasSubstr("/*sqlengine_tsql getdate()*/ , CONSTRAINT u UNIQUE ( name ) )"));

  // Without an IDENTITY column a PRIMARY KEY stays one, its columns NOT NULL;
  // REFERENCES names the parent alone; a temporary table keeps no FOREIGN KEY.
  EXPECT_EQ(CreateTableSql("CREATE TABLE t (a int primary key, b int FOREIGN KEY REFERENCES "
                           "cur.dbo.p (id) ON DELETE CASCADE, PRIMARY KEY (b DESC))"),
            "CREATE TABLE t ( a int NOT NULL primary key , b int NOT NULL REFERENCES "
            "\"p\" ( id ) ON DELETE CASCADE , PRIMARY KEY ( b DESC ) )");
  EXPECT_EQ(CreateTableSql("CREATE TABLE #t (a int primary key, b int FOREIGN KEY REFERENCES "
                           "cur.dbo.p (id) ON DELETE CASCADE, PRIMARY KEY (b DESC))"),
            "CREATE TEMP TABLE \"#t\" ( a int NOT NULL primary key , b int NOT NULL , "
            "PRIMARY KEY ( b DESC ) )");
  EXPECT_THAT(CreateTableSql("CREATE TABLE other..t (a int CHECK (a > 0), b AS a * 2)"),
              StartsWith("CREATE TABLE \"other\".t ( a int CHECK ("));
  EXPECT_THAT(CreateTableSql("CREATE TABLE t (a int, b AS a * 2)"),
              HasSubstr(", b int GENERATED ALWAYS AS ("));
}

TEST(TableDefinitionSql, RefusesWhatItCannotStore) {
  EXPECT_EQ(ThrownErrorNumber([] { CreateTableSql("CREATE TABLE t (a nosuchtype)"); }), 2715);
  EXPECT_EQ(ThrownErrorNumber([] { CreateTableSql("CREATE TABLE t (a varchar(9000))"); }), 2715);
  EXPECT_EQ(ThrownErrorNumber([] {
              CreateTableSql("CREATE TABLE t (a int CHECK (a IN (SELECT 1)))");
            }),
            1046);
  EXPECT_EQ(ThrownErrorNumber([] { CreateTableSql("CREATE TABLE t (a int DEFAULT b)"); }), 128);
  EXPECT_EQ(ThrownErrorNumber([] { CreateTableSql("CREATE TABLE missing..t (a int)"); }), 911);
  // SQL Server keeps a FOREIGN KEY within its database.
  EXPECT_EQ(ThrownErrorNumber([] {
              SchemaSql("CREATE TABLE t (a int CONSTRAINT fk REFERENCES other.dbo.p (id))");
            }),
            1763);
  EXPECT_EQ(SchemaSql("CREATE TABLE other..t (a int REFERENCES other..p)").size(), 1u);
}

TEST(TableDefinitionSql, AltersAndDropsOneStepAtATime) {
  EXPECT_EQ(SchemaSql("ALTER TABLE dbo.t DROP COLUMN a, b"),
            (std::vector<std::string>{"ALTER TABLE t DROP COLUMN \"a\"",
                                      "ALTER TABLE t DROP COLUMN \"b\""}));
  EXPECT_EQ(SchemaSql("ALTER TABLE t ADD c varchar(5) NULL, d int"),
            (std::vector<std::string>{"ALTER TABLE t ADD c varchar(5) NULL COLLATE sqlengine_ci",
                                      "ALTER TABLE t ADD d int"}));
  // Rows already there hold NULL in a nullable column added with a DEFAULT.
  std::vector<std::string> added =
      SchemaSql("ALTER TABLE t ADD c int NULL DEFAULT 5, d int NOT NULL DEFAULT 6, "
                "e int DEFAULT 7 WITH VALUES");
  ASSERT_EQ(added.size(), 4u);
  EXPECT_THAT(added[0], StartsWith("ALTER TABLE t ADD c int NULL DEFAULT ("));
  EXPECT_EQ(added[1], "UPDATE t SET \"c\" = NULL");
  EXPECT_THAT(added[2], StartsWith("ALTER TABLE t ADD d int NOT NULL DEFAULT ("));
  EXPECT_THAT(added[3], StartsWith("ALTER TABLE t ADD e int DEFAULT ("));
  EXPECT_THAT(added[3], ::testing::EndsWith("/*sqlengine_tsql 7*/"));
  EXPECT_EQ(SchemaSql("DROP TABLE other.dbo.t"),
            std::vector<std::string>{"DROP TABLE \"other\".t"});
  EXPECT_EQ(SchemaSql("TRUNCATE TABLE [my t]"),
            std::vector<std::string>{"DELETE FROM \"my t\""});
  EXPECT_EQ(ThrownErrorNumber([] { SchemaSql("DROP TABLE t u"); }), 170);
}

}  // namespace
}  // namespace sqlengine::tsql
