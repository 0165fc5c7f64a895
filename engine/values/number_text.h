#pragma once
// Numbers read from and written as text, the one way both the wire codec
// and the executor do it. Surrounding blanks are allowed; nothing else is.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::values {

// "[+|-]digits": nullopt for anything else or beyond 64 bits.
std::optional<std::int64_t> WholeNumberFromText(std::string_view text);

// "[+|-][digits][.digits]" rounded half away from zero to `scale` digits
// after the point; nullopt for anything else or beyond 38 digits.
std::optional<Decimal> DecimalFromText(std::string_view text, int scale);

// A float as strtod reads it, the whole text; nullopt for anything else.
std::optional<double> FloatFromText(std::string_view text);

// `value` rounded half away from zero to `scale` digits after the point.
Decimal Rescaled(const Decimal& value, int scale);

// "-123.4500": every digit of the scale, no exponent.
std::string DecimalText(const Decimal& value);

}  // namespace sqlengine::values
