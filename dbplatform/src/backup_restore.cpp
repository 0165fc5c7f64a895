#include "backup_restore.h"

#include <string>
#include <vector>

#include "sql_server.h"
#include "tsql_text.h"

namespace dbplatform {
namespace {

std::string WithClause(const std::vector<std::string>& options) {
  std::string text;
  for (const std::string& option : options) text += (text.empty() ? " WITH " : ", ") + option;
  return text;
}

// Appends to an existing backup file (NOINIT) rather than overwriting it, so
// no earlier backup is ever lost.
class StatementBackup final : public Backup {
 public:
  void SetDatabase(const std::string& name) override { database_ = name; }
  void SetPercentCompleteNotification(int percent) override { percent_ = percent; }
  void SetBackupSetName(const std::string& name) override { set_name_ = name; }
  void SetFiles(const std::string& path) override { files_ = path; }

  std::string GenerateSQL() override {
    std::vector<std::string> options;
    if (!set_name_.empty()) options.push_back("NAME = " + QuoteLiteral(set_name_));
    if (percent_ > 0 && percent_ <= 100) options.push_back("STATS = " + std::to_string(percent_));
    return "BACKUP DATABASE " + QuoteIdentifier(database_) + " TO DISK = " + QuoteLiteral(files_) +
           WithClause(options);
  }

  void SQLBackup(SQLServer& server) override { AsRequestRunner(server).Run(GenerateSQL()); }

 private:
  std::string database_;
  int percent_ = 0;
  std::string set_name_;
  std::string files_;
};

class StatementRestore final : public Restore {
 public:
  void SetDatabase(const std::string& name) override { database_ = name; }
  void SetRestoreAs(const std::string& name) override { restore_as_ = name; }
  void SetFiles(const std::string& path) override { files_ = path; }
  void SetReplaceDatabase(bool replace) override { replace_ = replace; }

  std::string GenerateSQL() override {
    std::string target = restore_as_.empty() ? database_ + "_NEW" : restore_as_;
    std::vector<std::string> options;
    if (replace_) options.push_back("REPLACE");
    return "RESTORE DATABASE " + QuoteIdentifier(target) + " FROM DISK = " + QuoteLiteral(files_) +
           WithClause(options);
  }

  void SQLRestore(SQLServer& server) override { AsRequestRunner(server).Run(GenerateSQL()); }

 private:
  std::string database_;
  std::string restore_as_;
  std::string files_;
  bool replace_ = false;
};

}  // namespace

std::unique_ptr<Backup> MakeBackup() { return std::make_unique<StatementBackup>(); }
std::unique_ptr<Restore> MakeRestore() { return std::make_unique<StatementRestore>(); }

}  // namespace dbplatform
