#pragma once
// Tables as the front end's binder sees them (each column's name, SQL Server
// type, default, whether it is computed), read from SQLite's description of
// the table and kept on the session's connection.
//
// A kept shape is found by the schema, the table's name and the text SQLite
// stores for the table (its CREATE TABLE as every ALTER since left it).
// Everything the shape says follows from that text, so a shape found is the
// one a fresh read would give: whoever changed the table, whichever database
// is open under the schema name now, whatever was rolled back meanwhile.
// Views are not kept: their INSTEAD OF triggers are not in their text.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/tsql/bind/catalog.h"

namespace sqlengine::exec {

class SessionConnection;

// A table or view as SQLite's catalog (sqlite_schema) of one schema holds it.
struct StoredTable {
  std::string name;  // as the catalog spells it
  bool view = false;
  std::string sql;  // the statement that made it as SQLite keeps it; empty if none
};

// The table or view named `table` (in any case) in SQLite schema `schema`
// ("main", "temp", an attached database's alias); nullopt when there is none.
// The read goes through a statement, which first brings the connection's copy
// of the schema up to date: another session's DDL is seen as a statement run
// now would see it. Throws Cancelled when the session's cancel stopped it.
std::optional<StoredTable> FindStoredTable(SessionConnection& connection,
                                           const std::string& schema, const std::string& table);

// The shape of the table `table` of `schema`, kept from an earlier read of
// the same definition when there is one; of a view, its column names alone,
// read afresh. Null when SQLite no longer describes it or a table column's
// declared type is none the front end reads. Throws Cancelled when the
// session's cancel stopped the read.
std::shared_ptr<const tsql::bind::TableShape> TableShapeOf(SessionConnection& connection,
                                                           const std::string& schema,
                                                           const StoredTable& table);

// The shapes one connection keeps, by schema, name and definition. Holds at
// most kKept; all are forgotten when one more would not fit (tables whose
// definitions keep changing are rare). Used on the session's thread only.
class TableShapes {
 public:
  static constexpr std::size_t kKept = 256;

  static std::string Key(std::string_view schema, const StoredTable& table);
  std::shared_ptr<const tsql::bind::TableShape> Find(const std::string& key) const;
  void Keep(std::string key, std::shared_ptr<const tsql::bind::TableShape> shape);
  void Clear() { kept_.clear(); }
  std::size_t Size() const { return kept_.size(); }

 private:
  std::unordered_map<std::string, std::shared_ptr<const tsql::bind::TableShape>> kept_;
};

}  // namespace sqlengine::exec
