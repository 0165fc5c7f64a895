#include "program_folder.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

constexpr char kDataFolderName[] = "velmora";

bool IsDataFile(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.is_regular_file(error) && entry.path().extension() == ".mdf";
}

// Copies through a temporary name in the destination folder and renames, so
// a copy cut short never looks like a data file. The copy belongs to the user
// (read and write), whatever the shipped file's mode.
void CopyIn(const fs::path& source, const fs::path& destination, std::error_code& error) {
  fs::path partial = destination;
  partial += ".partial";
  fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
  if (!error) {
    fs::permissions(partial,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    error);
  }
  if (!error) fs::rename(partial, destination, error);
  if (error) {
    std::error_code ignored;
    fs::remove(partial, ignored);
  }
}

std::string Seed(const fs::path& shipped, const fs::path& user_folder) {
  std::error_code error;
  fs::directory_iterator entries(shipped, error);
  if (error) return {};  // nothing shipped: an empty per-user folder is still usable
  std::string problem;
  for (const fs::directory_entry& entry : entries) {
    if (!IsDataFile(entry)) continue;
    const fs::path copy = user_folder / entry.path().filename();
    if (fs::exists(fs::symlink_status(copy, error))) continue;
    CopyIn(entry.path(), copy, error);
    if (error) {
      problem += (problem.empty() ? "" : "; ") + std::string("cannot copy ") +
                 entry.path().string() + " to " + copy.string() + ": " + error.message();
    }
  }
  return problem;
}

}  // namespace

bool CanCreateFilesIn(const fs::path& folder) {
  std::string name = (folder / ".write-test-XXXXXX").string();
  int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(name.c_str());
  return true;
}

fs::path UserDataFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return fs::path(data) / kDataFolderName;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* entry = ::getpwuid(::getuid());
    home = entry != nullptr ? entry->pw_dir : "/tmp";
  }
  return fs::path(home) / ".local" / "share" / kDataFolderName;
}

ProgramFolderChoice ChooseProgramFolder(const ProgramFolderLayout& layout) {
  std::error_code error;
  const bool installed = fs::is_directory(layout.installed_data_folder, error);
  if (!installed && CanCreateFilesIn(layout.executable_folder)) {
    return {layout.executable_folder, {}};
  }
  ProgramFolderChoice choice{layout.user_folder, {}};
  fs::create_directories(layout.user_folder, error);
  if (error) {
    choice.problem = "cannot create " + layout.user_folder.string() + ": " + error.message();
    return choice;
  }
  choice.problem =
      Seed(installed ? layout.installed_data_folder : layout.executable_folder, layout.user_folder);
  return choice;
}

}  // namespace dbplatform
