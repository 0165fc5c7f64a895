#pragma once
// The instance home: <home>/data/ holds master.mdf and every database's
// <name>.mdf and <name>_log.ldf.

#include <filesystem>
#include <string_view>

#include "engine/common/log.h"

namespace sqlengine::catalog {

class InstanceHome {
 public:
  explicit InstanceHome(std::filesystem::path home);

  // Creates what a new home lacks (data folder, master, model, msdb) and
  // recreates tempdb. Throws std::runtime_error with a clear message.
  void Prepare(Log& log);

  const std::filesystem::path& Root() const { return root_; }
  // Absolute, ending in '/' as SQL Server reports it.
  std::filesystem::path DataFolder() const { return root_ / "data" / ""; }
  std::filesystem::path MasterFile() const { return DataFolder() / "master.mdf"; }
  // A catalog file name (relative: inside the data folder) as a full path.
  std::filesystem::path Resolve(std::string_view file_name) const;

 private:
  std::filesystem::path root_;
};

}  // namespace sqlengine::catalog
