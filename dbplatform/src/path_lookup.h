#pragma once
// Name lookup that ignores letter case in the last component of a path, as
// file names do on the platform the programs come from. Folder components are
// taken as given.

#include <filesystem>
#include <string_view>

namespace dbplatform {

enum class PathMatchKind {
  kNone,       // nothing of that name, in any letter case
  kExact,      // the name exists exactly as given
  kOtherCase,  // exactly one entry differs from the name only in ASCII letter case
  kAmbiguous,  // several entries differ only in case and none matches exactly
};

struct PathMatch {
  PathMatchKind kind = PathMatchKind::kNone;
  std::filesystem::path path;  // the entry on disk for kExact and kOtherCase
  bool Found() const { return kind == PathMatchKind::kExact || kind == PathMatchKind::kOtherCase; }
};

// Never throws; an unreadable folder counts as kNone.
PathMatch FindIgnoringCase(const std::filesystem::path& path);

// ASCII letters compared without case; other bytes (UTF-8 included) exactly.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace dbplatform
