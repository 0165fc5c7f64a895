#include "velmora/tests/engine_fixture.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QLineEdit>

#include "dbplatform/administration.h"
#include "dbplatform/data_access.h"
#include "dbplatform/platform.h"
#include "velmora/list_box.h"

namespace velmora_test {
namespace {

std::string ConnectionText(const std::string& server, const std::string& database) {
  return "Provider=SQLOLEDB.1;Data Source=" + server + ";Initial Catalog=" + database +
         ";User ID=sa;Password=;";
}

}  // namespace

EngineTest::EngineTest() : factory_(dbplatform::DefaultFactory()) {}

void EngineTest::SetUp() {
  try {
    engine_ = std::make_unique<testing_support::TestEngine>();
  } catch (const std::exception& error) {
    FAIL() << "sqlengine does not come up: " << error.what();
  }
  for (const char* id : {"ADODB.Connection", "ADODB.Command", "SQLDMO.SQLServer", "SQLDMO.Backup",
                         "SQLDMO.restore", "Scripting.FileSystemObject"}) {
    try {
      dbplatform::DefaultFactory().CreateObject(id);
    } catch (const dbplatform::Error& error) {
      FAIL() << "dbplatform cannot create " << id << ": " << error.Description();
    }
  }
  form_ = std::make_unique<velmora::Form1>(factory_, messages_, end_);
  form_->Text1->setText(QString::fromStdString(ServerName()));
  form_->show();
}

void EngineTest::TearDown() {
  form_.reset();
  engine_.reset();
}

void EngineTest::ExecuteSql(const std::string& sql, const std::string& database) {
  QueryColumn(sql, database);
}

std::vector<std::string> EngineTest::QueryColumn(const std::string& sql,
                                                 const std::string& database) {
  auto connection = dbplatform::CreateObjectAs<dbplatform::Connection>(dbplatform::DefaultFactory(),
                                                                       "ADODB.Connection");
  connection->Open(ConnectionText(ServerName(), database));
  std::unique_ptr<dbplatform::Recordset> rows = connection->Execute(sql);
  std::vector<std::string> column;
  while (!rows->Eof()) {
    if (rows->Fields().Count() > 0)
      column.push_back(dbplatform::ToText(rows->Fields().Item(0).GetValue()));
    rows->MoveNext();
  }
  rows->Close();
  connection->Close();
  return column;
}

bool EngineTest::ExecuteOrFail(const std::string& sql, const std::string& database,
                               const std::string& feature) {
  std::string refusal;
  try {
    ExecuteSql(sql, database);
    return true;
  } catch (const dbplatform::Error& error) {
    refusal = error.Description();
    if (refusal.find("Could not find stored procedure") == std::string::npos &&
        refusal.find("Incorrect syntax near the keyword") == std::string::npos) {
      throw;
    }
  }
  FailMissingFeature("the engine cannot " + feature + ": " + refusal);
  return false;
}

bool EngineTest::RequireProcedure(const std::string& procedure) {
  try {
    ExecuteSql("EXEC " + procedure);
  } catch (const dbplatform::Error& error) {
    if (error.Description().find("Could not find stored procedure") != std::string::npos) {
      FailMissingFeature("the engine has no " + procedure + ": " + error.Description());
      return false;
    }
  }
  return true;
}

bool EngineTest::EngineBacksUp() {
  const std::filesystem::path probe = engine_->Home() / "probe.bak";
  return ExecuteOrFail("BACKUP DATABASE master TO DISK = '" + probe.string() + "'", "master",
                       "back up databases");
}

void EngineTest::FailMissingFeature(const std::string& reason) { ADD_FAILURE() << reason; }

bool EngineTest::DatabaseExists(const std::string& name) {
  return !QueryColumn("SELECT name FROM master..sysdatabases WHERE name = '" + name + "'").empty();
}

bool EngineTest::CreateSampleDatabase(const std::string& name) {
  // The data access objects describe a procedure's parameters through it.
  if (!RequireProcedure("sp_sproc_columns")) return false;
  ExecuteSql("CREATE DATABASE [" + name + "]");
  ExecuteSql("CREATE TABLE Test (Name varchar(50), Position varchar(50))", name);
  return ExecuteOrFail(
      "CREATE PROCEDURE DoOperation @Opn smallint, @Name varchar(50), @Position varchar(50) AS\n"
      "IF @Opn = 1 INSERT INTO Test (Name, Position) VALUES (@Name, @Position)\n"
      "IF @Opn = 2 DELETE FROM Test WHERE Name = @Name AND Position = @Position",
      name, "create procedures");
}

std::string EngineTest::UniqueName(const std::string& prefix) {
  return prefix + std::to_string(getpid());
}

std::filesystem::path EngineTest::ProgramFolder() { return dbplatform::ProgramFolder(); }

std::string EngineTest::UnreachableServer() {
  return "127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort());
}

void EngineTest::Click(QAbstractButton* button) { button->click(); }

QStringList EngineTest::ListLines() const {
  QStringList lines;
  for (int row = 0; row < form_->List1->Count(); ++row) lines << form_->List1->Text(row);
  return lines;
}

}  // namespace velmora_test
