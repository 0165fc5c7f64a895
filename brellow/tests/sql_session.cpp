#include "brellow/tests/sql_session.h"

#include "brellow/shrink_command.h"
#include "dbplatform/value.h"

namespace brellow_test {

SqlSession::SqlSession(const std::string& server, const std::string& database,
                       const std::string& login, const std::string& password)
    : connection_(dbplatform::CreateObjectAs<dbplatform::Connection>(dbplatform::DefaultFactory(),
                                                                     "ADODB.Connection")) {
  connection_->Open("Provider=SQLOLEDB.1;Data Source=" + server + ";Initial Catalog=" + database +
                    ";User ID=" + login + ";Password=" + password + ";");
}

SqlSession::~SqlSession() {
  try {
    connection_->Close();
  } catch (const dbplatform::Error&) {
  }
}

void SqlSession::Run(const std::string& sql) {
  std::unique_ptr<dbplatform::Recordset> result = connection_->Execute(sql);
  result->Close();
}

std::vector<std::string> SqlSession::Column(const std::string& sql) {
  std::unique_ptr<dbplatform::Recordset> result = connection_->Execute(sql);
  std::vector<std::string> values;
  while (!result->Eof()) {
    values.push_back(dbplatform::ToText(result->Fields().Item(0).GetValue()));
    result->MoveNext();
  }
  result->Close();
  return values;
}

void CreateDatabaseWithFreeSpace(const std::string& server, const std::string& name) {
  const std::string quoted = brellow::DelimitDatabaseName(name);
  SqlSession(server).Run("CREATE DATABASE " + quoted);
  SqlSession session(server, name);
  session.Run("CREATE TABLE filler (id int NOT NULL, pad varchar(4000) NOT NULL)");
  const std::string pad(4000, 'x');
  session.Run(
      "DECLARE @i int SET @i = 0 WHILE @i < 400 BEGIN INSERT INTO filler (id, pad) VALUES (@i, '" +
      pad + "') SET @i = @i + 1 END");
  session.Run("DELETE FROM filler WHERE id >= 20");
}

}  // namespace brellow_test
