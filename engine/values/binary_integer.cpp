#include "engine/values/binary_integer.h"

namespace sqlengine::values {

Bytes IntegerBytes(std::int64_t value, int width) {
  Bytes bytes(static_cast<size_t>(width));
  auto bits = static_cast<std::uint64_t>(value);
  for (int k = width - 1; k >= 0; --k) {
    bytes[static_cast<size_t>(k)] = static_cast<std::uint8_t>(bits);
    bits >>= 8;
  }
  return bytes;
}

std::int64_t IntegerFromBytes(std::span<const std::uint8_t> bytes, int width) {
  if (bytes.size() > static_cast<size_t>(width)) bytes = bytes.subspan(bytes.size() - width);
  std::uint64_t bits = 0;
  for (std::uint8_t byte : bytes) bits = (bits << 8) | byte;
  // Sign-extend from the integer's own width; tinyint has no sign.
  if (width > 1 && width < 8 && bytes.size() == static_cast<size_t>(width) &&
      (bytes.front() & 0x80) != 0) {
    bits |= ~std::uint64_t{0} << (8 * width);
  }
  return static_cast<std::int64_t>(bits);
}

int IntegerWidth(SqlType type) {
  switch (type) {
    case SqlType::kTinyInt:
    case SqlType::kBit:
      return 1;
    case SqlType::kSmallInt:
      return 2;
    case SqlType::kInt:
      return 4;
    default:
      return 8;
  }
}

Bytes FittedBinary(Bytes bytes, int length, bool fixed, bool numeric) {
  if (length <= 0) return bytes;
  auto size = static_cast<size_t>(length);
  if (bytes.size() > size) {
    if (numeric) {
      bytes.erase(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(size));
    } else {
      bytes.resize(size);
    }
  } else if (fixed && bytes.size() < size) {
    if (numeric) {
      bytes.insert(bytes.begin(), size - bytes.size(), 0);
    } else {
      bytes.resize(size, 0);
    }
  }
  return bytes;
}

}  // namespace sqlengine::values
