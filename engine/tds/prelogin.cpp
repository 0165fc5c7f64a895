#include "engine/tds/prelogin.h"

#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/server_identity.h"

namespace sqlengine::tds {
namespace {

enum Option : std::uint8_t {
  kVersion = 0,
  kEncryption = 1,
  kInstance = 2,
  kThreadId = 3,
  kMars = 4,
  kTerminator = 0xFF
};

}  // namespace

PreloginRequest DecodePrelogin(std::span<const std::uint8_t> body) {
  PreloginRequest request;
  ByteReader table(body);
  for (;;) {
    std::uint8_t option = table.U8();
    if (option == kTerminator) break;
    std::uint16_t offset = table.U16Be();
    std::uint16_t length = table.U16Be();
    if (static_cast<std::size_t>(offset) + length > body.size()) {
      throw DecodeError("PRELOGIN option points outside the message");
    }
    auto data = body.subspan(offset, length);
    switch (option) {
      case kVersion:
        request.client_version.assign(data.begin(), data.end());
        break;
      case kEncryption:
        if (length < 1) throw DecodeError("PRELOGIN ENCRYPTION without a value");
        request.encryption = static_cast<Encryption>(data[0]);
        break;
      case kInstance:
        for (std::uint8_t c : data) {
          if (c == 0) break;
          request.instance.push_back(static_cast<char>(c));
        }
        break;
      case kMars:
        if (length >= 1) request.mars = data[0] != 0;
        break;
      default:
        break;  // THREADID, TRACEID, FEDAUTHREQUIRED, NONCEOPT: not used
    }
  }
  return request;
}

std::vector<std::uint8_t> EncodePreloginResponse() {
  struct Entry {
    std::uint8_t option;
    std::vector<std::uint8_t> data;
  };
  const std::vector<Entry> entries = {
      {kVersion,
       {kProductVersion[0], kProductVersion[1], kProductVersion[2], kProductVersion[3], 0, 0}},
      {kEncryption, {static_cast<std::uint8_t>(Encryption::kNotSupported)}},
      {kInstance, {0}},
      {kThreadId, {}},
      {kMars, {0}},
  };
  ByteWriter out;
  std::uint16_t offset = static_cast<std::uint16_t>(entries.size() * 5 + 1);
  for (const Entry& e : entries) {
    out.U8(e.option);
    out.U16Be(offset);
    out.U16Be(static_cast<std::uint16_t>(e.data.size()));
    offset = static_cast<std::uint16_t>(offset + e.data.size());
  }
  out.U8(kTerminator);
  for (const Entry& e : entries) out.Append(e.data);
  return std::move(out.Bytes());
}

}  // namespace sqlengine::tds
