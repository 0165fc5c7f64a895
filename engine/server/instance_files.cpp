#include "engine/server/instance_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sqlengine::server {

std::filesystem::path LockFile(const std::filesystem::path& home) {
  return home / "sqlengine.lock";
}
std::filesystem::path PortFile(const std::filesystem::path& home) {
  return home / "sqlengine.port";
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::filesystem::path& home) {
  std::error_code error;
  std::filesystem::create_directories(home, error);
  if (error) throw std::runtime_error("cannot create " + home.string() + ": " + error.message());
  int fd = open(LockFile(home).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error("cannot open " + LockFile(home).string() + ": " +
                             std::strerror(errno));
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(home, fd));
}

InstanceLock::~InstanceLock() {
  if (fd_ < 0) return;
  if (published_) {
    std::error_code ignored;
    std::filesystem::remove(PortFile(home_), ignored);
    [[maybe_unused]] int rc = ftruncate(fd_, 0);
  }
  close(fd_);  // releases the flock
}

void InstanceLock::Publish(const InstanceInfo& info) {
  std::ostringstream content;
  content << info.pid << '\n' << info.port << '\n';
  for (const std::string& e : info.endpoints) content << e << '\n';
  std::string text = content.str();
  if (ftruncate(fd_, 0) != 0 || pwrite(fd_, text.data(), text.size(), 0) < 0) {
    throw std::runtime_error("cannot write " + LockFile(home_).string());
  }
  // Written whole under a temporary name, so a reader never sees half a port.
  std::filesystem::path temporary = PortFile(home_).string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << info.port << '\n';
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  std::filesystem::rename(temporary, PortFile(home_));
  published_ = true;
}

std::optional<InstanceInfo> FindRunningInstance(const std::filesystem::path& home) {
  int fd = open(LockFile(home).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    close(fd);
    return std::nullopt;  // nobody holds it
  }
  close(fd);
  InstanceInfo info;
  std::ifstream in(LockFile(home));
  in >> info.pid >> info.port;
  std::string endpoint;
  while (in >> endpoint) info.endpoints.push_back(endpoint);
  return info;
}

}  // namespace sqlengine::server
