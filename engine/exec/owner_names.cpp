#include "engine/exec/owner_names.h"

#include <sqlite3.h>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/column_alteration.h"
#include "engine/exec/constraint_changes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/session.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/session_rights.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/triggers.h"
#include "engine/tsql/constraint_change_syntax.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;

// Whether the database under `schema` holds an object named `name` of any
// kind (tables and views in SQLite's schema, the rest in the objects table).
bool NameTaken(Session& session, const std::string& schema, const std::string& name) {
  SessionConnection& connection = session.Connection();
  StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
  std::string quoted = tsql::QuoteSqliteName(schema);
  auto found = catalog::Prepare(
      connection.Handle(),
      "SELECT 1 FROM " + quoted + ".sqlite_master WHERE type IN ('table', 'view') AND name = ?1 "
      "COLLATE NOCASE UNION ALL SELECT 1 FROM " + quoted + "." + catalog::kObjectsTable +
          " WHERE name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(found.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(found.get()) == SQLITE_ROW;
}

// The name a CREATE or ALTER of a table, view, procedure or function makes
// or changes (its third token on); nullopt for another statement.
std::optional<tsql::DottedName> DefinedName(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  if (tokens.size() < 3 || !tokens[2].IsName()) return std::nullopt;
  switch (statement.kind) {
    case StatementKind::kCreateTable:
    case StatementKind::kCreateProcedure:
    case StatementKind::kCreateFunction:
      break;
    case StatementKind::kCreateOther:
      if (!tokens[1].IsWord("view")) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  return tsql::ReadDottedName(tokens, 2);
}

// The uid `owner` names in the database of `rights`; nullopt when it names
// no user or role there (public owns nothing).
std::optional<int> OwnerUid(const DatabaseRights& rights, const std::string& owner) {
  if (tsql::EqualsIgnoreCase(owner, "dbo")) return kDboUid;
  const Principal* found = rights.Security().Find(owner);
  if (found == nullptr || found->uid == kPublicUid) return std::nullopt;
  return found->uid;
}

}  // namespace

std::optional<int> CheckCreatedOwner(Session& session, const tsql::DottedName& name) {
  SessionConnection& connection = session.Connection();
  std::string database = name.Database();
  std::string schema = connection.SchemaOf(database);
  if (schema.empty() || schema == "temp" || name.Last().starts_with("#")) return std::nullopt;
  std::string in_database = database.empty() ? connection.UnqualifiedDatabase() : database;
  SessionRights& session_rights = session.Rights();
  const DatabaseRights& rights = session_rights.In(in_database, schema);
  std::string owner = OwnerPart(name);
  std::optional<int> written;
  if (!owner.empty()) {
    written = OwnerUid(rights, owner);
    bool may = rights.IsDbo() || rights.InRole("db_owner") || rights.InRole("db_ddladmin") ||
               (written && rights.Uid() && *rights.Uid() == *written);
    if (!written || !may) throw MakeError(2760, {owner});
  }
  // One name, one object: another owner's object of the name stays his.
  if (NameTaken(session, schema, name.Last())) {
    int existing = session_rights.OwnerIn(in_database, schema, name.Last());
    int made = written ? *written : (rights.IsDbo() || !rights.Uid() ? kDboUid : *rights.Uid());
    if (existing != made) {
      SqlError error = MakeError(2714, {name.Last()});
      error.message().text +=
          " It belongs to '" + OwnerNameOf(rights.Security(), name.Last()) +
          "': a database holds one object of a name, whoever owns it.";
      throw error;
    }
  }
  return written;
}

namespace {

// SQL Server's error for a statement whose name reaches no object.
SqlError Missing(Session& session, const tsql::Statement& statement,
                 const tsql::DottedName& name) {
  switch (statement.kind) {
    case StatementKind::kAlterTable: {
      std::string database = name.Database().empty()
                                 ? session.Connection().UnqualifiedDatabase()
                                 : name.Database();
      return MakeError(4902, {name.Last(), database});
    }
    case StatementKind::kDropTable:
      return MakeError(3701, {"drop", "table", name.Written()});
    case StatementKind::kDropOther:
      return MakeError(3701, {"drop", "view", name.Written()});
    case StatementKind::kDropProcedure:
      return MakeError(3701, {"drop", "procedure", name.Written()});
    case StatementKind::kDropFunction:
      return MakeError(3701, {"drop", "function", name.Written()});
    default:
      return MakeError(208, {name.Written()});
  }
}

// The existing object a statement acts on by name; nullopt for one that
// names none (or several: a drop list runs as one statement per name).
std::optional<tsql::DottedName> ActedOn(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  if (tokens.size() < 3) return std::nullopt;
  switch (statement.kind) {
    case StatementKind::kAlterTable:
    case StatementKind::kDropTable:
    case StatementKind::kTruncateTable:
    case StatementKind::kDropProcedure:
    case StatementKind::kDropFunction:
      break;
    case StatementKind::kDropOther:
      if (!tokens[1].IsWord("view")) return std::nullopt;
      break;
    case StatementKind::kCreateProcedure:
    case StatementKind::kCreateFunction:
      if (!tokens[0].IsWord("alter")) return std::nullopt;
      break;
    case StatementKind::kCreateTrigger: {
      // CREATE | ALTER TRIGGER name ON table: the table.
      tsql::DottedName trigger = tsql::ReadDottedName(tokens, 2);
      if (trigger.parts.empty() || trigger.end + 1 >= tokens.size() ||
          !tokens[trigger.end].IsWord("on") || !tokens[trigger.end + 1].IsName())
        return std::nullopt;
      return tsql::ReadDottedName(tokens, trigger.end + 1);
    }
    case StatementKind::kCreateOther:
      if (tokens[1].IsWord("view")) {
        if (!tokens[0].IsWord("alter")) return std::nullopt;
        break;
      }
      if (std::optional<tsql::CreateIndexSyntax> index = tsql::ParseCreateIndex(tokens))
        return index->table;
      return std::nullopt;
    default:
      return std::nullopt;
  }
  if (!tokens[2].IsName()) return std::nullopt;
  return tsql::ReadDottedName(tokens, 2);
}

}  // namespace

std::string OwnerPart(const tsql::DottedName& name) {
  return name.parts.size() >= 2 ? name.parts[name.parts.size() - 2] : std::string();
}

bool ReachesAsWritten(Session& session, const std::string& database, const std::string& owner,
                      const std::string& object) {
  if (object.empty() || object.starts_with("#")) return true;
  SessionConnection& connection = session.Connection();
  std::string schema = connection.SchemaOf(database);
  if (schema.empty() || schema == "temp") return true;
  std::string in_database = database.empty() ? connection.UnqualifiedDatabase() : database;
  SessionRights& rights = session.Rights();
  return rights.NameReaches(in_database, schema, owner,
                            rights.OwnerIn(in_database, schema, object));
}

bool ReachesAsWritten(Session& session, const tsql::DottedName& name) {
  if (name.parts.empty()) return true;
  return ReachesAsWritten(session, name.Database(), OwnerPart(name), name.Last());
}

namespace {

// A FOREIGN KEY of table `child` must name a table its owner part reaches
// (the child itself aside, which a CREATE makes): 1767 otherwise, also for a
// table that does not exist at all.
void CheckReferences(Session& session, const std::string& child,
                     const std::vector<tsql::TableElementSyntax>& elements) {
  auto check = [&](const tsql::ConstraintSyntax& constraint, const std::string& column) {
    if (!constraint.references) return;
    const tsql::DottedName& parent = constraint.references->table;
    if (parent.parts.empty() || parent.Last().starts_with("#") ||
        tsql::EqualsIgnoreCase(parent.Last(), child))
      return;
    std::string schema = session.Connection().SchemaOf(parent.Database());
    if (schema.empty() || schema == "temp") return;
    if (NameTaken(session, schema, parent.Last()) && ReachesAsWritten(session, parent)) return;
    std::string name = constraint.name.empty() ? "FK__" + child + "__" + column : constraint.name;
    throw MakeError(1767, {name, parent.Written()});
  };
  for (const tsql::TableElementSyntax& element : elements) {
    if (element.constraint) {
      const std::vector<std::string>& columns = element.constraint->columns;
      check(*element.constraint, columns.empty() ? std::string() : columns.front());
    }
    if (element.column) {
      for (const tsql::ConstraintSyntax& constraint : element.column->constraints)
        check(constraint, element.column->name.value);
    }
  }
}

// A FOREIGN KEY takes REFERENCES on its parent table (on each column it
// names) as its creator's own right, else 229 / 230: without it, a user
// could bind another's table to his own and learn its keys from his
// inserts. The parent's owner holds it; so do dbo, db_owner and db_ddladmin.
void RequireReferencesRight(Session& session,
                            const std::vector<tsql::TableElementSyntax>& elements) {
  auto require = [&](const tsql::ConstraintSyntax& constraint) {
    if (!constraint.references) return;
    const tsql::DottedName& parent = constraint.references->table;
    if (parent.parts.empty() || parent.Last().starts_with("#")) return;
    SessionRights& rights = session.Rights();
    if (rights.IsSysadmin()) return;
    std::string database =
        parent.Database().empty() ? session.CurrentDatabase() : parent.Database();
    std::string schema = session.Connection().SchemaOf(parent.Database());
    if (schema.empty() || schema == "temp") return;
    const DatabaseRights& in_parent = rights.In(database, schema);
    if (in_parent.InRole("db_ddladmin")) return;
    std::vector<std::string> columns = constraint.references->columns;
    if (columns.empty()) {
      // The parent's primary key; the whole table when it has none.
      StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
      sqlite3* db = session.Connection().Handle();
      auto key = catalog::Prepare(db, "SELECT name FROM pragma_table_info(?1, ?2) WHERE pk > 0");
      sqlite3_bind_text(key.get(), 1, parent.Last().c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(key.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(key.get()) == SQLITE_ROW)
        columns.push_back(catalog::ColumnText(key.get(), 0));
      if (columns.empty()) columns.emplace_back();
    }
    for (const std::string& column : columns) {
      std::optional<SqlError> refused = in_parent.Check(parent.Last(), Access::kReferences, column);
      if (refused && refused->message().number == 916)
        throw MakeError(916, {session.Login().name, database});
      if (refused) throw *refused;
    }
  };
  for (const tsql::TableElementSyntax& element : elements) {
    if (element.constraint) require(*element.constraint);
    if (element.column) {
      for (const tsql::ConstraintSyntax& constraint : element.column->constraints)
        require(constraint);
    }
  }
}

// DROP TRIGGER [owner.]name and DROP INDEX [[db.]owner.]table.index act on
// the object their name reaches, as other names do (a trigger is its table
// owner's): 3701, naming it as written, when the name reaches none. A
// trigger's name takes no database part (166).
void CheckDroppedName(Session& session, const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  if (tokens.size() < 3 || !tokens[2].IsName()) return;
  if (statement.kind == StatementKind::kDropOther && tokens[1].IsWord("index")) {
    std::optional<std::vector<tsql::DroppedIndexSyntax>> dropped = tsql::ParseDropIndex(tokens);
    if (!dropped || dropped->size() != 1) return;
    const tsql::DroppedIndexSyntax& index = dropped->front();
    if (!ReachesAsWritten(session, index.table))
      throw MakeError(3701, {"drop", "index", index.table.Written() + "." + index.index});
    return;
  }
  if (statement.kind != StatementKind::kDropTrigger) return;
  tsql::DottedName name = tsql::ReadDottedName(tokens, 2);
  if (name.parts.size() > 2) throw MakeError(166, {"DROP TRIGGER"});
  SessionConnection& connection = session.Connection();
  std::string table = TableOfTrigger(connection.Handle(), connection.SchemaOf(""), name.Last());
  if (table.empty() || !ReachesAsWritten(session, "", OwnerPart(name), table))
    throw MakeError(3701, {"drop", "trigger", name.Written()});
}

}  // namespace

std::optional<int> CheckOwnerPart(Session& session, const tsql::Statement& statement) {
  CheckDroppedName(session, statement);
  if (std::optional<tsql::DottedName> acted = ActedOn(statement)) {
    if (!acted->parts.empty() && !ReachesAsWritten(session, *acted))
      throw Missing(session, statement, *acted);
    if (statement.kind != StatementKind::kAlterTable) return std::nullopt;
  }
  if (statement.kind == StatementKind::kCreateTable) {
    tsql::CreateTableSyntax create = tsql::ParseCreateTable(statement.tokens);
    if (!create.name.parts.empty()) {
      CheckReferences(session, create.name.Last(), create.elements);
      RequireReferencesRight(session, create.elements);
    }
  } else if (statement.kind == StatementKind::kAlterTable && IsConstraintChange(statement.tokens)) {
    std::optional<tsql::ConstraintChange> change = tsql::ReadConstraintChange(statement.tokens);
    for (const tsql::AddedConstraint& added : change->added) {
      if (added.kind == "foreign")
        RequireReferencesRight(session,
                               tsql::ParseTableElements(statement.tokens, added.begin, added.end));
    }
  } else if (statement.kind == StatementKind::kAlterTable && !IsColumnAlteration(statement.tokens)) {
    if (std::optional<tsql::AlterTableSyntax> alter = tsql::ParseAlterTable(statement.tokens)) {
      CheckReferences(session, alter->name.Last(), alter->added);
      RequireReferencesRight(session, alter->added);
    }
  }
  if (statement.tokens.empty() || !statement.tokens[0].IsWord("create")) return std::nullopt;
  std::optional<tsql::DottedName> defined = DefinedName(statement);
  if (!defined || defined->parts.empty()) return std::nullopt;
  return CheckCreatedOwner(session, *defined);
}

bool ArgumentReaches(Session& session, std::string_view written, const std::string& object) {
  return ReachesAsWritten(session, "", OwnerPart(tsql::ReadWrittenName(written)), object);
}

void KeepOwnerAndName(tsql::DottedName& name) {
  std::string owner = OwnerPart(name);
  std::string last = name.Last();
  if (owner.empty()) {
    name.parts = {last};
  } else {
    name.parts = {owner, last};
  }
}

}  // namespace sqlengine::exec
