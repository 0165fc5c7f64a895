#include "engine/exec/cursor_call_parameters.h"

#include <algorithm>

#include "engine/common/error.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

CallParameters::CallParameters(std::string_view procedure, const RpcCall& call,
                               std::vector<std::string_view> formals)
    : procedure_(procedure), params_(call.params), slots_(formals.size()) {
  size_t position = 0;
  for (size_t i = 0; i < params_.size(); ++i) {
    const RpcParam& param = params_[i];
    size_t slot = formals.size();
    if (!param.name.empty()) {
      for (size_t k = 0; k < formals.size(); ++k) {
        if (tsql::EqualsIgnoreCase(param.name, formals[k])) slot = k;
      }
    } else if (position < formals.size()) {
      slot = position++;
    }
    if (slot < formals.size() && !slots_[slot]) {
      slots_[slot] = i;
    } else {
      rest_.push_back(param);
    }
  }
}

bool CallParameters::Given(size_t formal) const {
  return slots_[formal] && !params_[*slots_[formal]].is_default &&
         !IsNull(params_[*slots_[formal]].value);
}

std::optional<std::int64_t> CallParameters::Integer(size_t formal,
                                                    std::string_view parameter) const {
  if (!Given(formal)) return std::nullopt;
  const Value& value = params_[*slots_[formal]].value;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  try {
    const Value converted = ConvertForType(value, ColumnType{SqlType::kBigInt});
    if (const auto* number = std::get_if<std::int64_t>(&converted)) return *number;
  } catch (const SqlError&) {
  }
  throw MakeError(16902, {procedure_, parameter});
}

std::string CallParameters::Text(size_t formal) const {
  return Given(formal) ? ValueText(params_[*slots_[formal]].value) : std::string();
}

void CallParameters::Output(size_t formal, Value value) {
  if (!slots_[formal] || !params_[*slots_[formal]].output) return;
  const size_t index = *slots_[formal];
  const RpcParam& param = params_[index];
  outputs_.push_back(OutputValue{static_cast<int>(index), param.name, param.type,
                                 ConvertForType(value, param.type)});
}

void CallParameters::Finish(ResultSink& sink, std::int32_t status) {
  sink.ReturnStatus(status);
  std::sort(outputs_.begin(), outputs_.end(),
            [](const OutputValue& a, const OutputValue& b) { return a.ordinal < b.ordinal; });
  for (const OutputValue& output : outputs_) sink.ReturnValue(output);
}

}  // namespace sqlengine::exec
