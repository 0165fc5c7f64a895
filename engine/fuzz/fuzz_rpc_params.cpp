// libFuzzer target for RPC parameters of every type: the input's first byte
// picks the TDS version and, when its bit 1 is set, the second byte picks the
// first parameter's type code from every code the protocol defines (so each
// type, the ones the engine cannot read included, is reached at once); the
// rest is parameter data of a call to "p" (the target writes the headers, so
// every input reaches the parameter reader). A parameter that frames but
// cannot be read must become a fault with a known message and a NULL value.
// Each decoded parameter is then sent back as the engine sends an output
// parameter and read again: a value the engine writes must read back as a
// value of the same type, and the exact kinds (integers, binary, ASCII text,
// dates) must come back unchanged. A crash, another exception or a changed
// value is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/decode_error.h"
#include "engine/tds/requests.h"
#include "engine/tds/type_info.h"
#include "engine/tds/value_codec.h"
#include "engine/values/variant_value.h"

using namespace sqlengine;
using namespace sqlengine::tds;

namespace {

std::vector<std::uint8_t> CallHeader(TdsVersion version) {
  std::vector<std::uint8_t> out;
  auto u16 = [&](std::uint16_t v) {
    out.push_back(v & 0xFF);
    out.push_back(v >> 8);
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
  };
  if (version != TdsVersion::k71) {
    u32(22);  // ALL_HEADERS: one transaction descriptor header
    u32(18);
    u16(2);
    for (int i = 0; i < 8; ++i) out.push_back(0);
    u32(1);
  }
  u16(1);  // procedure name "p" in UCS-2
  u16('p');
  u16(0);  // option flags
  return out;
}

// Every type code an RPC parameter may carry: those the engine reads
// (sql_variant with every base type inside it included) and CLR types, XML
// and table-valued parameters, which it refuses.
constexpr std::uint8_t kWireTypeCodes[] = {
    0x1F, 0x30, 0x32, 0x34, 0x38, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x7A, 0x7F, 0x37, 0x3F, 0x24,
    0x26, 0x68, 0x6A, 0x6C, 0x6D, 0x6E, 0x6F, 0x28, 0x29, 0x2A, 0x2B, 0x2F, 0x27, 0x2D, 0x25,
    0xA5, 0xA7, 0xAD, 0xAF, 0xE7, 0xEF, 0x23, 0x22, 0x63, 0x62, 0xF0, 0xF1, 0xF3};

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Whether the value must survive the trip unchanged; a sql_variant when the
// value it holds must.
bool IsExactKind(const Value& value) {
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    if (std::optional<values::VariantValue> variant = values::DecodeVariant(*bytes))
      return IsExactKind(variant->value);
  }
  if (const auto* text = std::get_if<std::string>(&value)) return IsAscii(*text);
  return std::holds_alternative<std::int64_t>(value) || std::holds_alternative<Bytes>(value) ||
         std::holds_alternative<DateTime>(value) || IsNull(value);
}

// Fixed-length types come back padded to their length (spaces for
// characters, zero bytes for binary), as a char(n) or binary(n) output does.
Value WithoutPadding(const Value& value, const TypeInfo& info) {
  if (info.type == WireType::kBigChar || info.type == WireType::kNChar) {
    if (const auto* text = std::get_if<std::string>(&value)) {
      return text->substr(0, text->find_last_not_of(' ') + 1);
    }
  }
  if (info.type == WireType::kBigBinary) {
    if (const auto* bytes = std::get_if<Bytes>(&value)) {
      Bytes trimmed = *bytes;
      while (!trimmed.empty() && trimmed.back() == 0) trimmed.pop_back();
      return trimmed;
    }
  }
  return value;
}

[[noreturn]] void Finding(const char* what, const RpcParam& param, const TypeInfo& info) {
  std::fprintf(stderr, "fuzz_rpc_params: %s (wire type 0x%02X, length %u, value kind %zu)\n", what,
               static_cast<unsigned>(info.type), static_cast<unsigned>(info.max_length),
               param.value.index());
  std::abort();
}

void RoundTrip(const RpcParam& param, TdsVersion version) {
  TypeInfo info = DescribeType(param.type, version);
  ByteWriter out;
  try {
    WriteValue(info, param.value, ValueContext::kReturnValue, out);
  } catch (const ValueConversionError&) {
    return;  // refused before anything was written
  }
  const std::vector<std::uint8_t>& bytes = out.Bytes();
  ByteReader in(bytes);
  Value back;
  try {
    back = ReadValue(info, in);
  } catch (const DecodeError&) {
    Finding("a value the engine wrote does not read back", param, info);
  }
  if (!in.AtEnd()) Finding("reading a written value left bytes over", param, info);
  if (IsExactKind(param.value) && WithoutPadding(back, info) != WithoutPadding(param.value, info))
    Finding("a value changed on its way back", param, info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const TdsVersion version = (data[0] & 0x01) ? TdsVersion::k74 : TdsVersion::k71;
  std::vector<std::uint8_t> body = CallHeader(version);
  std::size_t used = 1;
  if ((data[0] & 0x02) != 0 && size > 1) {
    body.push_back(0);                             // no name
    body.push_back(data[0] & 0x04 ? 0x01 : 0x00);  // status: output or not
    body.push_back(kWireTypeCodes[data[1] % std::size(kWireTypeCodes)]);
    used = 2;
  }
  body.insert(body.end(), data + used, data + size);
  RpcRequest request;
  try {
    request = DecodeRpc(body, version);
  } catch (const DecodeError&) {
    return 0;
  }
  if (request.faults.size() != request.calls.size()) std::abort();
  for (std::size_t c = 0; c < request.calls.size(); ++c) {
    if (const auto& fault = request.faults[c]) {
      const std::int32_t n = fault->message_number;
      if ((n != 8009 && n != 8016 && n != 8023) || fault->args.size() != 3) {
        std::fprintf(stderr, "fuzz_rpc_params: fault with message %d\n", n);
        std::abort();
      }
    }
    for (const RpcParam& param : request.calls[c].params) RoundTrip(param, version);
  }
  return 0;
}
