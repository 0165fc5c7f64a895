#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backup_restore.h"
#include "data_access_objects.h"
#include "dbplatform/object.h"
#include "file_system_object.h"
#include "path_lookup.h"
#include "sql_server.h"

namespace dbplatform {
namespace {

using Maker = std::function<std::unique_ptr<AutomationObject>()>;

class RealObjectFactory final : public ObjectFactory {
 public:
  RealObjectFactory() {
    makers_ = {
        {"SQLDMO.SQLServer", [] { return MakeSqlServer(); }},
        {"SQLDMO.Backup", [] { return MakeBackup(); }},
        {"SQLDMO.Restore", [] { return MakeRestore(); }},
        {"Scripting.FileSystemObject", [] { return MakeLocalFileSystemObject(); }},
        {"ADODB.Connection", [] { return MakeConnection(); }},
        {"ADODB.Command", [] { return MakeCommand(); }},
    };
  }

  std::unique_ptr<AutomationObject> CreateObject(std::string_view prog_id) override {
    for (const auto& [id, make] : makers_) {
      if (EqualIgnoringAsciiCase(id, prog_id)) return make();
    }
    throw Error(kCannotCreateObject, "ActiveX component can't create object");
  }

 private:
  std::vector<std::pair<std::string, Maker>> makers_;
};

}  // namespace

ObjectFactory& DefaultFactory() {
  static RealObjectFactory factory;
  return factory;
}

}  // namespace dbplatform
