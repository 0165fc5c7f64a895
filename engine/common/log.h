#pragma once
// The engine's log: <home>/log/sqlengine.log. Thread-safe; one line per event,
// prefixed with a UTC timestamp and the level. Control characters in the
// text (a newline in a login name) are escaped, so no event can forge a line.

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

namespace sqlengine {

class Log {
 public:
  Log() = default;  // discards everything (tests)
  explicit Log(const std::filesystem::path& file);
  void Info(std::string_view text);
  void Warning(std::string_view text);
  void Error(std::string_view text);

 private:
  void Write(std::string_view level, std::string_view text);
  std::mutex mutex_;
  std::ofstream out_;
};

}  // namespace sqlengine
