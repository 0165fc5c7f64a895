#include "velmora/tests/test_seams.h"

#include "dbplatform/administration.h"

namespace velmora_test {
namespace {

// A real server object whose closing calls fail once they have run.
class ServerWithFailingClose : public dbplatform::SQLServer {
 public:
  explicit ServerWithFailingClose(std::unique_ptr<dbplatform::SQLServer> real)
      : real_(std::move(real)) {}
  void SetLoginTimeout(int seconds) override { real_->SetLoginTimeout(seconds); }
  void Start(bool start_mode, const std::string& server, const std::string& login,
             const std::string& password) override {
    real_->Start(start_mode, server, login, password);
  }
  void Connect(const std::string& server, const std::string& login,
               const std::string& password) override {
    real_->Connect(server, login, password);
  }
  void DisConnect() override {
    real_->DisConnect();
    throw dbplatform::Error(FaultyFactory::kClosingFailure, "disconnect failed");
  }
  void Close() override {
    real_->Close();
    throw dbplatform::Error(FaultyFactory::kClosingFailure, "close failed");
  }
  dbplatform::DatabaseCollection& Databases() override { return real_->Databases(); }
  std::string AttachDB(const std::string& name, const std::string& data_file) override {
    return real_->AttachDB(name, data_file);
  }
  std::string DetachDB(const std::string& name, bool skip_checks) override {
    return real_->DetachDB(name, skip_checks);
  }

 private:
  std::unique_ptr<dbplatform::SQLServer> real_;
};

}  // namespace

std::vector<QString> RecordingMessages::Texts() const {
  std::vector<QString> texts;
  for (const ShownMessage& message : shown) texts.push_back(message.text);
  return texts;
}

std::unique_ptr<dbplatform::AutomationObject> FaultyFactory::CreateObject(
    std::string_view prog_id) {
  if (failing_.count(prog_id) != 0) {
    throw dbplatform::Error(dbplatform::kCannotCreateObject,
                            "ActiveX component can't create object");
  }
  if (closing_fails_ && prog_id == "SQLDMO.SQLServer") {
    return std::make_unique<ServerWithFailingClose>(
        dbplatform::CreateObjectAs<dbplatform::SQLServer>(real_, prog_id));
  }
  return real_.CreateObject(prog_id);
}

}  // namespace velmora_test
