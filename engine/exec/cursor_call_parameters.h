#pragma once
// The parameters of one call of a server cursor procedure, matched to the
// procedure's formal parameters: by name when the client names them
// (@cursor, @stmt ...), else by position, as ODBC drivers and T-SQL callers
// send them. Parameters that match no formal one (the values of a
// parameterised statement, a change's new values) are Rest(). OUTPUT values
// are collected and sent after the return status by Finish(). Lives for one
// call, on the session's thread; refers to the call's parameters.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engine_api.h"

namespace sqlengine::exec {

class CallParameters {
 public:
  CallParameters(std::string_view procedure, const RpcCall& call,
                 std::vector<std::string_view> formals);

  std::string_view Procedure() const { return procedure_; }
  // Passed, not DEFAULT and not NULL.
  bool Given(size_t formal) const;
  // The value as an integer; nullopt when not given or NULL. Throws 16902
  // (naming `parameter`) for a value that is no integer.
  std::optional<std::int64_t> Integer(size_t formal, std::string_view parameter) const;
  // The value as text; empty when not given.
  std::string Text(size_t formal) const;
  const std::vector<RpcParam>& Rest() const { return rest_; }

  // Sends `value` back for `formal` when the client passed it as OUTPUT.
  void Output(size_t formal, Value value);
  void Finish(ResultSink& sink, std::int32_t status = 0);

 private:
  std::string_view procedure_;
  const std::vector<RpcParam>& params_;
  std::vector<std::optional<size_t>> slots_;
  std::vector<RpcParam> rest_;
  std::vector<OutputValue> outputs_;
};

}  // namespace sqlengine::exec
