#include "engine/exec/constraint_help.h"

#include <algorithm>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

ColumnType Unicode(int length) { return ColumnType{SqlType::kNVarChar, length}; }
ColumnType Text(int length) { return ColumnType{SqlType::kVarChar, length}; }

const std::string kNotApplicable = "(n/a)";

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

std::string ActionName(const std::string& action) {
  if (action == "CASCADE") return "Cascade";
  if (action == "SET NULL") return "Set Null";
  if (action == "SET DEFAULT") return "Set Default";
  return "No Action";
}

std::string TypeText(const TableConstraint& c) {
  if (c.xtype == "PK" || c.xtype == "UQ")
    return std::string(c.xtype == "PK" ? "PRIMARY KEY" : "UNIQUE") +
           (c.clustered ? " (clustered)" : " (non-clustered)");
  if (c.xtype == "F") return "FOREIGN KEY";
  if (c.xtype == "C")
    return c.column.empty() ? "CHECK Table Level " : "CHECK on column " + c.column;
  return "DEFAULT on column " + c.column;
}

void Informational(ResultSink& sink, int number) { sink.Message(FormatMessage(number)); }

}  // namespace

void SendConstraintSets(sqlite3* db, const std::string& database, const std::string& table,
                        ResultSink& sink, const std::string& schema) {
  std::vector<TableConstraint> all = ReadTableConstraints(db, schema);
  std::vector<const TableConstraint*> own;
  std::vector<const TableConstraint*> referencing;
  for (const TableConstraint& c : all) {
    if (tsql::EqualsIgnoreCase(c.table, table)) own.push_back(&c);
    if (c.xtype == "F" && tsql::EqualsIgnoreCase(c.referenced_table, table)) {
      referencing.push_back(&c);
    }
  }
  std::stable_sort(own.begin(), own.end(), [](const auto* a, const auto* b) {
    std::string ta = TypeText(*a), tb = TypeText(*b);
    if (ta != tb) return ta < tb;
    return tsql::ToLower(a->name) < tsql::ToLower(b->name);
  });
  if (own.empty()) {
    Informational(sink, 15469);
  } else {
    ResultBuilder rows({{"constraint_type", Unicode(146)},
                        {"constraint_name", Unicode(128)},
                        {"delete_action", Unicode(9)},
                        {"update_action", Unicode(9)},
                        {"status_enabled", Text(8)},
                        {"status_for_replication", Text(19)},
                        {"constraint_keys", Unicode(2078)}});
    for (const TableConstraint* c : own) {
      bool foreign = c->xtype == "F";
      bool switchable = foreign || c->xtype == "C";
      std::string keys = c->xtype == "C" || c->xtype == "D" ? c->text : Joined(c->columns);
      rows.Add({TypeText(*c), c->name, foreign ? ActionName(c->on_delete) : kNotApplicable,
                foreign ? ActionName(c->on_update) : kNotApplicable,
                switchable ? std::string(c->disabled ? "Disabled" : "Enabled") : kNotApplicable,
                switchable ? std::string("Is_For_Replication") : kNotApplicable, keys});
      if (!foreign) continue;
      std::vector<std::string> referenced = c->referenced_columns;
      if (referenced.empty()) {
        for (const TableConstraint& key : all) {
          if (key.xtype == "PK" && tsql::EqualsIgnoreCase(key.table, c->referenced_table)) {
            referenced = key.columns;
          }
        }
      }
      std::string blank = " ";
      rows.Add({blank, blank, blank, blank, blank, blank,
                "REFERENCES " + database + ".dbo." + c->referenced_table + " (" +
                    Joined(referenced) + ")"});
    }
    rows.Send(sink);
  }
  if (referencing.empty()) {
    if (!own.empty()) Informational(sink, 15470);
    return;
  }
  ResultBuilder references({{"Table is referenced by foreign key", Unicode(516)}});
  for (const TableConstraint* c : referencing) {
    references.Add({database + ".dbo." + c->table + ": " + c->name});
  }
  references.Send(sink);
}

void HelpConstraint(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_helpconstraint", given, {"@objname", "@nomsg"});
  std::string written = args.Required(0, "sp_helpconstraint", "@objname");
  sqlite3* db = session.Connection().Handle();
  std::string database = session.Connection().Database();
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  tsql::DottedName name = tsql::ReadWrittenName(written);
  std::string table = name.parts.empty() ? written : name.Last();
  // A #temp table is found in tempdb alone, as tempdb's catalog lists it.
  std::string schema = "main";
  if (tsql::EqualsIgnoreCase(database, "tempdb")) {
    if (std::optional<NamedTempTable> temp = FindTempTable(db, written)) {
      table = temp->name;
      schema = "temp";
    }
  }
  auto find = catalog::Prepare(
      db, "SELECT name FROM " + schema +
              ".sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
  sqlite3_bind_text(find.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW || !session.MayRead(schema, table) ||
      tsql::ToLower(table).starts_with("sqlengine_")) {
    throw MakeError(15009, {written, database});
  }
  table = catalog::ColumnText(find.get(), 0);
  find.reset();

  // 'nomsg' leaves out the set that names the table.
  std::optional<std::string> nomsg = args[1];
  if (!nomsg || !tsql::EqualsIgnoreCase(*nomsg, "nomsg")) {
    ResultBuilder object({{"Object Name", Unicode(776)}});
    object.Add({written});
    object.Send(sink);
  }
  SendConstraintSets(db, database, table, sink, schema);
}

}  // namespace sqlengine::exec
