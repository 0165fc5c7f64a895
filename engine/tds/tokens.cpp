#include "engine/tds/tokens.h"

#include <algorithm>
#include <limits>

#include "engine/tds/server_identity.h"
#include "engine/tds/value_codec.h"

namespace sqlengine::tds {
namespace {

constexpr std::uint16_t kFlagNullable = 0x0001;
constexpr std::uint16_t kFlagUpdateableUnknown = 0x0008;
constexpr std::uint16_t kFlagIdentity = 0x0010;
constexpr std::size_t kMaxMessageUnits = 8000;

// Starts a token whose u16 length follows the type byte; returns where the
// length goes, to be filled by EndSized.
std::size_t BeginSized(Token token, ByteWriter& out) {
  out.U8(static_cast<std::uint8_t>(token));
  std::size_t at = out.Size();
  out.U16(0);
  return at;
}

void EndSized(std::size_t length_at, ByteWriter& out) {
  out.PatchU16(length_at, static_cast<std::uint16_t>(out.Size() - length_at - 2));
}

void WriteUserType(TdsVersion version, ByteWriter& out) {
  if (HasWideCounts(version)) {
    out.U32(0);
  } else {
    out.U16(0);
  }
}

std::uint16_t ColumnFlags(const ColumnType& type) {
  std::uint16_t flags = kFlagUpdateableUnknown;
  if (type.nullable) flags |= kFlagNullable;
  if (type.identity) flags |= kFlagIdentity;
  return flags;
}

}  // namespace

void WriteLoginAck(TdsVersion version, ByteWriter& out) {
  std::size_t at = BeginSized(Token::kLoginAck, out);
  out.U8(1);  // SQL interface
  out.U32Be(LoginAckVersion(version));
  out.BVarChar(kProgramName);
  out.Append(kProductVersion);
  EndSized(at, out);
}

void WriteEnvChange(EnvChangeType type, std::string_view new_value, std::string_view old_value,
                    ByteWriter& out) {
  std::size_t at = BeginSized(Token::kEnvChange, out);
  out.U8(static_cast<std::uint8_t>(type));
  out.BVarChar(new_value);
  out.BVarChar(old_value);
  EndSized(at, out);
}

void WriteCollationChange(ByteWriter& out) {
  std::size_t at = BeginSized(Token::kEnvChange, out);
  out.U8(static_cast<std::uint8_t>(EnvChangeType::kCollation));
  out.U8(static_cast<std::uint8_t>(kCollation.size()));
  out.Append(kCollation);
  out.U8(0);
  EndSized(at, out);
}

void WriteTransactionChange(EnvChangeType type, std::uint64_t descriptor, ByteWriter& out) {
  std::size_t at = BeginSized(Token::kEnvChange, out);
  out.U8(static_cast<std::uint8_t>(type));
  if (type == EnvChangeType::kBeginTransaction) {
    out.U8(8);
    out.U64(descriptor);
    out.U8(0);
  } else {
    out.U8(0);
    out.U8(8);
    out.U64(descriptor);
  }
  EndSized(at, out);
}

void WriteEnvChange(const EnvChange& change, ByteWriter& out) {
  switch (change.kind) {
    case EnvChangeKind::kDatabase:
      WriteEnvChange(EnvChangeType::kDatabase, change.new_value, change.old_value, out);
      return;
    case EnvChangeKind::kLanguage:
      WriteEnvChange(EnvChangeType::kLanguage, change.new_value, change.old_value, out);
      return;
    case EnvChangeKind::kBeginTransaction:
      WriteTransactionChange(EnvChangeType::kBeginTransaction, change.transaction_descriptor, out);
      return;
    case EnvChangeKind::kCommitTransaction:
      WriteTransactionChange(EnvChangeType::kCommitTransaction, change.transaction_descriptor, out);
      return;
    case EnvChangeKind::kRollbackTransaction:
      WriteTransactionChange(EnvChangeType::kRollbackTransaction, change.transaction_descriptor,
                             out);
      return;
  }
}

void WriteMessage(const ServerMessage& message, std::string_view server_name, bool wide_line,
                  ByteWriter& out) {
  bool error = message.severity > 10;
  std::size_t at = BeginSized(error ? Token::kError : Token::kInfo, out);
  out.I32(message.number);
  out.U8(static_cast<std::uint8_t>(message.state));
  out.U8(static_cast<std::uint8_t>(message.severity == 10 ? 0 : message.severity));
  // The token's u16 length must cover the text, so very long texts are cut.
  out.UsVarChar(message.text, kMaxMessageUnits);
  out.BVarChar(server_name);
  out.BVarChar(message.procedure);
  if (wide_line) {
    out.I32(message.line);
  } else {
    out.U16(static_cast<std::uint16_t>(message.line));
  }
  EndSized(at, out);
}

void WriteDone(Token token, std::uint16_t status, std::uint16_t current_command,
               std::uint64_t count, bool wide_count, ByteWriter& out) {
  out.U8(static_cast<std::uint8_t>(token));
  out.U16(status);
  out.U16(current_command);
  if (wide_count) {
    out.U64(count);
  } else {
    out.U32(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count, std::numeric_limits<std::uint32_t>::max())));
  }
}

std::vector<TypeInfo> WriteColMetadata(const std::vector<Column>& columns, TdsVersion version,
                                       ByteWriter& out) {
  std::vector<TypeInfo> types;
  types.reserve(columns.size());
  out.U8(static_cast<std::uint8_t>(Token::kColMetadata));
  out.U16(static_cast<std::uint16_t>(columns.size()));
  for (const Column& column : columns) {
    TypeInfo info = DescribeType(column.type, version);
    WriteUserType(version, out);
    out.U16(ColumnFlags(column.type));
    WriteTypeInfo(info, out);
    if (IsTextPointerType(info.type)) {
      // The table name: none (7.2+ counts its parts, 7.1 has one US_VARCHAR).
      if (HasWideCounts(version)) {
        out.U8(0);
      } else {
        out.U16(0);
      }
    }
    out.BVarChar(column.name);
    types.push_back(info);
  }
  return types;
}

void WriteRow(const std::vector<TypeInfo>& types, const Row& row, ByteWriter& out) {
  std::size_t start = out.Size();
  try {
    out.U8(static_cast<std::uint8_t>(Token::kRow));
    for (std::size_t i = 0; i < types.size(); ++i) {
      static const Value kNull;
      WriteValue(types[i], i < row.size() ? row[i] : kNull, ValueContext::kRow, out);
    }
  } catch (...) {
    out.Bytes().resize(start);
    throw;
  }
}

void WriteOrigins(const ResultOrigins& origins, ByteWriter& out) {
  out.U8(static_cast<std::uint8_t>(Token::kTabName));
  std::size_t length_at = out.Size();
  out.U16(0);
  std::vector<std::vector<std::string>> tables = origins.tables;
  if (tables.empty()) tables.emplace_back();
  for (std::vector<std::string>& parts : tables) {
    if (parts.empty()) parts.emplace_back();
    out.U8(static_cast<std::uint8_t>(std::min<std::size_t>(parts.size(), 4)));
    for (std::size_t k = 0; k < parts.size() && k < 4; ++k) out.UsVarChar(parts[k], 128);
  }
  out.PatchU16(length_at, static_cast<std::uint16_t>(out.Size() - length_at - 2));

  out.U8(static_cast<std::uint8_t>(Token::kColInfo));
  length_at = out.Size();
  out.U16(0);
  for (std::size_t k = 0; k < origins.columns.size() && k < 255; ++k) {
    const ResultOrigins::ColumnOrigin& column = origins.columns[k];
    out.U8(static_cast<std::uint8_t>(k + 1));
    out.U8(static_cast<std::uint8_t>(column.table));
    out.U8(static_cast<std::uint8_t>((column.expression ? 0x04 : 0) | (column.hidden ? 0x10 : 0)));
  }
  out.PatchU16(length_at, static_cast<std::uint16_t>(out.Size() - length_at - 2));
}

void WriteReturnStatus(std::int32_t status, ByteWriter& out) {
  out.U8(static_cast<std::uint8_t>(Token::kReturnStatus));
  out.I32(status);
}

void WriteReturnValue(const OutputValue& value, TdsVersion version, ByteWriter& out) {
  std::size_t start = out.Size();
  try {
    TypeInfo info = DescribeType(value.type, version);
    out.U8(static_cast<std::uint8_t>(Token::kReturnValue));
    out.U16(static_cast<std::uint16_t>(value.ordinal));
    out.BVarChar(value.name);
    out.U8(0x01);  // output parameter
    WriteUserType(version, out);
    out.U16(kFlagNullable);
    WriteTypeInfo(info, out);
    WriteValue(info, value.value, ValueContext::kReturnValue, out);
  } catch (...) {
    out.Bytes().resize(start);
    throw;
  }
}

}  // namespace sqlengine::tds
