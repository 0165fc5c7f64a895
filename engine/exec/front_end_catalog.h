#pragma once
// The session's tables and variables as the front end's binder sees them:
// tables of the current database, of another one (db..t, db.dbo.t) and the
// session's #temp tables, with their declared SQL Server types.

#include "engine/tsql/bind/catalog.h"

namespace sqlengine::exec {

class Session;

class SessionCatalog final : public tsql::bind::Catalog {
 public:
  explicit SessionCatalog(Session& session) : session_(session) {}

  std::optional<tsql::bind::TableShape> FindTable(const std::vector<std::string>& name) override;
  bool ObjectExists(const std::vector<std::string>& name) override;
  std::optional<ColumnType> VariableType(std::string_view name) override;
  bool AnsiNulls() override;
  bool ConcatNullYieldsNull() override;
  std::optional<tsql::bind::FunctionShape> FindFunction(  // front_end_functions.cpp
      const std::vector<std::string>& name) override;

 private:
  // A catalog view read as a table of SQL Server's declared columns; nullopt
  // for another name. Throws what SessionConnection::CatalogView throws (911
  // for an unknown database, 916 for one the login may not use).
  std::optional<tsql::bind::TableShape> CatalogViewShape(const std::vector<std::string>& name);

  Session& session_;
};

}  // namespace sqlengine::exec
