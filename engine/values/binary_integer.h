#pragma once
// Integers as binary data and back, the way SQL Server converts them: big
// endian, two's complement, the integer's own width; a binary value longer
// than the integer gives its rightmost bytes, a shorter one is taken as if
// padded with zeros on the left.

#include <cstdint>
#include <span>

#include "engine/common/types.h"

namespace sqlengine::values {

// `value` in `width` bytes (1, 2, 4 or 8), its high bytes dropped.
Bytes IntegerBytes(std::int64_t value, int width);

// The integer of `width` bytes (1 is tinyint: unsigned; 2, 4, 8 signed).
std::int64_t IntegerFromBytes(std::span<const std::uint8_t> bytes, int width);

// The bytes an integer of `type` takes (1, 2, 4, 8; a bit takes 1).
int IntegerWidth(SqlType type);

// `bytes` fitted to `length` bytes: cut or padded with zeros, on the left
// for a number's bytes (`numeric`), on the right for anything else; a
// varying type (`fixed` false) is only cut.
Bytes FittedBinary(Bytes bytes, int length, bool fixed, bool numeric);

}  // namespace sqlengine::values
