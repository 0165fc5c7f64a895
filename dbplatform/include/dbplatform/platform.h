#pragma once
// Facts about the running program.

#include <string>

namespace dbplatform {

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

// The folder a program reads its data files (*.mdf) from and writes its
// backup files to, without a trailing separator:
// - the executable's folder, when this user can create files there and the
//   program does not run from an installed layout (a build tree or a private
//   copy of the programs);
// - otherwise the per-user folder $XDG_DATA_HOME/velmora (default
//   ~/.local/share/velmora), created when missing and given a copy of every
//   shipped data file it lacks (from <prefix>/share/velmora, or from the
//   executable's folder when that is read-only). Copies already there are the
//   user's and are never replaced.
// Never throws; when the per-user folder cannot be made, it says so on
// standard error and still returns that folder, so the operation that uses
// it fails with the file system's own error.
std::string ProgramFolder();

// The separator used where a folder and a file name are joined.
inline constexpr char kPathSeparator = '/';

}  // namespace dbplatform
