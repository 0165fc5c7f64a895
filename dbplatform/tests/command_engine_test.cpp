// Stored-procedure calls through the command object against a real engine.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace dbplatform {
namespace {

class ProcedureCall : public EngineSuite {
 protected:
  // Creates the database and its procedures once per suite.
  static void Prepare() {
    if (prepared_) return;
    prepared_ = true;
    auto connection = Open();
    Run(*connection, "CREATE DATABASE CmdDb");
    connection->Close();
    auto db = Open("CmdDb");
    Run(*db, "CREATE TABLE Test (Name nvarchar(50), Position nvarchar(50))");
    Run(*db,
        "CREATE PROCEDURE DoOperation @Opn smallint, @Name nvarchar(50), @Pos nvarchar(50) AS "
        "BEGIN IF @Opn = 1 INSERT INTO Test VALUES (@Name, @Pos) "
        "ELSE IF @Opn = 2 DELETE FROM Test WHERE Name = @Name AND Position = @Pos "
        "RETURN @Opn * 10 END");
    Run(*db, "CREATE PROCEDURE Do_Twice @x int, @y int OUTPUT AS BEGIN SET @y = @x * 2 END");
    Run(*db, "CREATE PROCEDURE DoXTwice AS BEGIN RETURN 0 END");
  }

  static inline bool prepared_ = false;

  static std::unique_ptr<Command> ProcedureCommand(const std::string& name) {
    auto command = CreateObjectAs<Command>(DefaultFactory(), "ADODB.Command");
    command->SetActiveConnection(VelmoraText("CmdDb"));
    command->SetCommandText(name);
    command->SetCommandType(Command::kStoredProcedure);
    return command;
  }

  static std::string RowCount(const std::string& name) {
    auto db = Open("CmdDb");
    return Scalar(*db, "SELECT COUNT(*) FROM Test WHERE Name = N'" + name + "'");
  }
};

TEST_F(ProcedureCall, ParametersDescribedThenAddAndDelete) {
  Prepare();
  auto command = ProcedureCommand("DoOperation");
  ParameterCollection& parameters = command->Parameters();
  ASSERT_EQ(parameters.Count(), 4);
  EXPECT_EQ(parameters.Item(0).Name(), "@RETURN_VALUE");
  EXPECT_EQ(parameters.Item(1).Name(), "@Opn");
  EXPECT_EQ(parameters.Item(3).Name(), "@Pos");
  parameters.Item(1).SetValue(Value(std::int16_t{1}));
  parameters.Item(2).SetValue(Value(std::string("Ann \xC3\xA9")));
  parameters.Item(3).SetValue(Value(std::string("Clerk")));
  command->Execute();  // released unread
  EXPECT_EQ(RowCount("Ann \xC3\xA9"), "1");
  EXPECT_EQ(ToText(parameters.Item(0).GetValue()), "10");

  auto remove = ProcedureCommand("DoOperation");
  remove->Parameters().Item(1).SetValue(Value(std::int16_t{2}));
  remove->Parameters().Item(2).SetValue(Value(std::string("Ann \xC3\xA9")));
  remove->Parameters().Item(3).SetValue(Value(std::string("Clerk")));
  remove->Execute();
  EXPECT_EQ(RowCount("Ann \xC3\xA9"), "0");
}

TEST_F(ProcedureCall, OutputParameterAndLiteralUnderscore) {
  Prepare();
  auto command = ProcedureCommand("Do_Twice");
  ParameterCollection& parameters = command->Parameters();
  ASSERT_EQ(parameters.Count(), 3);
  parameters.Item(1).SetValue(Value(std::int32_t{21}));
  command->Execute();
  EXPECT_EQ(ToText(parameters.Item(2).GetValue()), "42");
}

TEST_F(ProcedureCall, MissingProcedure) {
  Prepare();
  auto command = ProcedureCommand("NoSuchProcedure");
  EXPECT_EQ(command->Parameters().Count(), 0);
  EXPECT_EQ(ErrorNumberOf([&] { command->Parameters().Item(1); }), 3265);
  try {
    command->Execute();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoServerError);
    EXPECT_EQ(error.Description(), "Could not find stored procedure 'NoSuchProcedure'.");
  }
}

}  // namespace
}  // namespace dbplatform
