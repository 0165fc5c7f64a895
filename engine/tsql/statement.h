#pragma once
// The parsed shape of a batch: a list of statements, each with its kind, its
// tokens and, for control flow, its nested statements.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/lexer.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql {

enum class StatementKind {
  // Rewritten and handed to SQLite.
  kSelect,
  kInsert,
  kUpdate,
  kDelete,
  kCreateTable,
  kDropTable,
  kCreateOther,  // CREATE VIEW / INDEX, ALTER VIEW
  kDropOther,    // DROP VIEW / INDEX
  kAlterTable,
  kTruncateTable,
  // Executed by the engine itself.
  kUse,
  kCreateDatabase,
  kDropDatabase,
  kCreateLogin,
  kDropLogin,
  kBackup,   // BACKUP DATABASE
  kRestore,  // RESTORE DATABASE / HEADERONLY / FILELISTONLY / VERIFYONLY
  kDbcc,
  kPermission,       // GRANT / REVOKE / DENY
  kReconfigure,      // RECONFIGURE [WITH OVERRIDE]
  kCreateProcedure,  // CREATE or ALTER
  kDropProcedure,
  kCreateTrigger,  // CREATE or ALTER
  kDropTrigger,
  kCreateFunction,  // CREATE or ALTER
  kDropFunction,
  kExecute,
  kPrint,
  kRaiserror,
  kWaitFor,
  kDeclare,
  kSet,
  kIf,
  kWhile,
  kBlock,  // BEGIN ... END
  kBeginTransaction,
  kCommit,
  kRollback,
  kSaveTransaction,
  kReturn,
  kBreak,
  kContinue,
  kCheckpoint,        // CHECKPOINT
  kUpdateStatistics,  // UPDATE STATISTICS t [index | (index, ...)] [WITH ...]
  kAlterDatabase,     // ALTER DATABASE d SET ...
  kOpenCursor,        // OPEN c | @c
  kFetch,             // FETCH [direction] [FROM] c [INTO @a, ...]
  kCloseCursor,       // CLOSE c
  kDeallocateCursor,  // DEALLOCATE c
  kTryCatch,          // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH
  kGoto,              // GOTO label
  kLabel,             // label:  (tokens: the name and the colon)
  kKill,              // KILL spid [WITH STATUSONLY]
  kShutdown,          // SHUTDOWN [WITH NOWAIT]
  kUnsupported,       // recognised but not implemented: the executor reports it
};

// One `name [(column, ...)] AS (query)` of a WITH list.
struct CommonTableExpression {
  Token name;
  Tokens columns;  // empty when the query's own column names are used
  Tokens query;    // inside the parentheses after AS
};

struct Statement {
  StatementKind kind = StatementKind::kUnsupported;
  int line = 1;
  Tokens tokens;      // the statement's own tokens, without a trailing ';'
  // The WITH list written in front of a SELECT, INSERT, UPDATE or DELETE;
  // `tokens` start after it.
  std::vector<CommonTableExpression> with;
  Tokens condition;   // IF / WHILE
  // IF: then; WHILE: loop; BEGIN..END: block; TRY/CATCH: the TRY block's statements
  std::vector<std::unique_ptr<Statement>> body;
  std::unique_ptr<Statement> else_branch;  // IF ... ELSE; TRY/CATCH: the CATCH block
  bool drop_existing = false;  // CREATE INDEX ... WITH DROP_EXISTING (the option taken out)
  // The FOREIGN KEY constraints taken out of a temporary table's definition
  // (temporary_foreign_keys.h), each reported when the statement runs.
  std::vector<std::string> skipped_foreign_keys;
  // A statement read by ParseBatchDeferringTokens keeps where its text stands
  // instead of its tokens (which are empty): ReadDeferred lexes them again.
  std::optional<DeferredText> deferred;
};

// The statement with its tokens when it was parsed with them deferred;
// nullopt for one that holds its tokens.
std::optional<Statement> ReadDeferred(const Statement& statement);

using StatementList = std::vector<std::unique_ptr<Statement>>;

}  // namespace sqlengine::tsql
