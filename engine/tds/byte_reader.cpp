#include "engine/tds/byte_reader.h"

#include "engine/tds/text_codec.h"

namespace sqlengine::tds {

std::span<const std::uint8_t> ByteReader::Take(std::size_t count) {
  if (count > Remaining()) {
    throw Truncated("message truncated: " + std::to_string(count) + " bytes wanted at offset " +
                      std::to_string(position_) + ", " + std::to_string(Remaining()) + " left");
  }
  auto part = bytes_.subspan(position_, count);
  position_ += count;
  return part;
}

std::uint8_t ByteReader::U8() { return Take(1)[0]; }

std::uint8_t ByteReader::Peek() const {
  if (AtEnd()) throw Truncated("message truncated at offset " + std::to_string(position_));
  return bytes_[position_];
}

std::uint16_t ByteReader::U16() {
  auto b = Take(2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint16_t ByteReader::U16Be() {
  auto b = Take(2);
  return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t ByteReader::U32() {
  auto b = Take(4);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint64_t ByteReader::U64() {
  std::uint64_t low = U32();
  std::uint64_t high = U32();
  return low | (high << 32);
}

std::string ByteReader::Ucs2(std::size_t chars) { return Ucs2ToUtf8(Take(chars * 2)); }

}  // namespace sqlengine::tds
