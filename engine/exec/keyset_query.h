#pragma once
// What lets a KEYSET or DYNAMIC cursor (a T-SQL one or an API server cursor)
// see changes made after it opened: its query over one table with a unique
// key, read again with the key's values. A query over several tables, a
// view, a grouping or a table without a unique key gives none, and the
// cursor keeps the rows it read at OPEN, as SQL Server turns such a cursor
// into a static one.
//
// The statements built here refer to parameters of their own (named
// @sqlengine_cursor_key0, 1, ...; no client names a variable so), whose
// declarations and values travel beside them. They run as the session, so
// its permissions apply.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/engine_api.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

struct KeysetQuery {
  // The cursor's query with the key columns appended to its select list (as
  // sqlengine_key0, 1, ...): its rows give the members, in order, and their keys.
  tsql::Statement keyed;
  std::vector<std::string> key_columns;  // the table's names of the key columns
  // SELECT <the cursor's select list> FROM <its table>: one row once a
  // WHERE clause on the key is appended.
  tsql::Statement row;
  // The query has an ORDER BY or a TOP: a DYNAMIC cursor over it keeps its
  // members as a KEYSET one does, as SQL Server converts it.
  bool ordered = false;
  // The table as the query names it, in parts.
  std::vector<std::string> table;
  // The table's definition when the query was built (see TableSchemaText).
  std::string definition;

  // The parts a seek is built from: the select list, FROM up to WHERE or
  // ORDER BY, the WHERE condition (empty without one), and the name the key
  // columns are qualified with.
  tsql::Tokens select_list;
  tsql::Tokens from;
  tsql::Tokens condition;
  tsql::Token qualifier;
};

// What SQLite's schema `schema` holds of `table`: its own, its indexes' and
// its triggers' definitions; empty once it is gone. Reads the catalog with
// the engine's own SQL.
std::string TableSchemaText(sqlite3* db, const std::string& schema, const std::string& table);

// Throws 16943 when the table of `query`, found under SQLite schema `schema`,
// is no longer defined as when the query was built (altered, indexed,
// dropped since): a keyed cursor's fetch cannot go on reading it.
void RequireSameTable(sqlite3* db, const std::string& schema, const KeysetQuery& query);

// The keyset form of `select` (a cursor's SELECT) over the current
// database's tables on `db`; nullopt when it has none. Reads the catalog
// with the engine's own SQL; throws nothing for a query it cannot use.
std::optional<KeysetQuery> KeysetQueryOf(sqlite3* db, const tsql::Statement& select);

// A statement built on a cursor's query, and the parameters it adds.
struct KeyedStatement {
  tsql::Statement statement;
  std::string declarations;      // "@sqlengine_cursor_key0 int, ..."; empty for none
  std::vector<RpcParam> values;  // named as declared
};

// The member whose key is `key` (in `key_columns`, typed as the keyed
// query returned them): KeysetQuery::row with a WHERE on the key.
KeyedStatement RowByKey(const KeysetQuery& query, const std::vector<Column>& key_columns,
                        const Row& key);

// Rows of the cursor's query (its columns, then the key columns as the
// keyed query has them) in key order from `from`: the `limit` rows after it
// (`forward`, ascending) or before it (descending), `from` itself first
// when `inclusive`. Without `from`, from the first (forward) or the last
// row. NULL keys sort first, as in SQL Server.
KeyedStatement Seek(const KeysetQuery& query, const std::vector<Column>& key_columns,
                    const Row* from, bool forward, bool inclusive, std::int64_t limit);

// One row of a keyed statement's result: the cursor's columns and the key.
struct KeyedRow {
  Row values;
  Row key;
};
// Splits rows whose last `key_count` values are the key.
std::vector<KeyedRow> SplitKeyedRows(std::vector<Row> rows, std::size_t key_count);

}  // namespace sqlengine::exec
