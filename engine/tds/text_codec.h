#pragma once
// Text conversions between the engine (UTF-8) and the wire (UCS-2LE for
// Unicode data, Windows-1252 for non-Unicode data in the server collation).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sqlengine::tds {

// Throws DecodeError for an odd byte count or an unpaired surrogate.
std::string Ucs2ToUtf8(std::span<const std::uint8_t> ucs2);

// Appends UTF-16LE; malformed UTF-8 sequences become U+FFFD.
void AppendUcs2(std::string_view utf8, std::vector<std::uint8_t>& out);

// Characters outside Windows-1252 become '?', as a code-page conversion does.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::span<const std::uint8_t> bytes);

}  // namespace sqlengine::tds
