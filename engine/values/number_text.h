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

// The length in bytes of the currency sign `text` starts with (UTF-8), 0
// when it starts with none. The signs are those a money amount may begin
// with: '$', '\\' (the Japanese code page's yen), '£', '¤', '¥', '€', the
// signs of Unicode's currency block from U+20A1 to U+20AB but the naira, the
// Bengali, Thai and Khmer signs and the full-width and small forms of '$',
// '¢', '£', '¥' and '₩'.
size_t CurrencySignLength(std::string_view text);

// `value` rounded half away from zero to `scale` digits after the point.
Decimal Rescaled(const Decimal& value, int scale);

// "-123.4500": every digit of the scale, no exponent.
std::string DecimalText(const Decimal& value);

}  // namespace sqlengine::values
