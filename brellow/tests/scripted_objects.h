#pragma once
// Stand-ins for outside objects, only for failures a real engine does not
// produce: an object that cannot be created, a close that fails, a command
// that leaves no message behind.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbplatform/data_access.h"
#include "dbplatform/object.h"

namespace brellow_test {

// A connection whose Execute runs `on_execute` (which may throw and fills the
// message list of that command) and returns an empty record set.
class ScriptedConnection : public dbplatform::Connection {
 public:
  using ExecuteScript =
      std::function<void(const std::string& sql, std::vector<dbplatform::ErrorItem>& messages)>;

  explicit ScriptedConnection(ExecuteScript on_execute, bool close_fails = false);

  void SetConnectionString(const std::string& text) override { connection_string_ = text; }
  std::string ConnectionString() const override { return connection_string_; }
  void Open(const std::string&, const std::string&, const std::string&, int) override {}
  std::unique_ptr<dbplatform::Recordset> Execute(const std::string& sql) override;
  void SetCommandTimeout(int seconds) override { command_timeout = seconds; }
  dbplatform::ErrorCollection& Errors() override;
  void Close() override;

  std::vector<std::string> executed;
  int command_timeout = 0;

 private:
  class MessageList;
  ExecuteScript on_execute_;
  bool close_fails_;
  std::string connection_string_;
  std::shared_ptr<MessageList> messages_;
};

// A factory whose every CreateObject first runs `before` and then fails as
// the platform does for an object it cannot create.
class UncreatableObjects : public dbplatform::ObjectFactory {
 public:
  explicit UncreatableObjects(std::function<void()> before = {}) : before_(std::move(before)) {}
  std::unique_ptr<dbplatform::AutomationObject> CreateObject(std::string_view prog_id) override;
  int attempts = 0;

 private:
  std::function<void()> before_;
};

}  // namespace brellow_test
