#include "engine/exec/front_end_fallbacks.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

namespace sqlengine::exec {

void NoteFallback(std::string_view stage, std::string_view reason, const tsql::Tokens& tokens) {
  static const char* const file = std::getenv("SQLENGINE_FALLBACK_LOG");
  if (file == nullptr || *file == '\0') return;
  std::string line(stage);
  line += '\t';
  line += reason;
  line += '\t';
  for (const tsql::Token& token : tokens) {
    if (token.kind == tsql::TokenKind::kEnd) break;
    for (char c : token.text) line += c == '\n' || c == '\t' || c == '\r' ? ' ' : c;
    line += ' ';
  }
  line += '\n';
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::ofstream(file, std::ios::app) << line;
}

bool ParserErrorStands(const SqlError& error) {
  switch (error.message().number) {
    case 102:
    case 105:
    case 113:
    case 156:
    case 170:
      return false;
    default:
      return true;
  }
}

}  // namespace sqlengine::exec
