#include "engine/exec/constraint_conflicts.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/check_condition.h"
#include "engine/exec/index_names.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// The words of SQLite SQL as the rewriter writes it: separated by spaces,
// quoted names kept whole.
std::vector<std::string_view> Words(std::string_view sql, size_t limit) {
  std::vector<std::string_view> words;
  words.reserve(limit);
  size_t i = 0;
  while (i < sql.size() && words.size() < limit) {
    while (i < sql.size() && sql[i] == ' ') ++i;
    const size_t start = i;
    bool quoted = false;
    while (i < sql.size() && (quoted || sql[i] != ' ')) {
      if (sql[i] == '"') quoted = !quoted;
      ++i;
    }
    if (i > start) words.emplace_back(sql.substr(start, i - start));
  }
  return words;
}

bool Is(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
  }
  return true;
}

// The constraints of `table` in the first schema that has it, as SQLite
// looks names up; none when SQLite fails.
// The constraints of `table` and its definition as stored, from the first
// schema that has it (see ConstraintsOf).
struct StoredConstraints {
  std::vector<TableConstraint> constraints;
  std::string definition;
};
StoredConstraints StoredConstraintsOf(sqlite3* db, const std::string& table,
                                      const std::string& schema_first = {});

std::vector<TableConstraint> ConstraintsOf(sqlite3* db, const std::string& table,
                                           const std::string& schema_first = {}) {
  return StoredConstraintsOf(db, table, schema_first).constraints;
}

// SQLite's schemas (main, temp, the attached ones), with `first` (the
// schema a statement wrote, where another database's table may share its
// name with one of the session's) moved to the front.
std::vector<std::string> SchemasFrom(sqlite3* db, const std::string& first) {
  catalog::PreparedStatement schemas =
      catalog::Prepare(db, "SELECT name FROM pragma_database_list ORDER BY seq");
  std::vector<std::string> names;
  while (sqlite3_step(schemas.get()) == SQLITE_ROW) {
    names.push_back(catalog::ColumnText(schemas.get(), 0));
  }
  std::stable_partition(names.begin(), names.end(),
                        [&](const std::string& n) { return n == first; });
  return names;
}

StoredConstraints StoredConstraintsOf(sqlite3* db, const std::string& table,
                                      const std::string& schema_first) {
  try {
    // temp first, then main, then the attached ones; `schema_first` before all.
    std::vector<std::string> names = SchemasFrom(db, schema_first);
    std::stable_partition(names.begin(), names.end(), [&](const std::string& n) {
      return n == "temp" && schema_first.empty();
    });
    for (const std::string& schema : names) {
      std::vector<TableConstraint> found = ReadTableConstraints(db, schema, table);
      auto exists = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                             ".sqlite_master WHERE type = 'table' AND name = ?1 "
                                             "COLLATE NOCASE");
      sqlite3_bind_text(exists.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(exists.get()) != SQLITE_ROW) continue;
      exists.reset();
      std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
      return StoredConstraints{std::move(found), definition ? definition->sql : std::string()};
    }
  } catch (const std::exception&) {
  }
  return {};
}

std::string WithoutSpaces(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (c != ' ') kept.push_back(c);
  }
  return kept;
}

bool SameColumns(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (!tsql::EqualsIgnoreCase(a[k], b[k])) return false;
  }
  return true;
}

}  // namespace

UniqueKey DeclaredKeyOf(sqlite3* db, std::string_view columns, const std::string& schema_first) {
  size_t dot = columns.find('.');
  if (dot == std::string_view::npos) return {};
  std::string table(columns.substr(0, dot));
  std::vector<std::string> names;
  while (!columns.empty()) {
    size_t comma = columns.find(", ");
    std::string_view column = columns.substr(0, comma);
    names.emplace_back(column.substr(column.find('.') + 1));
    columns = comma == std::string_view::npos ? std::string_view() : columns.substr(comma + 2);
  }
  for (const TableConstraint& c : ConstraintsOf(db, table, schema_first)) {
    if ((c.xtype == "PK" || c.xtype == "UQ") && !c.from_index && SameColumns(c.columns, names)) {
      return UniqueKey{c.name, c.xtype == "PK" ? "PRIMARY KEY" : "UNIQUE KEY"};
    }
  }
  return {};
}

// `text` without spaces and without the parentheses around all of it.
std::string Bare(std::string_view text) {
  std::string bare = WithoutSpaces(text);
  while (bare.size() >= 2 && bare.front() == '(' && bare.back() == ')') {
    int depth = 0;
    bool whole = true;
    for (std::size_t i = 0; i + 1 < bare.size() && whole; ++i) {
      if (bare[i] == '(') ++depth;
      if (bare[i] == ')') whole = --depth > 0;
    }
    if (!whole) break;
    bare = bare.substr(1, bare.size() - 2);
  }
  return bare;
}

CheckConflict FindCheckConflict(sqlite3* db, const std::string& table, std::string_view reported,
                                const std::string& schema) {
  CheckConflict conflict{"COLUMN", std::string(reported), ""};
  StoredConstraints stored = StoredConstraintsOf(db, table, schema);
  for (const TableConstraint& c : stored.constraints) {
    if (c.xtype != "C" || c.disabled) continue;
    // SQLite names an unnamed constraint by its stored condition, which may
    // differ from the text as written (c.text).
    std::string condition =
        c.end <= stored.definition.size()
            ? ParenthesisedAfter(
                  std::string_view(stored.definition).substr(c.begin, c.end - c.begin), "check")
            : c.text;
    if (!tsql::EqualsIgnoreCase(c.name, reported) && Bare(condition) != Bare(reported) &&
        Bare(c.text) != Bare(reported)) {
      continue;
    }
    conflict.level = c.column.empty() ? "TABLE" : "COLUMN";
    conflict.name = c.name;
    conflict.column = c.column;
    return conflict;
  }
  return conflict;
}

std::string RepeatedKey(sqlite3* db, const std::string& table, const std::string& column_list) {
  auto repeated = catalog::Prepare(db, "SELECT " + column_list + " FROM " + table + " GROUP BY " +
                                           column_list + " HAVING count(*) > 1 LIMIT 1");
  if (sqlite3_step(repeated.get()) != SQLITE_ROW) return {};
  std::string key;
  for (int c = 0; c < sqlite3_column_count(repeated.get()); ++c) {
    if (c > 0) key += ", ";
    key += sqlite3_column_type(repeated.get(), c) == SQLITE_NULL
               ? "NULL"
               : catalog::ColumnText(repeated.get(), c);
  }
  return key;
}

std::string RepeatedIndexKey(sqlite3* db, std::string_view sql, std::string_view columns) {
  std::vector<std::string_view> words = Words(sql, 6);
  if (words.size() < 6 || !Is(words[0], "create") || !Is(words[1], "unique") ||
      !Is(words[2], "index") || !Is(words[4], "on")) {
    return {};
  }
  std::string column_list;
  while (!columns.empty()) {
    size_t comma = columns.find(", ");
    std::string_view column = columns.substr(0, comma);
    column_list += (column_list.empty() ? "" : ", ") +
                   tsql::QuoteSqliteName(column.substr(column.rfind('.') + 1));
    columns = comma == std::string_view::npos ? std::string_view() : columns.substr(comma + 2);
  }
  std::string table(words[5].substr(0, words[5].find('(')));
  try {
    return RepeatedKey(db, table, column_list);
  } catch (const std::exception&) {
    return {};
  }
}

UniqueKey UniqueKeyOf(sqlite3* db, std::string_view columns, const std::string& schema_first) {
  size_t dot = columns.find('.');
  if (dot == std::string_view::npos) return {};
  std::string table(columns.substr(0, dot));
  std::string column_list;
  while (!columns.empty()) {
    size_t comma = columns.find(", ");
    std::string_view column = columns.substr(0, comma);
    column_list +=
        (column_list.empty() ? "" : ",") + std::string(column.substr(column.find('.') + 1));
    columns = comma == std::string_view::npos ? std::string_view() : columns.substr(comma + 2);
  }
  try {
    // The first schema that has the table is the one SQLite reported on.
    for (const std::string& schema : SchemasFrom(db, schema_first)) {
      std::string quoted = tsql::QuoteSqliteName(schema);
      catalog::PreparedStatement keys = catalog::Prepare(
          db,
          "SELECT i.name, i.sql, (SELECT group_concat(name) FROM (SELECT c.name FROM "
          "pragma_index_info(i.name, ?3) c ORDER BY c.seqno)) FROM " +
              quoted +
              ".sqlite_master i WHERE i.type = 'index' AND i.tbl_name = ?1 COLLATE NOCASE "
              "AND i.sql LIKE 'CREATE UNIQUE INDEX%'");
      sqlite3_bind_text(keys.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(keys.get(), 3, schema.c_str(), -1, SQLITE_TRANSIENT);
      bool has_table = false;
      while (sqlite3_step(keys.get()) == SQLITE_ROW) {
        has_table = true;
        if (catalog::ColumnText(keys.get(), 2) != column_list) continue;
        std::string sql = catalog::ColumnText(keys.get(), 1);
        UniqueKey key{ShownIndexName(catalog::ColumnText(keys.get(), 0), table), ""};
        if (sql.ends_with(kPrimaryKeyMarker)) key.constraint = "PRIMARY KEY";
        if (sql.ends_with(kUniqueKeyMarker)) key.constraint = "UNIQUE KEY";
        return key;
      }
      if (has_table) return {};
    }
  } catch (const std::exception&) {
  }
  return {};
}

WrittenName NameWritten(std::string_view sql) {
  std::vector<std::string_view> words = Words(sql, 3);
  std::string_view name;
  if (words.size() >= 3 && ((Is(words[0], "insert") && Is(words[1], "into")) ||
                            (Is(words[0], "delete") && Is(words[1], "from")))) {
    name = words[2];
  } else if (words.size() >= 2 && Is(words[0], "update")) {
    name = words[1];
  }
  // The parts of the name, unquoted, up to a column list: the last two count.
  WrittenName written;
  bool quoted = false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '"' && quoted && i + 1 < name.size() && name[i + 1] == '"') {
      written.table.push_back(c);
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == '.' && !quoted) {
      written.schema = std::move(written.table);
      written.table.clear();
    } else if (c == '(' && !quoted) {
      break;
    } else {
      written.table.push_back(c);
    }
  }
  return written;
}

std::string WrittenTable(std::string_view sql) { return NameWritten(sql).table; }

std::string WrittenSchema(std::string_view sql) { return NameWritten(sql).schema; }

ForeignKeyConflict FindForeignKeyConflict(sqlite3* db, const std::string& table,
                                          std::string_view verb, const std::string& schema) {
  ForeignKeyConflict conflict;
  bool referred = verb == "DELETE";
  conflict.kind = referred ? "REFERENCE" : "FOREIGN KEY";
  if (table.empty()) return conflict;
  // A foreign key refers within its own schema: the one written, when the
  // statement names it; else the first with the table, as SQLite looks.
  std::string master = schema.empty() ? std::string("sqlite_master")
                                      : tsql::QuoteSqliteName(schema) + ".sqlite_master";
  std::string in = schema.empty() ? std::string() : ", ?2";
  auto query = catalog::Prepare(
      db, referred ? "SELECT m.name, f.\"from\" FROM " + master +
                         " m, pragma_foreign_key_list(m.name" + in +
                         ") f WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE ORDER "
                         "BY m.name LIMIT 1"
                   : "SELECT f.\"table\", f.\"to\", f.\"from\" FROM pragma_foreign_key_list(?1" +
                         in + ") f LIMIT 1");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (!schema.empty()) sqlite3_bind_text(query.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return conflict;
  conflict.table = catalog::ColumnText(query.get(), 0);
  conflict.column = catalog::ColumnText(query.get(), 1);
  std::string referring = referred ? conflict.table : table;
  std::string referring_column = referred ? conflict.column : catalog::ColumnText(query.get(), 2);
  query.reset();
  // A table that refers to itself conflicts with its own reference.
  if (tsql::EqualsIgnoreCase(conflict.table, table)) conflict.kind = "SAME TABLE REFERENCE";
  conflict.constraint = "FK__" + referring + "__" + referring_column;
  if (!referred && conflict.column.empty()) {
    // A reference that names no column is to the other table's primary key.
    for (const TableConstraint& c : ConstraintsOf(db, conflict.table, schema)) {
      if (c.xtype == "PK" && !c.columns.empty()) conflict.column = c.columns.front();
    }
  }
  for (const TableConstraint& c : ConstraintsOf(db, referring, schema)) {
    if (c.xtype == "F" && !c.disabled && !c.columns.empty() &&
        tsql::EqualsIgnoreCase(c.columns.front(), referring_column)) {
      conflict.constraint = c.name;
      break;
    }
  }
  return conflict;
}

}  // namespace sqlengine::exec
