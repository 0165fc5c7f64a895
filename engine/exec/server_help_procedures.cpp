#include "engine/exec/server_help_procedures.h"

#include <algorithm>

#include "engine/common/error.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/languages.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/server_functions.h"
#include "engine/exec/session.h"
#include "engine/exec/space_procedures.h"
#include "engine/tsql/collation_names.h"

namespace sqlengine::exec {
namespace {

ColumnType Name() { return ColumnType{SqlType::kNVarChar, 128}; }

// sp_helprole [@rolename]: RoleName, RoleId, IsAppRole; public and the fixed
// roles, then the database's own, in uid order.
void HelpRole(Session& session, const std::optional<std::string>& role, ResultSink& sink) {
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  std::vector<const Principal*> roles;
  for (const Principal& principal : security.principals) {
    if (!principal.is_role) continue;
    if (role && !tsql::EqualsIgnoreCase(*role, principal.name)) continue;
    roles.push_back(&principal);
  }
  if (role && roles.empty()) throw MakeError(15409, {*role});
  std::stable_sort(roles.begin(), roles.end(),
                   [](const Principal* a, const Principal* b) { return a->uid < b->uid; });
  ResultBuilder result({{"RoleName", Name()},
                        {"RoleId", ColumnType{SqlType::kSmallInt}},
                        {"IsAppRole", ColumnType{SqlType::kInt}}});
  for (const Principal* found : roles) {
    result.Add({found->name, static_cast<std::int64_t>(found->uid), std::int64_t{0}});
  }
  result.Send(sink);
}

const catalog::DatabaseEntry CurrentEntry(Session& session) {
  std::optional<catalog::DatabaseEntry> entry =
      session.Engine().FindDatabase(session.CurrentDatabase());
  if (!entry) throw MakeError(911, {session.CurrentDatabase()});
  return *entry;
}

// sp_helpfilegroup [@filegroupname]: each file group (the engine's databases
// have PRIMARY alone, holding the data file); with a name, also its files.
void HelpFileGroup(Session& session, const std::optional<std::string>& group, ResultSink& sink) {
  if (group && !tsql::EqualsIgnoreCase(*group, "PRIMARY")) throw MakeError(15153, {*group});
  ResultBuilder groups({{"groupname", Name()},
                        {"groupid", ColumnType{SqlType::kSmallInt}},
                        {"filecount", ColumnType{SqlType::kInt}}});
  groups.Add({std::string("PRIMARY"), std::int64_t{1}, std::int64_t{1}});
  groups.Send(sink);
  if (!group) return;
  catalog::DatabaseEntry entry = CurrentEntry(session);
  std::filesystem::path data_file = session.Engine().DataFileOf(entry);
  std::error_code ignored;
  std::uintmax_t bytes = std::filesystem::file_size(data_file, ignored);
  if (ignored) bytes = 0;
  ColumnType figure{SqlType::kNVarChar, 15};
  ResultBuilder files({{"file_in_group", Name()},
                       {"fileid", ColumnType{SqlType::kSmallInt}},
                       {"filename", ColumnType{SqlType::kNChar, 260}},
                       {"size", figure},
                       {"maxsize", figure},
                       {"growth", figure}});
  files.Add({entry.name, std::int64_t{1}, data_file.string(),
             std::to_string((bytes + 1023) / 1024) + " KB", std::string("Unlimited"),
             std::string("10%")});
  files.Send(sink);
}

// sp_helpsort: the server's collation, described as ::fn_helpcollations
// describes it.
void HelpSort(ResultSink& sink) {
  constexpr std::string_view kServerCollation = "SQL_Latin1_General_CP1_CI_AS";
  ResultBuilder result({{"Server default collation", ColumnType{SqlType::kNVarChar, 1000}}});
  for (const tsql::CollationName& collation : tsql::KnownCollations()) {
    if (collation.name == kServerCollation) result.Add({collation.description});
  }
  result.Send(sink);
}

// sp_helpserver [@server [, @optname [, @show_topology]]]: the servers this
// one knows, which are itself alone (no linked or remote servers).
void HelpServer(const std::optional<std::string>& server, ResultSink& sink) {
  if (server && !tsql::EqualsIgnoreCase(*server, kServerName)) throw MakeError(15015, {*server});
  ResultBuilder result({{"name", Name()},
                        {"network_name", Name()},
                        {"status", ColumnType{SqlType::kVarChar, 70}},
                        {"id", ColumnType{SqlType::kChar, 4}},
                        {"collation_name", Name()},
                        {"connect_timeout", ColumnType{SqlType::kInt}},
                        {"query_timeout", ColumnType{SqlType::kInt}}});
  result.Add({std::string(kServerName), std::string(kServerName),
              std::string("rpc,rpc out,use remote collation"), std::string("0   "), Value(),
              std::int64_t{0}, std::int64_t{0}});
  result.Send(sink);
}

// sp_helplanguage [@language]: the languages syslanguages lists, or the one
// named (by its name or alias; 15033 for none).
void HelpLanguage(const std::optional<std::string>& name, ResultSink& sink) {
  const Language* named = name ? LanguageNamed(*name) : nullptr;
  if (name && named == nullptr) throw MakeError(15033, {*name});
  ResultBuilder result({{"langid", ColumnType{SqlType::kSmallInt}},
                        {"dateformat", ColumnType{SqlType::kNChar, 3}},
                        {"datefirst", ColumnType{SqlType::kTinyInt}},
                        {"upgrade", ColumnType{SqlType::kInt}},
                        {"name", Name()},
                        {"alias", Name()},
                        {"months", ColumnType{SqlType::kNVarChar, 372}},
                        {"shortmonths", ColumnType{SqlType::kNVarChar, 132}},
                        {"days", ColumnType{SqlType::kNVarChar, 217}}});
  for (const Language& language : Languages()) {
    if (named != nullptr && named != &language) continue;
    result.Add({std::int64_t{language.langid}, std::string(language.dateformat),
                std::int64_t{language.first_day}, std::int64_t{0}, std::string(language.name),
                std::string(language.alias), std::string(language.months),
                std::string(language.short_months), std::string(language.days)});
  }
  result.Send(sink);
}

}  // namespace

bool RunServerHelpProcedure(Session& session, std::string_view name,
                            const std::vector<CallArgument>& given, ResultSink& sink) {
  if (name == "sp_helprole") {
    Arguments args(name, given, {"@rolename"});
    HelpRole(session, args[0], sink);
  } else if (name == "sp_helpfile") {
    Arguments args(name, given, {"@filename"});
    SendDatabaseFiles(session, CurrentEntry(session), sink, args[0]);
  } else if (name == "sp_helpfilegroup") {
    Arguments args(name, given, {"@filegroupname"});
    HelpFileGroup(session, args[0], sink);
  } else if (name == "sp_helpsort") {
    Arguments args(name, given, {});
    HelpSort(sink);
  } else if (name == "sp_helplanguage") {
    Arguments args(name, given, {"@language"});
    HelpLanguage(args[0], sink);
  } else if (name == "sp_helpserver") {
    Arguments args(name, given, {"@server", "@optname", "@show_topology"});
    HelpServer(args[0], sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
