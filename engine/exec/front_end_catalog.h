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
  bool ColumnsNullableByDefault(const std::string& database) override;
  std::optional<tsql::bind::FunctionShape> FindFunction(  // front_end_functions.cpp
      const std::vector<std::string>& name) override;
  std::optional<std::vector<int>> OwnersReached(const std::string& database,
                                                const std::string& owner) override;
  void EnterBody(const std::string& schema, const std::string& name,
                 tsql::ObjectReach::Kind kind) override;
  void LeaveBody() override;
  void NoteWrittenThrough(const std::string& view_schema, const std::string& view,
                          const std::string& source_schema, const std::string& source,
                          std::vector<std::pair<std::string, std::string>> columns) override;

  // The objects the bound statement reaches (see tsql/object_reach.h).
  std::vector<tsql::ObjectReach> TakeReaches();

 private:
  // A catalog view read as a table of SQL Server's declared columns; nullopt
  // for another name. Throws what SessionConnection::CatalogView throws (911
  // for an unknown database, 916 for one the login may not use).
  std::optional<tsql::bind::TableShape> CatalogViewShape(const std::vector<std::string>& name);

  // The table or view `name` names, not noted as reached.
  std::optional<tsql::bind::TableShape> Describe(const std::vector<std::string>& name);
  // `name` as it reads inside the body being bound: in a view of another
  // database, a name without a database is that database's.
  std::vector<std::string> InBodyDatabase(const std::vector<std::string>& name) const;
  // Whether `table` of `database` (empty: the current one), written after
  // `owner` (empty: none), is reached by that name: see
  // SessionRights::NameReaches. A database holds one object of a name,
  // whoever owns it, so the name either reaches it or nothing.
  // 916 for a `database` written in a name (attached as `schema`) the
  // login may not use: its tables and columns are not told to it.
  void RequireUsable(const std::string& database, const std::string& schema);
  bool OwnedAsWritten(const std::string& owner, const std::string& database,
                      const std::string& table);
  // Tells a recorded binding (bound_texts.h) that it read what may change
  // without a schema change.
  void Unkeepable();
  // Notes `name` reached from the body being bound (or the statement).
  void Note(const std::string& schema, const std::string& name, tsql::ObjectReach::Kind kind);

  struct Body {
    std::string schema, name;
    tsql::ObjectReach::Kind kind;
  };
  Session& session_;
  std::vector<Body> bodies_;  // innermost last
  std::vector<tsql::ObjectReach> reaches_;
};

}  // namespace sqlengine::exec
