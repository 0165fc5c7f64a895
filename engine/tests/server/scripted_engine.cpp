#include "engine/tests/server/scripted_engine.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "engine/common/bulk_load_abandoned.h"
#include "engine/common/error.h"

namespace sqlengine::testing {

class ScriptedSession : public SqlSession {
 public:
  explicit ScriptedSession(ScriptedEngine& engine) : engine_(engine), spid_(engine.next_spid_++) {
    ++engine_.open_sessions_;
  }
  ~ScriptedSession() override { --engine_.open_sessions_; }

  void ExecuteBatch(const std::string& sql, ResultSink& sink) override {
    cancel_ = false;
    std::stringstream commands(sql);
    std::string command;
    while (std::getline(commands, command, ';')) {
      std::stringstream words(command);
      std::string verb, rest;
      words >> verb;
      std::getline(words >> std::ws, rest);
      Run(verb, rest, sink);
    }
  }

  void ExecuteRpc(const RpcCall& call, ResultSink& sink) override {
    std::vector<Column> columns;
    Row row;
    for (const RpcParam& p : call.params) {
      columns.push_back({p.name, p.type});
      row.push_back(p.value);
    }
    sink.BeginResult(columns);
    sink.AddRow(row);
    sink.Done({1, false});
    sink.ReturnStatus(static_cast<std::int32_t>(call.params.size()));
    for (std::size_t i = 0; i < call.params.size(); ++i) {
      if (call.params[i].output) {
        sink.ReturnValue(
            {static_cast<int>(i), call.params[i].name, call.params[i].type, call.params[i].value});
      }
    }
  }

  void Transaction(const TmCall& call, ResultSink& sink) override {
    EnvChange change;
    change.kind = call.request == TransactionRequest::kBegin ? EnvChangeKind::kBeginTransaction
                                                             : EnvChangeKind::kCommitTransaction;
    change.transaction_descriptor = 0x1122334455667788;
    sink.Environment(change);
    sink.Done({});
  }

  void BulkLoad(BulkRowSource& rows, ResultSink& sink) override {
    Row row;
    std::vector<Row> read;
    try {
      while (rows.Next(row)) read.push_back(row);
    } catch (const SqlError& error) {
      sink.Message(error.message());
      sink.Done({std::nullopt, true});
      return;
    } catch (const BulkLoadAbandoned&) {
      sink.Done({std::nullopt, true});
      return;
    }
    sink.BeginResult(rows.Columns());
    for (const Row& r : read) sink.AddRow(r);
    sink.Done({static_cast<std::int64_t>(read.size()), false});
  }

  void Cancel() override { cancel_ = true; }
  std::string CurrentDatabase() const override { return database_; }
  int Spid() const override { return spid_; }

 private:
  void Run(const std::string& verb, const std::string& rest, ResultSink& sink) {
    if (verb == "rows" || verb == "wide") {
      int count = std::stoi(rest);
      ColumnType text{SqlType::kNVarChar, verb == "wide" ? 2000 : 20};
      sink.BeginResult({{"n", {SqlType::kInt}}, {"s", text}});
      for (int i = 0; i < count && !cancel_; ++i) {
        std::string s = verb == "wide" ? std::string(2000, static_cast<char>('a' + i % 26))
                                       : "row " + std::to_string(i);
        sink.AddRow({static_cast<std::int64_t>(i), s});
      }
      sink.Done({count, false});
    } else if (verb == "print") {
      ServerMessage m;
      m.text = rest;
      sink.Message(m);
      sink.Done({});
    } else if (verb == "error") {
      sink.Message(FormatMessage(std::stoi(rest), {"nosuch"}));
      sink.Done({std::nullopt, true});
    } else if (verb == "rows_print") {
      sink.BeginResult({{"n", {SqlType::kInt}}});
      sink.AddRow({std::int64_t{1}});
      ServerMessage m;
      m.text = "between rows";
      sink.Message(m);
      sink.AddRow({std::int64_t{2}});
      sink.Done({2, false});
    } else if (verb == "echo") {
      sink.BeginResult({{"text", {SqlType::kNVarChar, kMaxLength}}});
      sink.AddRow({rest});
      sink.Done({1, false});
    } else if (verb == "misfit") {
      // An int column, then a row holding what it cannot: `rest` as text,
      // or as a number when it is all digits.
      sink.BeginResult({{"n", {SqlType::kInt}}});
      sink.AddRow({std::int64_t{1}});
      bool digits = !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
      sink.AddRow({digits ? Value(std::stoll(rest)) : Value(rest)});
      sink.Done({2, false});
    } else if (verb == "wait") {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      ++engine_.waiting_;
      while (!cancel_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      --engine_.waiting_;
      if (cancel_) ++engine_.cancelled_;
      sink.Done({});
    } else if (verb == "use") {
      std::string old = database_;
      database_ = rest;
      sink.Environment({EnvChangeKind::kDatabase, database_, old, 0});
      sink.Message(FormatMessage(5701, {database_}));
      sink.Done({});
    }
  }

  ScriptedEngine& engine_;
  int spid_;
  std::string database_ = "master";
  std::atomic<bool> cancel_{false};
};

LoginResult ScriptedEngine::Login(const LoginRequest& request) {
  LoginResult result;
  if (request.integrated) {
    result.messages.push_back(FormatMessage(18452, {""}));
  } else if (request.user != "sa" || !request.password.empty()) {
    result.messages.push_back(FormatMessage(18456, {request.user}));
  } else {
    result.session = std::make_unique<ScriptedSession>(*this);
    result.messages.push_back(FormatMessage(5701, {"master"}));
    result.messages.push_back(FormatMessage(5703, {"us_english"}));
  }
  return result;
}

}  // namespace sqlengine::testing
