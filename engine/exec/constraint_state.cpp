#include "engine/exec/constraint_state.h"

#include <algorithm>
#include <optional>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/check_condition.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// A replacement of [begin, end) of a definition's text.
struct Edit {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

std::string Apply(std::string sql, std::vector<Edit> edits) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
  for (const Edit& edit : edits) sql.replace(edit.begin, edit.end - edit.begin, edit.text);
  return sql;
}

// The element of `definition` a table-level constraint at `begin` is.
std::size_t ElementAt(const TableDefinition& definition, std::size_t begin) {
  for (std::size_t k = 0; k < definition.elements.size(); ++k) {
    if (definition.elements[k].begin <= begin && begin < definition.elements[k].end) return k;
  }
  return 0;
}

Edit Disable(const TableDefinition& definition, const TableConstraint& c) {
  std::string clause = definition.sql.substr(c.begin, c.end - c.begin);
  if (c.system_named) clause = "CONSTRAINT " + tsql::QuoteSqliteName(c.name) + " " + clause;
  std::string comment = DisabledConstraintComment(c.column, clause);
  // A switched-off constraint is untrusted without its marker.
  if (!c.column.empty()) return Edit{c.marked_begin, c.end, comment};
  // A table constraint goes with the comma before it; the comment stays
  // behind the element before.
  std::size_t k = ElementAt(definition, c.begin);
  if (k == 0) return Edit{c.marked_begin, definition.elements[1].begin, comment + " "};
  return Edit{definition.elements[k - 1].end, definition.elements[k].end, " " + comment};
}

// Switches a disabled constraint on; unless the rows are checked, it stays untrusted.
void Enable(const TableDefinition& definition, const TableConstraint& c, bool checked,
            std::vector<Edit>& edits) {
  DisabledClause kept = ReadDisabledConstraintComment(
      std::string_view(definition.sql).substr(c.begin, c.end - c.begin));
  std::string clause = (checked ? "" : std::string(kNotTrustedMarker) + " ") + kept.clause;
  if (!kept.column.empty()) {
    edits.push_back(Edit{c.begin, c.end, clause});
    return;
  }
  edits.push_back(Edit{c.begin, c.end, ""});
  // Table constraints follow the columns.
  edits.push_back(Edit{definition.close, definition.close, ", " + clause + " "});
}

// WITH CHECK: a row that breaks `c`, switched on again, gives 547.
// `definition`: the table's definition with `c` switched on.
void CheckRows(sqlite3* db, const ConstraintSwitch& change, const TableDefinition& definition,
               const TableConstraint& c) {
  std::string table = tsql::QuoteSqliteName(change.schema) + "." + tsql::QuoteSqliteName(c.table);
  if (c.xtype == "C") {
    // The stored condition, typed as the front end bound it; c.text is the
    // text as written.
    std::string condition = ParenthesisedAfter(
        std::string_view(definition.sql).substr(c.begin, c.end - c.begin), "check");
    catalog::PreparedStatement conflict;
    try {
      conflict =
          catalog::Prepare(db, "SELECT 1 FROM " + table + " WHERE NOT (" + condition + ") LIMIT 1");
    } catch (const std::runtime_error& refused) {
      throw MakeError(50000, {refused.what()});
    }
    if (sqlite3_step(conflict.get()) == SQLITE_ROW) {
      throw MakeError(
          547, {"ALTER TABLE", "TABLE", "CHECK", c.name, change.database, c.table, "", "", ""});
    }
    return;
  }
  // A schema written before a table-valued pragma is not read: it is the
  // pragma's second argument.
  auto check = catalog::Prepare(db, "SELECT parent FROM pragma_foreign_key_check(?1, " +
                                        tsql::QuoteSqliteString(change.schema) + ")");
  sqlite3_bind_text(check.get(), 1, c.table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(check.get()) == SQLITE_ROW) {
    if (!tsql::EqualsIgnoreCase(catalog::ColumnText(check.get(), 0), c.referenced_table)) continue;
    bool column = !c.referenced_columns.empty();
    throw MakeError(547, {"ALTER TABLE", "TABLE", "FOREIGN KEY", c.name, change.database,
                          c.referenced_table, column ? ", column '" : "",
                          column ? c.referenced_columns.front() : "", column ? "'" : ""});
  }
}

}  // namespace

void SwitchConstraints(sqlite3* db, const ConstraintSwitch& change) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, change.schema, change.table);
  if (!definition) throw MakeError(4902, {change.table, change.database});
  std::vector<TableConstraint> constraints =
      ReadTableConstraints(db, change.schema, definition->table);
  std::vector<const TableConstraint*> chosen;
  if (change.all) {
    for (const TableConstraint& c : constraints) {
      if (c.xtype == "F" || c.xtype == "C") chosen.push_back(&c);
    }
  } else {
    for (const std::string& name : change.names) {
      auto found = std::find_if(constraints.begin(), constraints.end(), [&](const auto& c) {
        return (c.xtype == "F" || c.xtype == "C") && tsql::EqualsIgnoreCase(c.name, name);
      });
      if (found == constraints.end()) throw MakeError(4917, {name});
      chosen.push_back(&*found);
    }
  }
  std::vector<Edit> edits;
  std::vector<const TableConstraint*> switched_on;
  for (const TableConstraint* c : chosen) {
    if (change.enable && !c->disabled) {
      // WITH CHECK makes an enforced constraint that is not trusted a trusted one.
      if (!c->not_trusted || !change.check_existing) continue;
      edits.push_back(Edit{c->marked_begin, c->begin, ""});
      switched_on.push_back(c);
      continue;
    }
    if (c->disabled == !change.enable) continue;
    if (change.enable) {
      Enable(*definition, *c, change.check_existing, edits);
      switched_on.push_back(c);
    } else {
      edits.push_back(Disable(*definition, *c));
    }
  }
  if (edits.empty()) return;
  ReplaceTableDefinition(db, change.schema, *definition, Apply(definition->sql, edits));
  if (!change.check_existing) return;
  std::optional<TableDefinition> switched = ReadTableDefinition(db, change.schema, change.table);
  if (!switched) throw MakeError(4902, {change.table, change.database});
  for (const TableConstraint& c : ReadTableConstraints(db, change.schema, definition->table)) {
    bool was_switched = std::any_of(switched_on.begin(), switched_on.end(), [&](const auto* on) {
      return tsql::EqualsIgnoreCase(on->name, c.name);
    });
    if (was_switched) CheckRows(db, change, *switched, c);
  }
}

bool DropDisabledConstraint(sqlite3* db, const std::string& schema, const std::string& table,
                            const std::string& name) {
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) return false;
  for (const TableConstraint& c : ReadTableConstraints(db, schema, definition->table)) {
    if (!c.disabled || !tsql::EqualsIgnoreCase(c.name, name)) continue;
    ReplaceTableDefinition(db, schema, *definition,
                           Apply(definition->sql, {Edit{c.begin, c.end, ""}}));
    return true;
  }
  return false;
}

}  // namespace sqlengine::exec
