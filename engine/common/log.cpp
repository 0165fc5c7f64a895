#include "engine/common/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace sqlengine {
namespace {

// One event stays one line whatever a client put in a name it sent: control
// characters (CR, LF, ESC...) are written as C escapes.
std::string EscapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

}  // namespace

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
  out_ << stamp << ' ' << level << ' ' << EscapeControlCharacters(text) << '\n';
  out_.flush();
}

}  // namespace sqlengine
