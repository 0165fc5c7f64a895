#pragma once
// Encoders for the server's token stream. Each function appends one complete
// token to `out`, laid out for the negotiated version.

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/common/types.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/type_info.h"
#include "engine/tds/version.h"

namespace sqlengine::tds {

enum class Token : std::uint8_t {
  kReturnStatus = 0x79,
  kColMetadata = 0x81,
  kTabName = 0xA4,
  kColInfo = 0xA5,
  kError = 0xAA,
  kInfo = 0xAB,
  kReturnValue = 0xAC,
  kLoginAck = 0xAD,
  kRow = 0xD1,
  kEnvChange = 0xE3,
  kDone = 0xFD,
  kDoneProc = 0xFE,
  kDoneInProc = 0xFF,
};

enum DoneStatus : std::uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,
  kDoneError = 0x0002,
  kDoneInTransaction = 0x0004,
  kDoneCount = 0x0010,
  kDoneAttention = 0x0020,
  kDoneServerError = 0x0100,
};

enum class EnvChangeType : std::uint8_t {
  kDatabase = 1,
  kLanguage = 2,
  kPacketSize = 4,
  kCollation = 7,
  kBeginTransaction = 8,
  kCommitTransaction = 9,
  kRollbackTransaction = 10,
};

void WriteLoginAck(TdsVersion version, ByteWriter& out);

// Types 1, 2 and 4: new and old value as B_VARCHAR.
void WriteEnvChange(EnvChangeType type, std::string_view new_value, std::string_view old_value,
                    ByteWriter& out);
// Type 7: the server collation as the new value.
void WriteCollationChange(ByteWriter& out);
// Types 8, 9, 10 (7.2+): the descriptor is the new value on begin, the old
// value on commit and rollback.
void WriteTransactionChange(EnvChangeType type, std::uint64_t descriptor, ByteWriter& out);
// The EnvChange the executor reports, in the layout its kind needs.
void WriteEnvChange(const EnvChange& change, ByteWriter& out);

// INFO for severity <= 10 (sent as class 0 when 10), ERROR above. The line
// number is u16 when `wide_line` is false (7.1), i32 otherwise.
void WriteMessage(const ServerMessage& message, std::string_view server_name, bool wide_line,
                  ByteWriter& out);

// DONE, DONEPROC or DONEINPROC; the count is u32 when `wide_count` is false.
void WriteDone(Token token, std::uint16_t status, std::uint16_t current_command,
               std::uint64_t count, bool wide_count, ByteWriter& out);

// COLMETADATA for `columns`; returns the TYPE_INFO chosen for each, which
// the ROW tokens of this result must use.
std::vector<TypeInfo> WriteColMetadata(const std::vector<Column>& columns, TdsVersion version,
                                       ByteWriter& out);

// TABNAME (names in parts, as TDS 7.1 revision 1 and later lay them out)
// and COLINFO for the result whose COLMETADATA was just written. A table
// without parts is sent as one empty part, as clients refuse an empty list.
void WriteOrigins(const ResultOrigins& origins, ByteWriter& out);

// One ROW. Throws ValueConversionError (with `out` unchanged) when a value
// does not fit its column.
void WriteRow(const std::vector<TypeInfo>& types, const Row& row, ByteWriter& out);

void WriteReturnStatus(std::int32_t status, ByteWriter& out);
// Throws ValueConversionError (with `out` unchanged) like WriteRow.
void WriteReturnValue(const OutputValue& value, TdsVersion version, ByteWriter& out);

}  // namespace sqlengine::tds
