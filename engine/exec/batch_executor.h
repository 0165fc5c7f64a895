#pragma once
// Runs the parsed statements of one batch on a session: control flow,
// variables, PRINT, WAITFOR, transactions, statements handed to SQLite, and
// dispatch to the server statements and system procedures. Every failure a
// client should see becomes an ERROR message plus a DONE with the error bit.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"
#include "engine/exec/row_images.h"
#include "engine/exec/sqlite_statement.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/table_variables.h"
#include "engine/exec/triggers.h"
#include "engine/exec/tsql_cursors.h"
#include "engine/tsql/function_definition.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;
struct SelectInto;

// A type written in DECLARE: word [(args)]. Advances i past it.
ColumnType ReadDeclaredType(const tsql::Tokens& tokens, size_t& i);

class BatchExecutor final : public ParameterSource {
 public:
  BatchExecutor(Session& session, ResultSink& sink);
  // Drops the #temp tables a procedure's or EXEC ( )'s body made.
  ~BatchExecutor();
  BatchExecutor(const BatchExecutor&) = delete;
  BatchExecutor& operator=(const BatchExecutor&) = delete;

  // Throws Cancelled (the session's cancel flag) or ClientGone.
  void Run(const tsql::StatementList& statements);
  // Runs a parse the session keeps for a text it is sent again and again
  // (bound_texts.h): checked once for a check resting on its text, its
  // statements' bindings kept for their next runs. Throws as Run.
  void RunKept(const std::shared_ptr<const tsql::StatementList>& statements);

  // The text the statements' tokens were read from (a client's batch, a
  // dynamic SQL string). A procedure, function, trigger or view made by one
  // of them keeps it as written, comments and layout included; without it
  // the definition is rebuilt from the tokens. Must outlive Run.
  void SetSourceText(std::string_view text) { source_text_ = text; }

  // SELECT expression: how an expression is read, bound and evaluated.
  static tsql::Statement SelectOfExpression(const tsql::Tokens& expression, int line);
  // Evaluates an expression (its tokens) to a value, with variables bound;
  // its SQL Server type into `type` where asked and known.
  Value Evaluate(const tsql::Tokens& expression, int line,
                 std::optional<ColumnType>* type = nullptr);

  Value Parameter(std::string_view name, int line) override;
  std::optional<ColumnType> ParameterType(std::string_view name) override;

  // Sends an error the way every statement does (ERROR, DONE with error bit).
  void ReportError(const SqlError& error);

  // Runs a SELECT a keyed server cursor built (its parameters declared as
  // variables already), kept bound and compiled in `seeks`, and returns its
  // rows. Throws SqlError as the SELECT fails.
  std::vector<Row> RunCursorStatement(const tsql::Statement& select, CursorSeeks& seeks);

  // Runs a stored procedure in its own variable scope and returns its return
  // status; `outputs` receives the final value of each parameter. Errors in
  // its statements are reported as they happen; throws SqlError for a call
  // that cannot start (201, 8144, 217 nesting deeper than 32).
  int CallProcedure(const tsql::ProcedureDefinition& definition,
                    const std::vector<CallArgument>& arguments, std::vector<Value>& outputs);

  // Runs a scalar function's statements in their own variable scope, the
  // parameters holding `arguments`, and returns the value its RETURN gives
  // (converted to the declared type). Throws SqlError for the first error
  // inside it, 217 nesting deeper than 32.
  Value CallFunction(const tsql::FunctionDefinition& definition,
                     const std::vector<Value>& arguments);

  // Runs a multi-statement table-valued function's statements as
  // CallFunction does, its table variable declared first, and returns the
  // rows it left there (see table_function_rows.h). Throws as CallFunction.
  std::string CallTableFunction(const tsql::FunctionDefinition& definition,
                                const std::vector<Value>& arguments);

  // Fires the AFTER INSERT triggers of `table` (in SQLite schema `schema`)
  // for the rows a bulk load inserted with FIRE_TRIGGERS, inside its
  // transaction, or with `instead` its INSTEAD OF INSERT trigger (of a
  // table or view) for the rows it did not keep; `inserted` holds their
  // images. False when the load ends without its own answer: a trigger's
  // error was reported and the transaction rolled back, or a trigger ended
  // the transaction (3609).
  bool FireBulkInsertTriggers(const std::string& schema, const std::string& table,
                              const RowImages& inserted, std::int64_t rows, bool instead,
                              int line);

 private:
  enum class Flow { kNext, kBreak, kContinue, kReturn, kAbort, kGoto };

  // Procedures and triggers nest up to this level (@@NESTLEVEL); 217 beyond.
  static constexpr int kMaxNesting = 32;

  // The triggers a data change statement fires, found before it runs
  // (trigger_firing.cpp).
  struct ChangeTriggers {
    std::string schema;  // the target table's, as SQLite names it
    std::string table;
    TriggerEvent event = TriggerEvent::kInsert;
    std::vector<StoredTrigger> after;
    std::optional<StoredTrigger> instead;       // replaces the statement
    std::vector<std::string> assigned_columns;  // an UPDATE's SET list
    bool on_view = false;  // the target is a view (then `instead` is set)
  };
  // `named_schema`: the SQLite schema of the database the statement names
  // its target in; a view's table may be another database's.
  // `changed_table`: the table the bound statement writes ("schema"."name"),
  // which says it for a view over a join.
  std::optional<ChangeTriggers> TriggersOfChange(const tsql::Statement& statement,
                                                 const std::string& named_schema,
                                                 const std::string& changed_table = "");
  // The view or table an INSERT, UPDATE or DELETE names (an alias followed
  // to its table) in `named_schema`; nullopt for another statement or a
  // name that is neither. `before_binding`: looked up as the binder will
  // look it up next (see FindStoredTable), else as a running statement's
  // triggers are (see KnownTable).
  struct ChangedObject {
    std::string schema;
    std::string name;
    bool view = false;
  };
  std::optional<ChangedObject> ObjectChanged(const tsql::Statement& statement,
                                             const std::string& named_schema, bool before_binding);
  // The SQLite schema whose file a data change statement writes: that of
  // the table under the view it names when no INSTEAD OF trigger takes the
  // change, else `named_schema`.
  std::string SchemaWritten(const tsql::Statement& statement, const std::string& named_schema);
  // Runs the change's INSTEAD OF trigger, or else its AFTER triggers, with
  // `rows` as @@ROWCOUNT, inside the statement's transaction. False when the
  // batch must end: an error in a trigger (reported, the transaction rolled
  // back) or a transaction the trigger ended (3609 reported at `line`).
  // Throws Cancelled or ClientGone.
  bool FireTriggers(const ChangeTriggers& change, const RowImages& inserted,
                    const RowImages& deleted, std::int64_t rows, int line);
  bool RunTrigger(const StoredTrigger& trigger, const ChangeTriggers& change,
                  const RowImages& inserted, const RowImages& deleted, std::int64_t rows);
  // CREATE / ALTER TRIGGER: the body's syntax is checked before it is stored.
  void CreateTrigger(const tsql::Statement& statement);

  static bool IsPassThrough(tsql::StatementKind kind);
  // Finds the syntax errors SQLite would report, before anything of the batch
  // runs. True when the verdict rests on the statements' text alone (and on
  // whether they are a procedure's body), so a check that passed would pass
  // again for the same statements; false when it also read the catalog.
  bool CheckSyntax(const tsql::StatementList& statements);
  bool CheckSyntax(const tsql::Statement& statement);
  // Binds the batch's row statements and conditions against the catalog as
  // it stands before any of them runs, as SQL Server compiles a batch whole
  // (batch_compilation.cpp): throws the first compile error, with its line.
  void BindBeforeRunning(const tsql::StatementList& statements);
  // Both, in one pass that reads each deferred statement once: the syntax
  // checked first when `check_syntax`, the binding's first compile error
  // thrown only once every statement passed its check, so the errors come
  // in the order the two separate passes give. Returns what CheckSyntax does.
  bool CheckAndBindBeforeRunning(const tsql::StatementList& statements, bool check_syntax);
  // CREATE / ALTER PROCEDURE, FUNCTION or TRIGGER: the same for its body,
  // its parameters declared, its names reaching the objects of `owner` (the
  // uid DefinedBodyOwner gives) and dbo's, as when it runs. Nothing for a
  // body of a `database` written in its name.
  void BindBodyBeforeStoring(const std::string& database, std::optional<int> owner,
                             const std::vector<tsql::ParameterDeclaration>& parameters,
                             const tsql::StatementList& statements);
  // The owner of the procedure or function `name` of the current database
  // a CREATE (or, with `alter`, an ALTER) defines: the owner written in the
  // CREATE, else its creator (dbo for a sysadmin or the database's owner);
  // for ALTER its present owner.
  std::optional<int> DefinedBodyOwner(const std::string& name, bool alter);
  void BindAll(const tsql::StatementList& statements,
               const std::vector<tsql::ParameterDeclaration>& parameters);
  struct BindingAhead;
  void BindAhead(const tsql::Statement& statement, BindingAhead& ahead);
  void BindRowStatementAhead(const tsql::Statement& statement, BindingAhead& ahead);
  // SELECT @v = ..., SET @v = expression and RETURN expression, bound as
  // their runs bind them.
  void BindAssignmentsAhead(const tsql::Statement& statement, BindingAhead& ahead);
  void BindExpressionAhead(const tsql::Tokens& expression, int line, BindingAhead& ahead);
  // SELECT @v = ...: taken apart when it runs.
  static bool AssignsVariables(const tsql::Statement& statement);

  Flow RunList(const tsql::StatementList& statements);
  // Runs `statements` from position `at`; with `entering`, the statement
  // there holds the label goto_label_ and runs from that label on.
  Flow RunListFrom(const tsql::StatementList& statements, size_t at, bool entering);
  // Runs `statement`, which is or holds the label goto_label_, from the label.
  Flow EnterAtLabel(const tsql::Statement& statement);
  Flow RunOne(const tsql::Statement& statement);
  // A SELECT under SET FMTONLY ON: its columns without its rows.
  Flow Describe(const tsql::Statement& statement);
  Flow Dispatch(const tsql::Statement& statement);
  bool Condition(const tsql::Statement& statement);
  // The session's second connection when a read (a condition, an
  // expression, SELECT @v = ..., a cursor's fetch) of `tokens`, run as
  // `sql`, is to see other sessions' uncommitted rows: under READ
  // UNCOMMITTED or a NOLOCK hint, reading a table, and needing nothing
  // only the session's own connection has (its temporary tables); or, to
  // see the newest commits, when the session's transaction cannot renew its
  // snapshot (SnapshotBehindCommits). nullptr when it reads committed rows
  // on the session's connection.
  sqlite3* DirtyReadConnection(const tsql::Tokens& tokens, const std::string& sql);

  void PassThrough(const tsql::Statement& statement);
  // After the UPDATE `statement` failed with `conflict` (2627 / 2601): the
  // change applied again as one (key_changes.h), its keys checked against
  // the statement's end state; returns the rows changed. Throws `conflict`
  // where the change cannot be applied so (a referenced table, an UPDATE
  // that assigns variables), else as ApplyChangedRows.
  std::int64_t ApplyUpdateAsOne(const tsql::Statement& statement, const std::string& named_schema,
                                const FailedStatement& context, const SqlError& conflict);
  // The uid of the user owning the procedure or function `object` of
  // `database` (empty: the current one); nullopt when it cannot be read.
  // Statements of one dbo owns reach dbo's objects as their owner; one a user
  // made himself runs with its caller's rights.
  std::optional<int> BodyOwner(const std::string& database, const std::string& object);
  // The database a procedure or function of `database` (empty: named
  // without one) lives in.
  std::string BodyDatabase(const std::string& database);
  // The schema the body's names without a database resolve in: its own
  // database's.
  std::string BodySchema(const std::string& database);
  // ALTER VIEW of `view` (view_alteration.cpp).
  void AlterView(const tsql::Statement& statement, const std::string& view);
  // ALTER TABLE t DROP COLUMN c [, ...]: drops the columns' normalising
  // triggers first, as SQLite refuses to drop a column a trigger names.
  void ForgetDroppedColumns(const tsql::Statement& statement);
  // The SQLite schema and stored name of each index a DROP INDEX names.
  std::vector<std::pair<std::string, std::string>> DroppedIndexes(
      const tsql::Statement& statement);
  // After CREATE INDEX (`replaced`: WITH DROP_EXISTING, whose old index may
  // have had one): gives a unique index WITH IGNORE_DUP_KEY its trigger
  // (ignored_duplicates.h).
  void KeepIgnoredDuplicateTrigger(const tsql::Statement& statement, bool replaced);
  // Before a CREATE UNIQUE INDEX: 1505 when the table's rows already repeat
  // a key with a NULL, which SQLite's index would let in.
  void RefuseRepeatedNullKey(const tsql::Statement& statement);
  // The index of EXEC[UTE] in an INSERT ... EXEC statement; nullopt for any other.
  static std::optional<size_t> InsertExecuteAt(const tsql::Statement& statement);
  // Runs the procedure and inserts its rows; throws SqlError (213 when a row
  // does not fit the columns) after undoing the rows it inserted.
  void InsertFromExecute(const tsql::Statement& statement, size_t execute_at);
  bool AssignFromSelect(const tsql::Statement& statement);
  // SELECT @a = expr [, @b = expr] ... as the SELECT of its items, read as
  // the variables they go into take them; the variables in `targets`
  // (lower case). Throws 141 for an item assigning none.
  struct AssignedSelect {
    tsql::Statement select;
    std::vector<std::string> targets;
    bool reads_rows = false;  // without FROM it sends no DONE
    bool distinct = false;
  };
  AssignedSelect SelectOfAssignments(const tsql::Statement& statement);
  void TrackObject(const tsql::Statement& statement);
  // SELECT ... INTO: creates the table as CREATE TABLE would, with the
  // binder's column types, and fills it, all or nothing.
  void SelectIntoNewTable(const tsql::Statement& statement, const SelectInto& into,
                          const std::string& written_schema);
  // Objects belong to dbo; a user who may create them gets every permission
  // on what it created, with the grant option, as an owner has. An owner
  // written in the CREATE (created_owner_) takes the creator's place.
  // `schema`: the database the object was made in, as attached.
  // The right to CREATE (`object` empty) or ALTER a procedure or function
  // of `database` (empty: the current one), as that database grants it.
  void RequireDefinitionRight(const std::string& database, const std::string& object,
                              Access access);
  void GrantToCreator(const std::string& object, std::initializer_list<Access> actions,
                      const std::string& schema = "main");
  // The uid owning what a CREATE of `database` (attached as `schema`) makes.
  int CreatedObjectOwner(const std::string& database, const std::string& schema);
  void Declare(const tsql::Statement& statement);
  void Set(const tsql::Statement& statement);
  // SET LOCK_TIMEOUT n: milliseconds, -1 (or any negative) no limit, 0 no wait.
  void SetLockTimeout(const tsql::Statement& statement);
  // SET TRANSACTION ISOLATION LEVEL ...; throws 102-like syntax errors for others.
  void SetIsolationLevel(const tsql::Statement& statement);
  void SetDateOption(const tsql::Tokens& tokens, int line);
  void Print(const tsql::Statement& statement);
  // PRINT's expression, wrapped in a conversion to varchar when the binder
  // types it as a number or a date: the text SQL Server's implicit conversion
  // writes. Unchanged for character data and what the binder does not cover.
  tsql::Tokens PrintedText(const tsql::Tokens& expression, int line);
  void WaitFor(const tsql::Statement& statement);
  void Raiserror(const tsql::Statement& statement);
  // The text RAISERROR uses for a message number: one added by sp_addmessage,
  // else the engine's own. Throws 2758 for a number that has neither.
  std::string NumberedMessageText(int number);
  void Execute(const tsql::Statement& statement);
  // EXEC[UTE] ('text' + @v ...): the text runs as a batch of its own, in its
  // own variable scope, with the caller's rights and #temp tables; a USE in
  // it lasts until it ends.
  void ExecuteString(const tsql::Statement& statement, size_t open);
  // sp_MSforeachtable: its commands run as EXEC (command) runs them, once for
  // every user table of the current database in name order, the replace
  // character ('?') standing for the table as [owner].[name].
  void ForEachTable(const std::vector<CallArgument>& arguments);
  void TransactionStatement(const tsql::Statement& statement);

  // BEGIN TRY ... END CATCH (try_catch.cpp): runs the TRY block; an error it
  // traps runs the CATCH block instead of reaching the client.
  Flow RunTryCatch(const tsql::Statement& statement);
  // Inside a TRY block, keeps an error of severity 11 or more for the
  // innermost TRY instead of reporting it, and unwinds this body: true
  // then; false when the error is the client's to see. Under XACT_ABORT or
  // in a trigger the transaction is rolled back first.
  bool Trap(const SqlError& error);

  // T-SQL cursors (tsql_cursor_statements.cpp). Each throws SqlError as SQL
  // Server reports the statement's failure (16915, 16916, 16917, 16905 ...).
  void DeclareCursor(const tsql::Statement& statement);
  // SET @c = CURSOR ... FOR select: a new cursor that only the variable reaches.
  void SetCursorVariable(const tsql::Statement& statement);
  void DeclareCursorVariable(const tsql::Token& name);
  void OpenCursor(const tsql::Statement& statement);
  void FetchCursor(const tsql::Statement& statement);
  void CloseCursor(const tsql::Statement& statement);
  void DeallocateCursor(const tsql::Statement& statement);
  // UPDATE / DELETE ... WHERE CURRENT OF c: the statement runs with the
  // WHERE clause finding the cursor's current row; a static cursor's copy of
  // the row follows the change.
  void PositionedChange(const tsql::Statement& statement, size_t where_at);
  // READTEXT, WRITETEXT and UPDATETEXT (text_pointer_statements.cpp); false
  // for any other statement. Throws SqlError as SQL Server reports a bad
  // pointer, offset or length (7122 .. 7135), 208 / 207 / 229 / 230 for the
  // column.
  bool TextPointerStatement(const tsql::Statement& statement);
  // Throws 16916 for an unknown name, 16950 for a variable without a cursor.
  std::shared_ptr<TsqlCursor> FindCursor(const tsql::CursorReference& reference);
  // Runs a SELECT as this batch would and keeps its rows instead of sending
  // them; throws SqlError as the SELECT fails.
  struct SelectedRows {
    std::vector<Column> columns;
    std::vector<Row> rows;
  };
  SelectedRows SelectRows(const tsql::Statement& select);
  // Runs a statement a keyed cursor built, with its parameters as variables;
  // with `seeks`, bound and compiled once for the cursor's life.
  SelectedRows SelectKeyed(const KeyedStatement& keyed, CursorSeeks* seeks = nullptr);
  // SelectKeyed's run once the parameters are variables.
  SelectedRows SelectKept(const tsql::Statement& select, CursorSeeks& seeks);
  // Runs a cursor's statement `select` as `text` binds it, compiled as
  // `seeks` keeps it, and keeps it compiled again. With `kept` (the binding
  // is an old one) nullopt when it no longer serves: SQLite compiled it
  // again, or it failed.
  std::optional<SelectedRows> RunBoundSeek(const tsql::SqliteText& text, CursorSeeks& seeks,
                                           const tsql::Statement& select, bool kept);
  // A keyed cursor's member with key values `key`, as it is now; nullopt
  // once the row is gone (deleted, or its key changed).
  std::optional<Row> ReadKeyedRow(TsqlCursor& cursor, const Row& key);

  // Ends a statement: its arithmetic warnings (arithmetic_errors.h), then its DONE.
  void Done(std::optional<std::int64_t> count = std::nullopt);
  // Sends the arithmetic warnings what ran since the last call owes.
  void SendArithmeticWarnings();

  Session& session_;
  ResultSink& sink_;
  std::string procedure_;  // the procedure whose body runs, for messages
  // The owner the CREATE running now writes before its object's name
  // (CheckOwnerPart); nullopt when none is written.
  std::optional<int> created_owner_;
  std::string_view source_text_;  // see SetSourceText
  std::string goto_label_;  // the label a GOTO on its way (Flow::kGoto) jumps to
  int return_status_ = 0;
  // In a function's body: the type RETURN converts to, and the value it gave.
  std::optional<ColumnType> function_returns_;
  Value function_result_;
  // An error that ends callers too happened in this body or in a procedure it
  // called: the statement that called it ends the batch as well.
  bool abort_callers_ = false;
  // This body is a trigger's, or runs inside one: an error ends the batch
  // and rolls the transaction back, as SQL Server does in a trigger.
  bool trigger_context_ = false;
  // The innermost trigger running; it does not fire itself again
  // (RECURSIVE_TRIGGERS is off).
  std::string running_trigger_;
  // Called after a ROLLBACK TRANSACTION this body (or a procedure it calls)
  // ran inside a trigger; empty elsewhere.
  std::function<void()> after_rollback_;
  // The LOCAL cursors this batch or procedure declared, and its cursor variables.
  CursorMap local_cursors_;
  TableVariables table_variables_;
  // A procedure's body (or EXEC ( )'s): the #temp tables it makes are
  // dropped when it ends, as SQL Server drops them; temp_tables_made_ lists
  // them. A batch's own last as long as the session.
  bool drops_its_temp_tables_ = false;
  // Runs the CREATE TABLE of a table variable's table.
  bool makes_table_variable_ = false;
  std::vector<std::string> temp_tables_made_;
  // The body that called this procedure's; nullptr for a batch.
  BatchExecutor* caller_ = nullptr;
  // The kept parse whose statements run here (a stored procedure's body, a
  // parameterised text sent again); null for a batch parsed for this run.
  std::shared_ptr<const tsql::StatementList> kept_body_;
  // SELECT, INSERT, UPDATE or DELETE as the front end binds it, the binding
  // of a kept body's statement kept for its next run (bound_texts.h);
  // nullopt for a statement of another kind. Throws as FrontEndSelect.
  std::optional<tsql::SqliteText> BindRowStatement(const tsql::Statement& statement);
  // Checks `statement`'s syntax with `check` unless a statement of its
  // shape passed before in this session (bound_texts.h).
  void CheckShapeSyntax(const tsql::Statement& statement,
                        void (*check)(const tsql::Statement&));
  // The shapes whose syntax passed in this batch (at most kParsedShapes).
  static constexpr std::size_t kParsedShapes = 1024;
  std::unordered_set<std::string> parsed_shapes_;
  // The shape key CheckShapeSyntax made for `of` (when `made`), for the
  // binding ahead of the same statement in the same pass to use rather than
  // make again; `of` is set only for the statement that pass reads now.
  struct ShapeMade {
    const tsql::Statement* of = nullptr;
    std::string key;
    bool made = false;
  };
  ShapeMade shape_made_;
  // The context BindRowStatement read for the statement it bound last, for
  // that statement's compilation to be kept under; taken by its first user.
  std::optional<StatementCache::Context> bound_context_;
  // DECLARE @t TABLE (...): makes the variable's table (no DONE, as DECLARE).
  void DeclareTableVariable(const tsql::Statement& statement, size_t open);
  // The statement with its table variables named by their tables, when it has any.
  std::optional<tsql::Statement> WithTableVariables(const tsql::Statement& statement);
  // Rolls back as `rollback` does, keeping the rows of the table variables
  // of this body and its callers.
  void RollbackKeepingTableVariables(const std::function<void()>& rollback);
};

}  // namespace sqlengine::exec
