#include "engine/tds/byte_reader.h"

#include "engine/tds/text_codec.h"

namespace sqlengine::tds {

void ByteReader::ThrowTruncated(std::size_t wanted) const {
  throw Truncated("message truncated: " + std::to_string(wanted) + " bytes wanted at offset " +
                  std::to_string(position_) + ", " + std::to_string(Remaining()) + " left");
}

std::uint8_t ByteReader::Peek() const {
  if (AtEnd()) throw Truncated("message truncated at offset " + std::to_string(position_));
  return bytes_[position_];
}

std::uint16_t ByteReader::U16Be() {
  auto b = Take(2);
  return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint64_t ByteReader::U64() {
  std::uint64_t low = U32();
  std::uint64_t high = U32();
  return low | (high << 32);
}

std::string ByteReader::Ucs2(std::size_t chars) { return Ucs2ToUtf8(Take(chars * 2)); }

}  // namespace sqlengine::tds
