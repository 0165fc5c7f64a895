#pragma once
// Matching a system procedure's arguments to its parameter names, by name
// or by position, as text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/procedures.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// An argument that names a kind (@objtype 'column', @level0type 'user') as
// the procedure compares it: in upper case.
inline std::string UpperCaseArgument(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Matches arguments to a procedure's parameter names, by name or position.
// The constructor throws 8144 (too many) and 8145 (an unknown name).
class Arguments {
 public:
  Arguments(std::string_view procedure, const std::vector<CallArgument>& given,
            std::vector<std::string_view> parameters)
      : values_(parameters.size()) {
    size_t position = 0;
    for (const CallArgument& argument : given) {
      size_t index = parameters.size();
      if (argument.name.empty()) {
        index = position++;
        if (index >= parameters.size()) throw MakeError(8144, {procedure});
      } else {
        for (size_t k = 0; k < parameters.size(); ++k) {
          if (tsql::EqualsIgnoreCase(parameters[k], argument.name)) index = k;
        }
        if (index == parameters.size()) throw MakeError(8145, {argument.name, procedure});
      }
      if (!argument.is_default && !IsNull(argument.value))
        values_[index] = ValueText(argument.value);
    }
  }

  // nullopt when not given, DEFAULT or NULL.
  const std::optional<std::string>& operator[](size_t index) const { return values_[index]; }

  std::string Required(size_t index, std::string_view procedure, std::string_view parameter) const {
    if (!values_[index]) throw MakeError(201, {procedure, parameter});
    return *values_[index];
  }

 private:
  std::vector<std::optional<std::string>> values_;
};

}  // namespace sqlengine::exec
