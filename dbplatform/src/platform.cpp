#include "dbplatform/platform.h"

#include <errno.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "program_folder.h"

namespace dbplatform {

std::string ExecutableFolder() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path().string();
  std::string folder = executable.parent_path().string();
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  return folder;
}

std::string ProgramFolder() {
  const std::filesystem::path executable_folder = ExecutableFolder();
  // The build passes where the shipped data files lie relative to the
  // installed programs, so a relocated installation still finds them.
  const ProgramFolderChoice choice = ChooseProgramFolder(
      {executable_folder,
       (executable_folder / DBPLATFORM_INSTALLED_DATA_FROM_BINDIR).lexically_normal(),
       UserDataFolder()});
  if (!choice.problem.empty())
    std::cerr << program_invocation_short_name << ": " << choice.problem << '\n';
  std::string folder = choice.folder.string();
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  return folder;
}

}  // namespace dbplatform
