// Encryption with independent clients: tsql and the ODBC driver (FreeTDS,
// GnuTLS) and pytds (pyOpenSSL), each through a relay that records what the
// client put on the wire, so a test sees which parts travelled in clear.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <fstream>
#include <string>

#include "engine/tests/peers/recording_relay.h"
#include "engine/tests/server/run_command.h"
#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using testing_support::TestEngine;

const std::string kMarker = "plaintextmarker";
const std::string kUser = "relayclerk";
// 8000 characters, "abab...": more than one 4096-byte packet.
const std::string kLongQuery =
    "declare @s varchar(8000) set @s = 'ab' while len(@s) < 6000 set @s = @s + @s select @s";

std::string LongText() {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "ab";
  return text;
}

// An engine with a SQL login whose name a test can look for on the wire.
class EncryptedEngine {
 public:
  explicit EncryptedEngine(std::vector<std::string> options = {}) : engine_(std::move(options)) {
    TdsClient admin(engine_.Port());
    if (admin.Prelogin(0x01) != 0x01) ADD_FAILURE() << "the engine did not agree to encrypt";
    admin.StartTls(Certificate());
    admin.Send(tds::PacketType::kLogin7, BuildLogin7({}));
    admin.Receive();
    admin.Batch("EXEC sp_addlogin '" + kUser + "', 'Secret1'");
  }
  int Port() const { return engine_.Port(); }
  std::filesystem::path Certificate() const { return engine_.Home() / "tls" / "sqlengine.crt"; }
  const std::filesystem::path& Home() const { return engine_.Home(); }

 private:
  TestEngine engine_;
};

// tsql through `port` with `encryption` in its configuration; its output.
CommandOutcome Tsql(const EncryptedEngine& engine, int port, const std::string& encryption) {
  std::filesystem::path config = engine.Home() / ("freetds-" + encryption + ".conf");
  std::ofstream(config) << "[global]\n\ttds version = 7.4\n\tencryption = " << encryption << "\n";
  std::filesystem::path script = engine.Home() / "tls-peer.sql";
  std::ofstream(script) << "select '" << kMarker << "' as m\ngo\n" << kLongQuery << "\ngo\n";
  return RunCommand("FREETDSCONF=" + config.string() + " tsql -H 127.0.0.1 -p " +
                    std::to_string(port) + " -U " + kUser + " -P Secret1 < " + script.string());
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(EncryptionPeer, TsqlRequiringEncryptionEncryptsEverything) {
  EncryptedEngine engine;
  RecordingRelay relay(engine.Port());
  CommandOutcome run = Tsql(engine, relay.Port(), "require");
  EXPECT_TRUE(Contains(run.output, kMarker)) << run.output;
  EXPECT_TRUE(Contains(run.output, LongText() + "\n")) << run.output;
  std::string wire = relay.ClientBytes();
  EXPECT_FALSE(Contains(wire, Utf16(kUser))) << "the login travelled in clear";
  EXPECT_FALSE(Contains(wire, Utf16(kMarker))) << "a batch travelled in clear";
}

TEST(EncryptionPeer, TsqlByDefaultEncryptsTheLoginOnly) {
  EncryptedEngine engine;
  RecordingRelay relay(engine.Port());
  CommandOutcome run = Tsql(engine, relay.Port(), "request");
  EXPECT_TRUE(Contains(run.output, kMarker)) << run.output;
  std::string wire = relay.ClientBytes();
  EXPECT_FALSE(Contains(wire, Utf16(kUser))) << "the login travelled in clear";
  EXPECT_TRUE(Contains(wire, Utf16(kMarker))) << "the batch after the login was not in clear";
}

TEST(EncryptionPeer, ForcedEncryptionRefusesTsqlWithoutItAndEncryptsTheRest) {
  EncryptedEngine engine({"--force-encryption"});
  CommandOutcome refused = Tsql(engine, engine.Port(), "off");
  EXPECT_FALSE(Contains(refused.output, kMarker)) << refused.output;

  RecordingRelay relay(engine.Port());
  CommandOutcome run = Tsql(engine, relay.Port(), "request");
  EXPECT_TRUE(Contains(run.output, kMarker)) << run.output;
  EXPECT_FALSE(Contains(relay.ClientBytes(), Utf16(kMarker))) << "a batch travelled in clear";
}

// The first column of the first row of `query` over ODBC with `attributes`
// added to the connection string; nullopt when the connection fails.
std::optional<std::string> OdbcQuery(int port, const std::string& attributes,
                                     const std::string& query) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                     ";UID=" + kUser + ";PWD=Secret1;TDS_Version=7.4;ClientCharset=UTF-8;" +
                     attributes;
  std::optional<std::string> value;
  if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                     nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::string sql = query;
    if (SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)) &&
        SQL_SUCCEEDED(SQLFetch(stmt))) {
      std::string cell;
      char buffer[4096];
      SQLLEN indicator = 0;
      SQLRETURN rc;
      while (
          SQL_SUCCEEDED(rc = SQLGetData(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator)) &&
          indicator != SQL_NULL_DATA) {
        bool whole = rc == SQL_SUCCESS;
        cell.append(buffer, whole ? static_cast<std::size_t>(indicator) : sizeof buffer - 1);
        if (whole) break;
      }
      value = cell;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return value;
}

TEST(EncryptionPeer, OdbcWithEncryptionRequiredEncryptsEverything) {
  EncryptedEngine engine;
  RecordingRelay relay(engine.Port());
  EXPECT_EQ(OdbcQuery(relay.Port(), "Encryption=require", "SELECT '" + kMarker + "'"), kMarker);
  EXPECT_EQ(OdbcQuery(relay.Port(), "Encryption=require", kLongQuery), LongText());
  std::string wire = relay.ClientBytes();
  EXPECT_FALSE(Contains(wire, Utf16(kUser)));
  EXPECT_FALSE(Contains(wire, Utf16(kMarker)));
}

TEST(EncryptionPeer, OdbcWithoutEncryptionIsRefusedWhenItIsForced) {
  EncryptedEngine engine({"--force-encryption"});
  EXPECT_FALSE(OdbcQuery(engine.Port(), "Encryption=off", "SELECT 1"));
  EXPECT_EQ(OdbcQuery(engine.Port(), "", "SELECT 'ok'"), "ok");
}

CommandOutcome Pytds(const EncryptedEngine& engine, int port, const std::string& mode) {
  return RunCommand("/usr/bin/python3 " + std::string(PEER_SCRIPT_DIR) + "/pytds_tls_peer.py " +
                    std::to_string(port) + " " + engine.Certificate().string() + " " + mode);
}

TEST(EncryptionPeer, PytdsEncryptsEverythingOrTheLoginOnlyAsAsked) {
  EncryptedEngine engine;
  {
    RecordingRelay relay(engine.Port());
    CommandOutcome run = Pytds(engine, relay.Port(), "whole");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_FALSE(Contains(relay.ClientBytes(), Utf16(kMarker))) << "a batch travelled in clear";
    EXPECT_FALSE(Contains(relay.ClientBytes(), Utf16(kUser)));
  }
  {
    RecordingRelay relay(engine.Port());
    CommandOutcome run = Pytds(engine, relay.Port(), "login");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(relay.ClientBytes(), Utf16(kMarker)));
    EXPECT_FALSE(Contains(relay.ClientBytes(), Utf16(kUser))) << "the login travelled in clear";
  }
}

TEST(EncryptionPeer, PytdsWithoutEncryptionIsRefusedWhenItIsForced) {
  EncryptedEngine engine({"--force-encryption"});
  CommandOutcome run = Pytds(engine, engine.Port(), "none");
  EXPECT_EQ(run.status, 0) << run.output;
}

}  // namespace
}  // namespace sqlengine::testing
