#include "path_lookup.h"

#include <sys/stat.h>

#include <string>
#include <system_error>

namespace dbplatform {
namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EntryExists(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

PathMatch FindIgnoringCase(const std::filesystem::path& path) {
  if (EntryExists(path)) return {PathMatchKind::kExact, path};
  std::string wanted = path.filename().string();
  if (wanted.empty()) return {};
  std::filesystem::path folder = path.parent_path();
  std::error_code error;
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  if (error) return {};
  PathMatch match;
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().string();
    if (!EqualIgnoringAsciiCase(name, wanted)) continue;
    if (match.kind == PathMatchKind::kOtherCase) return {PathMatchKind::kAmbiguous, {}};
    match = {PathMatchKind::kOtherCase, folder / name};
  }
  return match;
}

}  // namespace dbplatform
