#pragma once
// Which session made each global temporary table (##name, a table of
// tempdb): the table is dropped when that session ends. A table made again
// after a drop belongs to its new maker; a maker whose table is gone by then
// finds nothing to drop. Thread-safe.

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sqlengine::exec {

class GlobalTempTables {
 public:
  // Session `spid` made the table `name`.
  void Made(const std::string& name, int spid);
  // The tables session `spid` made and still owns, forgotten here.
  std::vector<std::string> TakeMadeBy(int spid);

 private:
  std::mutex mutex_;
  std::map<std::string, std::pair<std::string, int>> makers_;  // lower-case name -> (name, spid)
};

}  // namespace sqlengine::exec
