// libFuzzer target for the server cursor procedures on a real engine: the
// input's first byte picks the procedure id (1..9, sp_cursor to
// sp_cursorclose) and the TDS version; the rest is the call's parameter
// data, decoded as the wire layer decodes it. Each input runs in a fresh
// session of one engine (a temporary home made at the first input) that has
// already opened a keyset cursor, so the session's first handle (180150001)
// and its fetch buffer are there to be hit. The table it reads keeps what
// earlier inputs did to it. A crash, a sanitizer report, or an exception out
// of ExecuteRpc is a finding: every fault of a call must reach the client as
// a message.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/common/engine_api.h"
#include "engine/tds/decode_error.h"
#include "engine/tds/requests.h"

using namespace sqlengine;

namespace {

// The engine and its temporary home, removed when the fuzzer exits.
struct FuzzEngine {
  Log log;
  std::filesystem::path home;
  std::unique_ptr<Engine> engine;

  FuzzEngine() {
    char pattern[] = "/tmp/fuzz_cursor_calls_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    home = pattern;
    engine = OpenEngine(home, log);
    std::unique_ptr<SqlSession> session = Login();
    DiscardingSink sink;
    session->ExecuteBatch(
        "CREATE TABLE items (id int PRIMARY KEY, name varchar(20), note text)\n"
        "INSERT INTO items VALUES (1, 'one', 'first')\n"
        "INSERT INTO items VALUES (2, NULL, NULL)\n"
        "INSERT INTO items VALUES (3, 'three', 'third')\n",
        sink);
  }

  ~FuzzEngine() {
    engine.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }

  std::unique_ptr<SqlSession> Login() {
    LoginRequest request;
    request.user = "sa";
    request.database = "master";
    LoginResult result = engine->Login(request);
    if (!result.session) std::abort();
    return std::move(result.session);
  }
};

RpcParam IntParam(std::int64_t value, bool output = false) {
  RpcParam param;
  param.type = ColumnType{SqlType::kInt};
  param.value = value;
  param.output = output;
  return param;
}

RpcParam TextParam(const char* text) {
  RpcParam param;
  param.type = ColumnType{SqlType::kNVarChar, 4000};
  param.value = std::string(text);
  return param;
}

std::vector<std::uint8_t> CallHeader(tds::TdsVersion version, std::uint16_t proc_id) {
  std::vector<std::uint8_t> out;
  auto u16 = [&](std::uint16_t v) {
    out.push_back(v & 0xFF);
    out.push_back(v >> 8);
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
  };
  if (version != tds::TdsVersion::k71) {
    u32(22);  // ALL_HEADERS: one transaction descriptor header
    u32(18);
    u16(2);
    for (int i = 0; i < 8; ++i) out.push_back(0);
    u32(1);
  }
  u16(0xFFFF);  // called by procedure id
  u16(proc_id);
  u16(0);  // option flags
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzEngine fuzz;
  if (size == 0) return 0;
  const tds::TdsVersion version = (data[0] & 0x80) ? tds::TdsVersion::k74 : tds::TdsVersion::k71;
  const auto proc_id = static_cast<std::uint16_t>(1 + (data[0] & 0x7F) % 9);
  std::vector<std::uint8_t> body = CallHeader(version, proc_id);
  body.insert(body.end(), data + 1, data + size);
  tds::RpcRequest request;
  try {
    request = tds::DecodeRpc(body, version);
  } catch (const tds::DecodeError&) {
    return 0;
  }
  std::unique_ptr<SqlSession> session = fuzz.Login();
  DiscardingSink sink;
  RpcCall open;
  open.proc_id = SpecialProc::kCursorOpen;
  open.params = {IntParam(0, true), TextParam("SELECT id, name, note FROM items ORDER BY id"),
                 IntParam(1, true), IntParam(4, true), IntParam(0, true)};
  RpcCall fetch;
  fetch.proc_id = SpecialProc::kCursorFetch;
  fetch.params = {IntParam(180150001), IntParam(2), IntParam(0), IntParam(2)};
  try {
    session->ExecuteRpc(open, sink);
    session->ExecuteRpc(fetch, sink);
    for (std::size_t c = 0; c < request.calls.size(); ++c) {
      if (!request.faults[c]) session->ExecuteRpc(request.calls[c], sink);
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "fuzz_cursor_calls: exception out of a call: %s\n", failure.what());
    std::abort();
  }
  return 0;
}
