#pragma once
// What only the executing session knows about names: where a database is
// attached, and the SQL of a catalog view.

#include <optional>
#include <string>
#include <string_view>

namespace sqlengine::tsql {

// Answers the questions about names that only the executing session can.
class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // The SQLite schema name under which `database` is reachable in this
  // session ("main" for the current database), attaching it if needed.
  // Throws SqlError 911 for an unknown database.
  virtual std::string SchemaFor(std::string_view database) = 0;
  // A parenthesised SELECT standing for the catalog view `view` (lower case:
  // "sysobjects", "information_schema.tables" ...) of `database` (empty: the
  // current one); nullopt when no such catalog view exists.
  virtual std::optional<std::string> CatalogView(std::string_view database,
                                                 std::string_view view) = 0;
};

}  // namespace sqlengine::tsql
