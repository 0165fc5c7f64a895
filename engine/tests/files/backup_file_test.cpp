// The backup file format on its own: sets appended and read back, images
// extracted byte for byte, damage noticed, failed writes leaving the old
// file as it was.
#include "engine/catalog/backup_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "testing/test_engine.h"

namespace sqlengine::catalog {
namespace {

class BackupFileTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = testing_support::MakeTempFolder("backup-file"); }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path WriteImage(const std::string& name, size_t size, char seed) {
    std::filesystem::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(seed + static_cast<char>(i % 251)));
    return path;
  }

  static std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path folder_;
};

TEST_F(BackupFileTest, AppendedSetsReadBackWithTheirHeadersAndImages) {
  std::filesystem::path file = folder_ / "two sets.bak";
  BackupSetHeader first;
  first.database_name = "shop 'é'";
  first.backup_name = "line one\nline two = 100%";
  first.backup_start = "2026-01-02 03:04:05.006";
  std::filesystem::path image_one = WriteImage("one.img", 10000, 'a');
  std::filesystem::path image_two = WriteImage("two.img", 8192 * 3, 'z');
  EXPECT_EQ(WriteBackupSet(file, true, first, image_one).position, 1);
  BackupSetHeader second;
  second.database_name = "shop 'é'";
  second.compatibility_level = 70;
  EXPECT_EQ(WriteBackupSet(file, true, second, image_two).position, 2);

  std::vector<BackupSet> sets = ReadBackupSets(file);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].header.database_name, "shop 'é'");
  EXPECT_EQ(sets[0].header.backup_name, "line one\nline two = 100%");
  EXPECT_EQ(sets[0].header.backup_start, "2026-01-02 03:04:05.006");
  EXPECT_EQ(sets[0].header.image_size, 10000u);
  EXPECT_EQ(sets[1].header.position, 2);
  EXPECT_EQ(sets[1].header.compatibility_level, 70);

  ExtractBackupImage(file, sets[0], folder_ / "out one");
  ExtractBackupImage(file, sets[1], folder_ / "out two");
  EXPECT_EQ(Contents(folder_ / "out one"), Contents(image_one));
  EXPECT_EQ(Contents(folder_ / "out two"), Contents(image_two));

  BackupSetHeader fresh;
  fresh.database_name = "other";
  WriteBackupSet(file, false, fresh, image_two);
  sets = ReadBackupSets(file);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].header.database_name, "other");
  EXPECT_EQ(sets[0].header.position, 1);
}

TEST_F(BackupFileTest, DamagedOrForeignFilesAreRefused) {
  std::filesystem::path file = folder_ / "cut.bak";
  WriteBackupSet(file, false, BackupSetHeader{}, WriteImage("img", 20000, 'q'));
  std::filesystem::resize_file(file, std::filesystem::file_size(file) - 8192);
  EXPECT_THROW(ReadBackupSets(file), std::runtime_error);

  std::filesystem::path foreign = WriteImage("foreign.bak", 5000, 'x');
  EXPECT_THROW(ReadBackupSets(foreign), std::runtime_error);
  EXPECT_THROW(ReadBackupSets(folder_ / "missing.bak"), std::runtime_error);
  std::ofstream(folder_ / "empty.bak").close();
  EXPECT_THROW(ReadBackupSets(folder_ / "empty.bak"), std::runtime_error);
}

TEST_F(BackupFileTest, AFailedWriteLeavesTheOldFileAndNoLeftovers) {
  std::filesystem::path file = folder_ / "keep.bak";
  WriteBackupSet(file, false, BackupSetHeader{}, WriteImage("img", 3000, 'k'));
  std::string before = Contents(file);
  EXPECT_THROW(WriteBackupSet(file, true, BackupSetHeader{}, folder_ / "no image"),
               std::runtime_error);
  EXPECT_THROW(WriteBackupSet(file, false, BackupSetHeader{}, folder_ / "no image"),
               std::runtime_error);
  EXPECT_EQ(Contents(file), before);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

}  // namespace
}  // namespace sqlengine::catalog
