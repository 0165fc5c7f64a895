#include "engine/exec/for_xml_result.h"

#include <cstdio>
#include <utility>
#include <variant>

#include "engine/common/error.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {
namespace {

bool NeverCompared(const ColumnType& type) {
  return type.type == SqlType::kText || type.type == SqlType::kNText ||
         type.type == SqlType::kImage;
}

std::string Base64(const Bytes& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= bytes[i + 2];
    text += kDigits[(group >> 18) & 63];
    text += kDigits[(group >> 12) & 63];
    text += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return text;
}

// A value as SQL Server 2000 writes it in XML: datetime as
// 1996-07-04T00:00:00 (milliseconds only when there are some), money with its
// four decimals, bit as 0 or 1, binary data in base64.
std::string ValueXmlText(const Value& value, const ColumnType& type) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    if (type.type == SqlType::kBit) return *number != 0 ? "1" : "0";
    return std::to_string(*number);
  }
  if (const auto* bytes = std::get_if<Bytes>(&value)) return Base64(*bytes);
  if (const auto* when = std::get_if<DateTime>(&value)) {
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", when->year,
                               when->month, when->day, when->hour, when->minute, when->second);
    if (when->millisecond != 0)
      std::snprintf(text + length, sizeof text - length, ".%03d", when->millisecond);
    return text;
  }
  return ValueText(value);
}

// Markup characters as entities: all five in an attribute's value, & < >
// in an element's content. Other characters, white space included, stay.
void AppendEscaped(std::string& out, const std::string& text, bool attribute) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      case '\'': out += attribute ? "&apos;" : "'"; break;
      default: out += c;
    }
  }
}

// The UTF-8 sequence at `text[i]`: its length in bytes and in UTF-16 code units.
std::pair<std::size_t, std::size_t> CharacterAt(const std::string& text, std::size_t i) {
  unsigned char lead = static_cast<unsigned char>(text[i]);
  std::size_t bytes = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (i + bytes > text.size()) bytes = text.size() - i;
  return {bytes, lead >= 0xF0 ? 2 : 1};
}

}  // namespace

std::string XmlName(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t bytes = CharacterAt(name, i).first;
    unsigned char lead = static_cast<unsigned char>(name[i]);
    bool letter = lead >= 0x80 || (lead >= 'a' && lead <= 'z') || (lead >= 'A' && lead <= 'Z') ||
                  lead == '_';
    bool later = (lead >= '0' && lead <= '9') || lead == '.' || lead == '-';
    if (letter || (later && !out.empty())) {
      out.append(name, i, bytes);
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "_x%04X_", static_cast<unsigned>(lead));
      out += code;
    }
    i += bytes;
  }
  return out;
}

void ForXmlResult::BeginResult(const std::vector<Column>& columns) {
  columns_ = columns;
  universal_.clear();
  if (shape_.mode == tsql::ForXml::Mode::kExplicit) {
    for (std::size_t k = 2; k < columns_.size(); ++k)
      universal_.push_back(tsql::bind::ParseExplicitColumn(columns_[k].name).value_or(
          tsql::bind::ExplicitColumn{}));
  }
  if (begun_) return;
  begun_ = true;
  Column xml;
  xml.name = tsql::kForXmlColumnName;
  xml.type.type = SqlType::kNText;
  client_.BeginResult({xml});
}

void ForXmlResult::AddRow(const Row& row) {
  if (shape_.mode == tsql::ForXml::Mode::kAuto) {
    AutoRow(row);
  } else if (shape_.mode == tsql::ForXml::Mode::kExplicit) {
    ExplicitRow(row);
  } else {
    RawRow(row);
  }
  Send(false);
}

void ForXmlResult::RawRow(const Row& row) {
  StartTag("row");
  for (std::size_t k = 0; k < row.size() && k < columns_.size(); ++k) {
    if (!IsNull(row[k])) AddAttribute(columns_[k].name, ValueXmlText(row[k], columns_[k].type));
  }
  Close();
}

void ForXmlResult::AutoRow(const Row& row) {
  const std::size_t levels = shape_.element_names.size();
  // The first element whose columns differ from the previous row's starts
  // anew, and every element under it; a row like the one before it repeats
  // the innermost element.
  std::size_t first = 0;
  if (any_row_) {
    first = levels - 1;
    for (std::size_t level = 0; level + 1 < levels; ++level) {
      bool differs = false;
      for (std::size_t k = 0; k < row.size() && k < shape_.column_elements.size(); ++k) {
        if (shape_.column_elements[k] != level) continue;
        differs = differs || NeverCompared(columns_[k].type) || !(row[k] == previous_[k]);
      }
      if (differs) {
        first = level;
        break;
      }
    }
  }
  while (open_.size() > first) Close();
  for (std::size_t level = first; level < levels; ++level) Open(level, row);
  previous_ = row;
  any_row_ = true;
}

void ForXmlResult::Open(std::size_t level, const Row& row) {
  StartTag(shape_.element_names[level]);
  for (std::size_t k = 0; k < row.size() && k < shape_.column_elements.size(); ++k) {
    if (shape_.column_elements[k] != level || IsNull(row[k])) continue;
    std::string text = ValueXmlText(row[k], columns_[k].type);
    if (!shape_.elements) {
      AddAttribute(columns_[k].name, text);
      continue;
    }
    std::string name = XmlName(columns_[k].name);
    EndStartTag();
    pending_ += '<' + name + '>';
    AppendEscaped(pending_, text, false);
    pending_ += "</" + name + '>';
  }
}

void ForXmlResult::ExplicitRow(const Row& row) {
  auto declared = [&](std::int64_t tag) {
    for (std::size_t k = 0; k < universal_.size(); ++k) {
      if (universal_[k].tag == tag) return k;
    }
    return universal_.size();
  };
  const auto* tag = row.empty() ? nullptr : std::get_if<std::int64_t>(&row[0]);
  if (tag == nullptr || *tag <= 0) throw MakeError(6801);
  std::int64_t parent = 0;
  if (row.size() > 1 && !IsNull(row[1])) {
    const auto* written = std::get_if<std::int64_t>(&row[1]);
    if (written == nullptr || *written < 0) throw MakeError(6803);
    parent = *written;
  }
  std::size_t first = declared(*tag);
  if (first == universal_.size()) throw MakeError(6806, {std::to_string(*tag)});
  if (parent != 0 && declared(parent) == universal_.size())
    throw MakeError(6807, {std::to_string(parent)});
  // Up to the parent: it must be open (none for a top-level element).
  while (!open_.empty() && open_.back().tag != parent) Close();
  if (parent != 0 && open_.empty()) throw MakeError(6833, {std::to_string(parent)});
  StartTag(universal_[first].element);
  open_.back().tag = *tag;
  for (std::size_t k = 0; k < universal_.size() && k + 2 < row.size(); ++k) {
    const Value& value = row[k + 2];
    if (universal_[k].tag != *tag || IsNull(value) || !universal_[k].IsAttribute()) continue;
    AddAttribute(universal_[k].attribute, ValueXmlText(value, columns_[k + 2].type));
  }
  for (std::size_t k = 0; k < universal_.size() && k + 2 < row.size(); ++k) {
    const tsql::bind::ExplicitColumn& column = universal_[k];
    const Value& value = row[k + 2];
    if (column.tag != *tag || IsNull(value) || column.IsAttribute() || column.directive == "hide")
      continue;
    std::string text = ValueXmlText(value, columns_[k + 2].type);
    EndStartTag();
    std::string name = XmlName(column.attribute);
    if (!column.attribute.empty()) pending_ += '<' + name + '>';
    if (column.directive == "cdata") {
      pending_ += "<![CDATA[" + text + "]]>";
    } else if (column.directive == "xml") {
      pending_ += text;
    } else {
      AppendEscaped(pending_, text, false);
    }
    if (!column.attribute.empty()) pending_ += "</" + name + '>';
  }
}

void ForXmlResult::StartTag(const std::string& name) {
  EndStartTag();
  open_.push_back({XmlName(name), true, 0});
  pending_ += '<' + open_.back().name;
}

void ForXmlResult::AddAttribute(const std::string& name, const std::string& text) {
  pending_ += ' ' + XmlName(name) + "=\"";
  AppendEscaped(pending_, text, true);
  pending_ += '"';
}

void ForXmlResult::Close() {
  if (open_.back().start_open) {
    pending_ += "/>";
  } else {
    pending_ += "</" + open_.back().name + '>';
  }
  open_.pop_back();
}

void ForXmlResult::EndStartTag() {
  if (open_.empty() || !open_.back().start_open) return;
  pending_ += '>';
  open_.back().start_open = false;
}

void ForXmlResult::Send(bool all) {
  std::size_t start = 0;
  while (start < pending_.size()) {
    std::size_t i = start, units = 0;
    bool full = false;
    while (i < pending_.size()) {
      auto [bytes, width] = CharacterAt(pending_, i);
      if (units + width > kRowCharacters) {
        full = true;
        break;
      }
      units += width;
      i += bytes;
    }
    full = full || units == kRowCharacters;
    if (!full && !all) break;
    client_.AddRow(Row{Value(pending_.substr(start, i - start))});
    ++rows_sent_;
    start = i;
  }
  pending_.erase(0, start);
}

std::int64_t ForXmlResult::Finish() {
  if (!begun_) BeginResult({});
  while (!open_.empty()) Close();
  Send(true);
  return rows_sent_;
}

}  // namespace sqlengine::exec
