// libFuzzer target for every request decoder the server runs on client
// bytes: the input's first byte picks the decoder and version, the rest is
// the message body. Any outcome but DecodeError is a finding; for BULKLOAD
// data, whose faults the session answers, anything but SqlError 4002, 4815
// or 4816, or a row whose width is not the described columns'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "engine/common/error.h"
#include "engine/tds/bulk_load.h"
#include "engine/tds/decode_error.h"
#include "engine/tds/login7.h"
#include "engine/tds/packet.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/requests.h"

using namespace sqlengine::tds;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  std::span<const std::uint8_t> body(data + 1, size - 1);
  const TdsVersion version = (selector & 0x10) ? TdsVersion::k74 : TdsVersion::k71;
  try {
    switch (selector & 0x07) {
      case 0:
        DecodePrelogin(body);
        break;
      case 1:
        DecodeLogin7(body);
        break;
      case 2:
        DecodeSqlBatch(body, version);
        break;
      case 3:
        DecodeRpc(body, version);
        break;
      case 4:
        DecodeTransactionManager(body, version);
        break;
      case 6:
        try {
          BulkLoadReader reader(body, version);
          sqlengine::Row row;
          while (reader.Next(row)) {
            if (row.size() != reader.Columns().size()) std::abort();
          }
        } catch (const sqlengine::SqlError& error) {
          int number = error.message().number;
          if (number != 4002 && number != 4815 && number != 4816) std::abort();
        }
        break;
      default: {
        // A stream of packets through the assembler.
        MessageAssembler assembler(1 << 16);
        while (body.size() >= kHeaderSize) {
          PacketHeader header = ParseHeader(body.first<kHeaderSize>());
          if (header.length > body.size()) break;
          assembler.Add(header, body.subspan(kHeaderSize, header.length - kHeaderSize));
          body = body.subspan(header.length);
        }
        break;
      }
    }
  } catch (const DecodeError&) {
  }
  return 0;
}
