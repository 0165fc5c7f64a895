#include "engine/exec/session.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "engine/common/after_response.h"
#include "engine/common/bulk_load_abandoned.h"
#include "engine/exec/arithmetic_errors.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/bulk_insert.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/checkpoint_hold.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/cursor_row_changes.h"
#include "engine/exec/database_access.h"
#include "engine/exec/database_context.h"
#include "engine/exec/database_options.h"
#include "engine/exec/durable_results.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/identity_scope.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/permission_bits.h"
#include "engine/exec/procedures.h"
#include "engine/exec/process_procedures.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/system_procedures.h"
#include "engine/exec/table_function_rows.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/user_types.h"
#include "engine/exec/value_conversion.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// The command sp_who shows for a batch: its first word, upper case.
std::string FirstWordOf(std::string_view batch) {
  size_t begin = batch.find_first_not_of(" \t\r\n;(");
  if (begin == std::string_view::npos) return "AWAITING COMMAND";
  size_t end = begin;
  while (end < batch.size() && std::isalpha(static_cast<unsigned char>(batch[end]))) ++end;
  std::string word(batch.substr(begin, std::min<size_t>(end - begin, 16)));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (word == "EXEC") word = "EXECUTE";
  return word.empty() ? "AWAITING COMMAND" : word;
}

}  // namespace

// A request in the registry while it runs; when it ends, the session's
// #temp tables as it left them.
class RequestActivity {
 public:
  RequestActivity(Session& session, const std::string& command) : session_(session) {
    // An evicted session's connection ends before it does anything more.
    if (!session_.engine_.Sessions().Started(session_.spid_, command)) throw ClientGone{};
    session_.SettleUsedDatabase();
  }
  ~RequestActivity() {
    session_.PublishTempTables();
    session_.engine_.Sessions().Finished(session_.spid_);
  }
  RequestActivity(const RequestActivity&) = delete;
  RequestActivity& operator=(const RequestActivity&) = delete;

 private:
  Session& session_;
};

Session::Session(EngineImpl& engine, catalog::LoginEntry login, int spid)
    : engine_(engine),
      login_(std::move(login)),
      spid_(spid),
      connection_(engine, cancelled_, *this, spid),
      rights_(engine, login_, connection_) {
  connection_.Authorizer().SetPolicy(&rights_);
  connection_.FollowRules(
      [this] { return engine_.SecurityGeneration() * 1000003 + rights_.ChainContext(); });
}

Session::~Session() {
  DropOwnGlobalTempTables();
  engine_.Sessions().Leave(spid_);
  std::string database = connection_.Database();
  connection_.Close();
  engine_.Locks().Release(spid_);
  if (!database.empty()) engine_.Usage().Release(database);
}

void Session::DropOwnGlobalTempTables() {
  std::vector<std::string> names = engine_.GlobalTemps().TakeMadeBy(spid_);
  if (names.empty() || connection_.Handle() == nullptr) return;
  // What the session left open is rolled back first, as its end would; the
  // drop waits for tempdb's write lock like any writer, so a statement of
  // another session that writes the table ends first.
  std::string sql = "WHILE @@TRANCOUNT > 0 ROLLBACK TRANSACTION\n";
  for (const std::string& name : names) {
    std::string quoted = BracketQuoted(name);
    sql += "IF OBJECT_ID(" + tsql::QuoteSqliteString("tempdb.." + quoted) +
           ") IS NOT NULL DROP TABLE tempdb.." + quoted + "\n";
  }
  cancelled_ = false;
  try {
    DiscardingSink sink;
    tsql::QuotedIdentifierScope quoting(true);
    RunBatch(sql, sink);
    connection_.MakeCommitsDurable();
  } catch (const std::exception& failure) {
    engine_.EngineLog().Error(std::string("Dropping the global temporary tables of session ") +
                              std::to_string(spid_) + ": " + failure.what());
  } catch (...) {
    engine_.EngineLog().Error("Dropping the global temporary tables of session " +
                              std::to_string(spid_) + " failed");
  }
}

catalog::DatabaseEntry Session::DatabaseToUse(std::string_view database) {
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  if (!entry) throw MakeError(911, {database});
  bool may_use = false;
  try {
    may_use = rights_.MayUse(*entry);
  } catch (const std::runtime_error& failure) {
    engine_.EngineLog().Error(failure.what());
    throw MakeError(911, {database});
  }
  if (!may_use) throw MakeError(916, {login_.name, entry->name});
  CheckDatabaseEntry(*this, *entry);
  return *entry;
}

void Session::UseDatabase(std::string_view database, ResultSink* sink, int line) {
  catalog::DatabaseEntry entry = DatabaseToUse(database);
  std::string previous = connection_.UnqualifiedDatabase();
  std::string opened = connection_.Database();
  if (tran_count_ > 0) {
    // Reopening the connection would end the transaction: the database
    // joins it instead.
    connection_.ResolveUnqualifiedIn(tsql::EqualsIgnoreCase(entry.name, connection_.Database())
                                         ? std::string("main")
                                         : connection_.SchemaFor(entry.name));
  } else {
    if (!engine_.Usage().Acquire(entry.name)) throw MakeError(911, {database});
    try {
      connection_.Open(entry);
    } catch (const std::runtime_error& failure) {
      engine_.Usage().Release(entry.name);
      engine_.EngineLog().Error(failure.what());
      throw MakeError(911, {database});
    }
    connection_.ResolveUnqualifiedIn("main");
    if (!opened.empty()) engine_.Usage().Release(opened);
    engine_.Sessions().UseDatabase(spid_, entry.name);
  }
  if (sink != nullptr) {
    EnvChange change;
    change.kind = EnvChangeKind::kDatabase;
    change.new_value = entry.name;
    change.old_value = previous;
    sink->Environment(change);
    ServerMessage message = FormatMessage(5701, {entry.name});
    message.line = line;
    sink->Message(message);
  }
}

void Session::SettleUsedDatabase() {
  if (tran_count_ > 0 || database_stretches_ > 0 || !connection_.ResolvesElsewhere()) return;
  std::string database = connection_.UnqualifiedDatabase();
  connection_.ResolveUnqualifiedIn("main");
  try {
    UseDatabase(database, nullptr, 0);
  } catch (const SqlError& error) {
    engine_.EngineLog().Error("Session " + std::to_string(spid_) + " could not move to " +
                              database + ": " + error.message().text);
  }
}

bool Session::IsSysadmin() { return rights_.IsSysadmin(); }

void Session::SetClient(const LoginRequest& request) {
  client_.app_name = request.app_name;
  client_.host_name = request.host_name;
  client_.client_pid = request.client_pid;
  // An ODBC-style login sets CURSOR_CLOSE_ON_COMMIT OFF for itself; any
  // other follows its database's 'cursor close on commit'.
  if (request.odbc) options_.cursor_close_on_commit = false;
  SessionActivity activity;
  activity.spid = spid_;
  activity.login = login_.name;
  activity.host = request.host_name;
  activity.program = request.app_name;
  activity.database = connection_.Database();
  activity.command = "AWAITING COMMAND";
  activity.login_time = activity.last_batch = std::chrono::system_clock::now();
  engine_.Sessions().Enter(activity,
                           {[this] { Cancel(); }, [this] { LeaveEvictedDatabase(); }, {}, {}});
}

void Session::SetDisconnect(std::function<void()> disconnect) {
  engine_.Sessions().SetDisconnect(spid_, std::move(disconnect));
}

void Session::SetClientGone(std::function<bool()> client_gone) {
  engine_.Sessions().SetClientGone(spid_, std::move(client_gone));
}

void Session::LeaveEvictedDatabase() {
  std::string database = connection_.Database();
  connection_.Close();
  engine_.Locks().Release(spid_);
  if (!database.empty()) engine_.Usage().Release(database);
  tran_count_ = 0;
  savepoints_.clear();
}

Value Session::CallUserFunction(const std::vector<std::string>& name,
                                const std::vector<Value>& arguments) {
  // A stored call of a table in another database is that database's function.
  const std::string& stored = connection_.Authorizer().StoredCallsSchema();
  if (!stored.empty() && name.size() == 1) {
    return RunScalarFunction(*this, {connection_.DatabaseOfSchema(stored), "", name[0]},
                             arguments);
  }
  return RunScalarFunction(*this, name, arguments);
}

std::string Session::CallTableFunction(const std::vector<std::string>& name,
                                       const std::vector<Value>& arguments) {
  return RunTableFunction(*this, name, arguments);
}

Value Session::EvaluateBuiltin(std::string_view name, const std::vector<Value>& arguments) {
  // A stored call of a table in another database looks names up there.
  std::string stored = connection_.Authorizer().StoredCallsSchema();
  if (stored.empty()) return RunBuiltin(*this, name, arguments);
  SessionConnection::UnqualifiedNamesIn names_in(connection_, std::move(stored));
  return RunBuiltin(*this, name, arguments);
}

std::optional<Value> Session::DatabasePropertyOf(std::string_view database,
                                                 std::string_view property, bool extended) {
  return DatabaseProperty(engine_, database, property, extended);
}

std::optional<int> Session::ServerRoleMember(std::string_view role,
                                             std::optional<std::string_view> login) {
  if (!catalog::IsServerRole(role)) return std::nullopt;
  std::string name = login ? std::string(*login) : login_.name;
  if (login && !engine_.Catalog().FindLogin(name)) return std::nullopt;
  return engine_.Catalog().IsRoleMember(role, name) ? 1 : 0;
}

bool Session::WaitCancelled(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(cancel_mutex_);
  return cancel_signal_.wait_until(lock, deadline, [&] { return cancelled_.load(); });
}

void Session::Cancel() {
  {
    std::lock_guard lock(cancel_mutex_);
    cancelled_ = true;
  }
  cancel_signal_.notify_all();
  connection_.Interrupt();
}

namespace {

// Whether the batch may be an INSERT BULK (the words as a bulk-copy client
// writes them), before it is lexed.
bool MayBeInsertBulk(std::string_view sql) {
  constexpr std::string_view kSpace = " \t\r\n";
  std::size_t insert = sql.find_first_not_of(kSpace);
  if (insert == std::string_view::npos || !tsql::EqualsIgnoreCase(sql.substr(insert, 6), "insert"))
    return false;
  std::size_t bulk = sql.find_first_not_of(kSpace, insert + 6);
  return bulk != insert + 6 && bulk != std::string_view::npos &&
         tsql::EqualsIgnoreCase(sql.substr(bulk, 4), "bulk");
}

}  // namespace

std::optional<std::string> Session::DatabaseUserName(std::optional<int> uid) {
  // Called while a user statement runs: the rights may need reading from the
  // engine's own tables, which the statement's authorizer otherwise refuses.
  StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
  const DatabaseRights& rights = rights_.InCurrent();
  if (!uid) return rights.UserName();
  if (const Principal* user = rights.Security().FindUid(*uid)) return user->name;
  if (*uid == kDboUid) return std::string("dbo");
  return std::nullopt;
}

std::optional<int> Session::DatabaseRoleMember(std::string_view role) {
  StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
  const DatabaseRights& rights = rights_.InCurrent();
  const Principal* found = rights.Security().Find(role);
  if (found == nullptr || !found->is_role) return std::nullopt;
  if (!rights.HasAccess()) return 0;
  // dbo is a member of db_owner; other roles hold whom they were given.
  if (rights.IsDbo() && tsql::EqualsIgnoreCase(found->name, "db_owner")) return 1;
  return rights.Security().Closure(*rights.Uid()).count(found->uid) > 0 ? 1 : 0;
}

std::optional<int> Session::DatabaseAccess(std::string_view database) {
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  if (!entry) return std::nullopt;
  try {
    return rights_.MayUse(*entry) ? 1 : 0;
  } catch (const SqlError&) {
    return 0;  // a database that cannot be read now is one nobody can use
  }
}

std::string Session::ProcessRows() { return ProcessRowsJson(engine_); }

std::string Session::TempTablesElsewhere() {
  // {"sysobjects": [rows...], "syscolumns": [rows...]}
  std::string json = "{";
  for (std::string_view view : kViewsShownElsewhere) {
    if (json.size() > 1) json += ",";
    json += "\"" + std::string(view) + "\":" + engine_.Sessions().TempRowsElsewhere(spid_, view);
  }
  return json + "}";
}

void Session::PublishTempTables() {
  sqlite3* db = connection_.Handle();
  try {
    std::int64_t version = 0;
    if (db != nullptr) {
      StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
      auto read = catalog::Prepare(db, "PRAGMA temp.schema_version");
      if (sqlite3_step(read.get()) == SQLITE_ROW) version = sqlite3_column_int64(read.get(), 0);
    }
    if (version == published_temp_schema_) return;
    std::map<std::string, std::string, std::less<>> rows;
    if (db != nullptr) {
      StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
      for (std::string_view view : kViewsShownElsewhere) rows.emplace(view, TempCatalogRows(db, view));
    }
    engine_.Sessions().PublishTempTables(spid_, std::move(rows));
    published_temp_schema_ = version;
  } catch (const std::exception& failure) {
    engine_.EngineLog().Error(std::string("publishing the temporary tables: ") + failure.what());
  }
}

std::optional<int> Session::ConfigurationInUse(std::string_view option) {
  return OptionInUse(engine_.Configuration(), option);
}

std::optional<int> Session::SessionSetting(std::string_view option) {
  return SessionProperty(options_, quoted_identifier_, option);
}

int Session::StatementPermissions() {
  StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
  const DatabaseRights& rights = rights_.InCurrent();
  // CREATE DATABASE counts in master only: sysadmin and dbcreator make
  // databases, as do the users master grants it to.
  bool in_master = tsql::EqualsIgnoreCase(rights.Database(), "master");
  bool create_database =
      in_master && (IsSysadmin() || engine_.Catalog().IsRoleMember("dbcreator", login_.name) ||
                    !rights.Check({}, Access::kCreateDatabase).has_value());
  bool grant_create_database = in_master && rights.CanGrant({}, Access::kCreateDatabase);
  return StatementPermissionBits(rights, create_database, grant_create_database);
}

std::optional<int> Session::ObjectPermissions(std::string_view schema, std::string_view object,
                                              std::string_view xtype,
                                              const std::vector<std::string>& columns,
                                              std::optional<std::string_view> column) {
  StatementAuthorizer::EngineScope engine_sql(connection_.Authorizer());
  if (schema == "main")
    return ObjectPermissionBits(rights_.InCurrent(), object, xtype, columns, column);
  std::string database = connection_.DatabaseOfSchema(schema);
  // A schema no database is attached as holds nothing the login may use.
  if (database.empty()) return 0;
  return ObjectPermissionBits(rights_.In(database, schema), object, xtype, columns, column);
}

std::string Session::ExtendedPropertyRows(const std::vector<Value>& arguments) {
  return ListExtendedProperties(*this, arguments);
}

bool Session::SyntaxPassed(const std::shared_ptr<const tsql::StatementList>& body) const {
  return std::any_of(syntax_passed_.begin(), syntax_passed_.end(),
                     [&](const auto& passed) { return passed.lock() == body; });
}

void Session::NoteSyntaxPassed(const std::shared_ptr<const tsql::StatementList>& body) {
  // A body no longer kept is forgotten; the rest go when too many are noted.
  std::erase_if(syntax_passed_, [](const auto& passed) { return passed.expired(); });
  if (syntax_passed_.size() >= kSyntaxPassedKept) syntax_passed_.clear();
  syntax_passed_.push_back(body);
}

void Session::ExecuteBatch(const std::string& sql_utf8, ResultSink& client) {
  cancelled_ = false;
  RequestActivity activity(*this, FirstWordOf(sql_utf8));
  pending_bulk_insert_.reset();
  DateSettingsScope dates(date_settings_);
  ArithmeticErrorsScope arithmetic(options_, arithmetic_owed_);
  DurableResults durable(client, connection_);
  TextSizeSink sink(durable, text_size_);
  tsql::QuotedIdentifierScope quoting(quoted_identifier_);
  DatabaseUserTypes user_types(*this);
  tsql::UserTypeScope types(&user_types);
  IdentityScope identity_scope(*this);
  if (MayBeInsertBulk(sql_utf8)) {
    PrepareBulkInsert(sql_utf8, sink);
  } else {
    RunBatch(sql_utf8, sink);
  }
  connection_.MakeCommitsDurable();
}

void Session::PrepareBulkInsert(const std::string& sql, ResultSink& sink) {
  BatchExecutor executor(*this, sink);
  try {
    tsql::Tokens tokens = tsql::LexClientText(sql);
    if (!IsInsertBulk(tokens)) {
      RunBatch(sql, sink);
      return;
    }
    BulkInsertStatement statement = ParseInsertBulk(tokens);
    bulk_target_ = CheckBulkInsertTarget(*this, statement, bulk_target_);
    pending_bulk_insert_ = std::move(statement);
    sink.Done({});
  } catch (const SqlError& error) {
    executor.ReportError(error);
  }
  connection_.ReleaseAttachments();
}

void Session::BulkLoad(BulkRowSource& rows, ResultSink& client) {
  RequestActivity activity(*this, "BULK INSERT");
  cancelled_ = false;
  std::optional<BulkInsertStatement> statement = std::move(pending_bulk_insert_);
  pending_bulk_insert_.reset();
  DateSettingsScope dates(date_settings_);
  ArithmeticErrorsScope arithmetic(options_, arithmetic_owed_);
  DurableResults sink(client, connection_);
  BatchExecutor executor(*this, sink);
  // The load's DONE goes out once its commit is synced, before the
  // checkpoint the commit may have made due, which runs once the answer is
  // sent: the client frames its next batch meanwhile.
  std::optional<CheckpointHold> held(std::in_place);
  try {
    // Data that no INSERT BULK announced is a stream out of order.
    if (!statement) throw MakeError(4002);
    auto fire = [&](const std::string& schema, const std::string& table, const RowImages& images,
                    std::int64_t count, bool instead) {
      return executor.FireBulkInsertTriggers(schema, table, images, count, instead,
                                             statement->line);
    };
    std::optional<std::int64_t> inserted =
        InsertBulkRows(*this, *statement, bulk_target_, rows, fire);
    if (inserted) {
      row_count_ = *inserted;
      sink.Done({*inserted, false});
    } else {
      SyncTransactionState(&sink);
    }
  } catch (const exec::Cancelled&) {
    SyncTransactionState(nullptr);
  } catch (const BulkLoadAbandoned&) {
    // The load's rows went back with its savepoint. Under ATTENTION the wire
    // layer answers DONE(ATTN) instead.
    SyncTransactionState(nullptr);
    sink.Done({std::nullopt, true});
  } catch (const SqlError& error) {
    SyncTransactionState(&sink);
    executor.ReportError(error);
  } catch (...) {
    connection_.ReleaseAttachments();
    throw;
  }
  connection_.ReleaseAttachments();
  connection_.MakeCommitsDurable();
  held.reset();
  SetAfterResponse([this] {
    try {
      connection_.MakeCommitsDurable();
    } catch (const std::exception& failure) {
      engine_.EngineLog().Error(failure.what());
    }
  });
}

std::shared_ptr<const tsql::StatementList> Session::KeptParse(const std::string& sql) {
  std::string key = (tsql::QuotedIdentifiers() ? "1" : "0") + sql;
  if (auto it = kept_parses_.find(key); it != kept_parses_.end()) return it->second;
  BoundTexts::Notes notes;
  std::shared_ptr<const tsql::StatementList> parsed;
  {
    // A user type the parse read is noted (user_types.h).
    SessionConnection::Recording recording(connection_, &notes);
    parsed = std::make_shared<const tsql::StatementList>(tsql::ParseBatch(sql));
  }
  if (!notes.keepable || sql.size() > kLongestKeptParse) return parsed;
  if (kept_parses_.size() >= kKeptParses) kept_parses_.clear();
  kept_parses_.emplace(std::move(key), parsed);
  return parsed;
}

void Session::RunBatch(const std::string& sql, ResultSink& sink,
                       const std::function<void()>& before_end, bool keep_parse) {
  BatchExecutor executor(*this, sink);
  executor.SetSourceText(sql);
  try {
    tsql::StatementList statements;
    std::shared_ptr<const tsql::StatementList> kept;
    try {
      if (keep_parse) {
        kept = KeptParse(sql);
      } else {
        // Its statements refer to `sql`, which outlives them.
        statements = tsql::ParseBatchDeferringTokens(sql);
      }
    } catch (const SqlError& error) {
      executor.ReportError(error);
      return;
    }
    if (kept) {
      executor.RunKept(kept);
    } else {
      executor.Run(statements);
    }
    if (before_end) before_end();
  } catch (const exec::Cancelled&) {
    SyncTransactionState(nullptr);
  } catch (...) {
    variables_.clear();
    connection_.ReleaseAttachments();
    throw;
  }
  variables_.clear();
  connection_.ReleaseAttachments();
}

namespace {

std::string TextOf(const Value& value) { return IsNull(value) ? std::string() : ValueText(value); }

std::optional<std::int64_t> IntegerOf(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* text = std::get_if<std::string>(&value)) {
    try {
      return std::stoll(*text);
    } catch (const std::exception&) {
    }
  }
  return std::nullopt;
}

// Declares `declarations` as variables and gives them the values of
// params[first_value...], in order or by name; returns (parameter index,
// variable) of the OUTPUT ones.
std::vector<std::pair<size_t, std::string>> DeclareParameters(
    std::map<std::string, Variable>& variables, const std::string& declarations,
    const std::vector<RpcParam>& params, size_t first_value) {
  std::vector<tsql::ParameterDeclaration> declared =
      declarations.empty() ? std::vector<tsql::ParameterDeclaration>()
                           : tsql::ParseParameterDeclarations(tsql::Lex(declarations));
  for (const tsql::ParameterDeclaration& parameter : declared) {
    variables[tsql::ToLower(parameter.name)] = Variable{parameter.type, Value{}, std::nullopt};
  }
  std::vector<std::pair<size_t, std::string>> outputs;
  for (size_t i = first_value, position = 0; i < params.size(); ++i, ++position) {
    const RpcParam& param = params[i];
    std::string name =
        param.name.empty() && position < declared.size() ? declared[position].name : param.name;
    auto it = variables.find(tsql::ToLower(name));
    if (it == variables.end()) throw MakeError(8145, {name, "sp_executesql"});
    it->second.value = ConvertForType(param.value, it->second.type);
    if (param.output) outputs.emplace_back(i, it->first);
  }
  return outputs;
}

}  // namespace

std::vector<OutputValue> Session::RunParameterised(const std::string& statement,
                                                   const std::string& declarations,
                                                   const std::vector<RpcParam>& params,
                                                   size_t first_value, ResultSink& sink) {
  std::vector<std::pair<size_t, std::string>> outputs =
      DeclareParameters(variables_, declarations, params, first_value);
  std::vector<OutputValue> values;
  RunBatch(
      statement, sink,
      [&] {
        for (const auto& [index, variable] : outputs) {
          const RpcParam& param = params[index];
          values.push_back({static_cast<int>(index), param.name, param.type,
                            ConvertForType(variables_[variable].value, param.type)});
        }
      },
      /*keep_parse=*/true);
  return values;
}

std::optional<std::vector<Row>> Session::RunCursorStatement(const tsql::Statement& select,
                                                            const std::string& declarations,
                                                            const std::vector<RpcParam>& params,
                                                            CursorSeeks& seeks,
                                                            ResultSink& sink) {
  DeclareParameters(variables_, declarations, params, 0);
  BatchExecutor executor(*this, sink);
  std::optional<std::vector<Row>> rows;
  try {
    RefreshReadSnapshot(*this);
    rows = executor.RunCursorStatement(select, seeks);
  } catch (const SqlError& error) {
    executor.ReportError(error);
  } catch (...) {
    variables_.clear();
    connection_.ReleaseAttachments();
    throw;
  }
  variables_.clear();
  connection_.ReleaseAttachments();
  return rows;
}

void Session::ExecuteRpc(const RpcCall& call, ResultSink& client) {
  cancelled_ = false;
  RequestActivity activity(*this, "EXECUTE");
  pending_bulk_insert_.reset();
  DateSettingsScope dates(date_settings_);
  ArithmeticErrorsScope arithmetic(options_, arithmetic_owed_);
  DurableResults durable(client, connection_);
  TextSizeSink sink(durable, text_size_);
  tsql::QuotedIdentifierScope quoting(quoted_identifier_);
  DatabaseUserTypes user_types(*this);
  tsql::UserTypeScope types(&user_types);
  IdentityScope identity_scope(*this);
  BatchExecutor executor(*this, sink);
  std::string name = tsql::ToLower(
      call.name.substr(call.name.rfind('.') == std::string::npos ? 0 : call.name.rfind('.') + 1));
  auto param = [&](size_t i) { return i < call.params.size() ? call.params[i].value : Value{}; };
  try {
    if (call.proc_id == SpecialProc::kExecuteSql || name == "sp_executesql") {
      if (call.params.empty()) throw MakeError(201, {"sp_executesql", "@statement"});
      std::vector<OutputValue> outputs =
          RunParameterised(TextOf(param(0)), TextOf(param(1)), call.params, 2, sink);
      sink.ReturnStatus(0);
      for (const OutputValue& output : outputs) sink.ReturnValue(output);
    } else if (call.proc_id == SpecialProc::kPrepExec || call.proc_id == SpecialProc::kPrepare ||
               name == "sp_prepexec" || name == "sp_prepare") {
      bool execute = call.proc_id == SpecialProc::kPrepExec || name == "sp_prepexec";
      int handle = next_prepared_++;
      prepared_[handle] = {TextOf(param(2)), TextOf(param(1))};
      std::vector<OutputValue> outputs;
      if (execute) {
        outputs = RunParameterised(prepared_[handle].first, prepared_[handle].second, call.params,
                                   3, sink);
      } else {
        DescribeResult(prepared_[handle].first, prepared_[handle].second, sink);
      }
      sink.ReturnStatus(0);
      sink.ReturnValue({0, call.params.empty() ? std::string("@handle") : call.params[0].name,
                        ColumnType{SqlType::kInt}, static_cast<std::int64_t>(handle)});
      for (const OutputValue& output : outputs) sink.ReturnValue(output);
    } else if (call.proc_id == SpecialProc::kExecute || name == "sp_execute") {
      std::optional<std::int64_t> handle = IntegerOf(param(0));
      auto it = handle ? prepared_.find(static_cast<int>(*handle)) : prepared_.end();
      if (it == prepared_.end())
        throw MakeError(8179, {handle ? std::to_string(*handle) : std::string("NULL")});
      std::vector<OutputValue> outputs =
          RunParameterised(it->second.first, it->second.second, call.params, 1, sink);
      sink.ReturnStatus(0);
      for (const OutputValue& output : outputs) sink.ReturnValue(output);
    } else if (call.proc_id == SpecialProc::kUnprepare || name == "sp_unprepare") {
      std::optional<std::int64_t> handle = IntegerOf(param(0));
      if (handle) prepared_.erase(static_cast<int>(*handle));
      sink.ReturnStatus(0);
    } else if (!cursors_.Run(call, name, sink)) {
      CallByName(call, executor, sink);
    }
  } catch (const exec::Cancelled&) {
    SyncTransactionState(nullptr);
  } catch (const SqlError& error) {
    executor.ReportError(error);
  }
  variables_.clear();
  connection_.ReleaseAttachments();
  connection_.MakeCommitsDurable();
}

namespace {

// Passes on the first result's columns and every message; rows, counts and
// further results are the statement's run, not its description.
class ColumnsOnlySink final : public ResultSink {
 public:
  explicit ColumnsOnlySink(ResultSink& client) : client_(client) {}
  void BeginResult(const std::vector<Column>& columns) override {
    if (!described_) client_.BeginResult(columns);
    described_ = true;
  }
  void AddRow(const Row&) override {}
  void Message(const ServerMessage& message) override { client_.Message(message); }
  void Done(const StatementDone&) override {}
  void ReturnStatus(std::int32_t) override {}
  void ReturnValue(const OutputValue&) override {}
  void Environment(const EnvChange&) override {}

 private:
  ResultSink& client_;
  bool described_ = false;
};

// A SELECT that writes nothing (no INTO): safe to run for its columns.
bool IsPlainSelect(const std::string& statement) {
  tsql::Tokens tokens = tsql::Lex(statement);
  if (tokens.empty() || !tokens.front().IsWord("select")) return false;
  for (const tsql::Token& token : tokens) {
    if (token.IsWord("into")) return false;
  }
  return true;
}

}  // namespace

void Session::DescribeResult(const std::string& statement, const std::string& declarations,
                             ResultSink& sink) {
  if (!IsPlainSelect(statement)) return;
  ColumnsOnlySink columns(sink);
  const std::int64_t row_limit = row_count_limit_;
  row_count_limit_ = 1;
  try {
    RunParameterised(statement, declarations, {}, 0, columns);
  } catch (...) {
    row_count_limit_ = row_limit;
    throw;
  }
  row_count_limit_ = row_limit;
}

void Session::CallByName(const RpcCall& call, BatchExecutor& executor, ResultSink& sink) {
  std::vector<CallArgument> arguments;
  for (const RpcParam& param : call.params) {
    arguments.push_back(CallArgument{param.name, param.value, param.is_default, param.output});
  }
  int number = 1;
  tsql::DottedName procedure = ReadRpcProcedureName(call.name, &number);
  // Only a stored procedure has numbers above 1 (p;2).
  std::string name = number == 1 ? tsql::ToLower(procedure.Last()) : std::string();
  DatabaseContext context(*this, sink);
  if (!procedure.Database().empty()) {
    // Staying put (a server-wide procedure), the procedure is still read
    // from db.
    if (!IsServerProcedure(name) && context.Enter(procedure.Database(), HasSystemPrefix(name))) {
      KeepOwnerAndName(procedure);
    }
  }
  if (RunSystemProcedure(*this, name, arguments, sink)) return;
  std::optional<tsql::ProcedureDefinition> definition = FindProcedure(*this, procedure, number);
  if (!definition) throw MakeError(2812, {number == 1 ? procedure.Written() : call.name});
  std::vector<Value> outputs;
  int status = executor.CallProcedure(*definition, arguments, outputs);
  context.Leave();
  sink.ReturnStatus(status);
  std::vector<int> positions = ArgumentPositions(*definition, arguments);
  for (size_t a = 0; a < call.params.size(); ++a) {
    if (!call.params[a].output) continue;
    for (size_t k = 0; k < positions.size(); ++k) {
      if (positions[k] != static_cast<int>(a) || !definition->parameters[k].output) continue;
      // The client reads the value in the type it declared for the
      // parameter, not the procedure's (a smalldatetime output to a datetime
      // parameter arrives as a datetime).
      const ColumnType& declared = call.params[a].type;
      sink.ReturnValue({static_cast<int>(a), call.params[a].name, declared,
                        ConvertForType(outputs[k], declared)});
    }
  }
}

void Session::BeginTransaction(ResultSink& sink, const std::string& name) {
  if (tran_count_ == 0) {
    transaction_name_ = name;
    transaction_security_generation_ = engine_.SecurityGeneration();
    catalog::Exec(connection_.Handle(), "BEGIN");
    transaction_descriptor_ =
        (static_cast<std::uint64_t>(spid_) << 32) | (transaction_descriptor_ + 1);
    EnvChange change;
    change.kind = EnvChangeKind::kBeginTransaction;
    change.transaction_descriptor = transaction_descriptor_;
    sink.Environment(change);
  }
  ++tran_count_;
}

void Session::CommitTransaction(ResultSink& sink, int line) {
  if (tran_count_ == 0) {
    SqlError error = MakeError(3902);
    error.message().line = line;
    throw error;
  }
  if (tran_count_ == 1) {
    int rc = sqlite3_exec(connection_.Handle(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      FailedStatement context{nullptr, "", connection_.Database(), line};
      ThrowSqliteError(connection_.Handle(), rc, context);
    }
    TransactionEnded();
    EnvChange change;
    change.kind = EnvChangeKind::kCommitTransaction;
    change.transaction_descriptor = transaction_descriptor_;
    sink.Environment(change);
  }
  --tran_count_;
}

void Session::RollbackTransaction(ResultSink& sink, int line) {
  if (tran_count_ == 0) {
    SqlError error = MakeError(3903);
    error.message().line = line;
    throw error;
  }
  sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  tran_count_ = 0;
  TransactionEnded();
  EnvChange change;
  change.kind = EnvChangeKind::kRollbackTransaction;
  change.transaction_descriptor = transaction_descriptor_;
  sink.Environment(change);
}

void Session::SyncTransactionState(ResultSink* sink) {
  if (tran_count_ > 0 && connection_.Handle() != nullptr &&
      sqlite3_get_autocommit(connection_.Handle())) {
    tran_count_ = 0;
    TransactionEnded();
    if (sink != nullptr) {
      EnvChange change;
      change.kind = EnvChangeKind::kRollbackTransaction;
      change.transaction_descriptor = transaction_descriptor_;
      sink->Environment(change);
    }
  }
}

bool Session::ClosesCursorsOnCommit() {
  if (options_.cursor_close_on_commit) return *options_.cursor_close_on_commit;
  std::map<std::string, bool> values = DatabaseOptionValues(engine_, CurrentDatabase());
  auto found = values.find("cursor close on commit");
  return found != values.end() && found->second;
}

void Session::TransactionEnded() {
  savepoints_.clear();
  if (ClosesCursorsOnCommit()) {
    tsql_cursors_.CloseAll();
    cursors_.CloseAll();
  }
  engine_.Locks().Release(spid_);
  // A security change made in the transaction moved the generation before
  // it committed (or rolled back): a session that read its rights meanwhile
  // holds the state before it under the new generation. Moving it again
  // makes every session read the state that stands now.
  if (engine_.SecurityGeneration() != transaction_security_generation_) engine_.SecurityChanged();
}

void Session::RolledBackTo(const std::string& name) {
  for (size_t k = savepoints_.size(); k-- > 0;) {
    if (tsql::EqualsIgnoreCase(savepoints_[k], name)) {
      savepoints_.resize(k + 1);
      return;
    }
  }
}

void Session::Transaction(const TmCall& call, ResultSink& client) {
  // Counted as a request, so that another session's eviction never closes
  // the connection under it.
  RequestActivity activity(*this, "TRANSACTION");
  cancelled_ = false;
  pending_bulk_insert_.reset();
  DurableResults sink(client, connection_);
  BatchExecutor executor(*this, sink);
  try {
    switch (call.request) {
      case TransactionRequest::kBegin:
        BeginTransaction(sink);
        break;
      case TransactionRequest::kCommit:
        if (tran_count_ > 0) {
          tran_count_ = 1;
          CommitTransaction(sink, 1);
        }
        if (call.begin_new_after) BeginTransaction(sink);
        break;
      case TransactionRequest::kRollback:
        if (tran_count_ > 0) RollbackTransaction(sink, 1);
        if (call.begin_new_after) BeginTransaction(sink);
        break;
      case TransactionRequest::kSave:
        if (tran_count_ > 0) {
          catalog::Exec(connection_.Handle(), "SAVEPOINT " + tsql::QuoteSqliteName(call.name));
          savepoints_.push_back(call.name);
        }
        break;
      default:
        throw MakeError(50000, {"Distributed transactions are not supported."});
    }
  } catch (const SqlError& error) {
    executor.ReportError(error);
    return;
  }
  sink.Done(StatementDone{});
}

bool Session::MayUseDatabase(std::string_view database) {
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  return entry && rights_.MayUse(*entry);
}

}  // namespace sqlengine::exec
