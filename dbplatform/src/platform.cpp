#include "dbplatform/platform.h"

#include <filesystem>
#include <system_error>

namespace dbplatform {

std::string ProgramFolder() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path().string();
  std::string folder = executable.parent_path().string();
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  return folder;
}

}  // namespace dbplatform
