#pragma once
// Backup files: a sequence of backup sets, each a text header block followed
// by a consistent image of one data file (see doc/backup-format.md). Appending
// and overwriting both write a new file beside the old one and rename it into
// place, so a failure never leaves a half-written backup file behind.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sqlengine::catalog {

struct BackupSetHeader {
  std::string database_name;
  std::string backup_name;  // WITH NAME = ..., may be empty
  std::string description;  // WITH DESCRIPTION = ..., may be empty
  std::string user_name;    // login that made the backup
  std::string server_name;
  std::string database_created;    // "YYYY-MM-DD HH:MM:SS.mmm"
  std::string backup_start;        // "YYYY-MM-DD HH:MM:SS.mmm"
  std::string backup_finish;       // "YYYY-MM-DD HH:MM:SS.mmm"
  std::string data_logical_name;   // as sysfiles.name: <db>
  std::string log_logical_name;    // as sysfiles.name: <db>_log
  std::string data_physical_name;  // the source data file's path
  std::string log_physical_name;   // the source log file's path
  int compatibility_level = 80;
  int position = 0;              // 1-based position of the set in its file
  std::uint64_t image_size = 0;  // bytes of the data file image
  std::uint32_t page_size = 8192;
};

// A set as found in a file: its header and where its image starts.
struct BackupSet {
  BackupSetHeader header;
  std::uint64_t image_offset = 0;
};

// The block size of a set's header; images start at a multiple of it.
inline constexpr std::uint64_t kBackupHeaderSize = 4096;

// Every set of `backup_file`, in position order. Throws std::runtime_error
// when the file cannot be read or is not a backup file (a truncated last set
// counts as damage).
std::vector<BackupSet> ReadBackupSets(const std::filesystem::path& backup_file);

// Writes a backup file holding the sets of `keep_from` (when not empty: the
// existing file, appended to) and then a new set made of `header` and the
// bytes of `image`. header.position and image_size are set here. The new
// file is synced and renamed over `backup_file`. Throws std::runtime_error
// with the operating system's reason; `backup_file` is unchanged then.
BackupSetHeader WriteBackupSet(const std::filesystem::path& backup_file, bool append,
                               BackupSetHeader header, const std::filesystem::path& image);

// Copies the image of `set` out of `backup_file` into `target` (created or
// truncated) and syncs it. Throws std::runtime_error.
void ExtractBackupImage(const std::filesystem::path& backup_file, const BackupSet& set,
                        const std::filesystem::path& target);

}  // namespace sqlengine::catalog
