#pragma once
// The BULKLOAD message (packet type 0x07) a client sends after INSERT BULK:
// a COLMETADATA token describing the values, ROW tokens, and a DONE token
// (which FreeTDS leaves out: the message's end then ends the rows), laid out
// as the server would send the same rows, except that a DECIMALN value may
// be shorter than the size its precision has on the wire. The reader decodes it one
// row at a time, pulling the message's packets from a BodySource as it needs
// them, so rows are inserted while the client still sends and a message is
// never held whole. Everything inside the message was framed by its packets,
// so what cannot be read is answered with SQL Server's error (SqlError) and
// the session goes on:
//   4816  a type code the protocol does not define, or one no table column
//         can hold (sql_variant, XML, CLR types)
//   4815  a value whose length does not fit its type or declared maximum, or
//         whose bytes are no valid value of it (a decimal beyond 38 digits)
//   4002  the message ends early, or a token other than ROW or DONE comes.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/common/bulk_load_abandoned.h"
#include "engine/common/engine_api.h"
#include "engine/common/error.h"
#include "engine/tds/byte_reader.h"
#include "engine/tds/type_info.h"
#include "engine/tds/version.h"

namespace sqlengine::tds {

// The bytes of one message, part by part (its packets' payloads).
class BodySource {
 public:
  virtual ~BodySource() = default;
  // Appends the next part of the body to `body`; false once the message has
  // ended (nothing appended). May block until the part arrives. Throws
  // BulkLoadAbandoned when the message will not be completed.
  virtual bool Append(std::vector<std::uint8_t>& body) = 0;
  // The reader is done with the message: what is left of it is dropped.
  // Returns once the message has ended.
  virtual void SkipRest() {}
};

class BulkLoadReader final : public BulkRowSource {
 public:
  // Reads the COLMETADATA token from `source`, which must outlive the
  // reader. Never throws: metadata that cannot be read (or a message given
  // up before its metadata) leaves Columns() empty, and the first Next()
  // throws the error (or BulkLoadAbandoned). Only what the rows not yet
  // read need is kept.
  BulkLoadReader(BodySource& source, TdsVersion version);
  // The same over a whole message body (without packet headers), which must
  // outlive the reader.
  BulkLoadReader(std::span<const std::uint8_t> body, TdsVersion version);

  const std::vector<Column>& Columns() const override { return columns_; }
  bool Next(Row& row) override;
  // The wire description of each column, beside Columns().
  const std::vector<TypeInfo>& WireTypes() const { return types_; }

 private:
  Value ReadColumnValue(ByteReader& in, std::size_t column);
  void ReadColMetadata(ByteReader& in);
  void Start();
  // Runs `parse` over the bytes not yet consumed, pulling more of the body
  // and starting again while it runs out of them; consumes what it read and
  // returns what `parse` returned. Throws Truncated when the body ends first.
  template <typename Parse>
  bool Consume(Parse parse);
  // Appends the next part of the body; false when it has ended.
  bool Pull();
  // Whether the body holds nothing more, pulling to find out.
  bool BodyEnded();

  std::unique_ptr<BodySource> whole_body_;  // for the span constructor
  BodySource& source_;
  std::vector<std::uint8_t> buffer_;
  std::size_t consumed_ = 0;
  bool source_ended_ = false;
  TdsVersion version_;
  std::vector<Column> columns_;
  std::vector<TypeInfo> types_;
  std::optional<SqlError> metadata_error_;
  bool abandoned_in_metadata_ = false;
  bool done_ = false;
  std::size_t longest_row_ = 0;  // in bytes, of the rows read so far
};

}  // namespace sqlengine::tds
