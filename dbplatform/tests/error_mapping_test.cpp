#include "error_mapping.h"

#include <gtest/gtest.h>

namespace dbplatform {
namespace {

TEST(DriverPrefixes, OnlyDriverTagsAreRemoved) {
  EXPECT_EQ(StripDriverPrefixes("[FreeTDS][SQL Server]Invalid object name 'nosuch'."),
            "Invalid object name 'nosuch'.");
  EXPECT_EQ(StripDriverPrefixes("[FreeTDS][SQL Server][x] is my own text"), "[x] is my own text");
  EXPECT_EQ(StripDriverPrefixes("[unixODBC][Driver Manager]Data source name not found"),
            "Data source name not found");
  EXPECT_EQ(StripDriverPrefixes("[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Hi"), "Hi");
  EXPECT_EQ(StripDriverPrefixes("[brackets] of a PRINT"), "[brackets] of a PRINT");
}

DiagRecord Server(std::int32_t native, std::string state, std::string text) {
  return DiagRecord{std::move(state), native, std::move(text)};
}

TEST(ErrorMapping, StatementFailuresInAdoAndDmoNumbers) {
  OdbcFailure missing = StatementFailure(
      {Server(0, "01000", "hello"), Server(208, "42S02", "Invalid object name 'x'.")});
  EXPECT_EQ(missing.Kind(), FailureKind::kServerError);
  Error ado = ToAdoError(missing, Phase::kStatement);
  EXPECT_EQ(ado.Number(), kAdoNoSuchTable);
  EXPECT_EQ(ado.Description(), "Invalid object name 'x'.");
  Error dmo = ToDmoError(missing);
  EXPECT_EQ(dmo.Number(), static_cast<std::int32_t>(0x80040000 + 208));

  OdbcFailure syntax =
      StatementFailure({Server(170, "42000", "Line 1: Incorrect syntax near 'x'.")});
  EXPECT_EQ(ToAdoError(syntax, Phase::kStatement).Number(), kAdoServerError);
  EXPECT_EQ(ToAdoError(syntax, Phase::kStatement).Number(), -2147217900);

  OdbcFailure timeout = StatementFailure({Server(0, "HYT00", "Timeout expired")});
  EXPECT_EQ(timeout.Kind(), FailureKind::kTimeout);
  EXPECT_EQ(ToAdoError(timeout, Phase::kStatement).Number(), kAdoTimeout);

  OdbcFailure lost = StatementFailure({Server(20017, "08S01", "Unexpected EOF from the server")});
  EXPECT_EQ(lost.Kind(), FailureKind::kConnectionLost);
  EXPECT_EQ(ToAdoError(lost, Phase::kStatement).Number(), kAdoConnectionFailed);
}

TEST(ErrorMapping, ConnectFailures) {
  OdbcFailure nobody =
      ConnectFailure({Server(20009, "08S01",
                             "Unable to connect: Adaptive Server is unavailable or does not exist"),
                      Server(0, "08001", "Unable to connect to data source")},
                     false);
  EXPECT_EQ(nobody.Kind(), FailureKind::kUnreachable);
  Error ado = ToAdoError(nobody, Phase::kConnect);
  EXPECT_EQ(ado.Number(), -2147467259);
  EXPECT_EQ(ado.Description(),
            "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.");
  EXPECT_EQ(ToDmoError(nobody).Number(), kDmoBase);

  OdbcFailure refused =
      ConnectFailure({Server(18456, "42000", "Login failed for user 'bob'."),
                      Server(20002, "08001", "Adaptive Server connection failed")},
                     false);
  EXPECT_EQ(ToAdoError(refused, Phase::kConnect).Number(), -2147217843);
  EXPECT_EQ(ToAdoError(refused, Phase::kConnect).Description(), "Login failed for user 'bob'.");
  EXPECT_EQ(ToDmoError(refused).Number(), -2147203048);

  OdbcFailure no_database = ConnectFailure(
      {Server(4060, "42000", "Cannot open database requested in login 'x'. Login fails.")}, false);
  EXPECT_EQ(ToAdoError(no_database, Phase::kConnect).Number(), kAdoConnectionFailed);

  // No Kerberos ticket: the driver gives up before the server sees a login.
  OdbcFailure integrated =
      ConnectFailure({Server(0, "08001", "Unable to connect to data source"),
                      Server(20002, "01000", "Adaptive Server connection failed")},
                     true);
  EXPECT_EQ(ToAdoError(integrated, Phase::kConnect).Number(), kAdoLoginFailed);
  EXPECT_EQ(ToAdoError(integrated, Phase::kConnect).Description(),
            "Login failed for user '(null)'. Reason: Not associated with a trusted SQL Server "
            "connection.");

  OdbcFailure driver = ConnectFailure(
      {Server(0, "IM002", "Data source name not found and no default driver specified")}, false);
  EXPECT_EQ(ToAdoError(driver, Phase::kConnect).Number(), kAdoProviderNotFound);
}

}  // namespace
}  // namespace dbplatform
