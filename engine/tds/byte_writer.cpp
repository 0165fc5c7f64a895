#include "engine/tds/byte_writer.h"

#include <algorithm>

#include "engine/tds/text_codec.h"

namespace sqlengine::tds {
namespace {

template <typename Unsigned>
void AppendLittleEndian(std::vector<std::uint8_t>& bytes, Unsigned v) {
  std::uint8_t raw[sizeof v];
  for (std::size_t i = 0; i < sizeof v; ++i) raw[i] = static_cast<std::uint8_t>(v >> (8 * i));
  bytes.insert(bytes.end(), raw, raw + sizeof v);
}

}  // namespace

void ByteWriter::U16(std::uint16_t v) { AppendLittleEndian(bytes_, v); }

void ByteWriter::U16Be(std::uint16_t v) {
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  bytes_.push_back(static_cast<std::uint8_t>(v));
}

void ByteWriter::U32(std::uint32_t v) { AppendLittleEndian(bytes_, v); }

void ByteWriter::U32Be(std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::U64(std::uint64_t v) { AppendLittleEndian(bytes_, v); }

void ByteWriter::Append(std::span<const std::uint8_t> data) {
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void ByteWriter::Append(std::string_view data) {
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void ByteWriter::PatchU16(std::size_t offset, std::uint16_t v) {
  bytes_.at(offset) = static_cast<std::uint8_t>(v);
  bytes_.at(offset + 1) = static_cast<std::uint8_t>(v >> 8);
}

void ByteWriter::PatchU16Be(std::size_t offset, std::uint16_t v) {
  bytes_.at(offset) = static_cast<std::uint8_t>(v >> 8);
  bytes_.at(offset + 1) = static_cast<std::uint8_t>(v);
}

std::size_t ByteWriter::Ucs2(std::string_view utf8) {
  std::size_t before = bytes_.size();
  AppendUcs2(utf8, bytes_);
  return (bytes_.size() - before) / 2;
}

namespace {

// Writes a length-prefixed string whose prefix counts UTF-16 code units and
// is at most `limit`; text beyond the limit is dropped at a character boundary.
template <typename WriteLength>
void LengthPrefixed(std::vector<std::uint8_t>& bytes, std::string_view utf8, std::size_t limit,
                    std::size_t prefix_size, WriteLength write_length) {
  std::size_t prefix_at = bytes.size();
  bytes.resize(bytes.size() + prefix_size);
  std::size_t start = bytes.size();
  AppendUcs2(utf8, bytes);
  std::size_t units = (bytes.size() - start) / 2;
  if (units > limit) {
    std::size_t keep = limit;
    // Do not split a surrogate pair.
    std::uint16_t last = static_cast<std::uint16_t>(bytes[start + 2 * (keep - 1)] |
                                                    (bytes[start + 2 * (keep - 1) + 1] << 8));
    if (last >= 0xD800 && last <= 0xDBFF) --keep;
    bytes.resize(start + 2 * keep);
    units = keep;
  }
  write_length(bytes, prefix_at, units);
}

}  // namespace

void ByteWriter::BVarChar(std::string_view utf8) {
  LengthPrefixed(bytes_, utf8, 255, 1,
                 [](std::vector<std::uint8_t>& b, std::size_t at, std::size_t n) {
                   b[at] = static_cast<std::uint8_t>(n);
                 });
}

void ByteWriter::UsVarChar(std::string_view utf8, std::size_t limit) {
  LengthPrefixed(bytes_, utf8, std::min<std::size_t>(limit, 65535), 2,
                 [](std::vector<std::uint8_t>& b, std::size_t at, std::size_t n) {
                   b[at] = static_cast<std::uint8_t>(n);
                   b[at + 1] = static_cast<std::uint8_t>(n >> 8);
                 });
}

}  // namespace sqlengine::tds
