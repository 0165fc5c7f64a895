#include "engine/exec/text_size_sink.h"

#include <algorithm>

namespace sqlengine::exec {
namespace {

bool IsLarge(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kText:
    case SqlType::kNText:
    case SqlType::kImage:
      return true;
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
    case SqlType::kVarBinary:
      return type.length == kMaxLength;
    default:
      return false;
  }
}

// UTF-8 text cut to at most `limit` characters.
std::string FirstCharacters(const std::string& text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == limit) return text.substr(0, i);
  }
  return text;
}

// UTF-8 text cut to at most `limit` UCS-2 code units (characters beyond the
// BMP take two).
std::string FirstCodeUnits(const std::string& text, std::size_t limit) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    std::size_t width = c >= 0xF0 ? 2 : 1;
    if (units + width > limit) return text.substr(0, i);
    units += width;
  }
  return text;
}

}  // namespace

void TextSizeSink::BeginResult(const std::vector<Column>& columns) {
  types_.clear();
  for (const Column& column : columns) types_.push_back(column.type);
  client_.BeginResult(columns);
}

void TextSizeSink::AddRow(const Row& row) {
  const auto limit = static_cast<std::size_t>(std::max<std::int64_t>(text_size_, 0));
  bool cut = false;
  Row sent;
  for (std::size_t k = 0; k < row.size(); ++k) {
    const Value& value = row[k];
    if (k >= types_.size() || !IsLarge(types_[k])) continue;
    if (const auto* text = std::get_if<std::string>(&value)) {
      const bool unicode =
          types_[k].type == SqlType::kNText || types_[k].type == SqlType::kNVarChar;
      std::string shorter =
          unicode ? FirstCodeUnits(*text, limit / 2) : FirstCharacters(*text, limit);
      if (shorter.size() == text->size()) continue;
      if (!cut) sent = row;
      cut = true;
      sent[k] = std::move(shorter);
    } else if (const auto* bytes = std::get_if<Bytes>(&value); bytes && bytes->size() > limit) {
      if (!cut) sent = row;
      cut = true;
      sent[k] = Bytes(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(limit));
    }
  }
  client_.AddRow(cut ? sent : row);
}

}  // namespace sqlengine::exec
