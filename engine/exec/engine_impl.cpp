#include "engine/exec/engine_impl.h"

#include "engine/catalog/log_name_vfs.h"
#include "engine/common/error.h"
#include "engine/exec/data_file_upgrade.h"
#include "engine/exec/session.h"
#include "engine/exec/text_comparison.h"

namespace sqlengine {

std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& home, Log& log) {
  return std::make_unique<exec::EngineImpl>(home, log);
}

namespace exec {

namespace {

// Brings the file to the current format before anyone opens it.
void UpgradeAtStart(const std::filesystem::path& data_file, Log& log) {
  if (std::optional<FormatUpgrade> upgrade = UpgradeDataFile(data_file, UpgradeCopy::kKeep)) {
    log.Info(UpgradeReport(data_file, *upgrade));
    for (const std::string& note : upgrade->notes) log.Warning(data_file.string() + ": " + note);
  }
}

}  // namespace

EngineImpl::EngineImpl(const std::filesystem::path& home, Log& log) : log_(log), home_(home) {
  // First of all: SQLite takes its process-wide settings (statement journals
  // kept in memory, no memory statistics) only before anything starts it,
  // and registering the collations below already does.
  catalog::RegisterLogNameVfs();
  // Before any file is opened: character keys are indexed in these collations.
  RegisterCollationsForEveryConnection();
  home_.Prepare(log_);
  // Without master in its format the engine does not start.
  UpgradeAtStart(home_.MasterFile(), log_);
  catalog_ = std::make_unique<catalog::MasterCatalog>(home_.MasterFile());
  configuration_ = std::make_unique<ConfigurationState>(home_.MasterFile());
  for (const catalog::DatabaseEntry& entry : catalog_->Databases()) {
    std::filesystem::path data_file = DataFileOf(entry);
    if (data_file.lexically_normal() == home_.MasterFile().lexically_normal()) continue;
    try {
      UpgradeAtStart(data_file, log_);
    } catch (const std::runtime_error& failure) {
      // The database stays registered; opening it reports what is wrong.
      log_.Warning("database " + entry.name + " was not upgraded: " + failure.what());
    }
  }
}

std::optional<catalog::DatabaseEntry> EngineImpl::FindDatabase(std::string_view name) {
  return catalog_->FindDatabase(name);
}

std::filesystem::path EngineImpl::DataFileOf(const catalog::DatabaseEntry& entry) const {
  return home_.Resolve(entry.file_name);
}

bool EngineImpl::SysadminHasEmptyPassword() { return catalog_->SysadminHasEmptyPassword(); }

LoginResult EngineImpl::Login(const LoginRequest& request) {
  LoginResult result;
  if (request.integrated) {
    result.messages.push_back(FormatMessage(18452, {request.user}));
    log_.Warning("integrated login refused from " + request.client_address);
    return result;
  }
  std::optional<catalog::LoginEntry> login = catalog_->Authenticate(request.user, request.password);
  if (!login) {
    result.messages.push_back(FormatMessage(18456, {request.user}));
    log_.Warning("login failed for user '" + request.user + "' from " + request.client_address);
    return result;
  }
  std::string database = request.database.empty() ? login->default_database : request.database;
  auto session = std::make_unique<Session>(*this, *login, next_spid_++);
  session->SetClient(request);
  try {
    session->UseDatabase(database, nullptr, 1);
  } catch (const SqlError& refused) {
    // The database's options refused the login: that reason comes first.
    int number = refused.message().number;
    if (number == 923 || number == 924 || number == 942)
      result.messages.push_back(refused.message());
    if (request.database.empty()) {
      result.messages.push_back(FormatMessage(4064));
    } else {
      result.messages.push_back(FormatMessage(4060, {database}));
    }
    result.messages.push_back(FormatMessage(18456, {request.user}));
    log_.Warning("login of '" + request.user + "' refused: cannot open database '" + database +
                 "'");
    return result;
  }
  result.messages.push_back(FormatMessage(5701, {session->CurrentDatabase()}));
  result.messages.push_back(FormatMessage(5703, {"us_english"}));
  result.session = std::move(session);
  return result;
}

void EngineImpl::SetShutdown(std::function<void()> stop) {
  std::lock_guard lock(shutdown_mutex_);
  shutdown_ = std::move(stop);
}

bool EngineImpl::RequestShutdown() {
  std::lock_guard lock(shutdown_mutex_);
  if (!shutdown_) return false;
  shutdown_();
  return true;
}

}  // namespace exec
}  // namespace sqlengine
