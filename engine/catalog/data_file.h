#pragma once
// Creating a database's data file: an SQLite file with 8 KB pages (so page
// counts are SQL Server pages), incremental auto-vacuum (so shrinking can
// release space) and WAL journaling (its log is <stem>_log.ldf), holding the
// engine's own bookkeeping table of objects.

#include <filesystem>
#include <string>
#include <string_view>

struct sqlite3;

namespace sqlengine::catalog {

// The format of a data file's contents, kept in SQLite's user_version: files
// made before it was recorded read 0. A file of an older format is brought to
// this one when it is attached, restored or first opened by this engine
// (exec/data_file_upgrade.h); the formats are described in doc/storage.md.
inline constexpr int kDataFileFormat = 7;

// Creates data_file, which must not exist yet, and its log file, in the
// current format. Throws std::runtime_error naming the file; a half-made file
// is removed.
void CreateDataFile(const std::filesystem::path& data_file);

// Creates an empty log file for data_file when it has none. An empty log is
// what a cleanly closed database leaves; SQLite treats it as no log.
void EnsureLogFile(const std::filesystem::path& data_file);

// Deletes a closed database's data file, its log file and a stray -shm.
void RemoveDataFiles(const std::filesystem::path& data_file);

// The bookkeeping table every database holds: one row per object created
// through the engine (tables, views, procedures), giving it a stable id and a
// creation date for sysobjects.
inline constexpr const char* kObjectsTable = "sqlengine_objects";

// Gives a newly created object its row in the objects table of SQLite schema
// `schema` ("main", or the name an attached database goes by): the next id,
// the type `xtype` ("U", "P", "TR" ...) and the current time. Throws
// std::runtime_error when SQLite refuses the row.
void RecordNewObject(sqlite3* db, const std::string& schema, const std::string& name,
                     std::string_view xtype);

// Stored procedures: name, the full CREATE PROCEDURE text, and the
// QUOTED_IDENTIFIER setting it was made under (1 or 0; NULL for a procedure
// made before the setting was kept, and for a function). Older files' tables
// gain the last column with their next CREATE or ALTER PROCEDURE.
inline constexpr const char* kProceduresTable = "sqlengine_procedures";
// The table's definition after "CREATE TABLE [IF NOT EXISTS] <schema>.<name>".
inline constexpr const char* kProceduresColumns =
    " (name nvarchar(128) PRIMARY KEY COLLATE NOCASE, definition ntext NOT NULL, "
    "quoted_identifier int)";

}  // namespace sqlengine::catalog
