#pragma once
// One real sqlengine per test suite (started on a free loopback port in a
// temporary home), and the connection texts the programs build for it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dbplatform/data_access.h"
#include "dbplatform/object.h"
#include "error_number.h"
#include "testing/test_engine.h"

namespace dbplatform {

class EngineSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { engine_ = new testing_support::TestEngine(); }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }

  static testing_support::TestEngine& Engine() { return *engine_; }

  // Velmora's form: provider, password first, server last.
  static std::string VelmoraText(const std::string& database, const std::string& user = "sa") {
    return "PROVIDER=SQLOLEDB.1;PASSWORD=;PERSIST SECURITY INFO=TRUE;USER ID=" + user +
           ";INITIAL CATALOG=" + database + ";DATA SOURCE=" + engine_->ServerName();
  }

  static std::unique_ptr<Connection> Open(const std::string& database = "master") {
    auto connection = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
    connection->Open(VelmoraText(database), "", "", -1);
    return connection;
  }

  // Runs `sql` and reads it to its end.
  static void Run(Connection& connection, const std::string& sql) {
    auto records = connection.Execute(sql);
    while (!records->Eof()) records->MoveNext();
  }

  // The first column of the first row of `sql`, as text.
  static std::string Scalar(Connection& connection, const std::string& sql) {
    auto records = connection.Execute(sql);
    if (records->Eof()) return "<no row>";
    return ToText(records->Fields().Item(0).GetValue());
  }

 private:
  static inline testing_support::TestEngine* engine_ = nullptr;
};

}  // namespace dbplatform
