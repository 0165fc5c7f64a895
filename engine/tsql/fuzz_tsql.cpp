// libFuzzer target: any bytes through the lexer and the batch parser. Both
// must either succeed or throw SqlError; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view batch(reinterpret_cast<const char*>(data), size);
  try {
    sqlengine::tsql::Tokens tokens = sqlengine::tsql::Lex(batch);
    sqlengine::tsql::ParseBatch(tokens);
  } catch (const sqlengine::SqlError&) {
  }
  return 0;
}
