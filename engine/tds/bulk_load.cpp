#include "engine/tds/bulk_load.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/tds/tokens.h"
#include "engine/tds/value_codec.h"

namespace sqlengine::tds {
namespace {

constexpr std::uint16_t kNoMetadata = 0xFFFF;
constexpr std::size_t kTimestampSize = 8;

SqlError StreamEnded() { return MakeError(4002); }

SqlError InvalidType(std::size_t column) { return MakeError(4816, {std::to_string(column + 1)}); }

SqlError InvalidLength(std::size_t column) { return MakeError(4815, {std::to_string(column + 1)}); }

bool IsDecimal(const TypeInfo& info) {
  return info.type == WireType::kDecimalN || info.type == WireType::kNumericN;
}

// A DECIMALN value whose magnitude has fewer bytes than the sizes a server
// sends (FreeTDS sizes it by precision as Sybase stores it: 6 bytes for
// precision 10), widened to the next of those sizes. Other lengths are kept
// for the reader to refuse.
std::vector<std::uint8_t> WidenedDecimal(std::span<const std::uint8_t> framed) {
  std::vector<std::uint8_t> widened(framed.begin(), framed.end());
  const std::size_t length = framed[0];
  if (length < 2) return widened;
  for (std::size_t size : {5, 9, 13, 17}) {
    if (length <= size) {
      widened.resize(1 + size, 0);
      widened[0] = static_cast<std::uint8_t>(size);
      break;
    }
  }
  return widened;
}

// A body that arrived whole: one part.
class WholeBody final : public BodySource {
 public:
  explicit WholeBody(std::span<const std::uint8_t> body) : body_(body) {}
  bool Append(std::vector<std::uint8_t>& body) override {
    if (given_) return false;
    given_ = true;
    body.insert(body.end(), body_.begin(), body_.end());
    return true;
  }

 private:
  std::span<const std::uint8_t> body_;
  bool given_ = false;
};

}  // namespace

BulkLoadReader::BulkLoadReader(BodySource& source, TdsVersion version)
    : source_(source), version_(version) {
  Start();
}

BulkLoadReader::BulkLoadReader(std::span<const std::uint8_t> body, TdsVersion version)
    : whole_body_(std::make_unique<WholeBody>(body)), source_(*whole_body_), version_(version) {
  Start();
}

template <typename Parse>
bool BulkLoadReader::Consume(Parse parse) {
  for (;;) {
    ByteReader in(std::span<const std::uint8_t>(buffer_).subspan(consumed_));
    try {
      bool result = parse(in);
      consumed_ += in.Position();
      return result;
    } catch (const Truncated&) {
      if (!Pull()) throw;
    }
  }
}

void BulkLoadReader::Start() {
  try {
    Consume([this](ByteReader& in) {
      columns_.clear();
      types_.clear();
      ReadColMetadata(in);
      return true;
    });
  } catch (const SqlError& error) {
    metadata_error_ = error;
  } catch (const DecodeError&) {
    metadata_error_ = StreamEnded();
  } catch (const BulkLoadAbandoned&) {
    abandoned_in_metadata_ = true;
  }
  if (metadata_error_ || abandoned_in_metadata_) {
    columns_.clear();
    types_.clear();
  }
}

bool BulkLoadReader::Pull() {
  if (source_ended_) return false;
  // What was consumed goes once it is most of the buffer: a row split by a
  // packet boundary is read again whole, from the bytes kept.
  if (consumed_ > 0 && consumed_ * 2 >= buffer_.size()) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  if (!source_.Append(buffer_)) source_ended_ = true;
  return !source_ended_;
}

bool BulkLoadReader::BodyEnded() {
  while (consumed_ == buffer_.size()) {
    if (!Pull()) return true;
  }
  return false;
}


void BulkLoadReader::ReadColMetadata(ByteReader& in) {
  if (in.U8() != static_cast<std::uint8_t>(Token::kColMetadata)) throw StreamEnded();
  const std::uint16_t count = in.U16();
  if (count == kNoMetadata || count == 0) throw StreamEnded();
  columns_.reserve(count);
  types_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (HasWideCounts(version_)) {
      in.U32();  // UserType
    } else {
      in.U16();
    }
    const std::uint16_t flags = in.U16();
    TypeInfo info;
    try {
      info = ReadTypeInfoUnchecked(in, version_);
    } catch (const Truncated&) {
      throw;
    } catch (const DecodeError&) {
      throw InvalidType(i);
    }
    try {
      CheckTypeInfo(info);
    } catch (const DecodeError&) {
      throw InvalidLength(i);
    }
    if (info.type == WireType::kNull) throw InvalidType(i);
    if (IsTextPointerType(info.type)) {
      // The table name: parts counted on 7.2+, one US_VARCHAR on 7.1.
      if (HasWideCounts(version_)) {
        for (std::uint8_t parts = in.U8(); parts > 0; --parts) in.UsVarChar();
      } else {
        in.UsVarChar();
      }
    }
    Column column;
    column.name = in.BVarChar();
    column.type = ToColumnType(info);
    column.type.nullable = (flags & 0x01) != 0;
    columns_.push_back(std::move(column));
    types_.push_back(info);
  }
}

Value BulkLoadReader::ReadColumnValue(ByteReader& in, std::size_t column) {
  const TypeInfo& info = types_[column];
  std::span<const std::uint8_t> framed;
  if (IsTextPointerType(info.type)) {
    // In a ROW these carry a text pointer and timestamp before the length;
    // a zero-length pointer is NULL.
    const std::uint8_t pointer = in.U8();
    if (pointer == 0) return std::monostate{};
    in.Skip(pointer + kTimestampSize);
    framed = FrameValue(info, in);
  } else {
    framed = FrameValue(info, in);
  }
  std::vector<std::uint8_t> widened;
  if (IsDecimal(info) && !framed.empty() && framed[0] != 0) {
    widened = WidenedDecimal(framed);
    framed = widened;
  }
  // Framed, the value's own bytes can only be wrong, not cut short.
  ByteReader value(framed);
  try {
    Value read = ReadValue(info, value);
    if (!value.AtEnd()) throw DecodeError("value shorter than its length");
    return read;
  } catch (const DecodeError&) {
    throw InvalidLength(column);
  }
}

bool BulkLoadReader::Next(Row& row) {
  if (abandoned_in_metadata_) {
    abandoned_in_metadata_ = false;
    done_ = true;
    throw BulkLoadAbandoned{};
  }
  if (metadata_error_) {
    SqlError error = *metadata_error_;
    metadata_error_.reset();
    done_ = true;
    throw error;
  }
  if (done_) return false;
  try {
    // FreeTDS ends the rows with the message, without the DONE token.
    if (BodyEnded()) {
      done_ = true;
      return false;
    }
    // Once rows have been read, a part is pulled ahead whenever what is left
    // could not hold a row as long as the longest so far: such a row would
    // most likely be cut, and be started and read again.
    while (!source_ended_ && buffer_.size() - consumed_ < longest_row_) Pull();
    const bool is_row = Consume([&](ByteReader& in) {
      const std::uint8_t token = in.U8();
      if (token == static_cast<std::uint8_t>(Token::kDone)) {
        // Status, CurCmd and the count.
        in.Skip(4 + (HasWideCounts(version_) ? 8 : 4));
        return false;
      }
      if (token != static_cast<std::uint8_t>(Token::kRow)) throw StreamEnded();
      row.resize(columns_.size());
      for (std::size_t i = 0; i < columns_.size(); ++i) row[i] = ReadColumnValue(in, i);
      longest_row_ = std::max(longest_row_, in.Position());
      return true;
    });
    if (!is_row) {
      // Nothing may follow the DONE.
      if (!BodyEnded()) throw StreamEnded();
      done_ = true;
      return false;
    }
    return true;
  } catch (const SqlError&) {
    done_ = true;
    throw;
  } catch (const DecodeError&) {
    done_ = true;
    throw StreamEnded();
  } catch (const BulkLoadAbandoned&) {
    done_ = true;
    throw;
  }
}

}  // namespace sqlengine::tds
