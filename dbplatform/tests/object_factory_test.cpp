#include <gtest/gtest.h>

#include <filesystem>

#include "dbplatform/administration.h"
#include "dbplatform/error.h"
#include "dbplatform/object.h"
#include "dbplatform/platform.h"

namespace dbplatform {
namespace {

TEST(DefaultFactory, CreatesByIdentifierIgnoringCase) {
  EXPECT_NE(CreateObjectAs<FileSystemObject>(DefaultFactory(), "Scripting.FileSystemObject"),
            nullptr);
  EXPECT_NE(CreateObjectAs<FileSystemObject>(DefaultFactory(), "scripting.filesystemobject"),
            nullptr);
}

TEST(DefaultFactory, UnknownIdentifierAndWrongType) {
  try {
    DefaultFactory().CreateObject("Excel.Application");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kCannotCreateObject);
    EXPECT_EQ(error.Description(), "ActiveX component can't create object");
  }
  try {
    CreateObjectAs<SQLServer>(DefaultFactory(), "Scripting.FileSystemObject");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), 13);
  }
}

TEST(ProgramFolder, IsTheTestExecutablesFolder) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), kPathSeparator);
  EXPECT_TRUE(std::filesystem::exists(folder + "/dbplatform_tests"));
}

}  // namespace
}  // namespace dbplatform
