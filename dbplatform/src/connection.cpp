#include <memory>
#include <string>

#include "data_access_objects.h"
#include "error_mapping.h"
#include "message_log.h"
#include "recordset.h"

namespace dbplatform {

std::shared_ptr<OdbcSession> OpenSessionForText(const std::string& text, const std::string& user,
                                                const std::string& password,
                                                std::vector<DiagRecord>* messages) {
  OdbcLogin login = LoginFromConnectionText(text);
  if (!user.empty()) login.user = user;
  if (!password.empty()) login.password = password;
  int timeout = login.login_timeout > 0 ? login.login_timeout : kDefaultLoginTimeout;
  try {
    return OdbcSession::Open(login, timeout, messages);
  } catch (const OdbcFailure& failure) {
    if (messages != nullptr) {
      messages->insert(messages->end(), failure.Records().begin(), failure.Records().end());
    }
    throw ToAdoError(failure, Phase::kConnect);
  }
}

namespace {

class OdbcConnection final : public Connection {
 public:
  void SetConnectionString(const std::string& text) override {
    if (session_) throw Error(3705, "Operation is not allowed when the object is open.");
    connection_string_ = text;
  }
  std::string ConnectionString() const override { return connection_string_; }

  void Open(const std::string& connection_string, const std::string& user,
            const std::string& password, int options) override {
    if (session_) throw Error(3705, "Operation is not allowed when the object is open.");
    if (!connection_string.empty()) connection_string_ = connection_string;
    log_->StartRequest();
    std::vector<DiagRecord> messages;
    try {
      session_ = OpenSessionForText(connection_string_, user, password, &messages);
    } catch (...) {
      log_->Add(messages);
      throw;
    }
    log_->Add(messages);
  }

  std::unique_ptr<Recordset> Execute(const std::string& sql) override {
    if (!session_) {
      throw Error(3709,
                  "The connection cannot be used to perform this operation. It is either closed "
                  "or invalid in this context.");
    }
    // A record set of the previous Execute still pending is drained into the
    // previous request's messages before this request's list starts.
    session_->DrainPendingStatement();
    log_->StartRequest();
    try {
      auto cursor =
          std::make_unique<StatementCursor>(session_, command_timeout_, MessageLog::SinkFor(log_));
      cursor->Execute(sql);
      return MakeRecordset(std::move(cursor));
    } catch (const OdbcFailure& failure) {
      throw ToAdoError(failure, Phase::kStatement);
    }
  }

  void SetCommandTimeout(int seconds) override { command_timeout_ = seconds < 0 ? 0 : seconds; }
  ErrorCollection& Errors() override { return *log_; }

  void Close() override {
    if (!session_) throw Error(3704, "Operation is not allowed when the object is closed.");
    session_->DrainPendingStatement();
    session_.reset();
  }

 private:
  std::string connection_string_;
  std::shared_ptr<OdbcSession> session_;
  std::shared_ptr<MessageLog> log_ = std::make_shared<MessageLog>();
  int command_timeout_ = kDefaultCommandTimeout;
};

}  // namespace

std::unique_ptr<Connection> MakeConnection() { return std::make_unique<OdbcConnection>(); }

}  // namespace dbplatform
