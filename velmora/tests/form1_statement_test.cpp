// "Execute SQL statement" and the record operations against a real engine.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "velmora/list_box.h"
#include "velmora/tests/engine_fixture.h"

namespace velmora_test {
namespace {

using StatementTest = EngineTest;

TEST_F(StatementTest, ListsColumnNamesThenRowsWithNullsAsEmpty) {
  ExecuteSql("CREATE DATABASE Shop");
  ExecuteSql("CREATE TABLE People (Name varchar(20), Note varchar(20), Position varchar(20))",
             "Shop");
  ExecuteSql("INSERT INTO People VALUES ('Ann', NULL, 'Clerk')", "Shop");
  ExecuteSql("INSERT INTO People VALUES ('Bo | b', 'x', 'Boss')", "Shop");
  form_->Text2->setText("Shop");
  form_->txtSQL->setText("SELECT Name, Note, Position FROM People ORDER BY Position DESC");

  Click(form_->cmdConnectToDB);
  EXPECT_TRUE(messages_.shown.empty());
  const QStringList expected = {"Name | Note | Position | ", "Ann |  | Clerk | ",
                                "Bo | b | x | Boss | "};
  EXPECT_EQ(ListLines(), expected);

  Click(form_->cmdConnectToDB);  // a second run replaces, never appends
  EXPECT_EQ(ListLines(), expected);
}

TEST_F(StatementTest, EmptyResultShowsTheHeaderAndNumbersFormatAsText) {
  ExecuteSql("CREATE DATABASE Shop");
  ExecuteSql("CREATE TABLE Items (Id int, Price decimal(6,2))", "Shop");
  form_->Text2->setText("Shop");
  form_->txtSQL->setText("SELECT Id, Price FROM Items");
  Click(form_->cmdConnectToDB);
  EXPECT_EQ(ListLines(), QStringList{"Id | Price | "});

  ExecuteSql("INSERT INTO Items VALUES (7, 12.50)", "Shop");
  Click(form_->cmdConnectToDB);
  EXPECT_EQ(ListLines(), (QStringList{"Id | Price | ", "7 | 12.50 | "}));

  // A statement without a row set still adds its (empty) header line.
  form_->txtSQL->setText("INSERT INTO Items VALUES (8, 1.00)");
  Click(form_->cmdConnectToDB);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(ListLines(), QStringList{""});
  EXPECT_EQ(QueryColumn("SELECT COUNT(*) FROM Items", "Shop"), std::vector<std::string>{"2"});
}

TEST_F(StatementTest, ConnectionFailureKeepsTheListAndStatementFailureEmptiesIt) {
  form_->List1->AddItem("earlier line");
  form_->Text2->setText("NoSuchDatabase");
  Click(form_->cmdConnectToDB);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].text.startsWith("-2147"));  // signed HRESULT, then ", "
  EXPECT_TRUE(messages_.shown[0].text.contains(", "));
  EXPECT_EQ(ListLines(), QStringList{"earlier line"});

  messages_.shown.clear();
  form_->Text2->setText("master");
  form_->txtSQL->setText("SELECT * FROM NoSuchTable");
  Click(form_->cmdConnectToDB);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(
      messages_.shown[0].text.startsWith(QString::number(dbplatform::kAdoNoSuchTable) + ", "))
      << messages_.shown[0].text.toStdString();
  EXPECT_TRUE(ListLines().isEmpty());
}

TEST_F(StatementTest, UnreachableServerIsOneNumberedMessage) {
  form_->Text1->setText(QString::fromStdString(UnreachableServer()));
  Click(form_->cmdConnectToDB);
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{QString::number(dbplatform::kAdoConnectionFailed) +
                                 ", [DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not "
                                 "exist or access denied."});
}

TEST_F(StatementTest, AddAndDeleteConfirmAndRefreshTheList) {
  if (!CreateSampleDatabase("Sample")) return;
  form_->Text2->setText("Sample");
  form_->txtName->setText("Ann");
  form_->txtPos->setText("Clerk");
  form_->txtSQL->setText("Select Name, Position from Test");

  Click(form_->cmdADD);
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{"Record added successfully. Name =Ann Position= Clerk"});
  EXPECT_EQ(ListLines(), (QStringList{"Name | Position | ", "Ann | Clerk | "}));
  EXPECT_EQ(QueryColumn("SELECT Position FROM Test WHERE Name = 'Ann'", "Sample"),
            std::vector<std::string>{"Clerk"});

  messages_.shown.clear();
  Click(form_->cmdDel);
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{"Record successfully deleted. Name =Ann Position= Clerk"});
  EXPECT_EQ(ListLines(), QStringList{"Name | Position | "});
}

TEST_F(StatementTest, AddWithEmptyTextsPassesThemOn) {
  if (!CreateSampleDatabase("Sample")) return;
  form_->Text2->setText("Sample");
  form_->txtName->clear();
  form_->txtPos->clear();
  Click(form_->cmdADD);
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{"Record added successfully. Name = Position= "});
  EXPECT_EQ(QueryColumn("SELECT COUNT(*) FROM Test WHERE Name = '' AND Position = ''", "Sample"),
            std::vector<std::string>{"1"});
}

TEST_F(StatementTest, MissingProcedureIsOneErrorAndLeavesTheList) {
  ExecuteSql("CREATE DATABASE Plain");
  form_->Text2->setText("Plain");
  form_->List1->AddItem("kept");
  Click(form_->cmdADD);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_FALSE(messages_.shown[0].text.startsWith("Record"));
  EXPECT_TRUE(messages_.shown[0].text.contains(", "));
  EXPECT_EQ(ListLines(), QStringList{"kept"});

  messages_.shown.clear();
  form_->Text1->setText(QString::fromStdString(UnreachableServer()));
  Click(form_->cmdDel);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(
      messages_.shown[0].text.startsWith(QString::number(dbplatform::kAdoConnectionFailed)));
}

}  // namespace
}  // namespace velmora_test
