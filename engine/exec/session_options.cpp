#include "engine/exec/session_options.h"

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;
using tsql::Token;
using tsql::Tokens;

// What SET option ON | OFF does here.
enum class Handling {
  kNoExec,                // honoured: statements are read, not run
  kImplicitTransactions,  // honoured
  kXactAbort,             // honoured
  kFormatOnly,            // honoured
  kQuotedIdentifier,      // honoured by the caller
  kAnsiNulls,             // honoured by the binder
  kConcatNull,            // honoured by the binder
  kAnsiWarnings,          // honoured: warning 8153, 8152, arithmetic errors
  kArithAbort,            // honoured: arithmetic errors
  kArithIgnore,           // honoured: arithmetic warnings
  kAnsiDefaults,          // ON: implicit transactions and the ANSI options, which are ours
  kAnsiNullDefaultOn,     // honoured by CREATE TABLE and ALTER TABLE ADD
  kAnsiNullDefaultOff,    // honoured by CREATE TABLE and ALTER TABLE ADD
  kAnsiPadding,           // kept for @@OPTIONS
  kCursorCloseOnCommit,   // kept for @@OPTIONS
  kEither,                // nothing this engine computes changes: accepted ON and OFF
  kOffOnly,               // ON would return something other than the statement's rows
};

struct Option {
  std::string_view name;
  Handling handling;
};

constexpr Option kOptions[] = {
    {"noexec", Handling::kNoExec},
    {"parseonly", Handling::kNoExec},
    {"implicit_transactions", Handling::kImplicitTransactions},
    {"xact_abort", Handling::kXactAbort},
    {"ansi_defaults", Handling::kAnsiDefaults},
    {"ansi_nulls", Handling::kAnsiNulls},
    {"ansi_null_dflt_on", Handling::kAnsiNullDefaultOn},
    {"ansi_null_dflt_off", Handling::kAnsiNullDefaultOff},
    {"ansi_padding", Handling::kAnsiPadding},
    {"ansi_warnings", Handling::kAnsiWarnings},
    {"arithabort", Handling::kArithAbort},
    {"arithignore", Handling::kArithIgnore},
    // ON would make a rounding that loses precision an error (8115).
    {"numeric_roundabort", Handling::kOffOnly},
    {"cursor_close_on_commit", Handling::kCursorCloseOnCommit},
    {"forceplan", Handling::kEither},
    {"remote_proc_transactions", Handling::kEither},
    {"no_browsetable", Handling::kEither},
    {"quoted_identifier", Handling::kQuotedIdentifier},
    {"concat_null_yields_null", Handling::kConcatNull},
    {"fmtonly", Handling::kFormatOnly},
    {"showplan_text", Handling::kOffOnly},
    {"showplan_all", Handling::kOffOnly},
    // STATISTICS IO | TIME | PROFILE only add messages or result sets.
    {"statistics", Handling::kEither},
};

const Option* Find(const Token& token) {
  for (const Option& option : kOptions) {
    if (token.IsWord(option.name)) return &option;
  }
  return nullptr;
}

}  // namespace

bool ApplyOnOffOption(const tsql::Statement& statement, SessionOptions& options) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 3 || !tokens.back().IsAnyWord({"on", "off"})) return false;
  const Token& value = tokens.back();
  bool on = value.IsWord("on");
  // SET option [, option ...] ON | OFF; SET STATISTICS IO, TIME ON.
  std::vector<const Option*> named;
  for (size_t k = 1; k + 1 < tokens.size(); ++k) {
    if (tokens[k].IsSymbol(",")) continue;
    if (k > 1 && tokens[1].IsWord("statistics") && tokens[k].IsName()) continue;
    const Option* option = Find(tokens[k]);
    if (option == nullptr) {
      // Only options that are switched are read here; the caller reads the rest.
      if (k == 1 &&
          tokens[k].IsAnyWord({"nocount", "identity_insert", "dateformat", "language", "datefirst",
                               "rowcount", "textsize", "lock_timeout", "deadlock_priority",
                               "transaction", "query_governor_cost_limit", "context_info"}))
        return false;
      SqlError error = MakeError(195, {tokens[k].value, "SET option"});
      error.message().line = tokens[k].line;
      throw error;
    }
    named.push_back(option);
  }
  if (named.empty()) throw tsql::SyntaxError(value, &tokens[tokens.size() - 2]);
  for (const Option* option : named) {
    switch (option->handling) {
      case Handling::kNoExec:
        options.no_exec = on;
        break;
      case Handling::kImplicitTransactions:
        options.implicit_transactions = on;
        break;
      case Handling::kXactAbort:
        options.xact_abort = on;
        break;
      case Handling::kFormatOnly:
        options.format_only = on;
        break;
      case Handling::kQuotedIdentifier:
        options.quoted_identifier = on;
        break;
      case Handling::kAnsiNulls:
        options.ansi_nulls = on;
        break;
      case Handling::kAnsiWarnings:
        options.ansi_warnings = on;
        break;
      case Handling::kArithAbort:
        options.arithabort = on;
        break;
      case Handling::kArithIgnore:
        options.arithignore = on;
        break;
      case Handling::kConcatNull:
        options.concat_null_yields_null = on;
        break;
      case Handling::kAnsiDefaults:
        // OFF would also turn ANSI_NULLS and CONCAT_NULL_YIELDS_NULL off.
        if (!on) throw tsql::SyntaxError(value, &tokens[tokens.size() - 2]);
        options.implicit_transactions = true;
        options.ansi_nulls = true;
        options.ansi_warnings = true;
        options.ansi_null_dflt_on = true;
        options.ansi_null_dflt_off = false;
        options.ansi_padding = true;
        options.cursor_close_on_commit = true;
        break;
      // The two exclude each other: turning one on turns the other off.
      case Handling::kAnsiNullDefaultOn:
        options.ansi_null_dflt_on = on;
        if (on) options.ansi_null_dflt_off = false;
        break;
      case Handling::kAnsiNullDefaultOff:
        options.ansi_null_dflt_off = on;
        if (on) options.ansi_null_dflt_on = false;
        break;
      case Handling::kAnsiPadding:
        options.ansi_padding = on;
        break;
      case Handling::kCursorCloseOnCommit:
        options.cursor_close_on_commit = on;
        break;
      case Handling::kEither:
        break;
      case Handling::kOffOnly:
        if (on) throw tsql::SyntaxError(value, &tokens[tokens.size() - 2]);
        break;
    }
  }
  return true;
}

int OptionBits(const SessionOptions& options, bool quoted_identifier, bool no_count) {
  int bits = 0;
  auto set = [&](bool on, int bit) {
    if (on) bits |= bit;
  };
  set(options.implicit_transactions, 2);
  set(options.cursor_close_on_commit.value_or(false), 4);
  set(options.ansi_warnings, 8);
  set(options.ansi_padding, 16);
  set(options.ansi_nulls, 32);
  set(options.arithabort, 64);
  set(options.arithignore, 128);
  set(quoted_identifier, 256);
  set(no_count, 512);
  set(options.ansi_null_dflt_on, 1024);
  set(options.ansi_null_dflt_off, 2048);
  set(options.concat_null_yields_null, 4096);
  // 8192 NUMERIC_ROUNDABORT is never on here.
  set(options.xact_abort, 16384);
  return bits;
}

std::optional<int> SessionProperty(const SessionOptions& options, bool quoted_identifier,
                                   std::string_view option) {
  std::string name = tsql::ToLower(option);
  if (name == "ansi_nulls") return options.ansi_nulls;
  if (name == "ansi_padding") return options.ansi_padding;
  if (name == "ansi_warnings") return options.ansi_warnings;
  if (name == "arithabort") return options.arithabort;
  if (name == "concat_null_yields_null") return options.concat_null_yields_null;
  if (name == "numeric_roundabort") return 0;
  if (name == "quoted_identifier") return quoted_identifier;
  return std::nullopt;
}

bool RunsWithoutExecution(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (statement.kind != StatementKind::kSet || tokens.size() < 3) return false;
  for (size_t k = 1; k + 1 < tokens.size(); ++k) {
    if (tokens[k].IsAnyWord({"noexec", "parseonly"})) return true;
  }
  return false;
}

bool StartsImplicitTransaction(const tsql::Statement& statement) {
  switch (statement.kind) {
    case StatementKind::kSelect:
      // A SELECT that reads no table starts nothing.
      for (const Token& token : statement.tokens) {
        if (token.IsWord("from")) return true;
      }
      return false;
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
    case StatementKind::kCreateTable:
    case StatementKind::kDropTable:
    case StatementKind::kCreateOther:
    case StatementKind::kDropOther:
    case StatementKind::kAlterTable:
    case StatementKind::kTruncateTable:
    case StatementKind::kCreateProcedure:
    case StatementKind::kDropProcedure:
    case StatementKind::kCreateFunction:
    case StatementKind::kDropFunction:
    case StatementKind::kPermission:
      return true;
    default:
      return false;
  }
}

}  // namespace sqlengine::exec
