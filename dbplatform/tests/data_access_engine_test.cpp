// The data access objects against a real engine over TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "engine_fixture.h"

namespace dbplatform {
namespace {

class DataAccess : public EngineSuite {};

std::vector<std::string> Messages(Connection& connection) {
  std::vector<std::string> texts;
  for (int i = 0; i < connection.Errors().Count(); ++i) {
    texts.push_back(connection.Errors().Item(i).Description);
  }
  return texts;
}

TEST_F(DataAccess, OpenKeepsTheTextAndFailsWithAdoNumbers) {
  auto connection = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
  std::string text = VelmoraText("master");
  connection->SetConnectionString(text);
  connection->Open("", "", "", -1);
  EXPECT_EQ(connection->ConnectionString(), text);
  EXPECT_EQ(Scalar(*connection, "SELECT DB_NAME()"), "master");
  connection->Close();

  auto refused = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
  try {
    refused->Open(VelmoraText("master", "nobody"));
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147217843);
    EXPECT_EQ(error.Description(), "Login failed for user 'nobody'.");
  }
  try {
    refused->Open(VelmoraText("NoSuchDatabase"));
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoConnectionFailed);
    EXPECT_NE(error.Description().find("NoSuchDatabase"), std::string::npos) << error.Description();
  }
  try {
    refused->Open(
        "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI;"
        "Initial Catalog=master;Data Source=" +
        Engine().ServerName() + ";");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoLoginFailed);
  }
}

TEST_F(DataAccess, StatementErrorsCarryTheServerText) {
  auto connection = Open();
  try {
    connection->Execute("SELECT * FROM nosuch");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147217865);
    EXPECT_EQ(error.Description(), "Invalid object name 'nosuch'.");
  }
  ASSERT_EQ(connection->Errors().Count(), 1);
  EXPECT_EQ(connection->Errors().Item(0).Number, 208);
  EXPECT_EQ(connection->Errors().Item(0).Text(), "Invalid object name 'nosuch'.");
  try {
    connection->Execute("SELEC 1");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoServerError);
    EXPECT_EQ(error.Description().find('['), std::string::npos) << error.Description();
  }
  // The connection stays usable after a failure.
  EXPECT_EQ(Scalar(*connection, "SELECT 40 + 2"), "42");
  EXPECT_EQ(connection->Errors().Count(), 0);
  EXPECT_EQ(ErrorNumberOf([&] { connection->Errors().Item(0); }), 3265);
}

TEST_F(DataAccess, EveryValueTypeHasItsTextForm) {
  auto connection = Open();
  Run(*connection,
      "CREATE TABLE #v (i int, s smallint, b bigint, t tinyint, f bit, d float, r real, "
      "m decimal(10,2), c varchar(20), n nvarchar(20), w datetime, y varbinary(8), z int)");
  Run(*connection,
      "INSERT INTO #v VALUES (-7, 300, 9000000000, 255, 1, 0.1, 1.5, 12.50, 'plain', "
      "N'h\xC3\xA9llo "
      "\xE2\x82\xAC', '2024-02-29 13:45:10.250', 0x00ABFF, NULL)");
  auto records = connection->Execute("SELECT * FROM #v");
  ASSERT_FALSE(records->Eof());
  FieldCollection& fields = records->Fields();
  ASSERT_EQ(fields.Count(), 13);
  std::vector<std::string> texts;
  for (int i = 0; i < fields.Count(); ++i) texts.push_back(ToText(fields.Item(i).GetValue()));
  EXPECT_EQ(texts, (std::vector<std::string>{"-7", "300", "9000000000", "255", "True", "0.1", "1.5",
                                             "12.50", "plain", "h\xC3\xA9llo \xE2\x82\xAC",
                                             "2024-02-29 13:45:10.250", "0x00ABFF", ""}));
  EXPECT_TRUE(IsNull(fields.Item("Z").GetValue()));
  EXPECT_EQ(fields.Item(0).Name(), "i");
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item(13); }), 3265);
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item("nosuch"); }), 3265);
  records->MoveNext();
  EXPECT_TRUE(records->Eof());
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item(0).GetValue(); }), 3021);
  records->Close();
  EXPECT_EQ(ErrorNumberOf([&] { records->Eof(); }), 3704);
}

TEST_F(DataAccess, FieldLookupIgnoresCaseAsTheSysadminCheckNeeds) {
  auto connection = Open();
  auto records = connection->Execute(
      "IF IS_SRVROLEMEMBER ('sysadmin') = 1 SELECT 'SYSADMIN' As [Usertype] "
      "ELSE IF IS_SRVROLEMEMBER ('sysadmin') = 0 SELECT 'NORMAL' As [Usertype] "
      "ELSE IF IS_SRVROLEMEMBER ('sysadmin') IS NULL SELECT 'ERROR' As [Usertype] ");
  ASSERT_FALSE(records->Eof());
  EXPECT_EQ(ToText(records->Fields().Item("usertype").GetValue()), "SYSADMIN");
  EXPECT_EQ(records->Fields().Item("USERTYPE").Name(), "Usertype");
}

TEST_F(DataAccess, StatementWithoutRowSet) {
  auto connection = Open();
  auto records = connection->Execute("CREATE TABLE #empty (a int)");
  EXPECT_EQ(records->Fields().Count(), 0);
  EXPECT_TRUE(records->Eof());
  auto none = connection->Execute("SELECT a FROM #empty");
  EXPECT_EQ(none->Fields().Count(), 1);
  EXPECT_TRUE(none->Eof());
}

TEST_F(DataAccess, MessagesBeforeAndAfterRowsInArrivalOrder) {
  auto connection = Open();
  auto records =
      connection->Execute("PRINT 'before'; SELECT 1 AS a UNION ALL SELECT 2; PRINT 'after'");
  EXPECT_EQ(Messages(*connection), std::vector<std::string>{"before"});
  ASSERT_FALSE(records->Eof());
  EXPECT_EQ(ToText(records->Fields().Item("a").GetValue()), "1");
  records->MoveNext();
  records->MoveNext();
  EXPECT_TRUE(records->Eof());
  EXPECT_EQ(Messages(*connection), (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(connection->Errors().Item(0).Number, 0);
}

TEST_F(DataAccess, ReleasingAnUnreadSetCollectsTheRest) {
  auto connection = Open();
  {
    auto records = connection->Execute("SELECT 1 AS a; SELECT 2 AS b; PRINT 'tail'");
    EXPECT_EQ(records->Fields().Item(0).Name(), "a");
  }
  EXPECT_EQ(Messages(*connection), std::vector<std::string>{"tail"});
  // A new Execute while a set is unread drains it first and starts a fresh list.
  auto first = connection->Execute("SELECT 1 AS a; PRINT 'first'");
  auto second = connection->Execute("SELECT 2 AS b");
  EXPECT_EQ(connection->Errors().Count(), 0);
  EXPECT_EQ(ToText(second->Fields().Item("b").GetValue()), "2");
  EXPECT_TRUE(first->Eof());
}

TEST_F(DataAccess, ShrinkReportsTheDbccCompletionFirst) {
  auto connection = Open();
  Run(*connection, "CREATE DATABASE ShrinkMe");
  connection->SetCommandTimeout(1000);
  connection->Execute("DBCC SHRINKDATABASE (ShrinkMe,5,TRUNCATEONLY)");
  ASSERT_GT(connection->Errors().Count(), 0);
  EXPECT_NE(connection->Errors().Item(0).Text().find("execution completed"), std::string::npos)
      << connection->Errors().Item(0).Text();
  EXPECT_NE(ErrorNumberOf([&] { connection->Execute("DBCC SHRINKDATABASE (NoSuchDb,5)"); }), 0);
  ASSERT_GT(connection->Errors().Count(), 0);
  EXPECT_EQ(connection->Errors().Item(0).Text().find("execution completed"), std::string::npos);
  Run(*connection, "DROP DATABASE ShrinkMe");
}

TEST_F(DataAccess, CommandTimeoutCancelsAndTheConnectionLives) {
  auto connection = Open();
  connection->SetCommandTimeout(1);
  auto started = std::chrono::steady_clock::now();
  try {
    connection->Execute("WAITFOR DELAY '00:00:20'");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), static_cast<std::int32_t>(0x80040E31));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  connection->SetCommandTimeout(30);
  EXPECT_EQ(Scalar(*connection, "SELECT 'alive'"), "alive");
}

}  // namespace
}  // namespace dbplatform

namespace dbplatform {
namespace {

TEST(LostConnection, ReportedAsANetworkError) {
  testing_support::TestEngine engine;
  auto connection = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
  connection->Open("Provider=SQLOLEDB.1;User ID=sa;Password=;Data Source=" + engine.ServerName());
  engine.Kill();
  try {
    connection->Execute("SELECT 1");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoConnectionFailed);
    EXPECT_EQ(error.Description(),
              "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
              "documentation.");
  }
}

}  // namespace
}  // namespace dbplatform
