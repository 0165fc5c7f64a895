#include "engine/tds/value_codec.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/tds/text_codec.h"
#include "engine/tds/variant_codec.h"
#include "engine/values/calendar.h"
#include "engine/values/date_style_text.h"
#include "engine/values/date_text.h"
#include "engine/values/number_text.h"

namespace sqlengine::tds {
namespace {

using values::CivilFromDays;
using values::DaysFromCivil;
using values::kDays0001To1900;
using values::kDays1900To1970;

constexpr std::uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;
constexpr std::uint16_t kCharNull = 0xFFFF;
constexpr std::int64_t kTicksPerDay = 300LL * 86400;

__int128 PowerOfTen(int n) {
  __int128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

std::string Describe(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return "'" + *s + "'";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return std::to_string(*d);
  return "value";
}

std::optional<std::string> TextOf(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::nullopt;
}

// `type` is SQL Server's name of the type converted to.
[[noreturn]] void Unconvertible(const Value& v, const char* type) {
  throw ValueConversionError("cannot convert " + Describe(v) + " to " + type,
                             ValueConversionError::Kind::kNotAValue, type, TextOf(v));
}

[[noreturn]] void Overflow(const Value& v, const char* type) {
  throw ValueConversionError(Describe(v) + " is out of the range of " + type,
                             ValueConversionError::Kind::kOverflow, type, TextOf(v));
}

const char* IntegerTypeName(std::size_t size) {
  return size == 1 ? "tinyint" : size == 2 ? "smallint" : size == 8 ? "bigint" : "int";
}

Decimal ToDecimal(const Value& v, int scale, const char* type) {
  Decimal d;
  if (const auto* dec = std::get_if<Decimal>(&v)) {
    d = *dec;
  } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
    d.unscaled = *i;
  } else if (const auto* f = std::get_if<double>(&v)) {
    if (!std::isfinite(*f) || std::fabs(*f) >= 1e38) Overflow(v, type);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", std::min(scale + 1, 20), *f);
    std::optional<Decimal> parsed = values::DecimalFromText(buffer, scale);
    if (!parsed) Unconvertible(v, type);
    d = *parsed;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::optional<Decimal> parsed = values::DecimalFromText(*s, scale);
    if (!parsed) Unconvertible(v, type);
    d = *parsed;
  } else {
    Unconvertible(v, type);
  }
  return values::Rescaled(d, scale);
}

std::int64_t ToInteger(const Value& v, std::int64_t low, std::int64_t high, const char* type) {
  std::int64_t result = 0;
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    result = *i;
  } else if (const auto* f = std::get_if<double>(&v)) {
    if (!(*f >= static_cast<double>(low) && *f <= static_cast<double>(high))) Overflow(v, type);
    result = static_cast<std::int64_t>(*f);
  } else if (const auto* d = std::get_if<Decimal>(&v)) {
    __int128 whole = d->unscaled / PowerOfTen(d->scale);
    if (whole < low || whole > high) Overflow(v, type);
    result = static_cast<std::int64_t>(whole);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::optional<std::int64_t> parsed = values::WholeNumberFromText(*s);
    if (!parsed) Unconvertible(v, type);
    result = *parsed;
  } else {
    Unconvertible(v, type);
  }
  if (result < low || result > high) Overflow(v, type);
  return result;
}

double ToDouble(const Value& v, const char* type) {
  if (const auto* f = std::get_if<double>(&v)) return *f;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<Decimal>(&v)) {
    return static_cast<double>(d->unscaled) / static_cast<double>(PowerOfTen(d->scale));
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (std::optional<double> parsed = values::FloatFromText(*s)) return *parsed;
  }
  Unconvertible(v, type);
}

DateTime ToDateTime(const Value& v) {
  if (const auto* d = std::get_if<DateTime>(&v)) return *d;
  // A text reaches the codec only where the executor left a value untyped;
  // it is read as the executor reads one under the default DATEFORMAT.
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::optional<DateTime> d =
        values::TryDateTimeFromText(*s, values::DateKind::kDateTime, values::DateOrder::kMdy);
    if (d) return *d;
  }
  Unconvertible(v, "datetime");
}

std::string ToText(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* f = std::get_if<double>(&v)) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", *f);
    return buffer;
  }
  if (const auto* d = std::get_if<Decimal>(&v)) return values::DecimalText(*d);
  if (const auto* t = std::get_if<DateTime>(&v)) return values::DateTimeStyled(*t, 121);
  if (const auto* b = std::get_if<Bytes>(&v)) return std::string(b->begin(), b->end());
  return {};
}

Bytes ToBytes(const Value& v) {
  if (const auto* b = std::get_if<Bytes>(&v)) return *b;
  std::string text = ToText(v);
  return Bytes(text.begin(), text.end());
}

// The bytes of a character or binary value in the type's wire encoding.
Bytes Encoded(const TypeInfo& info, const Value& v) {
  switch (info.type) {
    case WireType::kNVarChar:
    case WireType::kNChar:
    case WireType::kNText: {
      Bytes out;
      AppendUcs2(ToText(v), out);
      return out;
    }
    case WireType::kBigVarChar:
    case WireType::kBigChar:
    case WireType::kText: {
      std::string text = Utf8ToCp1252(ToText(v));
      return Bytes(text.begin(), text.end());
    }
    default:
      return ToBytes(v);
  }
}

// Cuts a value longer than its column (storage that did not enforce the
// declared length) so the stream stays valid; UCS-2 stays whole code points.
void FitToLength(const TypeInfo& info, Bytes& data) {
  if (data.size() <= info.max_length) return;
  std::size_t keep = info.max_length;
  bool unicode = info.type == WireType::kNVarChar || info.type == WireType::kNChar;
  if (unicode) {
    keep &= ~std::size_t{1};
    if (keep >= 2) {
      std::uint16_t last = static_cast<std::uint16_t>(data[keep - 2] | (data[keep - 1] << 8));
      if (last >= 0xD800 && last <= 0xDBFF) keep -= 2;
    }
  }
  data.resize(keep);
}

void PadToLength(const TypeInfo& info, Bytes& data) {
  if (info.type == WireType::kBigChar) data.resize(info.max_length, ' ');
  if (info.type == WireType::kBigBinary) data.resize(info.max_length, 0);
  if (info.type == WireType::kNChar) {
    while (data.size() + 2 <= info.max_length) {
      data.push_back(' ');
      data.push_back(0);
    }
  }
}

void WriteInteger(std::int64_t v, std::size_t size, ByteWriter& out) {
  for (std::size_t i = 0; i < size; ++i)
    out.U8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
}

void WriteDecimalValue(const TypeInfo& info, const Value& v, ByteWriter& out) {
  Decimal d = ToDecimal(v, info.scale, "decimal");
  __int128 magnitude = d.unscaled < 0 ? -d.unscaled : d.unscaled;
  if (magnitude >= PowerOfTen(info.precision)) Overflow(v, "decimal");
  out.U8(static_cast<std::uint8_t>(info.max_length));
  out.U8(d.unscaled < 0 ? 0 : 1);
  for (std::uint32_t i = 0; i + 1 < info.max_length; ++i) {
    out.U8(static_cast<std::uint8_t>(static_cast<unsigned __int128>(magnitude) >> (8 * i)));
  }
}

void WriteMoneyValue(const TypeInfo& info, const Value& v, ByteWriter& out) {
  const char* type = info.max_length == 4 ? "smallmoney" : "money";
  Decimal d = ToDecimal(v, 4, type);
  std::int64_t low = info.max_length == 4 ? std::numeric_limits<std::int32_t>::min()
                                          : std::numeric_limits<std::int64_t>::min();
  std::int64_t high = info.max_length == 4 ? std::numeric_limits<std::int32_t>::max()
                                           : std::numeric_limits<std::int64_t>::max();
  if (d.unscaled < low || d.unscaled > high) Overflow(v, type);
  auto units = static_cast<std::int64_t>(d.unscaled);
  out.U8(static_cast<std::uint8_t>(info.max_length));
  if (info.max_length == 4) {
    out.I32(static_cast<std::int32_t>(units));
  } else {
    out.U32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(units) >> 32));
    out.U32(static_cast<std::uint32_t>(units));
  }
}

void WriteDateTimeValue(const TypeInfo& info, const Value& v, ByteWriter& out) {
  DateTime t = ToDateTime(v);
  std::int64_t days = DaysFromCivil(t.year, t.month, t.day) + kDays1900To1970;
  std::int64_t milliseconds = ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
  if (info.max_length == 4) {
    std::int64_t minutes = (milliseconds + 30000) / 60000;
    if (minutes >= 1440) {
      minutes -= 1440;
      ++days;
    }
    if (days < 0 || days > 0xFFFF) Overflow(v, "smalldatetime");
    out.U8(4);
    out.U16(static_cast<std::uint16_t>(days));
    out.U16(static_cast<std::uint16_t>(minutes));
    return;
  }
  std::int64_t ticks = (milliseconds * 300 + 500) / 1000;
  if (ticks >= kTicksPerDay) {
    ticks -= kTicksPerDay;
    ++days;
  }
  if (days < -53690 || days > 2958463) Overflow(v, "datetime");  // 1753-01-01..9999-12-31
  out.U8(8);
  out.I32(static_cast<std::int32_t>(days));
  out.U32(static_cast<std::uint32_t>(ticks));
}

void WritePlp(const Bytes& data, ByteWriter& out) {
  out.U64(data.size());
  if (!data.empty()) {
    out.U32(static_cast<std::uint32_t>(data.size()));
    out.Append(data);
  }
  out.U32(0);
}

// A text pointer and timestamp the client treats as opaque.
void WriteTextPointer(ByteWriter& out) {
  out.U8(16);
  for (int i = 0; i < 16; ++i) out.U8(0xAA);
  for (int i = 0; i < 8; ++i) out.U8(0);
}

}  // namespace

void WriteValue(const TypeInfo& info, const Value& value, ValueContext context, ByteWriter& out) {
  if (info.type == WireType::kSqlVariant) return WriteVariantValue(value, out);
  const bool null = IsNull(value);
  if (IsPlp(info)) {
    if (null) {
      out.U64(kPlpNull);
    } else {
      WritePlp(Encoded(info, value), out);
    }
    return;
  }
  switch (LengthKindOf(info.type)) {
    case LengthKind::kUShort: {
      if (null) {
        out.U16(kCharNull);
        return;
      }
      const auto* text = std::get_if<std::string>(&value);
      if (text && info.type == WireType::kNVarChar) {
        // The common case, encoded in place: length, then UCS-2.
        std::size_t length_at = out.Size();
        out.U16(0);
        std::size_t units = out.Ucs2(*text);
        if (units * 2 <= info.max_length) {
          out.PatchU16(length_at, static_cast<std::uint16_t>(units * 2));
          return;
        }
        out.Bytes().resize(length_at);  // too long: cut below
      }
      Bytes data = Encoded(info, value);
      FitToLength(info, data);
      PadToLength(info, data);
      out.U16(static_cast<std::uint16_t>(data.size()));
      out.Append(data);
      return;
    }
    case LengthKind::kLong: {
      if (null) {
        if (context == ValueContext::kRow) {
          out.U8(0);
        } else {
          out.U32(0xFFFFFFFF);
        }
        return;
      }
      Bytes data = Encoded(info, value);
      if (data.size() > 0x7FFFFFFF) Overflow(value, "text");
      if (context == ValueContext::kRow) WriteTextPointer(out);
      out.U32(static_cast<std::uint32_t>(data.size()));
      out.Append(data);
      return;
    }
    default:
      break;
  }
  if (null) {
    out.U8(0);
    return;
  }
  switch (info.type) {
    case WireType::kIntN: {
      std::size_t size = info.max_length;
      std::int64_t low = size == 1   ? 0
                         : size == 8 ? std::numeric_limits<std::int64_t>::min()
                                     : -(1LL << (8 * size - 1));
      std::int64_t high = size == 1   ? 255
                          : size == 8 ? std::numeric_limits<std::int64_t>::max()
                                      : (1LL << (8 * size - 1)) - 1;
      std::int64_t v = ToInteger(value, low, high, IntegerTypeName(size));
      out.U8(static_cast<std::uint8_t>(size));
      WriteInteger(v, size, out);
      return;
    }
    case WireType::kBitN: {
      double as_number = ToDouble(value, "bit");
      out.U8(1);
      out.U8(as_number != 0 ? 1 : 0);
      return;
    }
    case WireType::kFloatN: {
      double v = ToDouble(value, info.max_length == 4 ? "real" : "float");
      out.U8(static_cast<std::uint8_t>(info.max_length));
      if (info.max_length == 4) {
        float f = static_cast<float>(v);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        out.U32(bits);
      } else {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        out.U64(bits);
      }
      return;
    }
    case WireType::kDecimalN:
    case WireType::kNumericN:
      WriteDecimalValue(info, value, out);
      return;
    case WireType::kMoneyN:
      WriteMoneyValue(info, value, out);
      return;
    case WireType::kDateTimeN:
      WriteDateTimeValue(info, value, out);
      return;
    case WireType::kGuid: {
      Bytes data = std::holds_alternative<Bytes>(value) ? std::get<Bytes>(value)
                                                        : GuidFromText(ToText(value));
      if (data.size() != 16) Unconvertible(value, "uniqueidentifier");
      out.U8(16);
      out.Append(data);
      return;
    }
    default:
      throw ValueConversionError("no encoder for wire type " +
                                 std::to_string(static_cast<int>(info.type)));
  }
}

Bytes GuidFromText(const std::string& text) {
  std::string hex;
  for (char c : text) {
    if (c == '-' || c == '{' || c == '}') continue;
    hex.push_back(c);
  }
  if (hex.size() != 32)
    throw ValueConversionError("malformed uniqueidentifier '" + text + "'",
                               ValueConversionError::Kind::kNotAValue, "uniqueidentifier", text);
  Bytes canonical(16);
  for (int i = 0; i < 16; ++i) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, v, 16);
    if (ec != std::errc() || end != hex.data() + 2 * i + 2) {
      throw ValueConversionError("malformed uniqueidentifier '" + text + "'",
                                 ValueConversionError::Kind::kNotAValue, "uniqueidentifier", text);
    }
    canonical[i] = static_cast<std::uint8_t>(v);
  }
  // The first three groups travel little-endian.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  Bytes wire(16);
  for (int i = 0; i < 16; ++i) wire[i] = canonical[kOrder[i]];
  return wire;
}

std::string GuidToText(std::span<const std::uint8_t> b) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return buffer;
}

namespace {

std::int64_t ReadSigned(std::span<const std::uint8_t> bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  if (bytes.size() < 8 && bytes.size() > 0 && (bytes.back() & 0x80)) {
    v |= ~std::uint64_t{0} << (8 * bytes.size());
  }
  return static_cast<std::int64_t>(v);
}

std::uint64_t ReadUnsigned(std::span<const std::uint8_t> bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return v;
}

Value CharacterValue(const TypeInfo& info, std::span<const std::uint8_t> data) {
  switch (info.type) {
    case WireType::kNVarChar:
    case WireType::kNChar:
    case WireType::kNText:
      return Ucs2ToUtf8(data);
    case WireType::kBigVarChar:
    case WireType::kBigChar:
    case WireType::kText:
    case WireType::kVarCharLegacy:
    case WireType::kCharLegacy:
      return Cp1252ToUtf8(data);
    default:
      return Bytes(data.begin(), data.end());
  }
}

Value ReadPlp(const TypeInfo& info, ByteReader& in) {
  std::uint64_t total = in.U64();
  if (total == kPlpNull) return std::monostate{};
  if (total != kPlpUnknownLength && total > in.Remaining()) {
    throw DecodeError("PLP length exceeds the message");
  }
  Bytes data;
  for (;;) {
    std::uint32_t chunk = in.U32();
    if (chunk == 0) break;
    auto part = in.Take(chunk);
    data.insert(data.end(), part.begin(), part.end());
  }
  if (total != kPlpUnknownLength && total != data.size()) {
    throw DecodeError("PLP chunks do not add up to the declared length");
  }
  return CharacterValue(info, data);
}

DateTime FromDaysAndNanoseconds(std::int64_t days_since_0001, std::uint64_t nanoseconds) {
  DateTime t;
  CivilFromDays(days_since_0001 - kDays0001To1900 - kDays1900To1970, &t.year, &t.month, &t.day);
  std::uint64_t ms = nanoseconds / 1000000;
  t.millisecond = static_cast<int>(ms % 1000);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.hour = static_cast<int>(ms / 3600000 % 24);
  return t;
}

std::uint64_t TimeNanoseconds(std::span<const std::uint8_t> bytes, int scale) {
  std::uint64_t units = ReadUnsigned(bytes);
  std::uint64_t factor = 1;
  for (int i = scale; i < 9; ++i) factor *= 10;
  return units * factor;
}

std::size_t TimeSize(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

constexpr std::int64_t kNanosecondsPerDay = 86'400'000'000'000;
// 9999-12-31, in days since 0001-01-01: the last day a date type holds.
constexpr std::int64_t kLastDate = 3'652'058;

// A DATE's three bytes; throws InvalidValue past 9999-12-31.
std::int64_t DateDays(std::span<const std::uint8_t> bytes) {
  const auto days = static_cast<std::int64_t>(ReadUnsigned(bytes));
  if (days > kLastDate) throw InvalidValue("date out of range");
  return days;
}

// The instant `nanoseconds` into day `days` (since 0001-01-01) rounded to
// datetime's 1/300 second, the type the engine holds it in, as a conversion
// to datetime rounds it (23:59:59.9985 and later are the next day). Throws
// InvalidValue past 9999-12-31.
DateTime AsDatetime(std::int64_t days, std::uint64_t nanoseconds) {
  std::uint64_t ticks = (nanoseconds * 3 + 5'000'000) / 10'000'000;
  if (ticks >= static_cast<std::uint64_t>(kTicksPerDay)) {
    ticks -= kTicksPerDay;
    ++days;
  }
  if (days > kLastDate) throw InvalidValue("date out of range");
  return FromDaysAndNanoseconds(days, (ticks * 10 + 1) / 3 * 1'000'000);
}

// A TIME's bytes at `scale` as nanoseconds since midnight; throws
// InvalidValue for a time of 24:00 or later.
std::uint64_t TimeOfDay(std::span<const std::uint8_t> bytes, int scale) {
  const std::uint64_t ns = TimeNanoseconds(bytes, scale);
  if (ns >= static_cast<std::uint64_t>(kNanosecondsPerDay)) throw InvalidValue("time out of range");
  return ns;
}

Value ReadFixedValue(const TypeInfo& info, std::span<const std::uint8_t> data) {
  auto expect = [&](std::initializer_list<std::size_t> sizes) {
    for (std::size_t s : sizes) {
      if (data.size() == s) return;
    }
    throw DecodeError("value length " + std::to_string(data.size()) + " does not fit its type");
  };
  switch (info.type) {
    case WireType::kInt1:
    case WireType::kInt2:
    case WireType::kInt4:
    case WireType::kInt8:
    case WireType::kIntN:
      expect({1, 2, 4, 8});
      if (data.size() == 1) return static_cast<std::int64_t>(data[0]);  // tinyint is unsigned
      return ReadSigned(data);
    case WireType::kBit:
    case WireType::kBitN:
      expect({1});
      return static_cast<std::int64_t>(data[0] != 0);
    case WireType::kFloat4:
    case WireType::kFloat8:
    case WireType::kFloatN: {
      expect({4, 8});
      if (data.size() == 4) {
        std::uint32_t bits = static_cast<std::uint32_t>(ReadUnsigned(data));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return static_cast<double>(f);
      }
      std::uint64_t bits = ReadUnsigned(data);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case WireType::kMoney:
    case WireType::kMoney4:
    case WireType::kMoneyN: {
      expect({4, 8});
      Decimal d;
      d.scale = 4;
      if (data.size() == 4) {
        d.unscaled = ReadSigned(data);
      } else {
        std::uint64_t high = ReadUnsigned(data.first(4));
        std::uint64_t low = ReadUnsigned(data.subspan(4));
        d.unscaled = static_cast<std::int64_t>((high << 32) | low);
      }
      return d;
    }
    case WireType::kDecimalN:
    case WireType::kNumericN:
    case WireType::kDecimalLegacy:
    case WireType::kNumericLegacy: {
      expect({5, 9, 13, 17});
      unsigned __int128 magnitude = 0;
      for (std::size_t i = 1; i < data.size(); ++i) {
        magnitude |= static_cast<unsigned __int128>(data[i]) << (8 * (i - 1));
      }
      if (magnitude >= static_cast<unsigned __int128>(PowerOfTen(38))) {
        throw InvalidValue("decimal value beyond 38 digits");
      }
      Decimal d;
      d.scale = info.scale;
      d.unscaled =
          data[0] == 0 ? -static_cast<__int128>(magnitude) : static_cast<__int128>(magnitude);
      return d;
    }
    case WireType::kDateTime4:
    case WireType::kDateTime:
    case WireType::kDateTimeN: {
      expect({4, 8});
      std::int64_t days;
      std::uint64_t nanoseconds;
      if (data.size() == 4) {
        days = static_cast<std::int64_t>(ReadUnsigned(data.first(2)));
        std::uint64_t minutes = ReadUnsigned(data.subspan(2));
        if (minutes >= 1440) throw InvalidValue("smalldatetime minutes out of range");
        nanoseconds = minutes * 60'000'000'000ull;
      } else {
        days = ReadSigned(data.first(4));
        std::uint64_t ticks = ReadUnsigned(data.subspan(4));
        if (ticks >= static_cast<std::uint64_t>(kTicksPerDay)) {
          throw InvalidValue("datetime ticks out of range");
        }
        nanoseconds = (ticks * 10 + 1) / 3 * 1'000'000;  // whole milliseconds, rounded
      }
      if (days < -53690 || days > 2958463) throw InvalidValue("datetime days out of range");
      return FromDaysAndNanoseconds(days + kDays0001To1900, nanoseconds);
    }
    case WireType::kDateN:
      expect({3});
      return FromDaysAndNanoseconds(DateDays(data), 0);
    case WireType::kTimeN:
      expect({TimeSize(info.scale)});
      return AsDatetime(kDays0001To1900, TimeOfDay(data, info.scale));
    case WireType::kDateTime2N:
    case WireType::kDateTimeOffsetN: {
      std::size_t time = TimeSize(info.scale);
      std::size_t offset = info.type == WireType::kDateTimeOffsetN ? 2 : 0;
      expect({time + 3 + offset});
      std::int64_t ns = static_cast<std::int64_t>(TimeOfDay(data.first(time), info.scale));
      std::int64_t days = DateDays(data.subspan(time, 3));
      if (offset != 0) {
        // The value travels as UTC with its offset; the engine's types keep
        // the local time, as a conversion to datetime keeps it.
        std::int64_t minutes = ReadSigned(data.subspan(time + 3, 2));
        if (minutes < -840 || minutes > 840) throw InvalidValue("time zone offset out of range");
        ns += minutes * 60'000'000'000;
        if (ns < 0) {
          ns += kNanosecondsPerDay;
          --days;
        } else if (ns >= kNanosecondsPerDay) {
          ns -= kNanosecondsPerDay;
          ++days;
        }
        if (days < 0 || days > kLastDate) throw InvalidValue("date out of range");
      }
      return AsDatetime(days, static_cast<std::uint64_t>(ns));
    }
    case WireType::kGuid:
      expect({16});
      return GuidToText(data);
    default:
      return CharacterValue(info, data);
  }
}

}  // namespace

Value ReadValue(const TypeInfo& info, ByteReader& in) {
  if (info.type == WireType::kSqlVariant) return ReadVariantValue(in);
  if (IsPlp(info)) return ReadPlp(info, in);
  switch (LengthKindOf(info.type)) {
    case LengthKind::kUShort: {
      std::uint16_t length = in.U16();
      if (length == kCharNull) return std::monostate{};
      if (length > info.max_length) throw DecodeError("value longer than its declared maximum");
      return CharacterValue(info, in.Take(length));
    }
    case LengthKind::kLong: {
      std::uint32_t length = in.U32();
      if (length == 0xFFFFFFFF) return std::monostate{};
      return CharacterValue(info, in.Take(length));
    }
    case LengthKind::kFixed:
      if (info.type == WireType::kNull) return std::monostate{};
      if (info.type != WireType::kDateN) return ReadFixedValue(info, in.Take(info.max_length));
      [[fallthrough]];
    default: {
      std::uint8_t length = in.U8();
      if (length == 0) return std::monostate{};
      if (LengthKindOf(info.type) == LengthKind::kByte && length > info.max_length &&
          info.type != WireType::kDecimalN && info.type != WireType::kNumericN) {
        throw DecodeError("value longer than its declared maximum");
      }
      auto data = in.Take(length);
      if (info.type == WireType::kVarCharLegacy || info.type == WireType::kCharLegacy ||
          info.type == WireType::kBinaryLegacy || info.type == WireType::kVarBinaryLegacy) {
        return CharacterValue(info, data);
      }
      return ReadFixedValue(info, data);
    }
  }
}

std::span<const std::uint8_t> FrameValue(const TypeInfo& info, ByteReader& in) {
  const std::size_t start = in.Position();
  if (IsPlp(info)) {
    if (in.U64() != kPlpNull) {
      while (std::uint32_t chunk = in.U32()) in.Skip(chunk);
    }
    return in.Since(start);
  }
  switch (LengthKindOf(info.type)) {
    case LengthKind::kUShort: {
      std::uint16_t length = in.U16();
      if (length != kCharNull) in.Skip(length);
      break;
    }
    case LengthKind::kLong: {
      std::uint32_t length = in.U32();
      if (length != 0xFFFFFFFF) in.Skip(length);
      break;
    }
    case LengthKind::kFixed:
      if (info.type == WireType::kNull) break;
      if (info.type != WireType::kDateN) {
        in.Skip(info.max_length);
        break;
      }
      [[fallthrough]];
    default:
      in.Skip(in.U8());
  }
  return in.Since(start);
}

}  // namespace sqlengine::tds
