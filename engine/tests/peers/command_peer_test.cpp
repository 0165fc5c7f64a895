// Command-line peers against a real engine: tsql (freetds-bin) fed a script
// on stdin, and pytds running pytds_peer.py, each at TDS 7.4 and 7.1.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "engine/tests/peers/raw_stream_peer.h"
#include "engine/tests/server/run_command.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

class CommandPeer : public ::testing::TestWithParam<std::string> {
 protected:
  testing_support::TestEngine engine_;
};

TEST_P(CommandPeer, Tsql) {
  std::filesystem::path script = engine_.Home() / "peer.sql";
  std::ofstream(script)
      << "create table t (id int, nv nvarchar(20), vc varchar(10), d decimal(8,2))\n"
         "go\n"
         "insert into t values (1, N'\xE4\xB8\xAD\xE6\x96\x87 \xC3\xBC', 'caf\xC3\xA9', 12.5)\n"
         "insert into t (id) values (2)\n"
         "go\n"
         "select id, nv, vc, d from t order by id\n"
         "go\n"
         "select * from nosuch\n"
         "go\n"
         "select 1 from sysobjects garbage garbage\n"
         "go\n"
         "exec no_such_proc\n"
         "go\n"
         "print 'hello from print'\n"
         "go\n"
         "select 'first' as a select 'second' as b\n"
         "go\n"
         "create procedure complain as raiserror ('own complaint', 16, 1)\n"
         "go\n"
         "exec complain\n"
         "go\n"
         "create table k (a int primary key)\n"
         "go\n"
         "create procedure twice as\n"
         "insert into k values (1)\n"
         "insert into k values (1)\n"
         "go\n"
         "exec twice\n"
         "go\n";
  CommandOutcome run =
      RunCommand("TDSVER=" + GetParam() + " tsql -H 127.0.0.1 -p " +
                 std::to_string(engine_.Port()) + " -U sa -P '' < " + script.string());
  const std::string& out = run.output;
  EXPECT_NE(out.find("1\t\xE4\xB8\xAD\xE6\x96\x87 \xC3\xBC\tcaf\xC3\xA9\t12.50"), std::string::npos)
      << out;
  EXPECT_NE(out.find("2\tNULL\tNULL\tNULL"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 208 (severity 16"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 170 (severity 15"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 2812 (severity 16"), std::string::npos) << out;
  EXPECT_NE(out.find("hello from print"), std::string::npos) << out;
  // A message a procedure raises names it.
  EXPECT_NE(out.find("Msg 50000 (severity 16, state 1) from "), std::string::npos) << out;
  EXPECT_NE(out.find(", Procedure complain Line 1"), std::string::npos) << out;
  // So does the error of a statement in it, and the note that it ended.
  EXPECT_NE(out.find("Msg 2627 (severity 14, state 1) from "), std::string::npos) << out;
  EXPECT_NE(out.find(", Procedure twice Line 3"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 3621 (severity 0, state 1) from "), std::string::npos) << out;
  EXPECT_NE(out.find(", Procedure twice Line 3"), out.rfind(", Procedure twice Line 3")) << out;
  EXPECT_LT(out.find("first"), out.find("second")) << out;
  EXPECT_NE(out.find("second"), std::string::npos) << out;
}

TEST_P(CommandPeer, Pytds) {
  CommandOutcome run =
      RunCommand("/usr/bin/python3 " + std::string(PEER_SCRIPT_DIR) + "/pytds_peer.py " +
                 std::to_string(engine_.Port()) + " " + GetParam());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ok   twenty clients at once"), std::string::npos) << run.output;
}

TEST_P(CommandPeer, PytdsReadsExactNumbersWithTheirPrecisionAndScale) {
  CommandOutcome run =
      RunCommand("/usr/bin/python3 " + std::string(PEER_SCRIPT_DIR) + "/pytds_exact_peer.py " +
                 std::to_string(engine_.Port()) + " " + GetParam());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ok   0.1 + 0.2 typed"), std::string::npos) << run.output;
}

// DB-Library does not ask for ODBC's session settings at login, so its
// sessions take CURSOR_CLOSE_ON_COMMIT from the database's option: with
// 'cursor close on commit' set, a COMMIT closes the open cursor; after SET
// CURSOR_CLOSE_ON_COMMIT OFF it stays open.
TEST(DbLibraryCursors, CommitFollowsTheDatabaseOptionUntilTheSessionSetsIt) {
  testing_support::TestEngine engine;
  CommandOutcome run = RunBsqldb(
      engine, "closing.sql",
      "create database closing\ngo\n"
      "exec sp_dboption 'closing', 'cursor close on commit', 'true'\ngo\n"
      "use closing\n"
      "declare walk cursor global for select 1 as one\n"
      "open walk\n"
      "begin tran commit tran\n"
      "select cursor_status('global', 'walk') + 10 as after_database_option\n"
      "set cursor_close_on_commit off\n"
      "open walk\n"
      "begin tran commit tran\n"
      "select cursor_status('global', 'walk') + 20 as after_set_off\n"
      "go\n");
  EXPECT_EQ(run.status, 0) << run.output;
  // -1: closed; 1: open with rows.
  EXPECT_NE(run.output.find("9\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("21\n"), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Versions, CommandPeer, ::testing::Values("7.4", "7.1"),
                         [](const auto& info) { return info.param == "7.4" ? "Tds74" : "Tds71"; });

}  // namespace
}  // namespace sqlengine::testing
