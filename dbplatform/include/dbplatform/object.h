#pragma once
// Base of every outside object, and the one factory that creates them by
// automation identifier. The programs never construct outside objects
// directly, so a test can hand in a factory whose objects fail on demand.

#include <memory>
#include <string>
#include <string_view>

#include "dbplatform/error.h"

namespace dbplatform {

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};

// Identifiers: "SQLDMO.SQLServer", "SQLDMO.Backup", "SQLDMO.restore",
// "Scripting.FileSystemObject", "ADODB.Connection", "ADODB.Command".
// Identifiers are matched ignoring letter case, as the platform registry does.
class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // Throws Error(kCannotCreateObject, "ActiveX component can't create object")
  // for an unknown identifier.
  virtual std::unique_ptr<AutomationObject> CreateObject(std::string_view prog_id) = 0;
};

// The factory of the real objects (ODBC data access, T-SQL administration,
// the local file system). Lives for the whole process.
ObjectFactory& DefaultFactory();

// CreateObject plus a checked downcast; a wrong type throws Error(13, "Type mismatch").
template <class T>
std::unique_ptr<T> CreateObjectAs(ObjectFactory& factory, std::string_view prog_id) {
  std::unique_ptr<AutomationObject> object = factory.CreateObject(prog_id);
  if (auto* typed = dynamic_cast<T*>(object.get())) {
    object.release();
    return std::unique_ptr<T>(typed);
  }
  throw Error(13, "Type mismatch");
}

}  // namespace dbplatform
