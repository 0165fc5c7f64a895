#include "engine/exec/checksum_functions.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_value_text.h"

namespace sqlengine::exec {
namespace {

constexpr std::uint32_t kNullMark = 0xFF;

std::uint32_t Mix(std::uint32_t hash, unsigned char byte) {
  return ((hash << 4) | (hash >> 28)) ^ byte;
}

std::uint32_t MixBytes(std::uint32_t hash, const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) hash = Mix(hash, bytes[i]);
  return hash;
}

// The bytes a value hashes as: integers and floats by their eight bytes
// (big-endian), text as UTF-8 (folded to upper case and without trailing
// spaces when `collated`), blobs as they are.
std::uint32_t MixValue(std::uint32_t hash, sqlite3_value* value, bool collated) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return Mix(hash, kNullMark);
    case SQLITE_INTEGER: {
      auto number = static_cast<std::uint64_t>(sqlite3_value_int64(value));
      for (int shift = 56; shift >= 0; shift -= 8) {
        hash = Mix(hash, static_cast<unsigned char>(number >> shift));
      }
      return hash;
    }
    case SQLITE_FLOAT: {
      double number = sqlite3_value_double(value);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &number, sizeof bits);
      for (int shift = 56; shift >= 0; shift -= 8) {
        hash = Mix(hash, static_cast<unsigned char>(bits >> shift));
      }
      return hash;
    }
    case SQLITE_BLOB:
      return MixBytes(hash, static_cast<const unsigned char*>(sqlite3_value_blob(value)),
                      static_cast<size_t>(sqlite3_value_bytes(value)));
    default: {
      std::string text = SqliteValueText(value);
      if (collated) {
        while (!text.empty() && text.back() == ' ') text.pop_back();
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
      return MixBytes(hash, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
  }
}

template <bool kCollated>
void Checksum(sqlite3_context* context, int count, sqlite3_value** args) {
  std::uint32_t hash = 0;
  for (int i = 0; i < count; ++i) {
    // Each value starts a new stretch, so ('ab', 'c') and ('a', 'bc') differ.
    hash = MixValue(Mix(hash, static_cast<unsigned char>(i)), args[i], kCollated);
  }
  sqlite3_result_int64(context, static_cast<std::int32_t>(hash));
}

constexpr FunctionDefinition kFunctions[] = {
    {"checksum", -1, Checksum<true>, true},
    {"binary_checksum", -1, Checksum<false>, true},
};

// CHECKSUM_AGG's running XOR, in SQLite's zeroed aggregate context.
struct ExclusiveOr {
  bool any;
  std::uint32_t bits;
};

void ExclusiveOrStep(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return;
  auto* state = static_cast<ExclusiveOr*>(sqlite3_aggregate_context(context, sizeof(ExclusiveOr)));
  if (state == nullptr) return sqlite3_result_error_nomem(context);
  state->any = true;
  state->bits ^= static_cast<std::uint32_t>(sqlite3_value_int64(args[0]));
}

// NULL when every value was NULL or there were none.
void ExclusiveOrFinal(sqlite3_context* context) {
  auto* state = static_cast<ExclusiveOr*>(sqlite3_aggregate_context(context, 0));
  if (state == nullptr || !state->any) return sqlite3_result_null(context);
  sqlite3_result_int64(context, static_cast<std::int32_t>(state->bits));
}

}  // namespace

void RegisterChecksumFunctions(sqlite3* db) {
  RegisterFunctionTable(db, kFunctions);
  if (sqlite3_create_function_v2(db, "sqlengine_checksum_agg", 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr,
                                 ExclusiveOrStep, ExclusiveOrFinal, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_checksum_agg");
  }
}

}  // namespace sqlengine::exec
