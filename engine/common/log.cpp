#include "engine/common/log.h"

#include <chrono>
#include <ctime>

namespace sqlengine {

Log::Log(const std::filesystem::path& file) {
  std::filesystem::create_directories(file.parent_path());
  out_.open(file, std::ios::app);
}

void Log::Info(std::string_view text) { Write("INFO", text); }
void Log::Warning(std::string_view text) { Write("WARN", text); }
void Log::Error(std::string_view text) { Write("ERROR", text); }

void Log::Write(std::string_view level, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!out_.is_open()) return;
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  out_ << stamp << ' ' << level << ' ' << text << '\n';
  out_.flush();
}

}  // namespace sqlengine
