#pragma once
// How the engine presents itself to clients: the program name and version in
// LOGINACK and PRELOGIN, and the collation of its character data.

#include <array>
#include <cstdint>
#include <string_view>

namespace sqlengine::tds {

inline constexpr std::string_view kProgramName = "Microsoft SQL Server";
// 8.00.2039 (SQL Server 2000 SP4): major, minor, build high, build low.
inline constexpr std::array<std::uint8_t, 4> kProductVersion = {0x08, 0x00, 0x07, 0xF7};
// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, case-, kana- and
// width-insensitive, sort id 52 (code page 1252).
inline constexpr std::array<std::uint8_t, 5> kCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};
inline constexpr std::string_view kLanguage = "us_english";

}  // namespace sqlengine::tds
