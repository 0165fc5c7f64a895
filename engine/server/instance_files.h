#pragma once
// The files an instance keeps in its home: sqlengine.lock (held with flock
// while an engine runs; it also records the pid and endpoints) and
// sqlengine.port (the port actually in use).

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sqlengine::server {

struct InstanceInfo {
  int pid = 0;
  int port = 0;
  std::vector<std::string> endpoints;
};

// The running engine's hold on its home. Not copyable; released (and the
// port file removed) on destruction.
class InstanceLock {
 public:
  // Returns null when another process holds the lock. Throws
  // std::runtime_error when the home cannot be used.
  static std::unique_ptr<InstanceLock> Acquire(const std::filesystem::path& home);
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  // Records where the engine listens: the lock file's content and the port file.
  void Publish(const InstanceInfo& info);

 private:
  InstanceLock(std::filesystem::path home, int fd) : home_(std::move(home)), fd_(fd) {}
  std::filesystem::path home_;
  int fd_ = -1;
  bool published_ = false;
};

// The running instance of a home, or nullopt when none holds the lock.
std::optional<InstanceInfo> FindRunningInstance(const std::filesystem::path& home);

std::filesystem::path LockFile(const std::filesystem::path& home);
std::filesystem::path PortFile(const std::filesystem::path& home);

}  // namespace sqlengine::server
