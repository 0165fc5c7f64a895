#pragma once
// The TDS versions the engine speaks, and the choice made at login.

#include <cstdint>

namespace sqlengine::tds {

enum class TdsVersion { k71, k72, k73, k74 };

// The highest version not above what the client asked for (its LOGIN7
// TDSVersion field); requests below 7.1 get 7.1, above 7.4 get 7.4.
TdsVersion NegotiateVersion(std::uint32_t client_version);

// The value LOGINACK carries for a version (0x71000001, 0x72090002, ...).
std::uint32_t LoginAckVersion(TdsVersion version);

// Layout switches that differ between 7.1 and 7.2+.
inline bool HasAllHeaders(TdsVersion v) { return v != TdsVersion::k71; }
inline bool HasWideCounts(TdsVersion v) { return v != TdsVersion::k71; }  // DONE count, line number
inline bool HasPlp(TdsVersion v) { return v != TdsVersion::k71; }         // (n)varchar(max) as PLP

}  // namespace sqlengine::tds
