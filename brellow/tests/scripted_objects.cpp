#include "brellow/tests/scripted_objects.h"

#include "dbplatform/error.h"

namespace brellow_test {
namespace {

[[noreturn]] void ThrowItemNotFound() {
  throw dbplatform::Error(3265,
                          "Item cannot be found in the collection corresponding to the requested "
                          "name or ordinal.");
}

class NoFields : public dbplatform::FieldCollection {
 public:
  int Count() const override { return 0; }
  dbplatform::Field& Item(int) override { ThrowItemNotFound(); }
  dbplatform::Field& Item(std::string_view) override { ThrowItemNotFound(); }
};

class EmptyRecordset : public dbplatform::Recordset {
 public:
  bool Eof() override { return true; }
  dbplatform::FieldCollection& Fields() override { return fields_; }
  void MoveNext() override { throw dbplatform::Error(3021, "Either BOF or EOF is True."); }
  void Close() override {}

 private:
  NoFields fields_;
};

}  // namespace

class ScriptedConnection::MessageList : public dbplatform::ErrorCollection {
 public:
  int Count() const override { return static_cast<int>(items.size()); }
  const dbplatform::ErrorItem& Item(int index) const override {
    if (index < 0 || index >= Count()) ThrowItemNotFound();
    return items[static_cast<size_t>(index)];
  }
  std::vector<dbplatform::ErrorItem> items;
};

ScriptedConnection::ScriptedConnection(ExecuteScript on_execute, bool close_fails)
    : on_execute_(std::move(on_execute)),
      close_fails_(close_fails),
      messages_(std::make_shared<MessageList>()) {}

std::unique_ptr<dbplatform::Recordset> ScriptedConnection::Execute(const std::string& sql) {
  executed.push_back(sql);
  messages_->items.clear();
  if (on_execute_) on_execute_(sql, messages_->items);
  return std::make_unique<EmptyRecordset>();
}

dbplatform::ErrorCollection& ScriptedConnection::Errors() { return *messages_; }

void ScriptedConnection::Close() {
  if (close_fails_)
    throw dbplatform::Error(3704, "Operation is not allowed when the object is closed.");
}

std::unique_ptr<dbplatform::AutomationObject> UncreatableObjects::CreateObject(std::string_view) {
  ++attempts;
  if (before_) before_();
  throw dbplatform::Error(dbplatform::kCannotCreateObject, "ActiveX component can't create object");
}

}  // namespace brellow_test
