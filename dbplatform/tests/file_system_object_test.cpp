#include "file_system_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dbplatform/error.h"
#include "error_number.h"
#include "testing/test_engine.h"

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

class FileSystemObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = testing_support::MakeTempFolder("dbplatform-fso"); }
  void TearDown() override { fs::remove_all(folder_); }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path folder_;
  std::unique_ptr<FileSystemObject> files_ = MakeLocalFileSystemObject();
};

TEST_F(FileSystemObjectTest, FileExistsSeesFilesOnlyAndIgnoresCase) {
  Write("TestProjSQL.mdf", "data");
  fs::create_directory(folder_ / "Folder");
  EXPECT_TRUE(files_->FileExists(PathOf("TestProjSQL.mdf")));
  EXPECT_TRUE(files_->FileExists(PathOf("testprojsql.MDF")));
  EXPECT_FALSE(files_->FileExists(PathOf("TestProjSQL.ldf")));
  EXPECT_FALSE(files_->FileExists(PathOf("Folder")));
  EXPECT_FALSE(files_->FileExists(PathOf("missing/TestProjSQL.mdf")));
}

TEST_F(FileSystemObjectTest, CopyFileOverwritesOnlyWhenAsked) {
  Write("a.mdf", "new contents");
  Write("b.mdf", "old");
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("a.mdf"), PathOf("b.mdf"), false); }),
            kFileAlreadyExists);
  EXPECT_EQ(Read("b.mdf"), "old");
  files_->CopyFile(PathOf("a.mdf"), PathOf("b.mdf"), true);
  EXPECT_EQ(Read("b.mdf"), "new contents");
  files_->CopyFile(PathOf("a.mdf"), PathOf("c.mdf"), false);
  EXPECT_EQ(Read("c.mdf"), "new contents");
  EXPECT_EQ(Read("a.mdf"), "new contents");
}

TEST_F(FileSystemObjectTest, CopyFileIntoFolderAndItsFailures) {
  Write("a.mdf", "x");
  fs::create_directory(folder_ / "data");
  files_->CopyFile(PathOf("a.mdf"), PathOf("data/"), false);
  EXPECT_EQ(Read("data/a.mdf"), "x");
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("none.mdf"), PathOf("z.mdf"), true); }),
            kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("a.mdf"), PathOf("no/z.mdf"), true); }),
            76);
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("a.mdf"), PathOf("data"), true); }),
            kPermissionDenied);
  EXPECT_FALSE(fs::exists(folder_ / "z.mdf"));
  // No temporary file is left behind by a successful or failed copy.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);
}

TEST_F(FileSystemObjectTest, CopyNeverDestroysTheSourceOrAReadOnlyTarget) {
  Write("Data.mdf", "precious");
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("Data.mdf"), PathOf("data.MDF"), true); }),
            kPermissionDenied);
  EXPECT_EQ(Read("Data.mdf"), "precious");
  Write("ro.mdf", "keep");
  fs::permissions(folder_ / "ro.mdf", fs::perms::owner_read);
  EXPECT_EQ(ErrorNumberOf([&] { files_->CopyFile(PathOf("Data.mdf"), PathOf("ro.mdf"), true); }),
            kPermissionDenied);
  EXPECT_EQ(Read("ro.mdf"), "keep");
}

TEST_F(FileSystemObjectTest, OtherCaseNamesTheExistingFile) {
  Write("TestProjSQL.mdf", "old");
  Write("source.bin", "new");
  files_->CopyFile(PathOf("SOURCE.BIN"), PathOf("testprojsql.mdf"), true);
  EXPECT_EQ(Read("TestProjSQL.mdf"), "new");
  EXPECT_FALSE(fs::exists(folder_ / "testprojsql.mdf"));
  files_->DeleteFile(PathOf("TESTPROJSQL.MDF"), false);
  EXPECT_FALSE(fs::exists(folder_ / "TestProjSQL.mdf"));
}

TEST_F(FileSystemObjectTest, AmbiguousOtherCaseNamesNothing) {
  Write("Db.mdf", "1");
  Write("DB.mdf", "2");
  EXPECT_TRUE(files_->FileExists(PathOf("Db.mdf")));
  EXPECT_FALSE(files_->FileExists(PathOf("db.mdf")));
  EXPECT_EQ(ErrorNumberOf([&] { files_->DeleteFile(PathOf("db.mdf"), true); }), kFileNotFound);
  files_->DeleteFile(PathOf("DB.mdf"), false);
  EXPECT_EQ(Read("Db.mdf"), "1");
}

TEST_F(FileSystemObjectTest, DeleteFileErrors) {
  EXPECT_EQ(ErrorNumberOf([&] { files_->DeleteFile(PathOf("missing_log.ldf"), false); }),
            kFileNotFound);
  fs::create_directory(folder_ / "dir");
  EXPECT_EQ(ErrorNumberOf([&] { files_->DeleteFile(PathOf("dir"), true); }), kFileNotFound);
  Write("ro.ldf", "x");
  fs::permissions(folder_ / "ro.ldf", fs::perms::owner_read);
  EXPECT_EQ(ErrorNumberOf([&] { files_->DeleteFile(PathOf("ro.ldf"), false); }), kPermissionDenied);
  EXPECT_TRUE(fs::exists(folder_ / "ro.ldf"));
  files_->DeleteFile(PathOf("ro.ldf"), true);
  EXPECT_FALSE(fs::exists(folder_ / "ro.ldf"));
}

}  // namespace
}  // namespace dbplatform
