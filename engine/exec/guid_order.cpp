#include "engine/exec/guid_order.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace sqlengine::exec {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where each written byte (0 = the first two digits) goes in the key.
constexpr int kWeight[16] = {15, 14, 13, 12, 11, 10, 9, 8, 6, 7, 0, 1, 2, 3, 4, 5};

int CompareIgnoringCase(std::string_view left, std::string_view right) {
  size_t common = std::min(left.size(), right.size());
  for (size_t k = 0; k < common; ++k) {
    int a = std::tolower(static_cast<unsigned char>(left[k]));
    int b = std::tolower(static_cast<unsigned char>(right[k]));
    if (a != b) return a < b ? -1 : 1;
  }
  return left.size() == right.size() ? 0 : left.size() < right.size() ? -1 : 1;
}

int Collate(void*, int left_size, const void* left, int right_size, const void* right) {
  return CompareGuids(
      std::string_view(static_cast<const char*>(left), static_cast<size_t>(left_size)),
      std::string_view(static_cast<const char*>(right), static_cast<size_t>(right_size)));
}

}  // namespace

std::optional<std::array<unsigned char, 16>> GuidSortKey(std::string_view text) {
  // SQL Server reads a uniqueidentifier's text with or without braces.
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  std::array<unsigned char, 16> key{};
  size_t byte = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int high = HexValue(text[i]), low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[static_cast<size_t>(kWeight[byte++])] = static_cast<unsigned char>(high * 16 + low);
    i += 2;
  }
  return key;
}

int CompareGuids(std::string_view left, std::string_view right) {
  std::optional<std::array<unsigned char, 16>> a = GuidSortKey(left), b = GuidSortKey(right);
  if (a && b) return std::memcmp(a->data(), b->data(), a->size());
  if (a || b) return a ? -1 : 1;
  return CompareIgnoringCase(left, right);
}

void RegisterGuidOrder(sqlite3* db) {
  if (sqlite3_create_collation_v2(db, "sqlengine_guid", SQLITE_UTF8, nullptr, Collate, nullptr) !=
      SQLITE_OK)
    throw std::runtime_error("cannot register the sqlengine_guid collation");
}

}  // namespace sqlengine::exec
