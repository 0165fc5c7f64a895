#include "engine/exec/permission_statements.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/session.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

constexpr std::string_view kObjectActions[] = {"SELECT", "INSERT",     "UPDATE",
                                               "DELETE", "REFERENCES", "EXECUTE"};
constexpr std::string_view kStatementActions[] = {
    "CREATE DATABASE", "CREATE DEFAULT", "CREATE FUNCTION", "CREATE PROCEDURE", "CREATE RULE",
    "CREATE TABLE",    "CREATE VIEW",    "BACKUP DATABASE", "BACKUP LOG"};

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

struct PermissionStatement {
  char verb = 'G';  // 'G' GRANT, 'R' REVOKE, 'D' DENY
  bool grant_option_for = false;
  bool all = false;
  std::vector<std::string> actions;  // upper case, as stored
  // The column list after each action (SELECT (a, b)); empty for none.
  std::vector<std::vector<std::string>> action_columns;
  std::optional<std::string> object;
  std::string object_database;              // ON db.owner.t: "db"; "" when not written
  std::string object_owner;                 // ON owner.t: "owner"; "" when not written
  std::vector<std::string> object_columns;  // ON t (a, b)
  std::vector<std::string> grantees;
  bool with_grant_option = false;
  bool cascade = false;
};

// Reads one permission of the list at tokens[i]; advances i past it.
std::string ReadAction(const Tokens& tokens, size_t& i) {
  const Token& word = tokens[i];
  std::string action = Upper(word.value);
  ++i;
  if (action == "EXEC") action = "EXECUTE";
  if ((action == "CREATE" || action == "BACKUP") && i < tokens.size() &&
      tokens[i].kind == tsql::TokenKind::kWord) {
    std::string object = Upper(tokens[i].value);
    if (object == "PROC") object = "PROCEDURE";
    action += " " + object;
    ++i;
  }
  for (std::string_view known : kObjectActions) {
    if (action == known) return action;
  }
  for (std::string_view known : kStatementActions) {
    if (action == known) return action;
  }
  throw tsql::SyntaxError(word, i > 1 ? &tokens[i - 2] : nullptr);
}

// Reads a parenthesised column list at tokens[i], if any; advances i past it.
std::vector<std::string> ReadColumns(const Tokens& tokens, size_t& i) {
  std::vector<std::string> columns;
  if (i >= tokens.size() || !tokens[i].IsSymbol("(")) return columns;
  ++i;
  while (true) {
    if (i >= tokens.size()) throw tsql::SyntaxError(tokens.back());
    if (!tokens[i].IsName()) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    columns.push_back(tokens[i].value);
    ++i;
    if (i < tokens.size() && tokens[i].IsSymbol(",")) {
      ++i;
      continue;
    }
    if (i >= tokens.size() || !tokens[i].IsSymbol(")")) {
      throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : tokens.back());
    }
    ++i;
    return columns;
  }
}

PermissionStatement Parse(const Tokens& tokens) {
  PermissionStatement parsed;
  parsed.verb = tokens[0].IsWord("grant") ? 'G' : tokens[0].IsWord("deny") ? 'D' : 'R';
  size_t i = 1;
  auto fail = [&]() -> SqlError {
    return tsql::SyntaxError(i < tokens.size() ? tokens[i] : tokens.back(),
                             i < tokens.size() ? &tokens[i - 1] : nullptr);
  };
  if (parsed.verb == 'R' && i + 2 < tokens.size() && tokens[i].IsWord("grant") &&
      tokens[i + 1].IsWord("option") && tokens[i + 2].IsWord("for")) {
    parsed.grant_option_for = true;
    i += 3;
  }
  if (i < tokens.size() && tokens[i].IsWord("all")) {
    parsed.all = true;
    ++i;
    if (i < tokens.size() && tokens[i].IsWord("privileges")) ++i;
  } else {
    while (true) {
      if (i >= tokens.size() || tokens[i].kind != tsql::TokenKind::kWord) throw fail();
      parsed.actions.push_back(ReadAction(tokens, i));
      parsed.action_columns.push_back(ReadColumns(tokens, i));
      if (i < tokens.size() && tokens[i].IsSymbol(",")) {
        ++i;
        continue;
      }
      break;
    }
  }
  // ALL (a, b)
  std::vector<std::string> all_columns = ReadColumns(tokens, i);
  if (i < tokens.size() && tokens[i].IsWord("on")) {
    ++i;
    if (i >= tokens.size() || !tokens[i].IsName()) throw fail();
    tsql::DottedName name = tsql::ReadDottedName(tokens, i);
    parsed.object = name.Last();
    parsed.object_database = name.Database();
    parsed.object_owner = OwnerPart(name);
    i = name.end;
    parsed.object_columns = ReadColumns(tokens, i);
  }
  if (parsed.object_columns.empty()) parsed.object_columns = std::move(all_columns);
  if (i >= tokens.size() || !tokens[i].IsAnyWord({"to", "from"})) throw fail();
  ++i;
  while (true) {
    if (i >= tokens.size() || !tokens[i].IsName()) throw fail();
    parsed.grantees.push_back(tokens[i].value);
    ++i;
    if (i < tokens.size() && tokens[i].IsSymbol(",")) {
      ++i;
      continue;
    }
    break;
  }
  while (i < tokens.size()) {
    if (tokens[i].IsWord("with") && i + 2 < tokens.size() && tokens[i + 1].IsWord("grant") &&
        tokens[i + 2].IsWord("option")) {
      parsed.with_grant_option = true;
      i += 3;
    } else if (tokens[i].IsWord("cascade")) {
      parsed.cascade = true;
      ++i;
    } else if (tokens[i].IsWord("as") && i + 1 < tokens.size() && tokens[i + 1].IsName()) {
      i += 2;
    } else {
      throw fail();
    }
  }
  return parsed;
}

Access AccessOf(std::string_view action) {
  for (Access access :
       {Access::kSelect, Access::kInsert, Access::kUpdate, Access::kDelete, Access::kReferences,
        Access::kExecute, Access::kCreateTable, Access::kCreateView, Access::kCreateProcedure,
        Access::kCreateFunction, Access::kCreateRule, Access::kCreateDefault, Access::kBackupDatabase, Access::kBackupLog}) {
    if (PermissionName(access) == action) return access;
  }
  return Access::kCreateTable;
}

bool TakesColumns(std::string_view action) {
  return action == "SELECT" || action == "UPDATE" || action == "REFERENCES";
}

// One permission of the statement: an action on the whole object, or on one column.
struct Target {
  std::string action;
  std::string column;
};

// The statement's (action, column) pairs, columns checked against the
// object: 207 for one it lacks, a syntax error for a list on an action that
// takes none.
std::vector<Target> Targets(Session& session, const tsql::Statement& statement,
                            const PermissionStatement& parsed, const std::string& object) {
  std::vector<std::string> known;
  std::vector<Target> targets;
  for (size_t i = 0; i < parsed.actions.size(); ++i) {
    const std::string& action = parsed.actions[i];
    const std::vector<std::string>& columns =
        i < parsed.action_columns.size() && !parsed.action_columns[i].empty()
            ? parsed.action_columns[i]
            : parsed.object_columns;
    if (columns.empty()) {
      targets.push_back({action, ""});
      continue;
    }
    if (parsed.all && !TakesColumns(action)) continue;
    if (!TakesColumns(action) || object.empty()) throw tsql::SyntaxError(statement.tokens[0]);
    if (known.empty()) known = ColumnNames(session.Connection().Handle(), "main", object);
    for (const std::string& column : columns) {
      auto found = std::find_if(known.begin(), known.end(), [&](const std::string& name) {
        return tsql::EqualsIgnoreCase(name, column);
      });
      if (found == known.end()) throw MakeError(207, {column});
      targets.push_back({action, *found});
    }
  }
  return targets;
}

const std::vector<PermissionRow>& RowsFor(const DatabaseSecurity& security, const Target& target) {
  return target.column.empty() ? security.permissions : security.column_permissions;
}

bool SameTarget(const PermissionRow& row, const std::string& object, const Target& target) {
  return row.action == target.action && tsql::EqualsIgnoreCase(row.object, object) &&
         tsql::EqualsIgnoreCase(row.column, target.column);
}

}  // namespace

void ExecutePermission(Session& session, const tsql::Statement& statement) {
  PermissionStatement parsed = Parse(statement.tokens);
  const DatabaseRights& rights = session.Rights().InCurrent();
  const DatabaseSecurity& security = rights.Security();
  std::string object;
  if (parsed.object) {
    // Rights are kept per database: an object of another one is that
    // database's to grant on, from inside it.
    if (!parsed.object_database.empty() &&
        !tsql::EqualsIgnoreCase(parsed.object_database, session.CurrentDatabase())) {
      throw MakeError(4610);
    }
    std::string key = tsql::ToLower(*parsed.object);
    if (IsInternalName(*parsed.object) || !security.objects.count(key) ||
        !ReachesAsWritten(session, "", parsed.object_owner, *parsed.object)) {
      throw MakeError(208, {*parsed.object});
    }
    object = *parsed.object;
    if (parsed.all) {
      if (security.procedures.count(key)) {
        parsed.actions = {"EXECUTE"};
      } else {
        parsed.actions = {"SELECT", "INSERT", "UPDATE", "DELETE", "REFERENCES"};
      }
    }
  } else if (parsed.all) {
    for (std::string_view action : kStatementActions) {
      if (action != "CREATE DATABASE" ||
          tsql::EqualsIgnoreCase(session.CurrentDatabase(), "master"))
        parsed.actions.emplace_back(action);
    }
  }
  for (const std::string& action : parsed.actions) {
    bool statement_permission = object.empty();
    bool object_action = false;
    for (std::string_view known : kObjectActions) object_action |= action == known;
    if (statement_permission == object_action) throw tsql::SyntaxError(statement.tokens[0]);
    if (statement_permission) {
      bool may = action == "CREATE DATABASE" ? session.IsSysadmin()
                                             : rights.IsDbo() || rights.InRole("db_owner") ||
                                                   rights.InRole("db_securityadmin");
      if (!may) throw MakeError(15247);
    } else if (!rights.CanGrant(object, AccessOf(action)) && !rights.InRole("db_securityadmin")) {
      throw MakeError(4613);
    }
  }
  std::vector<Target> targets = Targets(session, statement, parsed, object);
  std::vector<const Principal*> grantees;
  for (const std::string& name : parsed.grantees) {
    const Principal* grantee = security.Find(name);
    if (grantee == nullptr) throw MakeError(4604, {name});
    grantees.push_back(grantee);
  }
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::string database = session.CurrentDatabase();
  int grantor = rights.Uid().value_or(kDboUid);
  for (const Principal* grantee : grantees) {
    for (const Target& target : targets) {
      char existing = 0;
      for (const PermissionRow& row : RowsFor(security, target)) {
        if (row.grantee == grantee->uid && SameTarget(row, object, target)) existing = row.state;
      }
      PermissionRow row{object, target.action, grantee->uid, 0, grantor, target.column};
      bool drops_grant_option = existing == 'W' && parsed.verb != 'G';
      if (drops_grant_option && parsed.verb == 'R' && !parsed.cascade) throw MakeError(4611);
      if (parsed.verb == 'G') {
        row.state = parsed.with_grant_option ? 'W' : 'G';
      } else if (parsed.verb == 'D') {
        row.state = 'D';
      } else if (parsed.grant_option_for) {
        row.state = existing == 'W' ? 'G' : existing;
      }
      SetPermission(db, "main", database, row);
      if (drops_grant_option && parsed.cascade) {
        // What the grantee passed on goes with the grant option.
        for (const PermissionRow& given : RowsFor(security, target)) {
          if (given.grantor == grantee->uid && SameTarget(given, object, target) &&
              given.state != 'D') {
            SetPermission(db, "main", database,
                          {given.object, given.action, given.grantee, 0, given.grantor,
                           given.column});
          }
        }
      }
    }
  }
  write.Commit();
  session.Engine().SecurityChanged();
}

}  // namespace sqlengine::exec
