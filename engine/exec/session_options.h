#pragma once
// The SET options that are switched ON and OFF: which ones this engine
// honours (NOEXEC and PARSEONLY, IMPLICIT_TRANSACTIONS, XACT_ABORT,
// QUOTED_IDENTIFIER, ANSI_WARNINGS, ARITHABORT, ARITHIGNORE, ANSI_DEFAULTS' part of them, FMTONLY; ANSI_NULLS and
// CONCAT_NULL_YIELDS_NULL through the binder), which ones change nothing it
// computes and are accepted at either value, and which ones it refuses
// because statements would do something other than what they say
// (SHOWPLAN returns plans instead of running).

#include <optional>
#include <string_view>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

struct SessionOptions {
  bool no_exec = false;  // NOEXEC or PARSEONLY: statements are read, not run
  bool implicit_transactions = false;
  bool xact_abort = false;
  bool format_only = false;             // FMTONLY: see format_only.h
  bool ansi_nulls = true;               // read by the binder (bind::Catalog::AnsiNulls)
  bool concat_null_yields_null = true;  // read by the binder
  // Warning 8153 when an aggregate skips a NULL, error 8152 for a value too
  // long for its column; with ARITHABORT and ARITHIGNORE, what an arithmetic
  // error does (arithmetic_errors.h).
  bool ansi_warnings = true;
  bool arithabort = false;
  bool arithignore = false;
  // Whether a column that says neither NULL nor NOT NULL (nor takes it from
  // its user type) allows NULLs: ANSI_NULL_DFLT_ON, else NOT NULL under
  // ANSI_NULL_DFLT_OFF, else the database's 'ANSI null default' option.
  // Sessions start as SQL Server starts ODBC ones: ANSI_NULL_DFLT_ON.
  bool ansi_null_dflt_on = true;
  bool ansi_null_dflt_off = false;
  // Kept for @@OPTIONS; nothing the engine computes changes with them.
  bool ansi_padding = true;
  // nullopt until SET (or the login) says: the current database's 'cursor
  // close on commit' option decides (Session::ClosesCursorsOnCommit).
  std::optional<bool> cursor_close_on_commit;
  // Set by SET QUOTED_IDENTIFIER for the caller, which owns the lexer's
  // setting, to apply and clear.
  std::optional<bool> quoted_identifier;
};

// @@OPTIONS: SQL Server's bits for the options in force (512 NOCOUNT and 256
// QUOTED_IDENTIFIER are kept by the session and its lexer).
int OptionBits(const SessionOptions& options, bool quoted_identifier, bool no_count);

// SESSIONPROPERTY(option): 1 or 0 for ANSI_NULLS, ANSI_PADDING, ANSI_WARNINGS,
// ARITHABORT, CONCAT_NULL_YIELDS_NULL, NUMERIC_ROUNDABORT and
// QUOTED_IDENTIFIER (any case); nullopt for another name.
std::optional<int> SessionProperty(const SessionOptions& options, bool quoted_identifier,
                                   std::string_view option);

// Applies `SET option [option ...] ON | OFF`; false when the statement is not
// of that form (SET ROWCOUNT n, SET @v = ...). Throws SqlError 195 for an
// option SQL Server does not have, and 156 at ON or OFF for a value the
// engine refuses.
bool ApplyOnOffOption(const tsql::Statement& statement, SessionOptions& options);

// Whether the statement runs under SET NOEXEC ON: only the SET that ends it.
bool RunsWithoutExecution(const tsql::Statement& statement);

// Whether the statement begins a transaction under IMPLICIT_TRANSACTIONS ON
// when none is open (SQL Server's list: DDL, DML, GRANT and REVOKE, SELECT).
bool StartsImplicitTransaction(const tsql::Statement& statement);

}  // namespace sqlengine::exec
