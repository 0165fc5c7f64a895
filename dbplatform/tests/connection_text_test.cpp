#include "connection_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "dbplatform/error.h"

namespace dbplatform {
namespace {

TEST(ConnectionText, KeysIgnoreCaseAndValuesMayBeQuoted) {
  auto pairs = ParseConnectionText(
      "PROVIDER=SQLOLEDB.1;PASSWORD=;PERSIST SECURITY INFO=TRUE;User Id = sa ;"
      "Initial Catalog=\"my;db\";Data Source='O''Brien';extra;Password=\"x\"\"y\"");
  EXPECT_EQ(pairs.at("provider"), "SQLOLEDB.1");
  EXPECT_EQ(pairs.at("password"), "x\"y");  // the last one wins
  EXPECT_EQ(pairs.at("persist security info"), "TRUE");
  EXPECT_EQ(pairs.at("user id"), "sa");
  EXPECT_EQ(pairs.at("initial catalog"), "my;db");
  EXPECT_EQ(pairs.at("data source"), "O'Brien");
  EXPECT_EQ(pairs.at("extra"), "");
  EXPECT_TRUE(ParseConnectionText("").empty());
  EXPECT_EQ(ParseConnectionText("a==b=c").at("a=b"), "c");
}

TEST(ConnectionText, VelmoraAndBrellowTexts) {
  OdbcLogin velmora = LoginFromConnectionText(
      "PROVIDER=SQLOLEDB.1;PASSWORD=;PERSIST SECURITY INFO=TRUE;USER ID=sa;INITIAL "
      "CATALOG=TestProjSQL;DATA SOURCE=127.0.0.1,14330");
  EXPECT_EQ(velmora.host, "127.0.0.1");
  EXPECT_EQ(velmora.port, 14330);
  EXPECT_EQ(velmora.database, "TestProjSQL");
  EXPECT_EQ(velmora.user, "sa");
  EXPECT_EQ(velmora.password, "");
  EXPECT_FALSE(velmora.trusted);

  OdbcLogin brellow = LoginFromConnectionText(
      "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI;Initial "
      "Catalog=master;Data Source=(local);");
  EXPECT_TRUE(brellow.trusted);
  EXPECT_EQ(brellow.host, "127.0.0.1");
  EXPECT_EQ(brellow.port, 0);
  EXPECT_EQ(brellow.database, "master");
}

TEST(ConnectionText, ProvidersAcceptedAndRefused) {
  for (const char* provider : {"SQLOLEDB", "sqloledb.1", "SQLNCLI", "SQLNCLI11", "MSOLEDBSQL"}) {
    EXPECT_NO_THROW(LoginFromConnectionText(std::string("Provider=") + provider + ";Data Source=."))
        << provider;
  }
  try {
    LoginFromConnectionText("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoProviderNotFound);
    EXPECT_EQ(error.Description(), "Provider cannot be found. It may not be properly installed.");
  }
  try {
    LoginFromConnectionText("Provider=SQLOLEDB;Data Source=host,notaport");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoConnectionFailed);
  }
}

TEST(ServerName, FormsAndThisComputer) {
  OdbcLogin login;
  ASSERT_TRUE(ApplyServerName("", login));
  EXPECT_EQ(login.host, "127.0.0.1");
  ASSERT_TRUE(ApplyServerName(".", login));
  EXPECT_EQ(login.host, "127.0.0.1");
  ASSERT_TRUE(ApplyServerName("(LOCAL),1500", login));
  EXPECT_EQ(login.host, "127.0.0.1");
  EXPECT_EQ(login.port, 1500);
  ASSERT_TRUE(ApplyServerName("tcp:db.example.org, 1433", login));
  EXPECT_EQ(login.host, "db.example.org");
  EXPECT_EQ(login.port, 1433);
  ASSERT_TRUE(ApplyServerName("db.example.org\\SQLEXPRESS", login));
  EXPECT_EQ(login.host, "db.example.org");
  EXPECT_EQ(login.instance, "SQLEXPRESS");
  EXPECT_EQ(login.port, 0);
  EXPECT_FALSE(ApplyServerName("host,0", login));
  EXPECT_FALSE(ApplyServerName("host,65536", login));
  EXPECT_FALSE(ApplyServerName("host,", login));

  char own[256] = {};
  ASSERT_EQ(gethostname(own, sizeof own - 1), 0);
  std::string upper(own);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsThisComputer(upper));
  EXPECT_TRUE(IsThisComputer("localhost"));
  EXPECT_TRUE(IsThisComputer("127.0.0.2"));
  EXPECT_TRUE(IsThisComputer("::1"));
  EXPECT_FALSE(IsThisComputer("192.0.2.7"));
  EXPECT_FALSE(IsThisComputer("db.example.org"));
}

TEST(DriverConnectionText, BracesWhereNeededAndDriverOverride) {
  OdbcLogin login;
  login.host = "127.0.0.1";
  login.port = 1433;
  login.database = "a;b";
  login.user = "sa";
  login.password = "p}w";
  unsetenv("DBPLATFORM_ODBC_DRIVER");
  EXPECT_EQ(DriverConnectionText(login),
            "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=1433;DATABASE={a;b};UID=sa;PWD={p}}w};"
            "ClientCharset=UTF-8;TDS_Version=7.4;");
  setenv("DBPLATFORM_ODBC_DRIVER", "ODBC Driver 18 for SQL Server", 1);
  login.trusted = true;
  login.port = 0;
  login.database.clear();
  login.instance = "SQL2";
  EXPECT_EQ(DriverConnectionText(login),
            "DRIVER={ODBC Driver 18 for SQL Server};SERVER=127.0.0.1\\SQL2;"
            "Trusted_Connection=Yes;ClientCharset=UTF-8;");
  unsetenv("DBPLATFORM_ODBC_DRIVER");
}

}  // namespace
}  // namespace dbplatform
