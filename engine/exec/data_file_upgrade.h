#pragma once
// Bringing a data file made by an earlier version of the engine to the
// current format (catalog::kDataFileFormat): once, when the file is attached,
// restored or first opened by this engine, before any session reads it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/sink.h"

namespace sqlengine::exec {

// Whether the upgrade first copies the file aside. A restore upgrades the
// image it extracted and keeps the backup set itself.
enum class UpgradeCopy { kKeep, kNone };

// What an upgrade did; nullopt from UpgradeDataFile when the file was current.
struct FormatUpgrade {
  int from = 0;
  int to = 0;
  std::filesystem::path copy;  // the file as it was (empty with UpgradeCopy::kNone)
  // What the upgrade left as it was and why, one line each, for the log and
  // the client (a table whose rows repeat a key under the new collations).
  std::vector<std::string> notes;
};

// The copy an upgrade of `data_file` from format `from` leaves beside it.
std::filesystem::path UpgradeCopyPath(const std::filesystem::path& data_file, int from);

// Upgrades `data_file` (checked by VerifyDataFile, open in no session) in one
// transaction: everything or, when a step fails, nothing is changed and the
// copy is removed again. Throws std::runtime_error saying what failed, also
// for a file of a later format than this engine knows.
std::optional<FormatUpgrade> UpgradeDataFile(const std::filesystem::path& data_file,
                                             UpgradeCopy copy);

// The informational message (severity 10) that tells the client of one of
// an upgrade's notes about `database`.
ServerMessage UpgradeNotice(const std::string& database, const std::string& note);

// The line the engine's log keeps about `upgrade` of `data_file`.
std::string UpgradeReport(const std::filesystem::path& data_file, const FormatUpgrade& upgrade);

}  // namespace sqlengine::exec
