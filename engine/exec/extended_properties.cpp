#include "engine/exec/extended_properties.h"

#include <algorithm>
#include <tuple>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/index_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_function_rows.h"
#include "engine/exec/triggers.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/user_types.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/values/variant_value.h"

namespace sqlengine::exec {
namespace {

using tsql::EqualsIgnoreCase;
using tsql::QuoteSqliteName;

std::string Table(const std::string& schema) {
  return QuoteSqliteName(schema) + "." + kExtendedPropertiesTable;
}

bool HasPropertyTable(sqlite3* db, const std::string& schema) {
  catalog::PreparedStatement find = catalog::Prepare(
      db, "SELECT 1 FROM " + QuoteSqliteName(schema) +
              ".sqlite_master WHERE type = 'table' AND name = '" + kExtendedPropertiesTable + "'");
  return sqlite3_step(find.get()) == SQLITE_ROW;
}

void EnsurePropertyTable(sqlite3* db) {
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table("main") +
                        " (class TEXT NOT NULL, major TEXT NOT NULL COLLATE NOCASE, "
                        "minor_type TEXT NOT NULL, minor TEXT NOT NULL COLLATE NOCASE, "
                        "name TEXT NOT NULL COLLATE NOCASE, value BLOB, "
                        "PRIMARY KEY (class, major, minor_type, minor, name))");
}

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

}  // namespace

std::optional<NamedObject> FindNamedObject(sqlite3* db, const std::string& schema,
                                           std::string_view name) {
  std::string quoted = QuoteSqliteName(schema);
  catalog::PreparedStatement table = catalog::Prepare(
      db, "SELECT name, type FROM " + quoted +
              ".sqlite_master WHERE type IN ('table', 'view') AND name = ? COLLATE NOCASE AND "
              "name NOT LIKE 'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'sqlengine!_%' ESCAPE '!'");
  Bind(table.get(), 1, name);
  if (sqlite3_step(table.get()) == SQLITE_ROW) {
    bool view = catalog::ColumnText(table.get(), 1) == "view";
    return NamedObject{catalog::ColumnText(table.get(), 0), view ? "VIEW" : "TABLE"};
  }
  catalog::PreparedStatement object = catalog::Prepare(
      db, "SELECT name, xtype FROM " + quoted + "." + catalog::kObjectsTable +
              " WHERE name = ? COLLATE NOCASE AND xtype IN ('P', 'FN', 'IF', 'TF', 'D', 'R')");
  Bind(object.get(), 1, name);
  if (sqlite3_step(object.get()) != SQLITE_ROW) return std::nullopt;
  std::string xtype = catalog::ColumnText(object.get(), 1);
  std::string type = xtype == "P"   ? "PROCEDURE"
                     : xtype == "D" ? "DEFAULT"
                     : xtype == "R" ? "RULE"
                                    : "FUNCTION";
  return NamedObject{catalog::ColumnText(object.get(), 0), type};
}

namespace {

using FoundObject = NamedObject;

std::optional<NamedObject> FindObject(sqlite3* db, const std::string& schema,
                                      std::string_view name) {
  return FindNamedObject(db, schema, name);
}

std::string OwnerName(const DatabaseSecurity& security, std::string_view object) {
  const Principal* owner = security.FindUid(security.OwnerOf(object));
  return owner != nullptr && owner->uid != kDboUid ? owner->name : "dbo";
}

bool IsUser(const DatabaseSecurity& security, std::string_view name) {
  if (EqualsIgnoreCase(name, "dbo")) return true;
  const Principal* found = security.Find(name);
  return found != nullptr && !found->is_role && found->uid != kPublicUid;
}

// Which items each level-1 type has.
bool HasItems(std::string_view object_type, std::string_view item_type) {
  if (object_type == "TABLE")
    return item_type == "COLUMN" || item_type == "INDEX" || item_type == "CONSTRAINT" ||
           item_type == "TRIGGER";
  if (object_type == "VIEW")
    return item_type == "COLUMN" || item_type == "INDEX" || item_type == "TRIGGER";
  if (object_type == "PROCEDURE" || object_type == "FUNCTION") return item_type == "PARAMETER";
  return false;
}

bool IsObjectType(std::string_view type) {
  return type == "TABLE" || type == "VIEW" || type == "PROCEDURE" || type == "FUNCTION" ||
         type == "DEFAULT" || type == "RULE";
}

bool IsItemType(std::string_view type) {
  return type == "COLUMN" || type == "INDEX" || type == "CONSTRAINT" || type == "TRIGGER" ||
         type == "PARAMETER";
}

// An item of an object as shown, with its place among the object's items.
struct FoundItem {
  std::string name;
  int order = 0;
};

// Parameters need the session to read the definition; without one they are
// taken as present.
std::optional<FoundItem> FindItem(sqlite3* db, const std::string& schema, const FoundObject& object,
                                  std::string_view item_type, const std::string& name,
                                  Session* session) {
  if (item_type == "COLUMN") {
    catalog::PreparedStatement column = catalog::Prepare(
        db, "SELECT name, cid FROM pragma_table_info(?, ?) WHERE name = ? COLLATE NOCASE");
    Bind(column.get(), 1, object.name);
    Bind(column.get(), 2, schema);
    Bind(column.get(), 3, name);
    if (sqlite3_step(column.get()) != SQLITE_ROW) return std::nullopt;
    return FoundItem{catalog::ColumnText(column.get(), 0), sqlite3_column_int(column.get(), 1)};
  }
  if (item_type == "INDEX") {
    std::optional<std::string> stored = StoredIndexName(db, schema, object.name, name);
    if (!stored) return std::nullopt;
    return FoundItem{ShownIndexName(*stored, object.name)};
  }
  if (item_type == "CONSTRAINT") {
    for (const TableConstraint& constraint : ReadTableConstraints(db, schema, object.name)) {
      if (EqualsIgnoreCase(constraint.name, name)) return FoundItem{constraint.name};
    }
    return std::nullopt;
  }
  if (item_type == "TRIGGER") {
    if (!HasTriggers(db, schema)) return std::nullopt;
    for (const StoredTrigger& trigger : TriggersOf(db, schema, object.name)) {
      if (EqualsIgnoreCase(trigger.name, name)) return FoundItem{trigger.name};
    }
    return std::nullopt;
  }
  if (item_type == "PARAMETER") {
    if (session == nullptr) return FoundItem{name};
    std::vector<tsql::ParameterDeclaration> parameters;
    if (object.type == "PROCEDURE") {
      if (auto found = FindProcedure(*session, object.name)) parameters = found->parameters;
    } else if (auto found = FindFunction(*session, {object.name})) {
      parameters = found->parameters;
    }
    for (size_t k = 0; k < parameters.size(); ++k) {
      if (EqualsIgnoreCase(parameters[k].name, name))
        return FoundItem{parameters[k].name, static_cast<int>(k)};
    }
  }
  return std::nullopt;
}

// Where a property is kept; see the header.
struct Target {
  std::string cls;
  std::string major;
  std::string minor_type;
  std::string minor;
  std::string shown;  // for messages: "dbo.t.c", or the database's name
};

// The level arguments (types upper case) of a procedure call, made into the
// place they name. Throws 15600 for types that do not fit together, 15135
// for something that does not exist or takes no properties, 15247 when the
// caller may not change its properties.
Target Resolve(Session& session, std::string_view procedure,
               const std::vector<std::optional<std::string>>& level) {
  const DatabaseRights& rights = session.Rights().InCurrent();
  const DatabaseSecurity& security = rights.Security();
  bool owner = rights.IsDbo() || rights.InRole("db_owner");
  bool ddl = owner || rights.InRole("db_ddladmin");
  auto invalid = [&] { return MakeError(15600, {procedure}); };
  // A type is given with its name; nothing below a level left out.
  for (size_t k = 0; k < 6; k += 2) {
    if (level[k].has_value() != level[k + 1].has_value()) throw invalid();
    if (!level[k] && k + 2 < 6 && (level[k + 2] || level[k + 3])) throw invalid();
  }
  Target target;
  for (size_t k = 1; k < 6; k += 2) {
    if (level[k]) target.shown += (target.shown.empty() ? "" : ".") + *level[k];
  }
  auto missing = [&] { return MakeError(15135, {target.shown}); };
  if (!level[0]) {
    if (!owner) throw MakeError(15247);
    target.shown = session.CurrentDatabase();
    return target;
  }
  sqlite3* db = session.Connection().Handle();
  std::string type0 = UpperCaseArgument(*level[0]);
  if (type0 == "TYPE") {
    if (level[2]) throw missing();
    std::optional<UserType> type = FindUserType(db, *level[1]);
    if (!type) throw missing();
    if (!ddl) throw MakeError(15247);
    target.cls = "TYPE";
    target.major = type->name;
    return target;
  }
  if (type0 != "USER") throw invalid();
  if (!IsUser(security, *level[1])) throw missing();
  if (!level[2]) {
    if (!owner) throw MakeError(15247);
    target.cls = "USER";
    const Principal* user = security.Find(*level[1]);
    target.major = user != nullptr ? user->name : "dbo";
    return target;
  }
  std::string type1 = UpperCaseArgument(*level[2]);
  if (!IsObjectType(type1)) throw invalid();
  std::optional<FoundObject> object = FindObject(db, "main", *level[3]);
  if (!object || object->type != type1 ||
      !EqualsIgnoreCase(OwnerName(security, object->name), *level[1])) {
    throw missing();
  }
  if (!ddl && !rights.OwnsObject(object->name)) throw MakeError(15247);
  target.cls = type1;
  target.major = object->name;
  if (!level[4]) return target;
  std::string type2 = UpperCaseArgument(*level[4]);
  if (!IsItemType(type2)) throw invalid();
  if (!HasItems(type1, type2)) throw missing();
  std::optional<FoundItem> item = FindItem(db, "main", *object, type2, *level[5], &session);
  if (!item) throw missing();
  target.minor_type = type2;
  target.minor = item->name;
  return target;
}

// A call argument's value as given (by position or by name), NULL when left out.
Value RawArgument(const std::vector<CallArgument>& given, size_t position, std::string_view name) {
  size_t at = 0;
  for (const CallArgument& argument : given) {
    bool match = argument.name.empty() ? at++ == position : EqualsIgnoreCase(argument.name, name);
    if (match && !argument.is_default) return argument.value;
  }
  return Value{};
}

// The bytes SQL Server counts against a value's 7,500: UTF-16 for text.
std::size_t ValueSize(const Value& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    std::size_t units = 0;
    for (unsigned char c : *text) {
      if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units * 2;
  }
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    if (auto variant = values::DecodeVariant(*bytes)) return ValueSize(variant->value);
    return bytes->size();
  }
  return 8;
}

constexpr const char* kWhere =
    " WHERE class = ? AND major = ? AND minor_type = ? AND minor = ? AND name = ?";

void BindTarget(sqlite3_stmt* statement, const Target& target, const std::string& name, int first) {
  Bind(statement, first, target.cls);
  Bind(statement, first + 1, target.major);
  Bind(statement, first + 2, target.minor_type);
  Bind(statement, first + 3, target.minor);
  Bind(statement, first + 4, name);
}

void ChangeProperty(Session& session, std::string_view procedure,
                    const std::vector<CallArgument>& given) {
  bool drop = procedure == "sp_dropextendedproperty";
  std::vector<std::string_view> parameters = {"@name"};
  if (!drop) parameters.push_back("@value");
  for (std::string_view level :
       {"@level0type", "@level0name", "@level1type", "@level1name", "@level2type", "@level2name"}) {
    parameters.push_back(level);
  }
  Arguments args(procedure, given, parameters);
  size_t first_level = drop ? 1 : 2;
  std::string name = args.Required(0, procedure, "@name");
  std::vector<std::optional<std::string>> level;
  for (size_t k = 0; k < 6; ++k) level.push_back(args[first_level + k]);
  Target target = Resolve(session, procedure, level);
  Value value;
  if (!drop) {
    value = values::AsVariant(RawArgument(given, 1, "@value"));
    if (ValueSize(value) > 7500) throw MakeError(15097);
  }
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  EnsurePropertyTable(db);
  catalog::PreparedStatement exists =
      catalog::Prepare(db, "SELECT name FROM " + Table("main") + kWhere);
  BindTarget(exists.get(), target, name, 1);
  bool found = sqlite3_step(exists.get()) == SQLITE_ROW;
  exists.reset();
  if (procedure == "sp_addextendedproperty") {
    if (found) throw MakeError(15233, {name, target.shown});
    catalog::PreparedStatement insert = catalog::Prepare(
        db, "INSERT INTO " + Table("main") +
                " (class, major, minor_type, minor, name, value) VALUES (?, ?, ?, ?, ?, ?)");
    BindTarget(insert.get(), target, name, 1);
    if (const auto* bytes = std::get_if<Bytes>(&value))
      sqlite3_bind_blob(insert.get(), 6, bytes->data(), static_cast<int>(bytes->size()),
                        SQLITE_TRANSIENT);
    Step(db, insert.get());
  } else if (!found) {
    throw MakeError(15217, {name, target.shown});
  } else if (drop) {
    catalog::PreparedStatement remove =
        catalog::Prepare(db, "DELETE FROM " + Table("main") + kWhere);
    BindTarget(remove.get(), target, name, 1);
    Step(db, remove.get());
  } else {
    catalog::PreparedStatement update =
        catalog::Prepare(db, "UPDATE " + Table("main") + " SET value = ?" + kWhere);
    if (const auto* bytes = std::get_if<Bytes>(&value))
      sqlite3_bind_blob(update.get(), 1, bytes->data(), static_cast<int>(bytes->size()),
                        SQLITE_TRANSIENT);
    BindTarget(update.get(), target, name, 2);
    Step(db, update.get());
  }
  write.Commit();
}

void Run(sqlite3* db, const std::string& sql, std::initializer_list<std::string_view> texts) {
  catalog::PreparedStatement statement = catalog::Prepare(db, sql);
  int index = 1;
  for (std::string_view text : texts) Bind(statement.get(), index++, text);
  Step(db, statement.get());
}

// Whether the session may see properties of `object`: it owns it or holds
// some permission on it.
bool MaySee(const DatabaseRights& rights, const std::string& object) {
  if (rights.IsDbo() || rights.InRole("db_owner") || rights.OwnsObject(object)) return true;
  for (Access access : {Access::kSelect, Access::kInsert, Access::kUpdate, Access::kDelete,
                        Access::kReferences, Access::kExecute}) {
    if (!rights.Check(object, access).has_value()) return true;
  }
  return false;
}

}  // namespace

bool RunExtendedPropertyProcedure(Session& session, std::string_view name,
                                  const std::vector<CallArgument>& arguments) {
  if (name != "sp_addextendedproperty" && name != "sp_updateextendedproperty" &&
      name != "sp_dropextendedproperty") {
    return false;
  }
  ChangeProperty(session, name, arguments);
  return true;
}

std::string ListExtendedProperties(Session& session, const std::vector<Value>& arguments) {
  std::vector<std::optional<std::string>> args;
  for (const Value& value : arguments) {
    args.push_back(IsNull(value) ? std::nullopt : std::optional<std::string>(ValueText(value)));
  }
  args.resize(7);
  sqlite3* db = session.Connection().Handle();
  std::string schema = session.UnqualifiedSchema();
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  if (!HasPropertyTable(db, schema)) return "[]";
  std::optional<std::string> type0, type1, type2;
  if (args[1]) type0 = UpperCaseArgument(*args[1]);
  if (args[3]) type1 = UpperCaseArgument(*args[3]);
  if (args[5]) type2 = UpperCaseArgument(*args[5]);
  // Nothing below a level left out.
  if ((!type0 && (type1 || type2)) || (!type1 && type2)) return "[]";
  if (type1 && type0 != "USER") return "[]";
  const DatabaseRights& rights = session.Rights().InCurrent();
  const DatabaseSecurity& security = rights.Security();
  auto matches = [](const std::optional<std::string>& wanted, const std::string& name) {
    return !wanted || EqualsIgnoreCase(*wanted, name);
  };

  struct Listed {
    std::tuple<std::string, int, std::string, std::string> order;
    std::optional<std::string> objtype, objname;
    std::string name;
    std::optional<Bytes> value;
  };
  std::vector<Listed> listed;
  catalog::PreparedStatement rows = catalog::Prepare(
      db, "SELECT class, major, minor_type, minor, name, value FROM " + Table(schema));
  while (sqlite3_step(rows.get()) == SQLITE_ROW) {
    std::string cls = catalog::ColumnText(rows.get(), 0);
    std::string major = catalog::ColumnText(rows.get(), 1);
    std::string minor_type = catalog::ColumnText(rows.get(), 2);
    std::string minor = catalog::ColumnText(rows.get(), 3);
    std::string name = catalog::ColumnText(rows.get(), 4);
    if (!matches(args[0], name)) continue;
    Listed entry;
    entry.name = name;
    if (sqlite3_column_type(rows.get(), 5) == SQLITE_BLOB) {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(rows.get(), 5));
      entry.value = Bytes(bytes, bytes + sqlite3_column_bytes(rows.get(), 5));
    }
    int order = 0;
    if (!type0) {
      if (!cls.empty()) continue;
    } else if (!type1) {
      if (cls != *type0 || !matches(args[2], major)) continue;
      if (cls == "USER" ? !IsUser(security, major) : !FindUserType(db, major).has_value()) continue;
      entry.objtype = cls;
      entry.objname = major;
    } else {
      if (cls != *type1 || !matches(args[4], major)) continue;
      if (type2.value_or("") != minor_type) continue;
      std::optional<FoundObject> object = FindObject(db, schema, major);
      if (!object || object->type != cls) continue;
      if (!matches(args[2], OwnerName(security, object->name))) continue;
      if (!MaySee(rights, object->name)) continue;
      if (!type2) {
        entry.objtype = cls;
        entry.objname = object->name;
      } else {
        if (!matches(args[6], minor)) continue;
        std::optional<FoundItem> item = FindItem(db, schema, *object, minor_type, minor, &session);
        if (!item) continue;
        entry.objtype = minor_type;
        entry.objname = item->name;
        order = item->order;
      }
    }
    entry.order = {tsql::ToLower(major), order, tsql::ToLower(minor), tsql::ToLower(name)};
    listed.push_back(std::move(entry));
  }
  rows.reset();
  std::stable_sort(listed.begin(), listed.end(),
                   [](const Listed& a, const Listed& b) { return a.order < b.order; });
  std::string out = "[";
  auto text = [&](const std::optional<std::string>& value) {
    if (!value) {
      out += "null";
      return;
    }
    AppendJsonString(out, reinterpret_cast<const unsigned char*>(value->data()),
                     static_cast<int>(value->size()));
  };
  for (const Listed& entry : listed) {
    out += out.size() > 1 ? ",[" : "[";
    text(entry.objtype);
    out += ',';
    text(entry.objname);
    out += ',';
    text(entry.name);
    out += ',';
    if (entry.value) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += '"';
      for (std::uint8_t byte : *entry.value) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
      }
      out += '"';
    } else {
      out += "null";
    }
    out += ']';
  }
  return out + "]";
}

void ForgetObjectProperties(sqlite3* db, const std::string& schema, std::string_view object) {
  if (!HasPropertyTable(db, schema)) return;
  Run(db, "DELETE FROM " + Table(schema) + " WHERE major = ? AND class NOT IN ('', 'USER', 'TYPE')",
      {object});
}

void ForgetLostItemProperties(sqlite3* db, const std::string& schema) {
  if (!HasPropertyTable(db, schema)) return;
  std::vector<std::tuple<std::string, std::string, std::string>> items;
  catalog::PreparedStatement rows =
      catalog::Prepare(db, "SELECT DISTINCT major, minor_type, minor FROM " + Table(schema) +
                               " WHERE class IN ('TABLE', 'VIEW') AND minor_type <> ''");
  while (sqlite3_step(rows.get()) == SQLITE_ROW) {
    items.emplace_back(catalog::ColumnText(rows.get(), 0), catalog::ColumnText(rows.get(), 1),
                       catalog::ColumnText(rows.get(), 2));
  }
  rows.reset();
  for (const auto& [major, type, name] : items) {
    std::optional<FoundObject> object = FindObject(db, schema, major);
    if (object && FindItem(db, schema, *object, type, name, nullptr)) continue;
    Run(db,
        "DELETE FROM " + Table(schema) +
            " WHERE major = ? AND class IN ('TABLE', 'VIEW') AND minor_type = ? AND minor = ?",
        {major, type, name});
  }
}

void RenameProperties(sqlite3* db, std::string_view item_type, const std::string& object,
                      const std::string& from, const std::string& to) {
  if (!HasPropertyTable(db, "main")) return;
  if (item_type.empty()) {
    Run(db,
        "UPDATE " + Table("main") +
            " SET major = ? WHERE major = ? AND class NOT IN ('', 'USER', 'TYPE')",
        {to, from});
    return;
  }
  Run(db,
      "UPDATE " + Table("main") +
          " SET minor = ? WHERE major = ? AND class NOT IN ('', 'USER', 'TYPE') AND "
          "minor_type = ? AND minor = ?",
      {to, object, item_type, from});
}

void SetTableOption(sqlite3* db, const std::string& table, const std::string& option,
                    std::int64_t value) {
  EnsurePropertyTable(db);
  Run(db,
      "INSERT OR REPLACE INTO " + Table("main") +
          " (class, major, minor_type, minor, name, value) VALUES ('OPTION', ?, '', '', ?, "
          "CAST(? AS INTEGER))",
      {table, option, std::to_string(value)});
}

void ForgetNameProperties(sqlite3* db, std::string_view kind, const std::string& name) {
  if (!HasPropertyTable(db, "main")) return;
  Run(db, "DELETE FROM " + Table("main") + " WHERE class = ? AND major = ?", {kind, name});
}

}  // namespace sqlengine::exec
