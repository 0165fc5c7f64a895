// Where a program keeps its data and backup files: the executable's folder in
// a build tree, the user's own seeded folder for an installation or a folder
// this user cannot write.
#include "program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "testing/test_engine.h"

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = testing_support::MakeTempFolder("dbplatform-program-folder"); }
  void TearDown() override {
    fs::permissions(root_ / "usr" / "bin", fs::perms::owner_all, fs::perm_options::add, ignored_);
    fs::remove_all(root_);
  }

  // An installation: programs in usr/bin, shipped data in usr/share/velmora.
  ProgramFolderLayout Installed() const {
    return {root_ / "usr" / "bin", root_ / "usr" / "share" / "velmora",
            root_ / "home" / ".local" / "share" / "velmora"};
  }

  fs::path root_;
  std::error_code ignored_;
};

TEST_F(ProgramFolderTest, ABuildTreeKeepsItsFilesBesideTheProgram) {
  ProgramFolderLayout layout = Installed();
  Write(layout.executable_folder / "TestProjSQL.mdf", "sample");

  ProgramFolderChoice choice = ChooseProgramFolder(layout);

  EXPECT_EQ(choice.folder, layout.executable_folder);
  EXPECT_EQ(choice.problem, "");
  EXPECT_FALSE(fs::exists(layout.user_folder));
}

TEST_F(ProgramFolderTest, AnInstallationUsesTheUsersFolderSeededWithWritableCopies) {
  ProgramFolderLayout layout = Installed();
  fs::create_directories(layout.executable_folder);
  Write(layout.installed_data_folder / "TestProjSQL.mdf", "sample");
  Write(layout.installed_data_folder / "Other.mdf", "other");
  Write(layout.installed_data_folder / "README", "not a data file");
  fs::permissions(layout.installed_data_folder / "TestProjSQL.mdf",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  // Even where the program's folder is writable (root, a private prefix), an
  // installation keeps the user's files out of it.
  ProgramFolderChoice choice = ChooseProgramFolder(layout);

  EXPECT_EQ(choice.folder, layout.user_folder);
  EXPECT_EQ(choice.problem, "");
  EXPECT_EQ(Read(layout.user_folder / "TestProjSQL.mdf"), "sample");
  EXPECT_EQ(Read(layout.user_folder / "Other.mdf"), "other");
  EXPECT_FALSE(fs::exists(layout.user_folder / "README"));
  // Attach DB copies this file into the engine's data folder with its mode;
  // a read-only copy would give a database the engine cannot write.
  EXPECT_NE(
      fs::status(layout.user_folder / "TestProjSQL.mdf").permissions() & fs::perms::owner_write,
      fs::perms::none);
  for (const auto& entry : fs::directory_iterator(layout.user_folder)) {
    EXPECT_EQ(entry.path().extension(), ".mdf") << entry.path();
  }
}

TEST_F(ProgramFolderTest, TheUsersCopiesAndBackupsAreKeptAndMissingOnesComeBack) {
  ProgramFolderLayout layout = Installed();
  Write(layout.installed_data_folder / "TestProjSQL.mdf", "shipped");
  Write(layout.user_folder / "TestProjSQL.mdf", "the user's own");
  Write(layout.user_folder / "TestProjSQL_DB.bak", "backup");

  ChooseProgramFolder(layout);
  EXPECT_EQ(Read(layout.user_folder / "TestProjSQL.mdf"), "the user's own");
  EXPECT_EQ(Read(layout.user_folder / "TestProjSQL_DB.bak"), "backup");

  fs::remove(layout.user_folder / "TestProjSQL.mdf");
  ChooseProgramFolder(layout);
  EXPECT_EQ(Read(layout.user_folder / "TestProjSQL.mdf"), "shipped");
}

TEST_F(ProgramFolderTest, AFolderThatCannotBeMadeIsToldAndStillChosen) {
  ProgramFolderLayout layout = Installed();
  Write(layout.installed_data_folder / "TestProjSQL.mdf", "sample");
  Write(root_ / "home" / ".local", "a file where the folder should be");

  ProgramFolderChoice choice = ChooseProgramFolder(layout);

  EXPECT_EQ(choice.folder, layout.user_folder);
  EXPECT_NE(choice.problem.find("cannot create " + layout.user_folder.string()), std::string::npos)
      << choice.problem;
}

TEST_F(ProgramFolderTest, AReadOnlyProgramFolderIsSeededFromItself) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root writes to read-only folders; the package test covers this as an "
                    "ordinary user";
  }
  ProgramFolderLayout layout = Installed();
  Write(layout.executable_folder / "TestProjSQL.mdf", "beside the program");
  fs::permissions(layout.executable_folder, fs::perms::owner_write, fs::perm_options::remove);

  ProgramFolderChoice choice = ChooseProgramFolder(layout);

  EXPECT_EQ(choice.folder, layout.user_folder);
  EXPECT_EQ(Read(layout.user_folder / "TestProjSQL.mdf"), "beside the program");
}

TEST(CanCreateFilesIn, TriesInsteadOfReadingPermissionBits) {
  fs::path folder = testing_support::MakeTempFolder("dbplatform-writable");
  EXPECT_TRUE(CanCreateFilesIn(folder));
  EXPECT_TRUE(fs::is_empty(folder));  // the probe leaves nothing behind
  EXPECT_FALSE(CanCreateFilesIn(folder / "missing"));
  // No one, root included, creates files in /proc.
  EXPECT_FALSE(CanCreateFilesIn("/proc"));
  fs::remove_all(folder);
}

TEST(UserDataFolder, FollowsXdgDataHomeElseHome) {
  const char* saved_data = std::getenv("XDG_DATA_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string data = saved_data ? saved_data : "";
  const std::string home = saved_home ? saved_home : "";

  ::setenv("XDG_DATA_HOME", "/data/of/user", 1);
  EXPECT_EQ(UserDataFolder(), fs::path("/data/of/user/velmora"));
  // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
  ::setenv("XDG_DATA_HOME", "relative", 1);
  ::setenv("HOME", "/home/user", 1);
  EXPECT_EQ(UserDataFolder(), fs::path("/home/user/.local/share/velmora"));
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserDataFolder(), fs::path("/home/user/.local/share/velmora"));

  if (saved_data) ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  ::setenv("HOME", home.c_str(), 1);
  if (!saved_home) ::unsetenv("HOME");
}

}  // namespace
}  // namespace dbplatform
