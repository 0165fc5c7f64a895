#include "engine/catalog/log_name_vfs.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace sqlengine::catalog {
namespace {

constexpr std::string_view kWalSuffix = ".mdf-wal";
constexpr std::string_view kLogSuffix = "_log.ldf";

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_shim{};

// The mapped name for a WAL of a .mdf file; empty when the name is not one.
std::string MappedLogName(const char* name) {
  if (name == nullptr) return {};
  std::string_view view(name);
  if (view.size() <= kWalSuffix.size() || !view.ends_with(kWalSuffix)) return {};
  std::string mapped(view.substr(0, view.size() - kWalSuffix.size()));
  mapped += kLogSuffix;
  return mapped;
}

size_t NameBufferOffset() { return (static_cast<size_t>(g_base->szOsFile) + 7) & ~size_t{7}; }

// The mapped name lives inside the sqlite3_file allocation, after the base
// VFS's own file structure, so it stays valid exactly as long as the file.
int ShimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  std::string mapped = (flags & SQLITE_OPEN_WAL) ? MappedLogName(name) : std::string();
  if (mapped.empty()) return g_base->xOpen(g_base, name, file, flags, out_flags);
  if (mapped.size() > static_cast<size_t>(g_base->mxPathname)) return SQLITE_CANTOPEN;
  char* buffer = reinterpret_cast<char*>(file) + NameBufferOffset();
  std::memcpy(buffer, mapped.c_str(), mapped.size() + 1);
  return g_base->xOpen(g_base, buffer, file, flags, out_flags);
}

int ShimDelete(sqlite3_vfs*, const char* name, int sync_dir) {
  std::string mapped = MappedLogName(name);
  if (mapped.empty()) return g_base->xDelete(g_base, name, sync_dir);
  if (truncate(mapped.c_str(), 0) == 0) return SQLITE_OK;
  return errno == ENOENT ? SQLITE_IOERR_DELETE_NOENT : SQLITE_IOERR_DELETE;
}

int ShimAccess(sqlite3_vfs*, const char* name, int flags, int* result) {
  std::string mapped = MappedLogName(name);
  return g_base->xAccess(g_base, mapped.empty() ? name : mapped.c_str(), flags, result);
}

int ShimFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_base->xFullPathname(g_base, name, size, out);
}
void* ShimDlOpen(sqlite3_vfs*, const char* name) { return g_base->xDlOpen(g_base, name); }
void ShimDlError(sqlite3_vfs*, int size, char* out) { g_base->xDlError(g_base, size, out); }
void (*ShimDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_base->xDlSym(g_base, handle, symbol);
}
void ShimDlClose(sqlite3_vfs*, void* handle) { g_base->xDlClose(g_base, handle); }
int ShimRandomness(sqlite3_vfs*, int size, char* out) {
  return g_base->xRandomness(g_base, size, out);
}
int ShimSleep(sqlite3_vfs*, int microseconds) { return g_base->xSleep(g_base, microseconds); }
int ShimCurrentTime(sqlite3_vfs*, double* now) { return g_base->xCurrentTime(g_base, now); }
int ShimGetLastError(sqlite3_vfs*, int size, char* out) {
  return g_base->xGetLastError ? g_base->xGetLastError(g_base, size, out) : 0;
}
int ShimCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
  return g_base->xCurrentTimeInt64(g_base, now);
}

}  // namespace

void RegisterLogNameVfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Nothing reads SQLite's memory statistics; keeping them would take a
    // process-wide mutex on every allocation of every connection (the
    // sorter of a GROUP BY allocates per row). Only possible before SQLite
    // starts: a process that opened SQLite elsewhere first keeps them.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // A statement inside a transaction keeps the pages it changes in a
    // statement journal, to undo them alone if it fails. SQLite moves that
    // journal to a temporary file past 64 KiB (eight of our 8 KiB pages, one
    // page split of an INSERT) and keeps the file for the rest of the
    // transaction: every later statement then pays a write call per page.
    // Up to 4 MiB stays in memory, freed when the statement ends.
    sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, 4 << 20);
    sqlite3_initialize();
    g_base = sqlite3_vfs_find(nullptr);
    g_shim.iVersion = 2;
    g_shim.szOsFile = static_cast<int>(NameBufferOffset()) + g_base->mxPathname + 1;
    g_shim.mxPathname = g_base->mxPathname;
    g_shim.zName = "sqlengine-log";
    g_shim.xOpen = ShimOpen;
    g_shim.xDelete = ShimDelete;
    g_shim.xAccess = ShimAccess;
    g_shim.xFullPathname = ShimFullPathname;
    g_shim.xDlOpen = ShimDlOpen;
    g_shim.xDlError = ShimDlError;
    g_shim.xDlSym = ShimDlSym;
    g_shim.xDlClose = ShimDlClose;
    g_shim.xRandomness = ShimRandomness;
    g_shim.xSleep = ShimSleep;
    g_shim.xCurrentTime = ShimCurrentTime;
    g_shim.xGetLastError = ShimGetLastError;
    g_shim.xCurrentTimeInt64 = ShimCurrentTimeInt64;
    sqlite3_vfs_register(&g_shim, 1);
  });
}

std::filesystem::path LogFileFor(const std::filesystem::path& data_file) {
  std::filesystem::path log = data_file;
  log.replace_filename(data_file.stem().string() + std::string(kLogSuffix));
  return log;
}

}  // namespace sqlengine::catalog
