#pragma once
// A VFS shim, made the process's default, that stores the write-ahead log of
// a data file "<stem>.mdf" as "<stem>_log.ldf" beside it. Only that one name
// is mapped (never the rollback journal, which would make SQLite take the log
// for a hot journal). Deleting the log truncates it to 0 bytes instead, so the
// file stays while the database is attached; SQLite treats an empty file as
// absent.

#include <filesystem>

namespace sqlengine::catalog {

// Idempotent and thread-safe; call before the first sqlite3_open.
void RegisterLogNameVfs();

// "<folder>/<stem>_log.ldf" for "<folder>/<stem>.mdf".
std::filesystem::path LogFileFor(const std::filesystem::path& data_file);

}  // namespace sqlengine::catalog
