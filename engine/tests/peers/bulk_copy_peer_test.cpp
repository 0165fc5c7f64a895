// freebcp (freetds-bin) copying into and out of a real engine, in character
// and native mode, at TDS 7.4 and 7.1; tsql, a second client, checks what
// the tables hold.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/tests/server/run_command.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

class BulkCopyPeer : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::ofstream(engine_.Home() / "freetds.conf")
        << "[engine]\n  host = 127.0.0.1\n  port = " << engine_.Port()
        << "\n  tds version = " << GetParam() << "\n";
  }

  std::string Environment() const {
    return "FREETDSCONF=" + (engine_.Home() / "freetds.conf").string() + " ";
  }

  // Runs `sql` through tsql and returns what it printed.
  std::string Tsql(const std::string& sql, const std::string& login = "-U sa -P ''") {
    std::filesystem::path script = engine_.Home() / "check.sql";
    std::ofstream(script) << sql << "\ngo\n";
    return RunCommand(Environment() + "tsql -S engine " + login + " < " + script.string()).output;
  }

  CommandOutcome Freebcp(const std::string& arguments, const std::string& login = "-U sa -P ''") {
    return RunCommand(Environment() + "freebcp " + arguments + " -S engine " + login);
  }

  std::filesystem::path WriteFile(const std::string& name, const std::string& content) {
    std::filesystem::path path = engine_.Home() / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  testing_support::TestEngine engine_;
};

TEST_P(BulkCopyPeer, CharacterModeInOutAndQueryOut) {
  Tsql(
      "create table t (id int, name varchar(20), amount decimal(10,2), created datetime, "
      "ratio float, flag bit, note nvarchar(30) null)");
  const std::string rows =
      "1\talpha\t12.50\t2020-01-02 03:04:05.000\t0.5\t1\tGr\xC3\xBC\xC3\x9F"
      "e\n"
      "2\tbeta\t-3.25\t2021-12-31 23:59:59.997\t-2\t0\t\n"
      "3\t\t0.00\t1900-01-01 00:00:00.000\t1e+100\t1\tx\n";
  std::filesystem::path in = WriteFile("in.txt", rows);
  CommandOutcome copied = Freebcp("t in " + in.string() + " -c");
  EXPECT_NE(copied.output.find("3 rows copied"), std::string::npos) << copied.output;

  std::string table = Tsql("select id, name, amount, ratio, flag, note from t order by id");
  EXPECT_NE(table.find("1\talpha\t12.50\t0.5\t1\tGr\xC3\xBC\xC3\x9F"
                       "e"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("2\tbeta\t-3.25\t-2\t0\tNULL"), std::string::npos) << table;
  EXPECT_NE(table.find("3\tNULL\t0.00\t1e+100\t1\tx"), std::string::npos) << table;

  std::filesystem::path out = engine_.Home() / "out.txt";
  CommandOutcome written = Freebcp("t out " + out.string() + " -c");
  EXPECT_NE(written.output.find("3 rows copied"), std::string::npos) << written.output;
  EXPECT_EQ(ReadFile(out), rows);

  std::filesystem::path query = engine_.Home() / "query.txt";
  Freebcp("\"select name, id * 10 from t where id < 3 order by id\" queryout " + query.string() +
          " -c");
  EXPECT_EQ(ReadFile(query), "alpha\t10\nbeta\t20\n");
}

TEST_P(BulkCopyPeer, NativeModeRoundTrip) {
  // FreeTDS 1.3 cannot read back what it writes to a native file for NULLs
  // and empty values (it stops with "Unexpected EOF encountered in bcp
  // datafile" and sends no rows), and writes nchar data in the client's
  // character set but reads it as UCS-2; the round trip holds for the rest.
  Tsql(
      "create table source (id int, name varchar(20), amount money, created smalldatetime, "
      "ratio real, big bigint, bytes varbinary(8), fixed char(4), price decimal(12,3))\n"
      "insert into source values (1, 'one', 1.2345, '2020-05-06 07:08', 1.5, 9000000000, "
      "0x00FF10, 'ab', 123456789.125)\n"
      "insert into source values (2, 'two', -0.0001, '1900-01-01', -1, -1, 0x01, 'abcd', "
      "-0.001)\n"
      "select * into copied from source where 1 = 0");
  std::filesystem::path file = engine_.Home() / "native.dat";
  CommandOutcome out = Freebcp("source out " + file.string() + " -n");
  EXPECT_NE(out.output.find("2 rows copied"), std::string::npos) << out.output;
  CommandOutcome in = Freebcp("copied in " + file.string() + " -n");
  EXPECT_NE(in.output.find("2 rows copied"), std::string::npos) << in.output;
  std::string source = Tsql("select * from source order by id");
  std::string copy = Tsql("select * from copied order by id");
  EXPECT_NE(source.find("9000000000"), std::string::npos) << source;
  EXPECT_EQ(copy, source);
}

TEST_P(BulkCopyPeer, EachBatchCommitsAloneAndAFailedOneLeavesNoRows) {
  Tsql("create table k (id int primary key, name varchar(10))");
  // Batches of two: (1, 2), (3, 4), (3, 5); the third repeats a key.
  std::filesystem::path in = WriteFile("k.txt", "1\ta\n2\tb\n3\tc\n4\td\n3\te\n5\tf\n");
  CommandOutcome copied = Freebcp("k in " + in.string() + " -c -b 2");
  EXPECT_NE(copied.output.find("Msg 2627"), std::string::npos) << copied.output;
  std::string table = Tsql("select id from k order by id\nselect count(*) from k where id = 5");
  EXPECT_NE(table.find("1\n2\n3\n4\n"), std::string::npos) << table;
  EXPECT_NE(table.find("\n0\n"), std::string::npos) << "row 5 of the failed batch" << table;
}

// A load keeps keys as INSERT does: a UNIQUE column takes one NULL.
TEST_P(BulkCopyPeer, AUniqueColumnTakesOneNull) {
  Tsql("create table u (id int, c int constraint uq_u unique)");
  std::filesystem::path in = WriteFile("u.txt", "1\t\n2\t\n");
  CommandOutcome copied = Freebcp("u in " + in.string() + " -c");
  EXPECT_NE(copied.output.find("Violation of UNIQUE KEY constraint 'uq_u'"), std::string::npos)
      << copied.output;
  std::string table = Tsql("select count(*) from u");
  EXPECT_NE(table.find("\n0\n"), std::string::npos) << table;
}

TEST_P(BulkCopyPeer, IdentityValuesKeptOnlyWhenAsked) {
  Tsql("create table ids (id int identity(1,1), name varchar(10))");
  std::filesystem::path in = WriteFile("ids.txt", "100\ta\n200\tb\n");
  Freebcp("ids in " + in.string() + " -c");
  Freebcp("ids in " + in.string() + " -c -E");
  std::string table = Tsql("select id, name from ids order by id");
  EXPECT_NE(table.find("1\ta\n2\tb\n100\ta\n200\tb\n"), std::string::npos) << table;
}

TEST_P(BulkCopyPeer, ChecksAndDefaultsAsSqlServerLoads) {
  Tsql("create table c (id int, n int check (n > 0), d varchar(10) default 'dflt')");
  // Row 1: a value the CHECK refuses, and no value where a default stands.
  std::filesystem::path in = WriteFile("c.txt", "1\t-1\t\n2\t5\tx\n");
  Freebcp("c in " + in.string() + " -c");
  CommandOutcome checked = Freebcp("c in " + in.string() + " -c -h CHECK_CONSTRAINTS");
  EXPECT_NE(checked.output.find("Msg 547"), std::string::npos) << checked.output;
  EXPECT_NE(checked.output.find("table 'c'"), std::string::npos) << checked.output;
  std::string table = Tsql("select id, n, d from c order by id");
  EXPECT_NE(table.find("1\t-1\tdflt\n2\t5\tx\n(2 rows affected)"), std::string::npos) << table;
}

TEST_P(BulkCopyPeer, NeedsInsertPermission) {
  Tsql(
      "create table guarded (id int)\n"
      "create login loader with password = 'Loader1'\n"
      "exec sp_grantdbaccess 'loader'\n"
      "grant select on guarded to loader\n"
      "go\ncreate view guarded_view as select id from guarded\n"
      "go\ngrant select on guarded_view to loader");
  std::filesystem::path in = WriteFile("g.txt", "1\n2\n");
  for (const char* target : {"guarded", "guarded_view"}) {
    CommandOutcome refused =
        Freebcp(std::string(target) + " in " + in.string() + " -c", "-U loader -P Loader1");
    EXPECT_NE(refused.output.find("Msg 229"), std::string::npos) << target << refused.output;
  }
  // dbo owns the view and the table: INSERT on the view is enough.
  Tsql("grant insert on guarded_view to loader");
  CommandOutcome through_view = Freebcp("guarded_view in " + in.string() + " -c",
                                        "-U loader -P Loader1");
  EXPECT_NE(through_view.output.find("2 rows copied"), std::string::npos) << through_view.output;
  Tsql("grant insert on guarded to loader");
  CommandOutcome allowed = Freebcp("guarded in " + in.string() + " -c", "-U loader -P Loader1");
  EXPECT_NE(allowed.output.find("2 rows copied"), std::string::npos) << allowed.output;
  std::string table = Tsql("select count(*) from guarded");
  EXPECT_NE(table.find("\n4\n"), std::string::npos) << table;
}

// A load into a view lands in the table under it (it used to report its
// rows copied and keep none): the view's columns in the view's order and
// names, the table's identity and defaults for the columns the view leaves
// out, its CHECK constraints and triggers not applied unless asked, as for
// a table.
TEST_P(BulkCopyPeer, AViewOfOneTableLoadsIntoThatTable) {
  Tsql(
      "create table based (id int identity(1,1), name nvarchar(20), amount decimal(9,2) "
      "check (amount > 0), stamp datetime, origin varchar(8) default 'bcp')\n"
      "create table audit (n int)\n"
      "go\ncreate trigger based_insert on based after insert as insert audit select count(*) "
      "from inserted\n"
      "go\ncreate view over_based as select stamp as taken, amount, name from based\n"
      "go\ncreate view over_view as select name, amount from over_based where amount > 100");
  std::filesystem::path in = WriteFile(
      "v.txt", "2024-02-29 10:11:12.003\t12.50\tGr\xC3\xBC\xC3\x9F" "e\n"
               "1999-12-31 23:59:59.997\t-1.25\ttwo\n");
  CommandOutcome copied = Freebcp("over_based in " + in.string() + " -c");
  EXPECT_NE(copied.output.find("2 rows copied"), std::string::npos) << copied.output;
  // Through two views; the outer one's WHERE does not hold the rows back.
  std::filesystem::path nested = WriteFile("n.txt", "three\t3.00\n");
  copied = Freebcp("over_view in " + nested.string() + " -c -h FIRE_TRIGGERS");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  std::string table = Tsql(
      "select id, name, amount, convert(varchar(23), stamp, 121), origin from based order by id\n"
      "select n from audit");
  EXPECT_NE(table.find("1\tGr\xC3\xBC\xC3\x9F" "e\t12.50\t2024-02-29 10:11:12.003\tbcp\n"
                       "2\ttwo\t-1.25\t1999-12-31 23:59:59.997\tbcp\n"
                       "3\tthree\t3.00\tNULL\tbcp\n"),
            std::string::npos)
      << table;
  // Only the load that asked for the triggers fired them.
  EXPECT_NE(table.find("n\n1\n(1 row affected)"), std::string::npos) << table;

  // The view's own column types, as a client reads them before a load.
  std::filesystem::path out = engine_.Home() / "out.txt";
  CommandOutcome written = Freebcp("over_based out " + out.string() + " -c");
  EXPECT_NE(written.output.find("3 rows copied"), std::string::npos) << written.output;
  EXPECT_NE(ReadFile(out).find("2024-02-29 10:11:12.003\t12.50\tGr\xC3\xBC\xC3\x9F" "e\n"),
            std::string::npos)
      << ReadFile(out);
}

// A load through a view follows the rules of INSERT through it: a join
// view's columns from two tables are 4405, a derived column 4406, a row a
// CHECK OPTION does not let through 550 (CHECK_CONSTRAINTS or not). Nothing
// of a refused load is kept; the rows such views let through are loaded.
TEST_P(BulkCopyPeer, ViewsLoadAsInsertThroughThemWrites) {
  Tsql(
      "create table left_side (id int, name varchar(10) default 'dflt')\n"
      "create table right_side (id int, note varchar(10))\n"
      "go\ncreate view joined as select l.id, l.name, r.note from left_side l join right_side r "
      "on l.id = r.id\n"
      "go\ncreate view left_of_join as select r.id as rid, l.* from right_side r, left_side l "
      "where r.id = l.id\n"
      "go\ncreate view doubled as select id, id * 2 as twice from left_side\n"
      "go\ncreate view checked as select id, name from left_side where id > 0 with check option\n"
      "go\ncreate view over_checked as select id from checked");
  std::filesystem::path three = WriteFile("three.txt", "1\tone\tx\n");
  std::filesystem::path two = WriteFile("two.txt", "1\t2\n");
  // A refusal of the INSERT BULK comes before any row is sent; a 550
  // fails the batch freebcp has sent (and counts as copied all the same).
  struct Case {
    std::string view, file, options, message;
    bool before_data = false;
  };
  for (const Case& refused :
       {Case{"joined", three.string(), "",
             "View or function 'joined' is not updatable because the modification affects "
             "multiple base tables.",
             true},
        Case{"left_of_join", three.string(), "", "Msg 4405", true},
        Case{"doubled", two.string(), "", "Msg 4406", true},
        Case{"checked", WriteFile("c.txt", "5\tfive\n-1\tone\n").string(), "",
             "Msg 550, Level 16"},
        Case{"checked", WriteFile("n.txt", "\tnull\n").string(), " -h CHECK_CONSTRAINTS",
             "did not qualify under the CHECK OPTION constraint."},
        Case{"over_checked", WriteFile("o.txt", "0\n").string(), "", "Msg 550"}}) {
    CommandOutcome copied = Freebcp(refused.view + " in " + refused.file + " -c" + refused.options);
    EXPECT_NE(copied.output.find(refused.message), std::string::npos)
        << refused.view << ": " << copied.output;
    if (refused.before_data) {
      EXPECT_EQ(copied.output.find("rows copied."), std::string::npos) << copied.output;
    }
    EXPECT_EQ(copied.output.find("8180"), std::string::npos) << copied.output;
  }
  std::string table = Tsql("select count(*) from left_side");
  EXPECT_NE(table.find("\n0\n"), std::string::npos) << table;

  // The columns of one table of a join load into that table alone, whether
  // the other table has a matching row or not; the others' defaults apply.
  // So through a view over such a view (it used to be 8180).
  Tsql("create view left_names as select l.name, l.id from left_side l inner join right_side r "
       "on l.id = r.id\n"
       "go\ncreate view over_left_names as select id as num, name from left_names");
  CommandOutcome copied = Freebcp("left_names in " + WriteFile("l.txt", "seven\t7\n\t8\n").string() + " -c");
  EXPECT_NE(copied.output.find("2 rows copied"), std::string::npos) << copied.output;
  copied = Freebcp("over_left_names in " + WriteFile("ln.txt", "10\tten\n").string() + " -c");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  copied = Freebcp("checked in " + WriteFile("k.txt", "3\tthree\n").string() + " -c");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  copied = Freebcp("over_checked in " + WriteFile("k2.txt", "4\n").string() + " -c");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  table = Tsql("select id, name from left_side order by id\nselect count(*) from right_side");
  EXPECT_NE(table.find("3\tthree\n4\tdflt\n7\tseven\n8\tdflt\n10\tten\n"), std::string::npos)
      << table;
  EXPECT_NE(table.find("\n0\n"), std::string::npos) << table;

  // The table's triggers (FIRE_TRIGGERS) write under their own rules: not
  // the loaded view's, and through a checked view of their own.
  Tsql("create table audit (n int)\n"
       "go\ncreate view checked_audit as select n from audit where n > 0 with check option\n"
       "go\ncreate trigger left_audit on left_side after insert as "
       "insert checked_audit select id from inserted "
       "insert left_side select -id, 'negated' from inserted where id > 0");
  copied = Freebcp("checked in " + WriteFile("t.txt", "9\tnine\n").string() +
                   " -c -h FIRE_TRIGGERS");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  table = Tsql("select n from audit\nselect name from left_side where id = -9");
  EXPECT_NE(table.find("n\n9\n"), std::string::npos) << table;
  EXPECT_NE(table.find("negated"), std::string::npos) << table;

  // Through a join view WITH CHECK OPTION a loaded row must have its match.
  Tsql("insert right_side values (21, 'ok')\n"
       "go\ncreate view checked_join as select l.id, l.name from left_side l join right_side r "
       "on r.id = l.id where r.note = 'ok' with check option");
  copied = Freebcp("checked_join in " + WriteFile("j.txt", "21\tmatched\n20\tlone\n").string() +
                   " -c");
  EXPECT_NE(copied.output.find("Msg 550"), std::string::npos) << copied.output;
  copied = Freebcp("checked_join in " + WriteFile("j2.txt", "21\tmatched\n").string() + " -c");
  EXPECT_NE(copied.output.find("1 rows copied"), std::string::npos) << copied.output;
  table = Tsql("select name from left_side where id in (20, 21)");
  EXPECT_NE(table.find("name\nmatched\n"), std::string::npos) << table;
}

// Each batch's commit is on disk before its DONE, whatever checkpoint it
// made due: a kill -9 right after a load of many batches loses none.
TEST_P(BulkCopyPeer, LoadedBatchesSurviveAKillWhileCheckpointing) {
  Tsql("create table wide (id int primary key, filler varchar(400))");
  std::string rows;
  const std::string filler(380, 'w');
  for (int id = 1; id <= 40000; ++id) rows += std::to_string(id) + "\t" + filler + "\n";
  CommandOutcome copied = Freebcp("wide in " + WriteFile("wide.txt", rows).string() + " -c -b 5000");
  EXPECT_NE(copied.output.find("40000 rows copied"), std::string::npos) << copied.output;
  engine_.Kill();
  engine_.Restart();
  SetUp();
  std::string table = Tsql("select count(*), sum(len(filler)) / 380 from wide");
  EXPECT_NE(table.find("40000\t40000"), std::string::npos) << table;
}

// Only a load with FIRE_TRIGGERS fires an INSTEAD OF INSERT trigger, of a
// table or of a view, which then takes the rows in their stead (they used
// to go into the table, or be refused with 8180 for a view); without it
// the rows go in as if the trigger were not there.
TEST_P(BulkCopyPeer, InsteadOfTriggersTakeTheRowsOnlyWhenFired) {
  Tsql(
      "create table kept (id int, amount decimal(9,2))\n"
      "create table taken (id int, amount decimal(9,2), origin varchar(10))\n"
      "go\ncreate trigger kept_instead on kept instead of insert as "
      "insert taken select id, amount, 'table' from inserted\n"
      "go\ncreate view over_kept as select id, amount from kept\n"
      "go\ncreate trigger over_kept_instead on over_kept instead of insert as "
      "insert taken select id * 10, amount, 'view' from inserted\n"
      "go\ncreate view pairs as select k.id, k.amount, t.origin from kept k join taken t "
      "on k.id = t.id\n"
      "go\ncreate trigger pairs_instead on pairs instead of insert as "
      "insert taken select id * 100, amount, origin from inserted");
  std::filesystem::path rows = WriteFile("rows.txt", "1\t1.50\n2\t-2.25\n");
  for (const char* target : {"kept", "over_kept"}) {
    for (const char* hint : {"", " -h FIRE_TRIGGERS"}) {
      CommandOutcome copied = Freebcp(std::string(target) + " in " + rows.string() + " -c" + hint);
      EXPECT_NE(copied.output.find("2 rows copied"), std::string::npos) << target << copied.output;
    }
  }
  // A join view takes a load of both tables' columns only through its trigger.
  std::filesystem::path pair = WriteFile("pair.txt", "3\t3.75\tjoined\n");
  CommandOutcome refused = Freebcp("pairs in " + pair.string() + " -c");
  EXPECT_NE(refused.output.find("Msg 4405"), std::string::npos) << refused.output;
  CommandOutcome fired = Freebcp("pairs in " + pair.string() + " -c -h FIRE_TRIGGERS");
  EXPECT_NE(fired.output.find("1 rows copied"), std::string::npos) << fired.output;
  std::string tables = Tsql(
      "select id, amount from kept order by id\n"
      "select id, amount, origin from taken order by id");
  EXPECT_NE(tables.find("1\t1.50\n1\t1.50\n2\t-2.25\n2\t-2.25\n(4 rows affected)"),
            std::string::npos)
      << tables;
  EXPECT_NE(tables.find("1\t1.50\ttable\n2\t-2.25\ttable\n10\t1.50\tview\n"
                        "20\t-2.25\tview\n300\t3.75\tjoined\n(5 rows affected)"),
            std::string::npos)
      << tables;
}

INSTANTIATE_TEST_SUITE_P(Versions, BulkCopyPeer, ::testing::Values("7.4", "7.1"),
                         [](const auto& info) { return info.param == "7.4" ? "Tds74" : "Tds71"; });

}  // namespace
}  // namespace sqlengine::testing
