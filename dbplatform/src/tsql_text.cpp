#include "tsql_text.h"

namespace dbplatform {
namespace {

std::string Delimit(std::string_view text, std::string_view open, char close) {
  std::string out(open);
  for (char c : text) {
    out += c;
    if (c == close) out += close;
  }
  out += close;
  return out;
}

}  // namespace

std::string QuoteIdentifier(std::string_view name) { return Delimit(name, "[", ']'); }

std::string QuoteLiteral(std::string_view text) { return Delimit(text, "N'", '\''); }

}  // namespace dbplatform
