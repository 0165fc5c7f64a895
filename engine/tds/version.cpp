#include "engine/tds/version.h"

namespace sqlengine::tds {

TdsVersion NegotiateVersion(std::uint32_t client_version) {
  // LOGIN7 sends the version little-endian; its high byte is the major/minor
  // pair (0x71, 0x72, 0x73, 0x74). 7.0 clients send 0x70000000.
  std::uint8_t family = static_cast<std::uint8_t>(client_version >> 24);
  if (family >= 0x74) return TdsVersion::k74;
  if (family == 0x73) return TdsVersion::k73;
  if (family == 0x72) return TdsVersion::k72;
  return TdsVersion::k71;
}

std::uint32_t LoginAckVersion(TdsVersion version) {
  switch (version) {
    case TdsVersion::k71:
      return 0x71000001;
    case TdsVersion::k72:
      return 0x72090002;
    case TdsVersion::k73:
      return 0x730B0003;
    case TdsVersion::k74:
      return 0x74000004;
  }
  return 0x71000001;
}

}  // namespace sqlengine::tds
