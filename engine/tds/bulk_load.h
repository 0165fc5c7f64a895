#pragma once
// The BULKLOAD message (packet type 0x07) a client sends after INSERT BULK:
// a COLMETADATA token describing the values, ROW tokens, and a DONE token
// (which FreeTDS leaves out: the message's end then ends the rows), laid out
// as the server would send the same rows, except that a DECIMALN value may
// be shorter than the size its precision has on the wire. The reader decodes it one
// row at a time. Everything inside the message was framed by its packets,
// so what cannot be read is answered with SQL Server's error (SqlError) and
// the session goes on:
//   4816  a type code the protocol does not define, or one no table column
//         can hold (sql_variant, XML, CLR types)
//   4815  a value whose length does not fit its type or declared maximum, or
//         whose bytes are no valid value of it (a decimal beyond 38 digits)
//   4002  the message ends early, or a token other than ROW or DONE comes.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/common/engine_api.h"
#include "engine/common/error.h"
#include "engine/tds/byte_reader.h"
#include "engine/tds/type_info.h"
#include "engine/tds/version.h"

namespace sqlengine::tds {

class BulkLoadReader final : public BulkRowSource {
 public:
  // Reads the COLMETADATA token. `body` is the message without packet
  // headers; it must outlive the reader. Never throws: metadata that cannot
  // be read leaves Columns() empty, and the first Next() throws its error.
  BulkLoadReader(std::span<const std::uint8_t> body, TdsVersion version);

  const std::vector<Column>& Columns() const override { return columns_; }
  bool Next(Row& row) override;
  // The wire description of each column, beside Columns().
  const std::vector<TypeInfo>& WireTypes() const { return types_; }

 private:
  Value ReadColumnValue(std::size_t column);
  void ReadColMetadata();

  ByteReader in_;
  TdsVersion version_;
  std::vector<Column> columns_;
  std::vector<TypeInfo> types_;
  std::optional<SqlError> metadata_error_;
  bool done_ = false;
};

}  // namespace sqlengine::tds
