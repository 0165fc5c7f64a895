#pragma once
// Extended properties (sp_addextendedproperty, sp_updateextendedproperty,
// sp_dropextendedproperty, ::fn_listextendedproperty): named sql_variant
// values on the database, a user, a user-defined type, an object (table,
// view, procedure, function, default, rule) or an item of an object (column,
// index, constraint, trigger, parameter). They are kept in the database's own
// file, in one engine table made on the first one:
//
//   sqlengine_extended_properties (class, major, minor_type, minor, name, value)
//
// class is '' for the database, 'USER' or 'TYPE' for a level-0 name, else the
// level-1 type the property was added under ('TABLE', 'VIEW' ...); major the
// user's, type's or object's name ('' for the database); minor_type and
// minor the level-2 type and item ('' when none). The object's owner is not
// stored: it is the owner the object has when the property is read, so a
// property follows sp_changeobjectowner as it follows sp_rename.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/common/types.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

inline constexpr const char* kExtendedPropertiesTable = "sqlengine_extended_properties";

// Runs sp_addextendedproperty, sp_updateextendedproperty or
// sp_dropextendedproperty; false for another name. Throws SqlError.
bool RunExtendedPropertyProcedure(Session& session, std::string_view name,
                                  const std::vector<CallArgument>& arguments);

// A table, view, procedure, function, default or rule of the database.
struct NamedObject {
  std::string name;  // as stored
  std::string type;  // its level-1 type word: TABLE, VIEW, PROCEDURE, FUNCTION, DEFAULT, RULE
};
// The object of that name (compared without case) in SQLite schema `schema`.
std::optional<NamedObject> FindNamedObject(sqlite3* db, const std::string& schema,
                                           std::string_view name);

// sp_tableoption's settings of a table are kept beside its properties, as
// rows of class 'OPTION' (the option's name, its value as an integer), so
// they follow the table through renames and go when it is dropped.
void SetTableOption(sqlite3* db, const std::string& table, const std::string& option,
                    std::int64_t value);

// ::fn_listextendedproperty(name, level0type, level0name, level1type,
// level1name, level2type, level2name) of the database whose names the
// session's statements reach unqualified: its rows (objtype, objname, name,
// value) as table_function_rows.h carries them, the value as the hex digits
// of its stored form. Lists only objects the session holds some permission
// on.
std::string ListExtendedProperties(Session& session, const std::vector<Value>& arguments);

// The object `object` of `schema` was dropped: its properties, and its
// items', go with it.
void ForgetObjectProperties(sqlite3* db, const std::string& schema, std::string_view object);

// After an ALTER TABLE, DROP INDEX or DROP TRIGGER in `schema`: drops the
// properties of columns, indexes, constraints and triggers of its tables and
// views that no longer exist, so an item made later under the same name
// starts without them. Runs the engine's own SQL.
void ForgetLostItemProperties(sqlite3* db, const std::string& schema);

// sp_rename: the properties follow an object (`item_type` empty) or one of
// its items ("COLUMN", "INDEX") to its new name.
void RenameProperties(sqlite3* db, std::string_view item_type, const std::string& object,
                      const std::string& from, const std::string& to);

// sp_dropuser / sp_droptype: a user's or type's own properties go with it.
void ForgetNameProperties(sqlite3* db, std::string_view kind, const std::string& name);

}  // namespace sqlengine::exec
