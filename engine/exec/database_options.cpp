#include "engine/exec/database_options.h"

#include <algorithm>
#include <cstdlib>

#include "engine/common/error.h"
#include "engine/exec/database_access.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// Defaults of a database the Desktop Engine creates: auto close on and the
// simple recovery model (trunc. log on chkpt.).
constexpr DatabaseOption kOptions[] = {
    {"ANSI null default", false, "IsAnsiNullDefault"},
    {"ANSI nulls", false, "IsAnsiNullsEnabled"},
    {"ANSI padding", false, "IsAnsiPaddingEnabled"},
    {"ANSI warnings", false, "IsAnsiWarningsEnabled"},
    {"arithabort", false, "IsArithmeticAbortEnabled"},
    {"auto create statistics", true, "IsAutoCreateStatistics"},
    {"auto update statistics", true, "IsAutoUpdateStatistics"},
    {"autoclose", true, "IsAutoClose"},
    {"autoshrink", false, "IsAutoShrink"},
    {"concat null yields null", false, "IsNullConcat"},
    {"cursor close on commit", false, "IsCloseCursorsOnCommitEnabled"},
    {"db chaining", false, ""},
    {"dbo use only", false, "IsDboOnly"},
    {"default to local cursor", false, "IsLocalCursorsDefault"},
    {"merge publish", false, "IsMergePublished"},
    {"numeric roundabort", false, "IsNumericRoundAbortEnabled"},
    {"offline", false, "IsOffline"},
    {"published", false, "IsPublished"},
    {"quoted identifier", false, "IsQuotedIdentifiersEnabled"},
    {"read only", false, "IsReadOnly"},
    {"recursive triggers", false, "IsRecursiveTriggersEnabled"},
    {"select into/bulkcopy", false, "IsBulkCopy"},
    {"single user", false, "IsSingleUser"},
    {"subscribed", false, "IsSubscribed"},
    {"torn page detection", true, "IsTornPageDetectionEnabled"},
    {"trunc. log on chkpt.", true, "IsTruncLog"},
};

constexpr int kDatabaseVersion = 539;  // SQL Server 2000's on-disk version
constexpr std::string_view kCollation = "SQL_Latin1_General_CP1_CI_AS";
constexpr int kSortOrder = 52;

// ALTER DATABASE ... SET word ON | OFF and the option it turns.
struct SwitchedOption {
  std::string_view word;
  std::string_view option;
};

constexpr SwitchedOption kSwitched[] = {
    {"ansi_null_default", "ANSI null default"},
    {"ansi_nulls", "ANSI nulls"},
    {"ansi_padding", "ANSI padding"},
    {"ansi_warnings", "ANSI warnings"},
    {"arithabort", "arithabort"},
    {"auto_create_statistics", "auto create statistics"},
    {"auto_update_statistics", "auto update statistics"},
    {"auto_close", "autoclose"},
    {"auto_shrink", "autoshrink"},
    {"concat_null_yields_null", "concat null yields null"},
    {"cursor_close_on_commit", "cursor close on commit"},
    {"db_chaining", "db chaining"},
    {"numeric_roundabort", "numeric roundabort"},
    {"quoted_identifier", "quoted identifier"},
    {"recursive_triggers", "recursive triggers"},
    {"torn_page_detection", "torn page detection"},
};

// The option `written` names: the whole name or any part of it that only
// one option holds (case-insensitive). Throws 15011 / 15242.
const DatabaseOption& FindOption(std::string_view written) {
  std::string wanted = tsql::ToLower(written);
  const DatabaseOption* found = nullptr;
  int matches = 0;
  for (const DatabaseOption& option : kOptions) {
    std::string name = tsql::ToLower(option.name);
    if (name == wanted) return option;
    if (!wanted.empty() && name.find(wanted) != std::string::npos) {
      found = &option;
      ++matches;
    }
  }
  if (matches == 1) return *found;
  if (matches == 0) throw MakeError(15011, {written});
  throw MakeError(15242, {written});
}

void RequireOwner(Session& session, const catalog::DatabaseEntry& entry) {
  if (session.IsSysadmin() || entry.owner_sid == session.Login().sid) return;
  throw MakeError(15247);
}

std::string RecoveryModel(const std::map<std::string, bool>& values) {
  if (values.at("trunc. log on chkpt.")) return "SIMPLE";
  if (values.at("select into/bulkcopy")) return "BULK_LOGGED";
  return "FULL";
}

std::string UserAccess(const std::map<std::string, bool>& values) {
  if (values.at("single user")) return "SINGLE_USER";
  if (values.at("dbo use only")) return "RESTRICTED_USER";
  return "MULTI_USER";
}

ColumnType OptionText() { return ColumnType{SqlType::kNVarChar, 35}; }

// The changes one ALTER DATABASE ... SET item makes, read from tokens[at...];
// `at` ends after it.
std::vector<std::pair<std::string_view, bool>> ReadSetItem(const Tokens& tokens, size_t& at) {
  auto fail = [&](size_t k) -> std::vector<std::pair<std::string_view, bool>> {
    if (k < tokens.size()) throw tsql::SyntaxError(tokens[k], &tokens[k - 1]);
    throw tsql::SyntaxError(Token{}, &tokens.back());
  };
  if (at >= tokens.size()) return fail(at);
  const Token& word = tokens[at++];
  if (word.IsWord("single_user")) return {{"single user", true}, {"dbo use only", false}};
  if (word.IsWord("restricted_user")) return {{"dbo use only", true}, {"single user", false}};
  if (word.IsWord("multi_user")) return {{"single user", false}, {"dbo use only", false}};
  if (word.IsWord("offline")) return {{"offline", true}};
  if (word.IsWord("online")) return {{"offline", false}};
  if (word.IsWord("read_only")) return {{"read only", true}};
  if (word.IsWord("read_write")) return {{"read only", false}};
  const Token& value = at < tokens.size() ? tokens[at] : Token{};
  if (word.IsWord("cursor_default")) {
    if (!value.IsAnyWord({"local", "global"})) return fail(at);
    ++at;
    return {{"default to local cursor", value.IsWord("local")}};
  }
  if (word.IsWord("recovery")) {
    ++at;
    if (value.IsWord("simple"))
      return {{"trunc. log on chkpt.", true}, {"select into/bulkcopy", false}};
    if (value.IsWord("bulk_logged"))
      return {{"trunc. log on chkpt.", false}, {"select into/bulkcopy", true}};
    if (value.IsWord("full"))
      return {{"trunc. log on chkpt.", false}, {"select into/bulkcopy", false}};
    return fail(at - 1);
  }
  for (const SwitchedOption& switched : kSwitched) {
    if (!word.IsWord(switched.word)) continue;
    if (!value.IsAnyWord({"on", "off"})) return fail(at);
    ++at;
    return {{switched.option, value.IsWord("on")}};
  }
  return fail(at - 1);
}

// Changes of the options that decide who may use the database, or whether
// it may be written, need it to themselves first: SQL Server waits for (or
// ends) the other users. Taking it offline needs the caller out of it too.
bool NeedsDatabaseToItself(std::string_view option, bool on, bool current) {
  if (on == current) return false;
  if (option == "read only") return true;
  return on && (option == "single user" || option == "dbo use only" || option == "offline");
}

void ApplyOptions(Session& session, ResultSink& sink, const catalog::DatabaseEntry& entry,
                  const std::vector<std::pair<std::string_view, bool>>& changes,
                  Termination termination, int line) {
  EngineImpl& engine = session.Engine();
  std::map<std::string, bool> values = DatabaseOptionValues(engine, entry.name);
  bool exclusive = false, offline = false;
  for (const auto& [option, on] : changes) {
    exclusive |= NeedsDatabaseToItself(option, on, values[std::string(option)]);
    offline |= option == "offline" && on && !values["offline"];
  }
  if (offline && tsql::EqualsIgnoreCase(session.Connection().Database(), entry.name)) {
    ServerMessage in_use = FormatMessage(5070, {entry.name});
    in_use.line = line;
    sink.Message(in_use);
    throw MakeError(5069);
  }
  if (exclusive) ClearOtherUsers(session, sink, entry.name, termination, line);
  for (const auto& [option, on] : changes)
    engine.Catalog().SetDatabaseOption(entry.name, option, on);
  if (IsReadOnlyDatabase(engine, entry.name) != values["read only"]) {
    ReopenAfterStateChange(session, entry);
  }
}

}  // namespace

std::span<const DatabaseOption> DatabaseOptionList() { return kOptions; }

std::map<std::string, bool> DatabaseOptionValues(EngineImpl& engine, std::string_view database) {
  std::map<std::string, bool> stored = engine.Catalog().DatabaseOptions(database);
  std::map<std::string, bool> values;
  for (const DatabaseOption& option : kOptions) {
    auto it = stored.find(tsql::ToLower(option.name));
    values[std::string(option.name)] = it == stored.end() ? option.default_on : it->second;
  }
  return values;
}

void DbCompatibilityLevel(Session& session, const std::vector<CallArgument>& given,
                          ResultSink& sink) {
  Arguments args("sp_dbcmptlevel", given, {"@dbname", "@new_cmptlevel"});
  if (!args[0]) {
    sink.Message(FormatMessage(15048));
    return;
  }
  std::optional<catalog::DatabaseEntry> entry = session.Engine().FindDatabase(*args[0]);
  if (!entry) throw MakeError(15010, {*args[0]});
  if (!args[1]) {
    sink.Message(FormatMessage(15054, {"80"}));
    return;
  }
  const std::string& level = *args[1];
  if (level == "80") return;
  if (level != "60" && level != "65" && level != "70") throw MakeError(15048);
  throw MakeError(50000, {"Compatibility level " + level + " is not supported: database '" +
                          entry->name + "' answers as level 80."});
}

void DbOption(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_dboption", given, {"@dbname", "@optname", "@optvalue"});
  EngineImpl& engine = session.Engine();
  if (!args[0]) {
    ResultBuilder settable({{"Settable database options:", OptionText()}});
    for (const DatabaseOption& option : kOptions) settable.Add({std::string(option.name)});
    settable.Send(sink);
    return;
  }
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(*args[0]);
  if (!entry) throw MakeError(15010, {*args[0]});
  std::map<std::string, bool> values = DatabaseOptionValues(engine, entry->name);
  if (!args[1]) {
    ResultBuilder set({{"The following options are set:", OptionText()}});
    for (const DatabaseOption& option : kOptions) {
      if (values[std::string(option.name)]) set.Add({std::string(option.name)});
    }
    set.Send(sink);
    return;
  }
  const DatabaseOption& option = FindOption(*args[1]);
  if (!args[2]) {
    ResultBuilder current(
        {{"OptionName", OptionText()}, {"CurrentSetting", ColumnType{SqlType::kChar, 3}}});
    current.Add(
        {std::string(option.name), std::string(values[std::string(option.name)] ? "ON" : "OFF")});
    current.Send(sink);
    return;
  }
  if (session.TranCount() > 0) throw MakeError(15002, {"sp_dboption"});
  std::string value = tsql::ToLower(*args[2]);
  bool on = value == "true" || value == "on";
  if (!on && value != "false" && value != "off") throw MakeError(15241);
  RequireOwner(session, *entry);
  if (tsql::EqualsIgnoreCase(entry->name, "master")) throw MakeError(5058, {option.name, "master"});
  Termination no_wait{Termination::Kind::kNoWait};
  ApplyOptions(session, sink, *entry, {{option.name, on}}, no_wait, 1);
}

void ExecuteAlterDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  size_t at = 2;
  if (at >= tokens.size() || !tokens[at].IsName()) {
    throw tsql::SyntaxError(at < tokens.size() ? tokens[at] : Token{}, &tokens[at - 1]);
  }
  std::string database = tokens[at++].value;
  if (at >= tokens.size() || !tokens[at].IsWord("set")) {
    // ADD FILE, MODIFY FILE, COLLATE ...: files and collations are fixed here.
    throw tsql::SyntaxError(at < tokens.size() ? tokens[at] : Token{}, &tokens[at - 1]);
  }
  ++at;
  std::vector<std::pair<std::string_view, bool>> changes;
  do {
    for (const auto& change : ReadSetItem(tokens, at)) changes.push_back(change);
  } while (at < tokens.size() && tokens[at].IsSymbol(",") && ++at);
  Termination termination;
  if (at < tokens.size() && tokens[at].IsWord("with")) {
    ++at;
    if (at < tokens.size() && tokens[at].IsWord("no_wait")) {
      ++at;
      termination.kind = Termination::Kind::kNoWait;
    } else if (at + 1 < tokens.size() && tokens[at].IsWord("rollback") &&
               tokens[at + 1].IsWord("immediate")) {
      at += 2;
      termination.kind = Termination::Kind::kRollbackImmediate;
    } else if (at + 2 < tokens.size() && tokens[at].IsWord("rollback") &&
               tokens[at + 1].IsWord("after") && tokens[at + 2].kind == tsql::TokenKind::kNumber) {
      termination.kind = Termination::Kind::kRollbackAfter;
      termination.seconds = std::min(std::atoi(tokens[at + 2].text.c_str()), 24 * 3600);
      at += 3;
      if (at < tokens.size() && tokens[at].IsWord("seconds")) ++at;
    } else {
      throw tsql::SyntaxError(at < tokens.size() ? tokens[at] : Token{}, &tokens[at - 1]);
    }
  }
  if (at < tokens.size()) throw tsql::SyntaxError(tokens[at], &tokens[at - 1]);
  // The options live in master, outside the session's transaction.
  if (session.TranCount() > 0) throw MakeError(226, {"ALTER DATABASE"});
  EngineImpl& engine = session.Engine();
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(database);
  if (!entry) throw MakeError(5002, {database});
  RequireOwner(session, *entry);
  if (tsql::EqualsIgnoreCase(entry->name, "master")) {
    throw MakeError(5058, {changes.front().first, "master"});
  }
  ApplyOptions(session, sink, *entry, changes, termination, statement.line);
  sink.Done(StatementDone{});
}

std::optional<Value> DatabaseProperty(EngineImpl& engine, std::string_view database,
                                      std::string_view property, bool extended) {
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(database);
  if (!entry) return std::nullopt;
  std::map<std::string, bool> values = DatabaseOptionValues(engine, entry->name);
  std::string wanted = tsql::ToLower(property);
  for (const DatabaseOption& option : kOptions) {
    if (!option.property.empty() && tsql::ToLower(option.property) == wanted) {
      return Value(std::int64_t{values[std::string(option.name)] ? 1 : 0});
    }
  }
  auto number = [](std::int64_t n) { return std::optional<Value>(Value(n)); };
  auto text = [](std::string_view s) { return std::optional<Value>(Value(std::string(s))); };
  if (wanted == "version") return number(kDatabaseVersion);
  if (wanted == "isfulltextenabled" || wanted == "isinstandby") return number(0);
  if (!extended) {
    if (wanted == "isshutdown" || wanted == "isemergencymode" || wanted == "isinload" ||
        wanted == "isinrecovery" || wanted == "isnotrecovered" || wanted == "issuspect" ||
        wanted == "isdetached") {
      return number(0);
    }
    return std::nullopt;
  }
  if (wanted == "collation") return text(kCollation);
  if (wanted == "sqlsortorder") return number(kSortOrder);
  if (wanted == "lcid" || wanted == "comparisonstyle")
    return number(*tsql::CollationProperty(kCollation, wanted));
  if (wanted == "status") return text(values["offline"] ? "OFFLINE" : "ONLINE");
  if (wanted == "updateability") return text(values["read only"] ? "READ_ONLY" : "READ_WRITE");
  if (wanted == "useraccess") return text(UserAccess(values));
  if (wanted == "recovery") return text(RecoveryModel(values));
  return std::nullopt;
}

}  // namespace sqlengine::exec
