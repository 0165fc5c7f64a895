#pragma once
// Brellow's name, version and description. The version comes from the
// project version of the build (one place, the top-level CMakeLists.txt) and
// is read back at run time from the application object.

#include <QString>

namespace brellow {

// The program's title (message boxes) and settings application name.
inline constexpr char kProgramName[] = "Brellow";
inline constexpr char kProgramDescription[] = "Shrink MS SQL Server 7 / 2000 / MSDE databases.";

// Sets the application name, the four-part version and the description on the
// running QCoreApplication. Call once, right after creating it.
void RegisterProgramInfo();

struct ProgramVersion {
  int major = 0;
  int minor = 0;
  int revision = 0;  // the fourth part of the four-part version
};

// Parses QCoreApplication::applicationVersion(); missing parts read as 0.
ProgramVersion ReadProgramVersion();

// "major.minor.revision", each in decimal without leading zeros ("1.0.1").
QString ProgramVersionText();

}  // namespace brellow
