#pragma once
// sql_variant values on the wire (SSVARIANT_INSTANCE): the base type's TDS
// code, its property bytes and its data, after a 4-byte length (0 for NULL).

#include "engine/common/types.h"
#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"

namespace sqlengine::tds {

// Writes one sql_variant value, length included. `value` is the stored form
// (values/variant_value.h); any other value is sent as its natural type (an
// integer as int or bigint, a text as varchar ...). Throws
// ValueConversionError when the base value does not fit its type.
void WriteVariantValue(const Value& value, ByteWriter& out);

// Reads one sql_variant value, length included, into its stored form (NULL
// for length 0). Throws DecodeError for a base type a variant cannot hold or
// data that does not fit it.
Value ReadVariantValue(ByteReader& in);

}  // namespace sqlengine::tds
