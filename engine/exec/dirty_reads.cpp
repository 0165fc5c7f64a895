#include "engine/exec/dirty_reads.h"

#include <cctype>
#include <map>
#include <memory>
#include <mutex>

#include "engine/catalog/log_name_vfs.h"
#include "engine/exec/database_access.h"
#include "engine/exec/session.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// A copy of the process's default VFS under another name. SQLite keys a
// shared cache by file name and VFS, so each name is a cache of its own.
// The copies live as long as the process: a connection may still use one
// after its session has ended.
const char* SessionVfsName(int spid) {
  struct NamedVfs {
    std::string name;
    sqlite3_vfs vfs{};
  };
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<NamedVfs>> copies;
  std::lock_guard lock(mutex);
  std::unique_ptr<NamedVfs>& copy = copies[spid];
  if (!copy) {
    catalog::RegisterLogNameVfs();
    copy = std::make_unique<NamedVfs>();
    copy->name = "sqlengine-session-" + std::to_string(spid);
    copy->vfs = *sqlite3_vfs_find(nullptr);
    copy->vfs.zName = copy->name.c_str();
    copy->vfs.pNext = nullptr;
    sqlite3_vfs_register(&copy->vfs, 0);
  }
  return copy->name.c_str();
}

std::string PlainUri(const DirtyReadFile& file) {
  return file.read_only ? ReadOnlyUri(file.file) : FileUri(file.file);
}

}  // namespace

std::string SessionCacheUri(const std::string& file, bool read_only, int spid) {
  return FileUri(file) + "?cache=shared&vfs=" + SessionVfsName(spid) +
         (read_only ? "&mode=ro" : "");
}

bool ReadsUncommitted(const tsql::Statement& statement, IsolationLevel isolation) {
  return ReadsUncommitted(statement.tokens, isolation);
}

bool ReadsUncommitted(const tsql::Tokens& tokens, IsolationLevel isolation) {
  if (isolation == IsolationLevel::kReadUncommitted) return true;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (!tokens[i].IsWord("nolock") && !tokens[i].IsWord("readuncommitted")) continue;
    // A hint stands in a parenthesised list: "(NOLOCK)", "(INDEX(i), NOLOCK)".
    if (tokens[i - 1].IsSymbol("(") || tokens[i - 1].IsSymbol(",")) return true;
  }
  return false;
}

bool ReachesTempSchema(const std::string& sql) {
  for (std::string_view name : {"\"temp\".", "temp."}) {
    for (size_t at = sql.find(name); at != std::string::npos; at = sql.find(name, at + 1)) {
      // "temp." inside a longer name ("attemp.") is not the schema.
      char before = at == 0 ? ' ' : sql[at - 1];
      if (name[0] == '"' || !(std::isalnum(static_cast<unsigned char>(before)) || before == '_'))
        return true;
    }
  }
  return false;
}

catalog::Connection OpenDirtyReadConnection(const std::vector<DirtyReadFile>& files) {
  auto uri = [](const DirtyReadFile& file) {
    return file.cache_of == 0 ? PlainUri(file)
                              : SessionCacheUri(file.file, file.read_only, file.cache_of);
  };
  catalog::Connection db = catalog::OpenDataFile(uri(files.front()), files.front().read_only);
  catalog::Exec(db.get(), "PRAGMA read_uncommitted=1");
  for (size_t k = 1; k < files.size(); ++k) {
    auto attach = catalog::Prepare(
        db.get(), "ATTACH DATABASE ? AS " + tsql::QuoteSqliteName(files[k].schema));
    std::string name = uri(files[k]);
    sqlite3_bind_text(attach.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(attach.get()) != SQLITE_DONE) {
      throw std::runtime_error("cannot reach " + files[k].file + ": " + sqlite3_errmsg(db.get()));
    }
  }
  return db;
}

}  // namespace sqlengine::exec
