#pragma once
// Facts about the running program.

#include <string>

namespace dbplatform {

// The folder of the running executable, without a trailing separator.
std::string ProgramFolder();

// The separator used where a folder and a file name are joined.
inline constexpr char kPathSeparator = '/';

}  // namespace dbplatform
