#pragma once
// Client requests after login: SQL batch (0x01), RPC (0x03) and Transaction
// Manager (0x0E). From 7.2 each starts with ALL_HEADERS, whose transaction
// descriptor is kept. All decoders throw DecodeError for malformed input.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/common/engine_api.h"
#include "engine/tds/version.h"

namespace sqlengine::tds {

struct AllHeaders {
  std::uint64_t transaction_descriptor = 0;
  std::uint32_t outstanding_requests = 1;
};

// Reads ALL_HEADERS when the version has them and returns where the request
// data starts.
std::size_t ReadAllHeaders(std::span<const std::uint8_t> body, TdsVersion version,
                           AllHeaders* headers);

struct SqlBatch {
  AllHeaders headers;
  std::string text;  // UTF-8
};

SqlBatch DecodeSqlBatch(std::span<const std::uint8_t> body, TdsVersion version);

struct RpcRequest {
  AllHeaders headers;
  std::vector<RpcCall> calls;  // one per batch separator
};

RpcRequest DecodeRpc(std::span<const std::uint8_t> body, TdsVersion version);

// Throws DecodeError also before 7.2, where the request does not exist.
TmCall DecodeTransactionManager(std::span<const std::uint8_t> body, TdsVersion version);

}  // namespace sqlengine::tds
