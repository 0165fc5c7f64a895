#include "engine/exec/procedures.h"

#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "engine/catalog/data_file.h"
#include "engine/catalog/master_catalog.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/session.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/user_types.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/variable_assignment.h"
#include "engine/exec/locked_savepoint.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/function_definition.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/type_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

std::string Table(const std::string& schema, const char* table) {
  return tsql::QuoteSqliteName(schema) + "." + table;
}

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

// A procedure as stored: its text and the QUOTED_IDENTIFIER setting it was
// made under, when that was kept.
struct StoredProcedure {
  std::string text;
  std::optional<bool> quoted_identifier;
};

// Read on every EXEC: kept compiled on the session's connection. The table
// of an older file lacks the setting's column, which SELECT * then leaves out.
std::optional<StoredProcedure> LoadProcedure(sqlite3* db, const std::string& schema,
                                             std::string_view name) {
  if (!HasStoredProcedures(db, schema)) return std::nullopt;
  SessionConnection::KeptRead query(
      db, "SELECT * FROM " + Table(schema, catalog::kProceduresTable) + " WHERE name = ?");
  if (query.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  Bind(query.get(), 1, name);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  StoredProcedure stored{catalog::ColumnText(query.get(), 1), std::nullopt};
  if (sqlite3_column_count(query.get()) > 2 && sqlite3_column_type(query.get(), 2) != SQLITE_NULL)
    stored.quoted_identifier = sqlite3_column_int(query.get(), 2) != 0;
  return stored;
}

std::optional<std::string> LoadText(sqlite3* db, const std::string& schema, std::string_view name) {
  std::optional<StoredProcedure> stored = LoadProcedure(db, schema, name);
  if (!stored) return std::nullopt;
  return std::move(stored->text);
}

// Gives an older file's procedures table the column of the setting.
void KeepQuotedIdentifierColumn(sqlite3* db, const std::string& schema) {
  auto column = catalog::Prepare(db, "SELECT 1 FROM pragma_table_info(?, ?) WHERE name = "
                                     "'quoted_identifier'");
  sqlite3_bind_text(column.get(), 1, catalog::kProceduresTable, -1, SQLITE_STATIC);
  sqlite3_bind_text(column.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(column.get()) == SQLITE_ROW) return;
  column.reset();
  catalog::Exec(db, "ALTER TABLE " + Table(schema, catalog::kProceduresTable) +
                        " ADD COLUMN quoted_identifier int");
}

// The longest name an object may have; longer keys of the procedures table
// are group members' (GroupMemberKey).
constexpr std::size_t kLongestName = 128;

// Whether a table, view or any recorded object of the database has `name`.
bool NameInUse(sqlite3* db, const std::string& schema, const std::string& name) {
  auto query = catalog::Prepare(
      db, "SELECT 1 FROM " + Table(schema, "sqlite_master") +
              " WHERE name = ?1 COLLATE NOCASE UNION ALL SELECT 1 FROM " +
              Table(schema, catalog::kObjectsTable) + " WHERE name = ?1");
  Bind(query.get(), 1, name);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

// "db..p" / "dbo.p" / "p" -> (database or empty, procedure)
std::pair<std::string, std::string> SplitName(std::string_view written) {
  tsql::DottedName name = tsql::ReadDottedName(tsql::Lex(written), 0);
  if (name.parts.empty()) throw MakeError(2812, {written});
  return {name.Database(), name.Last()};
}

}  // namespace

bool HasStoredProcedures(sqlite3* db, const std::string& schema) {
  if (std::optional<bool> known = KnownTable(db, schema, catalog::kProceduresTable)) return *known;
  SessionConnection::KeptRead query(
      db, "SELECT 1 FROM " + Table(schema, "sqlite_master") + " WHERE type = 'table' AND name = ?");
  if (query.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  Bind(query.get(), 1, catalog::kProceduresTable);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

void DefineProcedure(Session& session, const tsql::Statement& statement,
                     const std::string& written) {
  tsql::ProcedureDefinition definition = tsql::ParseProcedureDefinition(statement.tokens);
  if (definition.unknown_option) {
    SqlError error = MakeError(195, {definition.unknown_option->value, "option"});
    error.message().line = definition.unknown_option->line;
    throw error;
  }
  if (definition.name.size() > kLongestName)
    throw MakeError(103, {definition.name.substr(0, kLongestName), std::to_string(kLongestName)});
  bool alter = statement.tokens.front().IsWord("alter");
  sqlite3* db = session.Connection().Handle();
  std::string schema = session.Connection().SchemaOf(definition.database);
  LockedSavepoint write(session, schema, "sqlengine_proc");
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table(schema, catalog::kProceduresTable) +
                        catalog::kProceduresColumns);
  KeepQuotedIdentifierColumn(db, schema);
  std::string key = GroupMemberKey(definition.name, definition.number);
  bool exists = LoadText(db, schema, key).has_value();
  if (exists && !alter) throw MakeError(2714, {definition.name});
  if (!exists && alter) throw MakeError(208, {definition.name});
  // A group's first procedure of a number above 1 takes a name nothing has.
  bool group_recorded = ModuleObjectId(db, schema, definition.name, "P") != 0;
  if (!exists && definition.number > 1 && !group_recorded &&
      NameInUse(db, schema, definition.name)) {
    throw MakeError(2714, {definition.name});
  }
  auto save =
      catalog::Prepare(db, "INSERT OR REPLACE INTO " + Table(schema, catalog::kProceduresTable) +
                               " (name, definition, quoted_identifier) VALUES (?, ?, ?)");
  Bind(save.get(), 1, key);
  Bind(save.get(), 2, written);
  // The body is read under the setting it was written under, whatever the
  // caller's, as SQL Server keeps it with the procedure.
  sqlite3_bind_int(save.get(), 3, session.QuotedIdentifier() ? 1 : 0);
  Step(db, save.get());
  if (!exists && !group_recorded) {
    catalog::RecordNewObject(db, schema, definition.name, "P");
  }
  write.Release();
}

void DropProcedures(Session& session, const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  std::string written;
  std::vector<std::string> names;
  for (size_t i = 2; i <= tokens.size(); ++i) {
    if (i == tokens.size() || tokens[i].IsSymbol(",")) {
      if (written.empty()) throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : tokens.back());
      names.push_back(written);
      written.clear();
    } else {
      written += tokens[i].text;
    }
  }
  sqlite3* db = session.Connection().Handle();
  for (const std::string& name : names) {
    auto [database, procedure] = SplitName(name);
    std::string schema = session.Connection().SchemaOf(database);
    std::optional<std::string> text = LoadText(db, schema, procedure);
    // The whole group goes, whichever of its numbers there are.
    bool group = text ? !IsFunctionText(*text)
                      : HasStoredProcedures(db, schema) &&
                            ModuleObjectId(db, schema, procedure, "P") != 0;
    if (!group) throw MakeError(3701, {"drop", "procedure", procedure});
    session.Rights().RequireIn(database, procedure, Access::kDrop);
    for (const char* table : {catalog::kProceduresTable, catalog::kObjectsTable}) {
      bool objects = table == catalog::kObjectsTable;
      auto remove = catalog::Prepare(
          db, "DELETE FROM " + Table(schema, table) + " WHERE " +
                  (objects ? std::string("name = ?1 AND xtype = 'P'")
                           : "name = ?1 OR " + GroupNameSql("name") + " = ?1 COLLATE NOCASE"));
      Bind(remove.get(), 1, procedure);
      Step(db, remove.get());
    }
    if (ForgetObjectPermissions(db, schema, procedure)) session.Engine().SecurityChanged();
  }
}

std::optional<tsql::ProcedureDefinition> FindProcedure(Session& session, std::string_view name) {
  auto [database, procedure] = SplitName(name);
  tsql::DottedName parts;
  parts.parts = {database, "", procedure};
  return FindProcedure(session, parts);
}

namespace {

// Answers as the session's user types do, and notes that it was asked.
class NotedUserTypes final : public tsql::UserTypeResolver {
 public:
  explicit NotedUserTypes(Session& session) : types_(session) {}
  std::optional<ColumnType> Resolve(std::string_view name) override {
    asked_ = true;
    return types_.Resolve(name);
  }
  bool Asked() const { return asked_; }

 private:
  DatabaseUserTypes types_;
  bool asked_ = false;
};

// Procedures as parsed from their stored text, with their bodies split, kept
// by the text and the QUOTED_IDENTIFIER setting the text was read under
// (nothing else goes into the parse but the user types, and a parse that
// met one is not kept). The session's thread keeps its own; all go when one
// more would not fit.
struct ParsedProcedures {
  static constexpr std::size_t kKept = 64;
  std::unordered_map<std::string, std::shared_ptr<const tsql::ProcedureDefinition>> kept;
};

std::shared_ptr<const tsql::ProcedureDefinition> ParsedProcedure(Session& session,
                                                                 const std::string& text) {
  thread_local ParsedProcedures parsed;
  std::string key = (tsql::QuotedIdentifiers() ? "1" : "0") + text;
  if (auto it = parsed.kept.find(key); it != parsed.kept.end()) return it->second;
  NotedUserTypes types(session);
  auto definition = std::make_shared<tsql::ProcedureDefinition>();
  tsql::UserTypeScope scope(&types);
  *definition = tsql::ParseProcedureDefinition(tsql::LexClientText(text));
  try {
    definition->statements =
        std::make_shared<const tsql::StatementList>(tsql::ParseBatch(definition->body));
  } catch (const SqlError&) {
    // The call reports it, in its place among the call's errors.
  }
  if (types.Asked()) return definition;
  if (parsed.kept.size() >= ParsedProcedures::kKept) parsed.kept.clear();
  parsed.kept.emplace(std::move(key), definition);
  return definition;
}

}  // namespace

std::optional<tsql::ProcedureDefinition> FindProcedure(Session& session,
                                                       const tsql::DottedName& name, int number) {
  if (name.parts.empty() || !ReachesAsWritten(session, name)) return std::nullopt;
  const std::string& procedure = name.Last();
  std::optional<StoredProcedure> stored =
      LoadProcedure(session.Connection().Handle(), session.Connection().SchemaOf(name.Database()),
                    GroupMemberKey(procedure, number));
  if (!stored || IsFunctionText(stored->text)) return std::nullopt;
  std::optional<tsql::QuotedIdentifierScope> made_under;
  if (stored->quoted_identifier) made_under.emplace(*stored->quoted_identifier);
  tsql::ProcedureDefinition definition = *ParsedProcedure(session, stored->text);
  definition.name = procedure;
  definition.number = number;
  definition.object_id = ModuleObjectId(session.Connection().Handle(),
                                        session.Connection().SchemaOf(name.Database()), procedure,
                                        "P");
  return definition;
}

std::int64_t ModuleObjectId(sqlite3* db, const std::string& schema, std::string_view name,
                            std::string_view xtypes) {
  SessionConnection::KeptRead query(
      db, "SELECT id FROM " + Table(schema, catalog::kObjectsTable) +
              " WHERE name = ? AND instr(' ' || ? || ' ', ' ' || rtrim(xtype) || ' ') > 0");
  if (query.get() == nullptr) return 0;
  Bind(query.get(), 1, name);
  Bind(query.get(), 2, xtypes);
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : 0;
}

tsql::DottedName ReadRpcProcedureName(std::string_view written, int* number) {
  if (number != nullptr) *number = 1;
  if (size_t group = written.rfind(';');
      group != std::string_view::npos && group + 1 < written.size() &&
      written.find_first_not_of("0123456789", group + 1) == std::string_view::npos) {
    if (number != nullptr) *number = tsql::GroupNumber(written.substr(group + 1)).value_or(0);
    written = written.substr(0, group);
  }
  return tsql::ReadWrittenName(written);
}

std::string GroupMemberKey(std::string_view name, int number) {
  if (number == 1) return std::string(name);
  std::string tail = std::to_string(number) + ";" + std::string(name);
  return std::string(tail.size() < kLongestName ? kLongestName + 1 - tail.size() : 1, ';') + tail;
}

std::pair<std::string, int> GroupMemberOf(std::string_view key) {
  if (key.size() <= kLongestName || !key.starts_with(';')) return {std::string(key), 1};
  key.remove_prefix(key.find_first_not_of(';'));
  size_t digits = key.find(';');
  return {std::string(key.substr(digits + 1)),
          tsql::GroupNumber(key.substr(0, digits)).value_or(0)};
}

std::string GroupNameSql(std::string_view key) {
  std::string k(key);
  return "CASE WHEN length(" + k + ") > " + std::to_string(kLongestName) + " AND substr(" + k +
         ", 1, 1) = ';' THEN substr(ltrim(" + k + ", ';'), instr(ltrim(" + k +
         ", ';'), ';') + 1) ELSE " + k + " END";
}

std::string GroupNumberSql(std::string_view key) {
  std::string k(key);
  return "CASE WHEN length(" + k + ") > " + std::to_string(kLongestName) + " AND substr(" + k +
         ", 1, 1) = ';' THEN CAST(ltrim(" + k + ", ';') AS int) ELSE 1 END";
}

Value ArgumentForParameter(const Value& argument, const ColumnType& type) {
  try {
    // As an assignment converts: a number into a datetime counts days.
    return AssignedValue(argument, type);
  } catch (const SqlError& error) {
    switch (error.message().number) {
      case 235:
      case 241:
      case 245:
      case 293:
      case 8114:
        if (!std::holds_alternative<std::string>(argument)) throw;
        throw MakeError(8114, {"varchar", type.type == SqlType::kDecimal
                                              ? std::string("numeric")
                                              : std::string(tsql::TypeName(type.type))});
      default:
        throw;
    }
  }
}

tsql::ProcedureDefinition DynamicBatch(const std::string& text) {
  tsql::ProcedureDefinition definition;
  definition.source = text;
  definition.body = tsql::LexClientText(definition.source);
  definition.dynamic = true;
  return definition;
}

tsql::ProcedureDefinition DynamicStatement(const std::vector<CallArgument>& arguments,
                                           size_t& taken) {
  constexpr std::string_view kName = "sp_executesql";
  taken = 0;
  auto leading = [&](std::string_view parameter) -> const CallArgument* {
    if (taken >= arguments.size()) return nullptr;
    const CallArgument& argument = arguments[taken];
    if (!argument.name.empty() && !tsql::EqualsIgnoreCase(argument.name, parameter)) return nullptr;
    ++taken;
    return &argument;
  };
  const CallArgument* statement = leading("@stmt");
  if (statement == nullptr || statement->is_default || IsNull(statement->value)) {
    throw MakeError(201, {kName, "@statement"});
  }
  tsql::ProcedureDefinition definition;
  definition.name = kName;
  definition.dynamic = true;
  definition.source = ValueText(statement->value);
  definition.body = tsql::LexClientText(definition.source);
  const CallArgument* declarations = leading("@params");
  if (declarations != nullptr && !declarations->is_default && !IsNull(declarations->value)) {
    definition.parameters =
        tsql::ParseParameterDeclarations(tsql::Lex(ValueText(declarations->value)));
  }
  return definition;
}

std::vector<int> ArgumentPositions(const tsql::ProcedureDefinition& definition,
                                   const std::vector<CallArgument>& arguments) {
  std::vector<int> positions(definition.parameters.size(), -1);
  size_t next = 0;
  bool named = false;
  for (size_t a = 0; a < arguments.size(); ++a) {
    const CallArgument& argument = arguments[a];
    // After one '@name = value' every later argument must be named too.
    if (argument.name.empty() && named) throw MakeError(119, {std::to_string(a + 1)});
    named = named || !argument.name.empty();
    if (argument.name.empty()) {
      if (next >= definition.parameters.size()) {
        if (definition.parameters.empty()) throw MakeError(8146, {definition.name});
        throw MakeError(8144, {definition.name});
      }
      positions[next++] = static_cast<int>(a);
      continue;
    }
    bool found = false;
    for (size_t k = 0; k < definition.parameters.size(); ++k) {
      if (tsql::EqualsIgnoreCase(definition.parameters[k].name, argument.name)) {
        if (positions[k] >= 0) throw MakeError(8143, {definition.parameters[k].name});
        positions[k] = static_cast<int>(a);
        found = true;
      }
    }
    if (!found) throw MakeError(8145, {argument.name, definition.name});
  }
  return positions;
}

}  // namespace sqlengine::exec
