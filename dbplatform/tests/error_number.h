#pragma once

#include <cstdint>

#include "dbplatform/error.h"

namespace dbplatform {

// The number of the Error an operation throws, 0 when it succeeds.
template <class Call>
std::int32_t ErrorNumberOf(Call call) {
  try {
    call();
  } catch (const Error& error) {
    return error.Number();
  }
  return 0;
}

}  // namespace dbplatform
