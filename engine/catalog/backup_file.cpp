#include "engine/catalog/backup_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

namespace sqlengine::catalog {
namespace {

constexpr std::string_view kMagic = "SQLENGINE BACKUP SET 1\n";

std::runtime_error SystemFailure(const std::string& what, const std::filesystem::path& file) {
  return std::runtime_error(what + " " + file.string() + ": " + std::strerror(errno));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Header values are one line each: '%', '=' and control characters are
// written as %XX.
std::string Escape(std::string_view value) {
  std::string out;
  for (unsigned char c : value) {
    if (c < 0x20 || c == '%' || c == '=' || c == 0x7f) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      out.push_back(static_cast<char>(std::stoi(std::string(value.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

std::string Encode(const BackupSetHeader& h) {
  std::string text(kMagic);
  auto add = [&](std::string_view key, std::string_view value) {
    text.append(key).append("=").append(Escape(value)).append("\n");
  };
  add("database_name", h.database_name);
  add("backup_name", h.backup_name);
  add("description", h.description);
  add("user_name", h.user_name);
  add("server_name", h.server_name);
  add("database_created", h.database_created);
  add("backup_start", h.backup_start);
  add("backup_finish", h.backup_finish);
  add("data_logical_name", h.data_logical_name);
  add("log_logical_name", h.log_logical_name);
  add("data_physical_name", h.data_physical_name);
  add("log_physical_name", h.log_physical_name);
  add("compatibility_level", std::to_string(h.compatibility_level));
  add("position", std::to_string(h.position));
  add("image_size", std::to_string(h.image_size));
  add("page_size", std::to_string(h.page_size));
  if (text.size() >= kBackupHeaderSize) throw std::runtime_error("backup set header too long");
  text.resize(kBackupHeaderSize, '\0');
  return text;
}

BackupSetHeader Decode(const std::string& block, const std::filesystem::path& file) {
  if (block.compare(0, kMagic.size(), kMagic) != 0) {
    throw std::runtime_error(file.string() + " is not a backup file");
  }
  std::map<std::string, std::string> values;
  size_t pos = kMagic.size();
  while (pos < block.size() && block[pos] != '\0') {
    size_t end = block.find('\n', pos);
    if (end == std::string::npos) break;
    std::string line = block.substr(pos, end - pos);
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = Unescape(line.substr(eq + 1));
    pos = end + 1;
  }
  auto number = [&](const char* key) -> std::uint64_t {
    auto it = values.find(key);
    if (it == values.end() || it->second.empty()) {
      throw std::runtime_error(file.string() + ": backup set header lacks " + key);
    }
    return std::stoull(it->second);
  };
  BackupSetHeader h;
  h.database_name = values["database_name"];
  h.backup_name = values["backup_name"];
  h.description = values["description"];
  h.user_name = values["user_name"];
  h.server_name = values["server_name"];
  h.database_created = values["database_created"];
  h.backup_start = values["backup_start"];
  h.backup_finish = values["backup_finish"];
  h.data_logical_name = values["data_logical_name"];
  h.log_logical_name = values["log_logical_name"];
  h.data_physical_name = values["data_physical_name"];
  h.log_physical_name = values["log_physical_name"];
  h.compatibility_level = static_cast<int>(number("compatibility_level"));
  h.position = static_cast<int>(number("position"));
  h.image_size = number("image_size");
  h.page_size = static_cast<std::uint32_t>(number("page_size"));
  return h;
}

std::uint64_t RoundUp(std::uint64_t size) {
  return (size + kBackupHeaderSize - 1) / kBackupHeaderSize * kBackupHeaderSize;
}

void WriteAll(int fd, const char* data, size_t size, const std::filesystem::path& name) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw SystemFailure("cannot write", name);
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void CopyRange(int from, std::uint64_t offset, std::uint64_t size, int to,
               const std::filesystem::path& from_name, const std::filesystem::path& to_name) {
  std::vector<char> buffer(1 << 20);
  while (size > 0) {
    size_t chunk = static_cast<size_t>(std::min<std::uint64_t>(size, buffer.size()));
    ssize_t n = ::pread(from, buffer.data(), chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw SystemFailure("cannot read", from_name);
    if (n == 0) throw std::runtime_error(from_name.string() + " ends early");
    WriteAll(to, buffer.data(), static_cast<size_t>(n), to_name);
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::uint64_t>(n);
  }
}

void Sync(int fd, const std::filesystem::path& name) {
  if (::fsync(fd) != 0) throw SystemFailure("cannot sync", name);
}

void SyncDirectory(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  FileDescriptor fd(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

std::vector<BackupSet> ReadBackupSets(const std::filesystem::path& backup_file) {
  FileDescriptor fd(::open(backup_file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw SystemFailure("cannot open", backup_file);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw SystemFailure("cannot read", backup_file);
  auto file_size = static_cast<std::uint64_t>(info.st_size);
  std::vector<BackupSet> sets;
  std::uint64_t offset = 0;
  while (offset < file_size) {
    std::string block(kBackupHeaderSize, '\0');
    ssize_t n = ::pread(fd.get(), block.data(), block.size(), static_cast<off_t>(offset));
    if (n != static_cast<ssize_t>(block.size())) {
      throw std::runtime_error(backup_file.string() + " is damaged: a set header is cut off");
    }
    BackupSet set{Decode(block, backup_file), offset + kBackupHeaderSize};
    if (set.image_offset + set.header.image_size > file_size) {
      throw std::runtime_error(backup_file.string() + " is damaged: a backup set is cut off");
    }
    offset = set.image_offset + RoundUp(set.header.image_size);
    sets.push_back(std::move(set));
  }
  if (sets.empty()) throw std::runtime_error(backup_file.string() + " holds no backup set");
  return sets;
}

BackupSetHeader WriteBackupSet(const std::filesystem::path& backup_file, bool append,
                               BackupSetHeader header, const std::filesystem::path& image) {
  std::vector<BackupSet> kept;
  std::error_code missing;
  if (append && std::filesystem::exists(backup_file, missing)) kept = ReadBackupSets(backup_file);
  std::filesystem::path temporary = backup_file;
  temporary += ".partial-" + std::to_string(::getpid());
  FileDescriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) throw SystemFailure("cannot create", temporary);
  try {
    std::uint64_t end = 0;
    if (!kept.empty()) {
      const BackupSet& last = kept.back();
      end = last.image_offset + RoundUp(last.header.image_size);
      FileDescriptor old(::open(backup_file.c_str(), O_RDONLY | O_CLOEXEC));
      if (old.get() < 0) throw SystemFailure("cannot open", backup_file);
      CopyRange(old.get(), 0, end, out.get(), backup_file, temporary);
    }
    FileDescriptor in(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) throw SystemFailure("cannot open", image);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) throw SystemFailure("cannot read", image);
    header.image_size = static_cast<std::uint64_t>(info.st_size);
    header.position = static_cast<int>(kept.size()) + 1;
    std::string block = Encode(header);
    WriteAll(out.get(), block.data(), block.size(), temporary);
    CopyRange(in.get(), 0, header.image_size, out.get(), image, temporary);
    std::string padding(RoundUp(header.image_size) - header.image_size, '\0');
    WriteAll(out.get(), padding.data(), padding.size(), temporary);
    Sync(out.get(), temporary);
    if (::rename(temporary.c_str(), backup_file.c_str()) != 0)
      throw SystemFailure("cannot rename to", backup_file);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  SyncDirectory(backup_file);
  return header;
}

void ExtractBackupImage(const std::filesystem::path& backup_file, const BackupSet& set,
                        const std::filesystem::path& target) {
  FileDescriptor in(::open(backup_file.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw SystemFailure("cannot open", backup_file);
  FileDescriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) throw SystemFailure("cannot create", target);
  CopyRange(in.get(), set.image_offset, set.header.image_size, out.get(), backup_file, target);
  Sync(out.get(), target);
}

}  // namespace sqlengine::catalog
