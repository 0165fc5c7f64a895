#pragma once
// Values on the wire: ROW and RETURNVALUE data written for a TYPE_INFO, and
// RPC parameter data read for one. Engine values are converted as the
// declared type needs (integers from text, text from numbers, ...).

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/types.h"
#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/type_info.h"

namespace sqlengine::tds {

// A value that cannot be represented in its column's type (text in an int
// column, an out-of-range number). Nothing has been written when it is thrown.
class ValueConversionError : public std::runtime_error {
 public:
  enum class Kind {
    kOverflow,  // a value of the right kind beyond the type's range
    kNotAValue  // no value of the type at all (text that is no number)
  };
  ValueConversionError(const std::string& what, Kind kind = Kind::kNotAValue,
                       std::string type_name = {}, std::optional<std::string> text = {})
      : std::runtime_error(what),
        kind_(kind),
        type_name_(std::move(type_name)),
        text_(std::move(text)) {}
  Kind kind() const { return kind_; }
  // SQL Server's name of the type converted to ("int", "decimal" ...).
  const std::string& type_name() const { return type_name_; }
  // The value when it was text.
  const std::optional<std::string>& text() const { return text_; }

 private:
  Kind kind_;
  std::string type_name_;
  std::optional<std::string> text_;
};

// How a value is framed: in a ROW, TEXT/NTEXT/IMAGE carry a text pointer.
enum class ValueContext { kRow, kReturnValue };

void WriteValue(const TypeInfo& info, const Value& value, ValueContext context, ByteWriter& out);

// Reads one RPC parameter value. Character data becomes UTF-8, DECIMAL and
// MONEY a Decimal, date and time types a DateTime, UNIQUEIDENTIFIER its
// canonical text (upper case, with dashes). Throws DecodeError for lengths
// that do not fit the type or the message.
Value ReadValue(const TypeInfo& info, ByteReader& in);

// The bytes of one RPC parameter value, length prefix included, exactly as
// ReadValue consumes them, without reading what they hold. Throws DecodeError
// only when they do not fit in the message.
std::span<const std::uint8_t> FrameValue(const TypeInfo& info, ByteReader& in);

// 16 wire bytes of a UNIQUEIDENTIFIER from its text form; throws
// ValueConversionError for malformed text.
Bytes GuidFromText(const std::string& text);
std::string GuidToText(std::span<const std::uint8_t> bytes);

}  // namespace sqlengine::tds
