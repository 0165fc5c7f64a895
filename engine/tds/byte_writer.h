#pragma once
// Appends wire values to a growing byte buffer. Text arrives as UTF-8 and is
// written as UCS-2LE; invalid UTF-8 becomes U+FFFD rather than failing.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace sqlengine::tds {

class ByteWriter {
 public:
  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v);
  void U16Be(std::uint16_t v);
  void U32(std::uint32_t v);
  void U32Be(std::uint32_t v);
  void U64(std::uint64_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Append(std::span<const std::uint8_t> data);
  void Append(std::string_view data);
  // Overwrites a u16 written earlier (token lengths known only at the end).
  void PatchU16(std::size_t offset, std::uint16_t v);
  void PatchU16Be(std::size_t offset, std::uint16_t v);

  // UCS-2 without a length; returns the number of UTF-16 code units.
  std::size_t Ucs2(std::string_view utf8);
  // B_VARCHAR: at most 255 code units, longer text is cut at a character.
  void BVarChar(std::string_view utf8);
  // US_VARCHAR: at most `limit` (<= 65535) code units.
  void UsVarChar(std::string_view utf8, std::size_t limit = 65535);

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace sqlengine::tds
