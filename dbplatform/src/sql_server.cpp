#include "sql_server.h"

#include <memory>
#include <string>
#include <vector>

#include "connection_text.h"
#include "error_mapping.h"
#include "path_lookup.h"
#include "service_start.h"
#include "statement_cursor.h"
#include "tsql_text.h"

namespace dbplatform {
namespace {

constexpr int kDefaultLoginTimeout = 60;

Error OrdinalOutOfRange() {
  return Error(static_cast<std::int32_t>(0x80045509),
               "[SQL-DMO]The passed ordinal is out of range of the specified collection.");
}

Error NameNotFound(std::string_view name) {
  return Error(static_cast<std::int32_t>(0x80045510),
               "[SQL-DMO]The name '" + std::string(name) + "' was not found in the collection.");
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

// The folder part of a server-side file name, ending in its separator.
std::string FolderOf(const std::string& file_name) {
  std::size_t end = file_name.find_last_of("/\\");
  return end == std::string::npos ? std::string() : file_name.substr(0, end + 1);
}

class NamedTable final : public Table {
 public:
  explicit NamedTable(std::string name) : name_(std::move(name)) {}
  std::string Name() const override { return name_; }

 private:
  std::string name_;
};

class TableList final : public TableCollection {
 public:
  explicit TableList(std::vector<NamedTable> tables) : tables_(std::move(tables)) {}
  int Count() override { return static_cast<int>(tables_.size()); }
  Table& Item(int position) override {
    if (position < 1 || position > Count()) throw OrdinalOutOfRange();
    return tables_[static_cast<std::size_t>(position - 1)];
  }

 private:
  std::vector<NamedTable> tables_;
};

class ServerDatabase final : public Database {
 public:
  ServerDatabase(SqlServerObject& server, std::string name, std::string file_name)
      : server_(server), name_(std::move(name)), file_name_(std::move(file_name)) {}

  std::string Name() const override { return name_; }

  // Read once per database object, when first asked.
  TableCollection& Tables() override {
    if (!tables_) {
      RequestOutcome outcome = server_.Run("SELECT name FROM " + QuoteIdentifier(name_) +
                                           "..sysobjects WHERE xtype = 'U' ORDER BY name");
      std::vector<NamedTable> tables;
      for (const auto& row : outcome.rows) {
        if (!row.empty()) tables.emplace_back(ToText(row[0]));
      }
      tables_ = std::make_unique<TableList>(std::move(tables));
    }
    return *tables_;
  }

  void Remove() override { server_.Run("DROP DATABASE " + QuoteIdentifier(name_)); }

  std::string PrimaryFilePath() override { return FolderOf(file_name_); }

 private:
  SqlServerObject& server_;
  std::string name_;
  std::string file_name_;
  std::unique_ptr<TableList> tables_;
};

class DatabaseList final : public DatabaseCollection {
 public:
  explicit DatabaseList(std::vector<std::unique_ptr<ServerDatabase>> databases)
      : databases_(std::move(databases)) {}
  int Count() override { return static_cast<int>(databases_.size()); }
  Database& Item(int position) override {
    if (position < 1 || position > Count()) throw OrdinalOutOfRange();
    return *databases_[static_cast<std::size_t>(position - 1)];
  }
  Database& Item(std::string_view name) override {
    for (auto& database : databases_) {
      if (database->Name() == name) return *database;
    }
    for (auto& database : databases_) {
      if (EqualIgnoringAsciiCase(database->Name(), name)) return *database;
    }
    throw NameNotFound(name);
  }

 private:
  std::vector<std::unique_ptr<ServerDatabase>> databases_;
};

class OdbcSqlServer final : public SqlServerObject {
 public:
  void SetLoginTimeout(int seconds) override { login_timeout_ = seconds; }

  void Start(bool start_mode, const std::string& server, const std::string& login,
             const std::string& password) override {
    StartService(server, EffectiveLoginTimeout());
    if (start_mode) Connect(server, login, password);
  }

  void Connect(const std::string& server, const std::string& login,
               const std::string& password) override {
    session_.reset();
    OdbcLogin target;
    if (!ApplyServerName(server, target)) {
      throw ToDmoError(OdbcFailure(FailureKind::kUnreachable, {}));
    }
    target.database = "master";
    target.user = login;
    target.password = password;
    try {
      session_ = OdbcSession::Open(target, EffectiveLoginTimeout(), nullptr);
    } catch (const OdbcFailure& failure) {
      throw ToDmoError(failure);
    }
  }

  void DisConnect() override { session_.reset(); }
  void Close() override { session_.reset(); }

  // Each call makes a new snapshot; earlier ones stay valid as long as this
  // object lives, so a caller may walk one while it fetches another.
  DatabaseCollection& Databases() override {
    RequestOutcome outcome = Run("SELECT name, filename FROM master..sysdatabases ORDER BY dbid");
    std::vector<std::unique_ptr<ServerDatabase>> databases;
    for (const auto& row : outcome.rows) {
      if (row.size() < 2) continue;
      databases.push_back(std::make_unique<ServerDatabase>(*this, ToText(row[0]), ToText(row[1])));
    }
    snapshots_.push_back(std::make_unique<DatabaseList>(std::move(databases)));
    return *snapshots_.back();
  }

  std::string AttachDB(const std::string& name, const std::string& data_file) override {
    return JoinLines(Run("EXEC sp_attach_db @dbname = " + QuoteLiteral(name) +
                         ", @filename1 = " + QuoteLiteral(data_file))
                         .messages);
  }

  std::string DetachDB(const std::string& name, bool skip_checks) override {
    return JoinLines(Run("EXEC sp_detach_db @dbname = " + QuoteLiteral(name) +
                         ", @skipchecks = " + QuoteLiteral(skip_checks ? "true" : "false"))
                         .messages);
  }

  RequestOutcome Run(const std::string& sql) override {
    if (!session_) {
      throw Error(kDmoNotConnected,
                  "[SQL-DMO]The SQLServer object must be connected before this property or "
                  "method can be used.");
    }
    RequestOutcome outcome;
    std::vector<DiagRecord> messages;
    try {
      StatementCursor cursor(session_, 0, [&messages](std::vector<DiagRecord> records) {
        messages.insert(messages.end(), records.begin(), records.end());
      });
      cursor.Execute(sql);
      while (!cursor.AtEnd()) {
        outcome.rows.push_back(cursor.Row());
        cursor.MoveNext();
      }
      cursor.Finish();
    } catch (const OdbcFailure& failure) {
      throw ToDmoError(failure);
    }
    for (const DiagRecord& record : messages) outcome.messages.push_back(record.text);
    return outcome;
  }

 private:
  int EffectiveLoginTimeout() const {
    return login_timeout_ > 0 ? login_timeout_ : kDefaultLoginTimeout;
  }

  int login_timeout_ = kDefaultLoginTimeout;
  std::shared_ptr<OdbcSession> session_;
  std::vector<std::unique_ptr<DatabaseList>> snapshots_;
};

}  // namespace

std::unique_ptr<SQLServer> MakeSqlServer() { return std::make_unique<OdbcSqlServer>(); }

SqlServerObject& AsRequestRunner(SQLServer& server) {
  if (auto* runner = dynamic_cast<SqlServerObject*>(&server)) return *runner;
  throw Error(13, "Type mismatch");
}

}  // namespace dbplatform
