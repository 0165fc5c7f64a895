#pragma once
// Client requests after login: SQL batch (0x01), RPC (0x03) and Transaction
// Manager (0x0E). From 7.2 each starts with ALL_HEADERS, whose transaction
// descriptor is kept. All decoders throw DecodeError for input that cannot be
// framed; an RPC parameter that frames but cannot be read becomes a ParamFault.

#include <cstdint>
#include <optional>
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

// A parameter whose bytes frame but cannot be read: the call is answered with
// this message (8009 unknown type, 8016 bad length, 8023 invalid value; its
// arguments in order) instead of running, and the session goes on.
struct ParamFault {
  std::int32_t message_number = 0;
  std::vector<std::string> args;
  std::string detail;  // what the decoder found, for the log
};

struct RpcRequest {
  AllHeaders headers;
  std::vector<RpcCall> calls;  // one per batch separator
  // Per call: the first parameter that could not be read, if any.
  std::vector<std::optional<ParamFault>> faults;
};

RpcRequest DecodeRpc(std::span<const std::uint8_t> body, TdsVersion version);

// Throws DecodeError also before 7.2, where the request does not exist.
TmCall DecodeTransactionManager(std::span<const std::uint8_t> body, TdsVersion version);

}  // namespace sqlengine::tds
