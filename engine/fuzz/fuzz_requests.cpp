// libFuzzer target for every request decoder the server runs on client
// bytes: the input's first byte picks the decoder and version, the rest is
// the message body. Any outcome but DecodeError is a finding; for BULKLOAD
// data, whose faults the session answers, anything but SqlError 4002, 4815
// or 4816, or a row whose width is not the described columns'. Bulk-load
// data is also read in parts as packets bring it (bits 5..7 of the first
// byte pick the part size), and must give the same rows and the same error
// as read whole; and given up after half its parts, it must never end as if
// complete: it ends in the abandonment, or in the whole read's error after
// the same rows.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "engine/common/bulk_load_abandoned.h"
#include "engine/common/error.h"
#include "engine/tds/bulk_load.h"
#include "engine/tds/decode_error.h"
#include "engine/tds/login7.h"
#include "engine/tds/packet.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/requests.h"

using namespace sqlengine::tds;

namespace {

// What reading a bulk load gave: its rows, then the number of the error it
// ended in (0 for none).
struct BulkOutcome {
  std::vector<sqlengine::Row> rows;
  int error = 0;
  bool abandoned = false;
};

BulkOutcome ReadBulk(BulkLoadReader&& reader) {
  BulkOutcome outcome;
  try {
    sqlengine::Row row;
    while (reader.Next(row)) {
      if (row.size() != reader.Columns().size()) std::abort();
      outcome.rows.push_back(row);
    }
  } catch (const sqlengine::SqlError& error) {
    outcome.error = error.message().number;
    if (outcome.error != 4002 && outcome.error != 4815 && outcome.error != 4816) std::abort();
  } catch (const sqlengine::BulkLoadAbandoned&) {
    outcome.abandoned = true;
  }
  return outcome;
}

// The body in parts of `size` bytes, as packets would bring it.
// With `given_up_after`, the client gives the message up once that many
// parts have come.
class PartedBody final : public BodySource {
 public:
  PartedBody(std::span<const std::uint8_t> body, std::size_t size,
             std::optional<std::size_t> given_up_after = std::nullopt)
      : body_(body), size_(size), given_up_after_(given_up_after) {}
  bool Append(std::vector<std::uint8_t>& body) override {
    if (given_up_after_ && (*given_up_after_)-- == 0) throw sqlengine::BulkLoadAbandoned{};
    if (body_.empty()) return false;
    std::size_t take = std::min(size_, body_.size());
    body.insert(body.end(), body_.begin(), body_.begin() + take);
    body_ = body_.subspan(take);
    return true;
  }

 private:
  std::span<const std::uint8_t> body_;
  std::size_t size_;
  std::optional<std::size_t> given_up_after_;
};

}  // namespace

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
      case 6: {
        const BulkOutcome whole = ReadBulk(BulkLoadReader(body, version));
        const std::size_t part = 1 + (selector >> 5) * 37;
        PartedBody parts(body, part);
        const BulkOutcome parted = ReadBulk(BulkLoadReader(parts, version));
        if (whole.rows != parted.rows || whole.error != parted.error) std::abort();
        PartedBody cut(body, part, (body.size() + part - 1) / part / 2);
        const BulkOutcome given_up = ReadBulk(BulkLoadReader(cut, version));
        if (given_up.rows.size() > whole.rows.size() ||
            !std::equal(given_up.rows.begin(), given_up.rows.end(), whole.rows.begin()))
          std::abort();
        if (!given_up.abandoned && (given_up.error == 0 || given_up.error != whole.error ||
                                    given_up.rows != whole.rows))
          std::abort();
        break;
      }
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
