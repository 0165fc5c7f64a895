#include "engine/tds/requests.h"

#include "engine/tds/byte_reader.h"
#include "engine/tds/text_codec.h"
#include "engine/tds/type_info.h"
#include "engine/tds/value_codec.h"

namespace sqlengine::tds {
namespace {

constexpr std::uint16_t kTransactionDescriptorHeader = 2;
constexpr std::uint16_t kProcIdMarker = 0xFFFF;
constexpr std::uint8_t kBatchSeparator71 = 0x80;
constexpr std::uint8_t kBatchSeparator72 = 0xFF;
constexpr std::uint8_t kNoExecSeparator = 0xFE;
constexpr std::uint8_t kByRef = 0x01;
constexpr std::uint8_t kDefaultValue = 0x02;

enum TmRequestType : std::uint16_t {
  kTmGetDtcAddress = 0,
  kTmPropagate = 1,
  kTmBegin = 5,
  kTmPromote = 6,
  kTmCommit = 7,
  kTmRollback = 8,
  kTmSave = 9,
};

// A B_VARBYTE holding UCS-2 text.
std::string ReadNameBytes(ByteReader& in) { return Ucs2ToUtf8(in.Take(in.U8())); }

constexpr std::uint8_t kUdt = 0xF0;
constexpr std::uint8_t kXml = 0xF1;

// Skips the TYPE_INFO and value of a type the protocol defines and this
// engine does not read (XML and CLR types from 7.2). Returns
// false, consuming nothing, for any other code.
bool SkipUnreadableType(ByteReader& in, TdsVersion version) {
  const std::uint8_t code = in.Peek();
  const TypeInfo plp{WireType::kNVarChar, kPlpMarker};
  if (!HasPlp(version) || (code != kXml && code != kUdt)) return false;
  in.U8();
  if (code == kXml) {
    if (in.U8() != 0) {  // schema present: database, owning schema, collection
      in.BVarChar();
      in.BVarChar();
      in.UsVarChar();
    }
  } else {
    in.U16();  // max length
    in.BVarChar();
    in.BVarChar();
    in.BVarChar();
    in.UsVarChar();  // assembly-qualified name
  }
  FrameValue(plp, in);
  return true;
}

// The SQL Server name of a type whose values can be out of range.
std::string RangedTypeName(const TypeInfo& info) {
  switch (info.type) {
    case WireType::kDecimalN:
    case WireType::kDecimalLegacy:
      return "decimal";
    case WireType::kNumericN:
    case WireType::kNumericLegacy:
      return "numeric";
    case WireType::kDateTime4:
      return "smalldatetime";
    case WireType::kDateTimeN:
      return info.max_length == 4 ? "smalldatetime" : "datetime";
    case WireType::kDateN:
      return "date";
    case WireType::kTimeN:
      return "time";
    case WireType::kDateTime2N:
      return "datetime2";
    case WireType::kDateTimeOffsetN:
      return "datetimeoffset";
    default:
      return "datetime";
  }
}

ParamFault Fault(std::int32_t number, std::size_t ordinal, const RpcParam& param, std::string third,
                 std::string detail) {
  return {number, {std::to_string(ordinal), param.name, std::move(third)}, std::move(detail)};
}

// Reads one parameter; one that frames but cannot be read sets `fault` (when
// it is still empty) and keeps a NULL value.
RpcParam ReadParam(ByteReader& in, TdsVersion version, std::size_t ordinal,
                   std::optional<ParamFault>& fault) {
  RpcParam param;
  param.name = in.BVarChar();
  std::uint8_t status = in.U8();
  param.output = (status & kByRef) != 0;
  param.is_default = (status & kDefaultValue) != 0;
  const std::uint8_t code = in.Peek();
  if (SkipUnreadableType(in, version)) {
    if (!fault)
      fault = Fault(8009, ordinal, param, HexCode(code).substr(2), "data type " + HexCode(code));
    return param;
  }
  TypeInfo info = ReadTypeInfoUnchecked(in, version);
  param.type = ToColumnType(info);
  ByteReader value(FrameValue(info, in));
  try {
    CheckTypeInfo(info);
    param.value = ReadValue(info, value);
    if (!value.AtEnd()) throw DecodeError("value shorter than its length");
  } catch (const InvalidValue& e) {
    if (!fault) fault = Fault(8023, ordinal, param, RangedTypeName(info), e.what());
    param.value = std::monostate{};
  } catch (const DecodeError& e) {
    if (!fault) fault = Fault(8016, ordinal, param, HexCode(code).substr(2), e.what());
    param.value = std::monostate{};
  }
  return param;
}

}  // namespace

std::size_t ReadAllHeaders(std::span<const std::uint8_t> body, TdsVersion version,
                           AllHeaders* headers) {
  if (!HasAllHeaders(version)) return 0;
  ByteReader in(body);
  std::uint32_t total = in.U32();
  if (total < 4 || total > body.size()) throw DecodeError("ALL_HEADERS length does not fit");
  ByteReader list(body.subspan(4, total - 4));
  while (!list.AtEnd()) {
    std::uint32_t length = list.U32();
    if (length < 6 || length - 4 > list.Remaining())
      throw DecodeError("header length does not fit");
    ByteReader header(list.Take(length - 4));
    std::uint16_t type = header.U16();
    if (type == kTransactionDescriptorHeader) {
      headers->transaction_descriptor = header.U64();
      headers->outstanding_requests = header.U32();
    }
  }
  return total;
}

SqlBatch DecodeSqlBatch(std::span<const std::uint8_t> body, TdsVersion version) {
  SqlBatch batch;
  std::size_t start = ReadAllHeaders(body, version, &batch.headers);
  batch.text = Ucs2ToUtf8(body.subspan(start));
  return batch;
}

RpcRequest DecodeRpc(std::span<const std::uint8_t> body, TdsVersion version) {
  RpcRequest request;
  std::size_t start = ReadAllHeaders(body, version, &request.headers);
  ByteReader in(body.subspan(start));
  const std::uint8_t separator = HasAllHeaders(version) ? kBatchSeparator72 : kBatchSeparator71;
  do {
    RpcCall call;
    std::uint16_t name_length = in.U16();
    if (name_length == kProcIdMarker) {
      std::uint16_t id = in.U16();
      if (id == 0 || id > static_cast<std::uint16_t>(SpecialProc::kUnprepare)) {
        throw DecodeError("unknown procedure id " + std::to_string(id));
      }
      call.proc_id = static_cast<SpecialProc>(id);
    } else {
      if (name_length == 0) throw DecodeError("RPC without a procedure name");
      call.name = in.Ucs2(name_length);
    }
    call.option_flags = in.U16();
    std::optional<ParamFault> fault;
    bool separated = false;
    while (!in.AtEnd() && !separated) {
      std::uint8_t next = in.Peek();
      separated = next == separator || (HasAllHeaders(version) && next == kNoExecSeparator);
      if (separated) {
        in.Skip(1);
      } else {
        call.params.push_back(ReadParam(in, version, call.params.size() + 1, fault));
      }
    }
    request.calls.push_back(std::move(call));
    request.faults.push_back(std::move(fault));
  } while (!in.AtEnd());
  return request;
}

TmCall DecodeTransactionManager(std::span<const std::uint8_t> body, TdsVersion version) {
  if (!HasAllHeaders(version)) throw DecodeError("Transaction Manager request before TDS 7.2");
  TmCall call;
  AllHeaders headers;
  std::size_t start = ReadAllHeaders(body, version, &headers);
  call.descriptor = headers.transaction_descriptor;
  ByteReader in(body.subspan(start));
  std::uint16_t type = in.U16();
  switch (type) {
    case kTmBegin:
      call.request = TransactionRequest::kBegin;
      if (!in.AtEnd()) in.U8();  // isolation level
      if (!in.AtEnd()) call.name = ReadNameBytes(in);
      break;
    case kTmCommit:
    case kTmRollback: {
      call.request =
          type == kTmCommit ? TransactionRequest::kCommit : TransactionRequest::kRollback;
      call.name = ReadNameBytes(in);
      std::uint8_t flags = in.U8();
      call.begin_new_after = (flags & 0x01) != 0;
      // Isolation level and name of the new transaction are optional.
      break;
    }
    case kTmSave:
      call.request = TransactionRequest::kSave;
      call.name = ReadNameBytes(in);
      if (call.name.empty()) throw DecodeError("TM_SAVE_XACT without a savepoint name");
      break;
    case kTmGetDtcAddress:
      call.request = TransactionRequest::kGetDtcAddress;
      break;
    case kTmPropagate:
      call.request = TransactionRequest::kPropagate;
      break;
    case kTmPromote:
    default:
      throw DecodeError("unsupported Transaction Manager request " + std::to_string(type));
  }
  return call;
}

}  // namespace sqlengine::tds
