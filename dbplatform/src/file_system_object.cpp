#include "file_system_object.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "dbplatform/error.h"
#include "dbplatform/platform.h"
#include "path_lookup.h"

namespace dbplatform {
namespace {

constexpr std::int32_t kDeviceIoError = 57;
constexpr std::int32_t kDiskFull = 61;
constexpr std::int32_t kPathNotFound = 76;

[[noreturn]] void ThrowFileNotFound() { throw Error(kFileNotFound, "File not found"); }
[[noreturn]] void ThrowPermissionDenied() { throw Error(kPermissionDenied, "Permission denied"); }

[[noreturn]] void ThrowForErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
      ThrowFileNotFound();
    case ENOTDIR:
      throw Error(kPathNotFound, "Path not found");
    case EEXIST:
      throw Error(kFileAlreadyExists, "File already exists");
    case ENOSPC:
    case EDQUOT:
      throw Error(kDiskFull, "Disk full");
    case EIO:
      throw Error(kDeviceIoError, "Device I/O error");
    default:
      ThrowPermissionDenied();
  }
}

struct FileStatus {
  bool exists = false;
  bool regular = false;
  bool directory = false;
  bool owner_writable = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
};

FileStatus StatusOf(const std::filesystem::path& path) {
  struct stat info;
  FileStatus status;
  if (::stat(path.c_str(), &info) != 0) return status;
  status.exists = true;
  status.regular = S_ISREG(info.st_mode);
  status.directory = S_ISDIR(info.st_mode);
  status.owner_writable = (info.st_mode & S_IWUSR) != 0;
  status.device = info.st_dev;
  status.inode = info.st_ino;
  status.mode = info.st_mode & 07777;
  return status;
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the close's own failure as an errno value (0 if none).
  int CloseNow() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Copies the bytes of `source` into a fresh temporary file beside `target`
// and renames it over `target`, so that a failed copy never leaves a
// half-written destination and an existing one is replaced in one step.
void CopyContentsReplacing(const std::filesystem::path& source, mode_t mode,
                           const std::filesystem::path& target) {
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) ThrowForErrno(errno);

  std::filesystem::path folder = target.parent_path();
  std::string pattern = (folder.empty() ? std::filesystem::path(".") : folder) /
                        ("." + target.filename().string() + ".copy-XXXXXX");
  FileDescriptor out(::mkstemp(pattern.data()));
  if (out.get() < 0) ThrowForErrno(errno);
  std::filesystem::path temporary = pattern;
  auto fail = [&](int error_number) {
    ::unlink(temporary.c_str());
    ThrowForErrno(error_number);
  };

  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    if (got == 0) break;
    for (ssize_t written = 0; written < got;) {
      ssize_t put = ::write(out.get(), buffer + written, static_cast<size_t>(got - written));
      if (put < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      written += put;
    }
  }
  if (::fchmod(out.get(), mode) != 0) fail(errno);
  if (::fsync(out.get()) != 0) fail(errno);
  if (int error_number = out.CloseNow(); error_number != 0) fail(error_number);
  if (::rename(temporary.c_str(), target.c_str()) != 0) fail(errno);
}

class LocalFileSystemObject final : public FileSystemObject {
 public:
  bool FileExists(const std::string& path) override {
    PathMatch match = FindIgnoringCase(path);
    return match.Found() && StatusOf(match.path).regular;
  }

  void CopyFile(const std::string& source, const std::string& destination,
                bool overwrite) override {
    PathMatch from = FindIgnoringCase(source);
    FileStatus from_status = from.Found() ? StatusOf(from.path) : FileStatus{};
    if (!from_status.regular) ThrowFileNotFound();

    std::filesystem::path target = destination;
    if (!destination.empty() && destination.back() == kPathSeparator) {
      target /= from.path.filename();
    }
    std::filesystem::path folder = target.parent_path();
    if (!folder.empty() && !StatusOf(folder).directory) {
      throw Error(kPathNotFound, "Path not found");
    }

    PathMatch to = FindIgnoringCase(target);
    if (to.Found()) {
      FileStatus to_status = StatusOf(to.path);
      if (to_status.directory) ThrowPermissionDenied();
      if (!overwrite) throw Error(kFileAlreadyExists, "File already exists");
      // Copying a file onto itself would destroy it.
      if (to_status.exists && to_status.device == from_status.device &&
          to_status.inode == from_status.inode) {
        ThrowPermissionDenied();
      }
      if (to_status.exists && !to_status.owner_writable) ThrowPermissionDenied();
      target = to.path;
    }
    CopyContentsReplacing(from.path, from_status.mode, target);
  }

  void DeleteFile(const std::string& path, bool force) override {
    PathMatch match = FindIgnoringCase(path);
    if (!match.Found()) ThrowFileNotFound();
    struct stat info;
    if (::lstat(match.path.c_str(), &info) != 0) ThrowForErrno(errno);
    if (S_ISDIR(info.st_mode)) ThrowFileNotFound();
    // A file without write permission counts as read-only: only force removes it.
    if (!force && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) ThrowPermissionDenied();
    if (::unlink(match.path.c_str()) != 0) ThrowForErrno(errno);
  }
};

}  // namespace

std::unique_ptr<FileSystemObject> MakeLocalFileSystemObject() {
  return std::make_unique<LocalFileSystemObject>();
}

}  // namespace dbplatform
