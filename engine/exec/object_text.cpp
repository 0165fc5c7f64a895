#include "engine/exec/object_text.h"

#include <optional>
#include <string>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/procedures.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/session.h"
#include "engine/exec/triggers.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/dotted_name.h"

namespace sqlengine::exec {
namespace {

constexpr size_t kLineLength = 255;

struct ObjectText {
  std::string name;
  std::optional<std::string> text;  // nullopt: an object without text (a table)
  bool encrypted = false;  // made WITH ENCRYPTION: its text is not shown
};

std::optional<std::string> Lookup(sqlite3* db, const std::string& sql, const std::string& name) {
  auto query = catalog::Prepare(db, sql);
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(query.get(), 0);
}

std::optional<ObjectText> FindObject(sqlite3* db, const std::string& name) {
  bool has_procedures =
      Lookup(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?",
             catalog::kProceduresTable)
          .has_value();
  if (has_procedures) {
    // A procedure or function; a group's procedures one after another, by
    // their numbers, as syscomments orders them.
    auto query = catalog::Prepare(
        db, std::string("SELECT name, definition FROM ") + catalog::kProceduresTable + " WHERE " +
                GroupNameSql("name") + " = ? COLLATE NOCASE ORDER BY " + GroupNumberSql("name"));
    sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    std::optional<ObjectText> found;
    while (sqlite3_step(query.get()) == SQLITE_ROW) {
      std::string text = catalog::ColumnText(query.get(), 1);
      if (!found) {
        std::string stored = GroupMemberOf(catalog::ColumnText(query.get(), 0)).first;
        found = ObjectText{stored, std::string()};
      }
      *found->text += text;
      found->encrypted = found->encrypted || tsql::WrittenWithEncryption(text);
    }
    if (found) return found;
  }
  if (HasTriggers(db, "main")) {
    auto trigger = catalog::Prepare(db, std::string("SELECT name, table_name, definition, "
                                                    "encrypted FROM ") +
                                            kTriggersTable + " WHERE name = ? COLLATE NOCASE");
    sqlite3_bind_text(trigger.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(trigger.get()) == SQLITE_ROW) {
      return ObjectText{catalog::ColumnText(trigger.get(), 0), catalog::ColumnText(trigger.get(), 2),
                        sqlite3_column_int(trigger.get(), 3) != 0};
    }
  }
  if (HasRulesTable(db, "main")) {
    auto rule = catalog::Prepare(db, std::string("SELECT name, definition FROM ") + kRulesTable +
                                         " WHERE name = ? COLLATE NOCASE");
    sqlite3_bind_text(rule.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(rule.get()) == SQLITE_ROW) {
      return ObjectText{catalog::ColumnText(rule.get(), 0), catalog::ColumnText(rule.get(), 1)};
    }
  }
  auto query =
      catalog::Prepare(db,
                       "SELECT name, type, sql FROM sqlite_master WHERE type IN "
                       "('table', 'view') AND name = ? COLLATE NOCASE AND name NOT LIKE "
                       "'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'sqlengine!_%' ESCAPE '!'");
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  bool view = catalog::ColumnText(query.get(), 1) == "view";
  std::string found = catalog::ColumnText(query.get(), 0);
  std::optional<std::string> text;
  if (view) text = ViewTextAsWritten(catalog::ColumnText(query.get(), 2));
  return ObjectText{found, text, view && tsql::WrittenWithEncryption(*text)};
}

}  // namespace

void HelpText(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_helptext", given, {"@objname", "@columnname"});
  std::string written = args.Required(0, "sp_helptext", "@objname");
  tsql::DottedName name = tsql::ReadWrittenName(written);
  if (!name.Database().empty() &&
      !tsql::EqualsIgnoreCase(name.Database(), session.CurrentDatabase())) {
    throw MakeError(15250);
  }
  std::optional<ObjectText> object = FindObject(session.Connection().Handle(), name.Last());
  // As in SQL Server 2000, every user of the database reads every text that
  // is not encrypted (syscomments shows them all): what a name reaches is
  // decided by its owner part alone, not by the user's permissions.
  if (!object || !ArgumentReaches(session, written, name.Last())) {
    throw MakeError(15009, {written, session.CurrentDatabase()});
  }
  if (!object->text) throw MakeError(15197, {written});
  if (object->encrypted) {
    sink.Message(FormatMessage(15471));
    return;
  }
  ResultBuilder result({{"Text", ColumnType{SqlType::kNVarChar, static_cast<int>(kLineLength)}}});
  std::string_view text = *object->text;
  while (!text.empty()) {
    size_t end = text.find('\n');
    size_t take = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(0, take);
    text.remove_prefix(take);
    do {
      result.Add({std::string(line.substr(0, kLineLength))});
      line.remove_prefix(std::min(line.size(), kLineLength));
    } while (!line.empty());
  }
  result.Send(sink);
}

}  // namespace sqlengine::exec
