#include "engine/exec/session.h"

#include "engine/exec/batch_executor.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/tsql/parser.h"

namespace sqlengine::exec {

Session::Session(EngineImpl& engine, catalog::LoginEntry login, int spid)
    : engine_(engine), login_(std::move(login)), spid_(spid), connection_(engine, cancelled_, *this) {}

Session::~Session() {
  std::string database = connection_.Database();
  connection_.Close();
  if (!database.empty()) engine_.Usage().Release(database);
}

void Session::UseDatabase(std::string_view database, ResultSink* sink, int line) {
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  if (!entry) throw MakeError(911, {database});
  if (tran_count_ > 0) throw MakeError(226, {"USE"});
  std::string previous = connection_.Database();
  if (!engine_.Usage().Acquire(entry->name)) throw MakeError(911, {database});
  try {
    connection_.Open(*entry);
  } catch (const std::runtime_error& failure) {
    engine_.Usage().Release(entry->name);
    engine_.EngineLog().Error(failure.what());
    throw MakeError(911, {database});
  }
  if (!previous.empty()) engine_.Usage().Release(previous);
  if (sink != nullptr) {
    EnvChange change;
    change.kind = EnvChangeKind::kDatabase;
    change.new_value = entry->name;
    change.old_value = previous;
    sink->Environment(change);
    ServerMessage message = FormatMessage(5701, {entry->name});
    message.line = line;
    sink->Message(message);
  }
}

bool Session::IsSysadmin() { return engine_.Catalog().IsRoleMember("sysadmin", login_.name); }

std::optional<int> Session::ServerRoleMember(std::string_view role, std::optional<std::string_view> login) {
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

void Session::ExecuteBatch(const std::string& sql_utf8, ResultSink& sink) {
  cancelled_ = false;
  RunBatch(sql_utf8, sink);
}

void Session::RunBatch(const std::string& sql, ResultSink& sink) {
  BatchExecutor executor(*this, sink);
  try {
    tsql::StatementList statements;
    try {
      statements = tsql::ParseBatch(sql);
    } catch (const SqlError& error) {
      executor.ReportError(error);
      return;
    }
    executor.Run(statements);
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

void Session::ExecuteRpc(const RpcCall& call, ResultSink& sink) {
  cancelled_ = false;
  std::string name = tsql::ToLower(call.name.substr(call.name.rfind('.') + 1));
  if (call.proc_id == SpecialProc::kExecuteSql || name == "sp_executesql") {
    // @stmt, then an optional declaration list, then the parameter values.
    if (call.params.empty() || !std::holds_alternative<std::string>(call.params[0].value)) {
      BatchExecutor(*this, sink).ReportError(MakeError(201, {"sp_executesql", "@statement"}));
      return;
    }
    for (size_t i = 2; i < call.params.size(); ++i) {
      const RpcParam& param = call.params[i];
      if (!param.name.empty()) variables_[tsql::ToLower(param.name)] = Variable{param.type, param.value};
    }
    RunBatch(std::get<std::string>(call.params[0].value), sink);
    sink.ReturnStatus(0);
    return;
  }
  BatchExecutor(*this, sink).ReportError(MakeError(2812, {call.name}));
}

void Session::BeginTransaction(ResultSink& sink) {
  if (tran_count_ == 0) {
    catalog::Exec(connection_.Handle(), "BEGIN");
    transaction_descriptor_ = (static_cast<std::uint64_t>(spid_) << 32) | (transaction_descriptor_ + 1);
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
  EnvChange change;
  change.kind = EnvChangeKind::kRollbackTransaction;
  change.transaction_descriptor = transaction_descriptor_;
  sink.Environment(change);
}

void Session::SyncTransactionState(ResultSink* sink) {
  if (tran_count_ > 0 && connection_.Handle() != nullptr && sqlite3_get_autocommit(connection_.Handle())) {
    tran_count_ = 0;
    if (sink != nullptr) {
      EnvChange change;
      change.kind = EnvChangeKind::kRollbackTransaction;
      change.transaction_descriptor = transaction_descriptor_;
      sink->Environment(change);
    }
  }
}

void Session::Transaction(const TmCall& call, ResultSink& sink) {
  cancelled_ = false;
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
        if (tran_count_ > 0) catalog::Exec(connection_.Handle(), "SAVEPOINT \"" + call.name + "\"");
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

}  // namespace sqlengine::exec
