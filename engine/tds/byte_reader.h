#pragma once
// Bounds-checked reading of a received message. Every read past the end
// throws Truncated (a DecodeError); the reader never touches memory outside its span.
// The reader borrows the bytes: they must outlive it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/tds/decode_error.h"

namespace sqlengine::tds {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return bytes_.size() - position_; }
  bool AtEnd() const { return position_ == bytes_.size(); }
  // The bytes read since `start` (an earlier Position()).
  std::span<const std::uint8_t> Since(std::size_t start) const {
    return bytes_.subspan(start, position_ - start);
  }

  // Inline: a row of a bulk load or a result reads several values a row.
  std::uint8_t U8() { return Take(1)[0]; }
  std::uint8_t Peek() const;  // the next byte, not consumed
  std::uint16_t U16() {       // little-endian
    auto b = Take(2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  }
  std::uint16_t U16Be();  // big-endian
  std::uint32_t U32() {
    auto b = Take(4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  }
  std::uint64_t U64();
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::span<const std::uint8_t> Take(std::size_t count) {
    if (count > Remaining()) ThrowTruncated(count);
    auto part = bytes_.subspan(position_, count);
    position_ += count;
    return part;
  }
  void Skip(std::size_t count) { Take(count); }
  // `chars` UCS-2 code units converted to UTF-8.
  std::string Ucs2(std::size_t chars);
  // A B_VARCHAR (byte count of characters, then UCS-2) as UTF-8.
  std::string BVarChar() { return Ucs2(U8()); }
  // A US_VARCHAR (u16 count of characters, then UCS-2) as UTF-8.
  std::string UsVarChar() { return Ucs2(U16()); }

 private:
  [[noreturn]] void ThrowTruncated(std::size_t wanted) const;

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

}  // namespace sqlengine::tds
