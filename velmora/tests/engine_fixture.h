#pragma once
// A test against a real sqlengine: the engine runs on a free loopback port in a
// temporary home, the main window is aimed at it and its message boxes are
// recorded. The test fails, with the reason, when the engine or the
// dbplatform objects cannot serve.

#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

#include "testing/test_engine.h"
#include "velmora/form1.h"
#include "velmora/tests/test_seams.h"

class QAbstractButton;

namespace velmora_test {

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  void SetUp() override;
  void TearDown() override;

  // Runs `sql` in `database` through the real data access objects and reads
  // its first result to the end; throws dbplatform::Error.
  void ExecuteSql(const std::string& sql, const std::string& database = "master");
  // The first column of the first result, one text per row.
  std::vector<std::string> QueryColumn(const std::string& sql,
                                       const std::string& database = "master");
  // Runs `sql` like ExecuteSql; when the engine rejects it as a statement or
  // procedure it does not know, fails the test naming `feature` and returns
  // false. Other failures throw.
  bool ExecuteOrFail(const std::string& sql, const std::string& database,
                     const std::string& feature);
  // False, with the test failed, when the engine has no procedure of that
  // name (the probe runs it without arguments in master).
  bool RequireProcedure(const std::string& procedure);
  // False, with the test failed, when the engine has no BACKUP statement.
  bool EngineBacksUp();
  // Fails the test; the caller returns.
  void FailMissingFeature(const std::string& reason);
  bool DatabaseExists(const std::string& name);
  // Creates `name` with the table Test (Name, Position) and the procedure
  // DoOperation (1 adds a row, 2 deletes the matching rows); false when the
  // test failed because the engine cannot create procedures.
  bool CreateSampleDatabase(const std::string& name);

  // A name unique to this test process, for files in the shared program folder.
  static std::string UniqueName(const std::string& prefix);
  static std::filesystem::path ProgramFolder();
  // "127.0.0.1,PORT" of a loopback port that nothing listens on.
  static std::string UnreachableServer();

  void Click(QAbstractButton* button);
  QStringList ListLines() const;
  std::string ServerName() const { return engine_->ServerName(); }

  std::unique_ptr<testing_support::TestEngine> engine_;
  RecordingMessages messages_;
  RecordingEnd end_;
  FaultyFactory factory_;
  std::unique_ptr<velmora::Form1> form_;
};

}  // namespace velmora_test
