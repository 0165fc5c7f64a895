#pragma once
// A direct connection to a test engine through the real data access objects,
// for preparing and inspecting the server beside the windows under test.
// Failures throw dbplatform::Error.

#include <memory>
#include <string>
#include <vector>

#include "dbplatform/data_access.h"

namespace brellow_test {

class SqlSession {
 public:
  SqlSession(const std::string& server, const std::string& database = "master",
             const std::string& login = "sa", const std::string& password = "");
  ~SqlSession();

  // Runs `sql` and reads every result to its end.
  void Run(const std::string& sql);
  // The first column of the first result, as text.
  std::vector<std::string> Column(const std::string& sql);

 private:
  std::unique_ptr<dbplatform::Connection> connection_;
};

// Creates database `name` with a table that was filled and emptied again, so
// that its data file holds free space.
void CreateDatabaseWithFreeSpace(const std::string& server, const std::string& name);

}  // namespace brellow_test
