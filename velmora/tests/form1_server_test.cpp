// The administration operations of the main window against a real engine:
// service start, installation from a data file, detach, delete and listing.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <fstream>

#include "velmora/frmsql.h"
#include "velmora/list_box.h"
#include "velmora/tests/engine_fixture.h"

namespace velmora_test {
namespace {

namespace fs = std::filesystem;
using Icon = velmora::Messages::Icon;
using ServerTest = EngineTest;

QString Q(const std::string& text) { return QString::fromStdString(text); }

TEST_F(ServerTest, StartOnARunningEngineConnectsAndSaysSo) {
  Click(form_->Command1);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Server was on already. Database is connected.");
  EXPECT_EQ(messages_.shown[0].icon, Icon::kNone);
}

// Points the engine program's default home at a fresh folder while it lives,
// and stops the engine started there (by its own pid file) at the end.
class ScopedEngineHome {
 public:
  ScopedEngineHome() : home_(testing_support::MakeTempFolder("velmora-start")) {
    setenv("SQLENGINE_HOME", home_.c_str(), 1);
  }
  ~ScopedEngineHome() {
    unsetenv("SQLENGINE_HOME");
    if (fs::exists(home_ / "sqlengine.port")) {
      const std::string stop =
          testing_support::SqlEnginePath().string() + " stop --home '" + home_.string() + "'";
      EXPECT_EQ(std::system((stop + " >/dev/null").c_str()), 0);
    }
    fs::remove_all(home_);
  }
  ScopedEngineHome(const ScopedEngineHome&) = delete;
  ScopedEngineHome& operator=(const ScopedEngineHome&) = delete;

 private:
  fs::path home_;
};

TEST_F(ServerTest, StartOnAStoppedEngineStartsItSilently) {
  ScopedEngineHome home;
  const QString server = Q(UnreachableServer());
  form_->Text1->setText(server);
  Click(form_->Command1);
  EXPECT_EQ(messages_.Texts(), std::vector<QString>{});

  Click(form_->cmdKnowDB);  // the listing reaches the engine that was started
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(ListLines().value(0), "Existing Databases on : " + server);
}

TEST_F(ServerTest, StartWithAnInvalidComputerNameAsksToCheckIt) {
  form_->Text1->setText("127.0.0.1,0");
  Click(form_->Command1);
  ASSERT_EQ(messages_.shown.size(), 1u);
  const QString prefix = "Please check the machine name: ";
  EXPECT_TRUE(messages_.shown[0].text.startsWith(prefix)) << messages_.shown[0].text.toStdString();
  EXPECT_GT(messages_.shown[0].text.size(), prefix.size());
}

TEST_F(ServerTest, ListingShowsTableCountsAndTablesOnlyWhenAsked) {
  ExecuteSql("CREATE DATABASE Sales");
  ExecuteSql("CREATE TABLE Orders (Id int)", "Sales");
  ExecuteSql("CREATE TABLE Items (Id int)", "Sales");
  ExecuteSql("CREATE DATABASE Empty");

  Click(form_->cmdKnowDB);
  EXPECT_TRUE(messages_.shown.empty());
  QStringList lines = ListLines();
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines[0], "Existing Databases on : " + Q(ServerName()));
  EXPECT_TRUE(lines.contains("Sales, Tables: 2"));
  EXPECT_TRUE(lines.contains("Empty, Tables: 0"));
  EXPECT_TRUE(lines.filter(QRegularExpression("^\t")).isEmpty());

  form_->chkTables->setChecked(true);
  Click(form_->cmdKnowDB);
  lines = ListLines();
  EXPECT_EQ(lines[0], "Existing Databases on : " + Q(ServerName()));  // cleared, not appended
  const qsizetype sales = lines.indexOf("Sales, Tables: 2");
  ASSERT_GE(sales, 0);
  ASSERT_LT(sales + 2, lines.size());
  const QStringList tables = {lines[sales + 1], lines[sales + 2]};
  EXPECT_TRUE(tables.contains("\tOrders"));
  EXPECT_TRUE(tables.contains("\tItems"));
  const qsizetype empty = lines.indexOf("Empty, Tables: 0");
  ASSERT_GE(empty, 0);
  if (empty + 1 < lines.size()) {
    EXPECT_FALSE(lines[empty + 1].startsWith("\t"));
  }
}

TEST_F(ServerTest, ListingOfAnUnreachableServerKeepsTheListAndSaysItIsNotOn) {
  const QString name = Q(UnreachableServer());
  form_->Text1->setText(name);
  form_->List1->AddItem("before");
  Click(form_->cmdKnowDB);
  ASSERT_EQ(messages_.shown.size(), 1u);
  const QString prefix =
      "The MSDE server on '" + name + "' is not ON. Please turn on the server to proceed.\r\n\r\n";
  EXPECT_TRUE(messages_.shown[0].text.startsWith(prefix)) << messages_.shown[0].text.toStdString();
  EXPECT_GT(messages_.shown[0].text.size(), prefix.size());
  EXPECT_EQ(messages_.shown[0].icon, Icon::kInformation);
  EXPECT_EQ(ListLines(), QStringList{"before"});
}

TEST_F(ServerTest, DeleteMatchesIgnoringCaseAndReportsAMissingName) {
  ExecuteSql("CREATE DATABASE Sales");
  form_->Text2->setText("SALES");
  Click(form_->Command2);
  EXPECT_EQ(messages_.Texts(), (std::vector<QString>{"DB exists", "DB Removed"}));
  EXPECT_FALSE(DatabaseExists("Sales"));

  messages_.shown.clear();
  form_->Text2->setText("Sales");
  Click(form_->Command2);
  EXPECT_EQ(messages_.Texts(), std::vector<QString>{"The given DB 'Sales' does not exist"});
}

TEST_F(ServerTest, DetachDetachesAndDeletesBothFiles) {
  if (!RequireProcedure("sp_detach_db")) return;
  ExecuteSql("CREATE DATABASE Archive");
  const fs::path data = engine_->DataFolder();
  ASSERT_TRUE(fs::exists(data / "Archive.mdf"));
  form_->Text2->setText("Archive");
  Click(form_->cmdDetachDB);
  const std::vector<QString> shown = messages_.Texts();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], "DB exists. Trying to detach it...");
  EXPECT_EQ(shown[2], "DB detached successfully");
  EXPECT_FALSE(DatabaseExists("Archive"));
  EXPECT_FALSE(fs::exists(data / "Archive.mdf"));
  EXPECT_FALSE(fs::exists(data / "Archive_log.ldf"));

  messages_.shown.clear();
  Click(form_->cmdDetachDB);
  EXPECT_EQ(messages_.Texts(), std::vector<QString>{"No DB to detach"});
}

TEST_F(ServerTest, DetachWithTheLogFileMissingReportsTheFailedDeletion) {
  if (!RequireProcedure("sp_detach_db")) return;
  ExecuteSql("CREATE DATABASE Archive");
  const fs::path data = engine_->DataFolder();
  // The engine keeps the log while the database is attached, so it goes away
  // while the detach's own answer is on screen, before the files are deleted.
  messages_.while_shown = [&](const QString&) {
    if (messages_.shown.size() == 2) fs::remove(data / "Archive_log.ldf");
  };
  form_->Text2->setText("archive");  // other letter case than the server reports
  Click(form_->cmdDetachDB);
  const std::vector<QString> shown = messages_.Texts();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], "DB exists. Trying to detach it...");
  EXPECT_TRUE(shown[2].startsWith(QString::number(dbplatform::kFileNotFound) + ", "))
      << shown[2].toStdString();
  EXPECT_FALSE(DatabaseExists("Archive"));
  EXPECT_FALSE(fs::exists(data / "Archive.mdf"));
}

// Takes a database's data file off the engine and puts it into the program
// folder as "<name>.mdf", the way a data file for installation is shipped.
class InstallTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    name_ = UniqueName("VmInstall");
    source_ = ProgramFolder() / (name_ + ".mdf");
  }
  void TearDown() override {
    fs::remove(source_);
    EngineTest::TearDown();
  }
  // False when the test was skipped because the engine cannot detach or attach.
  bool ShipDataFile() {
    ExecuteSql("CREATE DATABASE [" + name_ + "]");
    ExecuteSql("CREATE TABLE Marker (Note varchar(20))", name_);
    ExecuteSql("INSERT INTO Marker VALUES ('shipped')", name_);
    if (!RequireProcedure("sp_detach_db") || !RequireProcedure("sp_attach_db")) return false;
    ExecuteSql("EXEC sp_detach_db '" + name_ + "'");
    fs::copy_file(engine_->DataFolder() / (name_ + ".mdf"), source_,
                  fs::copy_options::overwrite_existing);
    fs::remove(engine_->DataFolder() / (name_ + ".mdf"));
    fs::remove(engine_->DataFolder() / (name_ + "_log.ldf"));
    return true;
  }
  std::string name_;
  fs::path source_;
};

TEST_F(InstallTest, InstallsAMissingDatabaseAndThenFindsItThere) {
  if (!ShipDataFile()) return;
  form_->Text2->setText(Q(name_));
  Click(form_->cmdAttchDB);
  std::vector<QString> shown = messages_.Texts();
  ASSERT_EQ(shown.size(), 3u) << (shown.empty() ? "" : shown.back().toStdString());
  EXPECT_EQ(shown[0], "Database do not exist");
  EXPECT_EQ(shown[2], "Database installed successfully");
  EXPECT_EQ(QueryColumn("SELECT Note FROM Marker", name_), std::vector<std::string>{"shipped"});
  EXPECT_TRUE(fs::exists(source_));  // the shipped copy stays

  messages_.shown.clear();
  Click(form_->cmdAttchDB);
  EXPECT_EQ(messages_.Texts(), std::vector<QString>{"Database already existing."});
}

TEST_F(InstallTest, OverwritesAStrayFileOfThatNameInTheDataFolder) {
  if (!ShipDataFile()) return;
  std::ofstream(engine_->DataFolder() / (name_ + ".mdf")) << "not a database";
  form_->Text2->setText(Q(name_));
  Click(form_->cmdAttchDB);
  ASSERT_EQ(messages_.shown.size(), 3u);
  EXPECT_EQ(messages_.shown[2].text, "Database installed successfully");
  EXPECT_EQ(QueryColumn("SELECT Note FROM Marker", name_), std::vector<std::string>{"shipped"});
}

TEST_F(InstallTest, MissingDataFileIsReportedByItsDescriptionAlone) {
  form_->Text2->setText(Q(name_));
  Click(form_->cmdAttchDB);
  const std::vector<QString> shown = messages_.Texts();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Database do not exist");
  EXPECT_EQ(shown[1], "File not found");
  EXPECT_FALSE(DatabaseExists(name_));
}

// On this platform nothing locks an attached database's file, so copying over
// it would destroy the live database: the copy is refused as a file in use.
TEST_F(InstallTest, NeverCopiesOverTheFileOfAnAttachedDatabase) {
  if (!ShipDataFile()) return;
  form_->Text2->setText(Q(name_));
  Click(form_->cmdAttchDB);
  ASSERT_EQ(messages_.shown.size(), 3u);
  ExecuteSql("INSERT INTO Marker VALUES ('later')", name_);

  messages_.shown.clear();
  form_->Text2->setText(Q(name_).toLower());  // counts as missing: the match is exact
  Click(form_->cmdAttchDB);
  EXPECT_EQ(messages_.Texts(),
            (std::vector<QString>{"Database do not exist", "Permission denied"}));
  EXPECT_EQ(QueryColumn("SELECT COUNT(*) FROM Marker", name_), std::vector<std::string>{"2"});
}

// A first session with the initial texts: install the sample database, list
// its table, add a record, list the databases, back up and restore.
TEST_F(ServerTest, FirstSessionWithTheSampleDatabase) {
  if (!fs::exists(ProgramFolder() / "TestProjSQL.mdf")) {
    FAIL() << "TestProjSQL.mdf is not in " << ProgramFolder() << " (built by sample/)";
  }
  for (const char* procedure : {"sp_attach_db", "sp_sproc_columns"}) {
    if (!RequireProcedure(procedure)) return;
  }
  if (!EngineBacksUp()) return;
  const fs::path backup_file = ProgramFolder() / "TestProjSQL_DB.bak";
  fs::remove(backup_file);

  Click(form_->cmdAttchDB);
  std::vector<QString> shown = messages_.Texts();
  ASSERT_EQ(shown.size(), 3u) << shown.back().toStdString();
  EXPECT_EQ(shown[0], "Database do not exist");
  EXPECT_EQ(shown[2], "Database installed successfully");

  messages_.shown.clear();
  Click(form_->cmdConnectToDB);  // "Select * from Test"
  EXPECT_TRUE(messages_.shown.empty());
  ASSERT_FALSE(ListLines().isEmpty());
  EXPECT_TRUE(ListLines()[0].endsWith(" | "));
  const qsizetype rows_before = ListLines().size();

  Click(form_->cmdADD);  // "Lena T", "Monitor"
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{"Record added successfully. Name =Lena T Position= Monitor"});
  EXPECT_EQ(ListLines().size(), rows_before + 1);
  EXPECT_FALSE(ListLines().filter("Lena T | ").isEmpty());

  messages_.shown.clear();
  form_->chkTables->setChecked(true);
  Click(form_->cmdKnowDB);
  EXPECT_TRUE(messages_.shown.empty());
  const qsizetype sample = ListLines().indexOf(QRegularExpression("^TestProjSQL, Tables: [1-9]"));
  ASSERT_GE(sample, 0);
  EXPECT_EQ(ListLines().value(sample + 1), "\tTest");

  form_->cmdDBRB->click();
  velmora::frmSQL* window = form_->BackupRestoreWindow();
  window->txtSvrName->setText(Q(ServerName()));
  window->cmdBK->click();
  EXPECT_TRUE(window->ResultText().endsWith("Backup of 'TestProjSQL' on '" + Q(ServerName()) +
                                            "' is successful."))
      << window->ResultText().toStdString();
  window->cmdRT->click();
  EXPECT_TRUE(window->ResultText().endsWith("Restore of 'TestProjSQL_NEW' on '" + Q(ServerName()) +
                                            "' is successful."))
      << window->ResultText().toStdString();
  EXPECT_TRUE(DatabaseExists("TestProjSQL_NEW"));
  fs::remove(backup_file);
}

}  // namespace
}  // namespace velmora_test
