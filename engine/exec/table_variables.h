#pragma once
// Table variables (DECLARE @t TABLE (...)) of one batch or procedure. Each is
// a session-private temporary table with an internal name, #XXXXXXXX, as SQL
// Server names them in tempdb; a statement reaches it through the variable,
// which Substituted() replaces by that name wherever it stands as a table.
// The tables are dropped when the batch or procedure ends (the destructor);
// their rows outlive a ROLLBACK (Save before it, Restore after it), as SQL
// Server keeps a table variable out of transactions. Used on the session's
// thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class SessionConnection;

class TableVariables {
 public:
  // The session's connection outlives this object. A USE opens another
  // SQLite connection, which takes the tables along (session_connection.h).
  explicit TableVariables(const SessionConnection& connection) : connection_(connection) {}
  ~TableVariables();
  TableVariables(const TableVariables&) = delete;
  TableVariables& operator=(const TableVariables&) = delete;

  bool Empty() const { return tables_.empty(); }
  bool Has(std::string_view variable) const;
  // Makes the internal name of a new table variable `variable` (as written)
  // and records it with the CREATE TABLE statement that makes its table.
  // `definition` holds DECLARE @t [AS] TABLE ( ... ); `at` indexes its '('.
  // nullopt when this DECLARE made the variable before (a loop met it
  // again). Throws SqlError 134 for a name another DECLARE took.
  std::optional<tsql::Statement> Declare(const tsql::Tokens& definition, size_t at, int line);

  // `tokens` with every table variable standing as a table (after FROM,
  // JOIN, INTO, INSERT, UPDATE, DELETE or a FROM list's comma) replaced by its
  // table's name; nullopt when there is none. Throws SqlError 1087 for a
  // variable standing as a table that is no table variable here.
  std::optional<tsql::Tokens> Substituted(const tsql::Tokens& tokens) const;
  // The indexes of the variables standing as tables in `tokens`.
  static std::vector<size_t> TablePositions(const tsql::Tokens& tokens);

  // The rows of every table variable, kept across a ROLLBACK. Restore
  // makes the tables again through `create` when the rollback undid them.
  class Saved;
  std::shared_ptr<Saved> Save() const;
  void Restore(const Saved& saved, const std::function<void(const tsql::Statement&)>& create) const;

 private:
  struct Table {
    std::string name;     // #XXXXXXXX
    tsql::Tokens create;  // CREATE TABLE [#XXXXXXXX] (...)
    int line = 1;
    std::size_t declared_at = 0;  // the batch offset of the DECLARE's variable
  };
  const SessionConnection& connection_;
  std::map<std::string, Table> tables_;  // by lower-case "@name"
};

}  // namespace sqlengine::exec
