#include "engine/exec/conversion_functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/binary_integer.h"
#include "engine/values/code_page_1252.h"
#include "engine/values/utf8.h"

namespace sqlengine::exec {
namespace {

void IntegerBytes(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto value = static_cast<std::uint64_t>(sqlite3_value_int64(args[0]));
  const int width = sqlite3_value_int(args[1]);
  const int length = sqlite3_value_int(args[2]);
  const bool fixed = sqlite3_value_int(args[3]) != 0;
  std::vector<unsigned char> bytes;
  for (int k = width - 1; k >= 0; --k)
    bytes.push_back(static_cast<unsigned char>(value >> (8 * k)));
  if (length >= 0 && static_cast<int>(bytes.size()) > length) {
    bytes.erase(bytes.begin(), bytes.end() - length);
  } else if (fixed && length > static_cast<int>(bytes.size())) {
    bytes.insert(bytes.begin(), static_cast<size_t>(length) - bytes.size(), 0);
  }
  sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// The declared type named by argument `index`; false after an error.
bool TypeArgument(sqlite3_context* context, sqlite3_value* argument, ColumnType& type) {
  std::optional<ColumnType> parsed = tsql::ParseDeclaredType(SqliteValueText(argument));
  if (!parsed) {
    sqlite3_result_error(context, "sqlengine: not a type", -1);
    return false;
  }
  type = *parsed;
  return true;
}

// sqlengine_value_bytes(value, 'from type', length, fixed): a number or
// date converted to binary data of `length` bytes (-1: as many as it
// takes) as SQL Server converts it (see ValueBytes). A decimal's bytes are
// cut or padded on the right as text's are, the others' on the left as an
// integer's are; only binary (`fixed`) is padded.
void ValueBytesFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  ColumnType from;
  if (!TypeArgument(context, args[1], from)) return;
  try {
    Bytes bytes = values::FittedBinary(ValueBytes(PlainValue(args[0]), from),
                                       sqlite3_value_int(args[2]), sqlite3_value_int(args[3]) != 0,
                                       from.type != SqlType::kDecimal);
    sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// sqlengine_bytes_datetime(bytes, 'datetime' | 'smalldatetime'): binary
// data read as the date it lays out, in the stored text form.
void BytesDateTime(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  ColumnType to;
  if (!TypeArgument(context, args[1], to)) return;
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(args[0]));
  try {
    std::string text =
        DateTimeText(DateTimeFromBytes(Bytes(data, data + sqlite3_value_bytes(args[0])), to.type));
    sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// sqlengine_text_bytes(text, national, length, fixed): character data's
// own bytes as binary data of `length` bytes (-1: all of them), cut or
// padded on the right: UTF-16LE for nchar / nvarchar, code page 1252 for
// char / varchar (a character it lacks is '?').
void TextBytes(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = SqliteValueText(args[0]);
  const bool national = sqlite3_value_int(args[1]) != 0;
  Bytes bytes;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = values::NextCodePoint(text, i);
    if (!national) {
      bytes.push_back(values::CodePointToCp1252(c).value_or('?'));
      continue;
    }
    auto unit = [&bytes](std::uint32_t u) {
      bytes.push_back(static_cast<std::uint8_t>(u));
      bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  bytes = values::FittedBinary(std::move(bytes), sqlite3_value_int(args[2]),
                               sqlite3_value_int(args[3]) != 0, false);
  sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// Where each byte of a uniqueidentifier's binary form comes from in its
// text's digits: the first three groups are stored little-endian.
constexpr int kGuidByteOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

// sqlengine_guid_bytes(guid, length, fixed): a uniqueidentifier's 16 bytes
// as SQL Server lays them out (0xFF19966F868B11D0... for
// 6F9619FF-8B86-D011-...), fitted to binary data of `length` bytes.
void GuidBytes(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = SqliteValueText(args[0]);
  Bytes digits;
  int half = -1;
  for (char c : text) {
    int nibble = c >= '0' && c <= '9'   ? c - '0'
                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                        : -1;
    if (nibble < 0) continue;
    if (half < 0) {
      half = nibble;
    } else {
      digits.push_back(static_cast<std::uint8_t>(half << 4 | nibble));
      half = -1;
    }
  }
  if (digits.size() != 16) return sqlite3_result_null(context);
  Bytes bytes(16);
  for (int i = 0; i < 16; ++i) bytes[i] = digits[kGuidByteOrder[i]];
  bytes = values::FittedBinary(std::move(bytes), sqlite3_value_int(args[1]),
                               sqlite3_value_int(args[2]) != 0, false);
  sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// sqlengine_bytes_guid(bytes): binary data read as the uniqueidentifier it
// lays out, its first 16 bytes (zeros where it has fewer), in text form.
void BytesGuid(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(args[0]));
  Bytes bytes(data, data + sqlite3_value_bytes(args[0]));
  bytes.resize(16, 0);
  std::uint8_t digits[16];
  for (int i = 0; i < 16; ++i) digits[kGuidByteOrder[i]] = bytes[i];
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[digits[i] >> 4];
    text += kHex[digits[i] & 0xF];
  }
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void AppendUtf8(std::string& text, std::uint32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | (code >> 12));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code >> 18));
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Code page 1252's characters for the bytes 0x80 to 0x9F (0: unassigned,
// kept as the byte's Latin-1 character).
constexpr std::uint16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void BytesText(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto* data = static_cast<const unsigned char*>(sqlite3_value_blob(args[0]));
  const bool national = sqlite3_value_int(args[1]) != 0;
  // The target's length cuts the bytes, not the text made of them: SQLite's
  // substr() would stop at a zero byte, which the text keeps.
  const std::int64_t length = sqlite3_value_int64(args[2]);
  int size = sqlite3_value_bytes(args[0]);
  if (length >= 0) size = static_cast<int>(std::min<std::int64_t>(size, national ? 2 * length : length));
  std::string text;
  if (national) {
    for (int k = 0; k + 1 < size; k += 2) {
      std::uint32_t unit = data[k] | (static_cast<std::uint32_t>(data[k + 1]) << 8);
      if (unit >= 0xD800 && unit < 0xDC00 && k + 3 < size) {
        std::uint32_t low = data[k + 2] | (static_cast<std::uint32_t>(data[k + 3]) << 8);
        if (low >= 0xDC00 && low < 0xE000) {
          AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          k += 2;
          continue;
        }
      }
      AppendUtf8(text, unit);
    }
  } else {
    for (int k = 0; k < size; ++k) {
      std::uint32_t code = data[k];
      if (code >= 0x80 && code < 0xA0 && kWindows1252[code - 0x80] != 0)
        code = kWindows1252[code - 0x80];
      AppendUtf8(text, code);
    }
  }
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// sqlengine_fitted_text(text, length, type): a number's text unchanged when
// it has at most `length` characters, else 8115 naming `type`.
void FittedText(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  if (static_cast<sqlite3_int64>(Utf8CharacterCount(text)) > sqlite3_value_int64(args[1])) {
    return ResultSqlError(context, MakeError(8115, {"expression", SqliteValueText(args[2])}));
  }
  sqlite3_result_value(context, args[0]);
}

// sqlengine_guid_text(text, length): a uniqueidentifier's 36 characters,
// which a shorter character type cannot hold: 8170 then.
void GuidText(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  if (static_cast<sqlite3_int64>(Utf8CharacterCount(SqliteValueText(args[0]))) >
      sqlite3_value_int64(args[1])) {
    return ResultSqlError(context, MakeError(8170));
  }
  sqlite3_result_value(context, args[0]);
}

// sqlengine_real(x): the number x held as a real does, to single
// precision (0.1 is 0.100000001490116); 8115 past a real's range.
void Real(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  double number = sqlite3_value_double(args[0]);
  auto single = static_cast<float>(number);
  if (std::isinf(single) && !std::isinf(number)) {
    return ResultSqlError(context, MakeError(8115, {"expression", "real"}));
  }
  sqlite3_result_double(context, static_cast<double>(single));
}

// sqlengine_float(x): x, or 8115 when float arithmetic has left the
// type's range (an infinity that a later conversion would show as text).
void Float(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  double number = sqlite3_value_double(args[0]);
  if (std::isinf(number)) return ResultSqlError(context, MakeError(8115, {"expression", "float"}));
  sqlite3_result_value(context, args[0]);
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_real", 1, Real, true},
    {"sqlengine_float", 1, Float, true},
    {"sqlengine_fitted_text", 3, FittedText, true},
    {"sqlengine_guid_text", 2, GuidText, true},
    {"sqlengine_integer_bytes", 4, IntegerBytes, true},
    {"sqlengine_bytes_text", 3, BytesText, true},
    {"sqlengine_value_bytes", 4, ValueBytesFunction, true},
    {"sqlengine_bytes_datetime", 2, BytesDateTime, true},
    {"sqlengine_text_bytes", 4, TextBytes, true},
    {"sqlengine_guid_bytes", 3, GuidBytes, true},
    {"sqlengine_bytes_guid", 1, BytesGuid, true},
};

}  // namespace

void RegisterConversionFunctions(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
