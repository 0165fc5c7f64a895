// Request decoders against the protocol documentation's example packets,
// and against damaged copies of them.
#include <gtest/gtest.h>

#include <random>

#include "engine/tds/decode_error.h"
#include "engine/tds/login7.h"
#include "engine/tds/packet.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/requests.h"
#include "engine/tests/tds/hex.h"

namespace sqlengine::testing {
namespace {

using namespace sqlengine::tds;

const std::vector<std::uint8_t> kPreloginPacket = Hex(
    "12 01 00 2F 00 00 01 00 00 00 1A 00 06 01 00 20 00 01 02 00 21 00 01 03 00 22 00 04 04 00 26 "
    "00 01 FF 09 00 00 00 00 00 01 00 B8 0D 00 00 01");

const std::vector<std::uint8_t> kLoginPacket = Hex(
    "10 01 00 90 00 00 01 00 88 00 00 00 02 00 09 72 00 10 00 00 00 00 00 07 00 01 00 00 00 00 00 "
    "00 E0 03 00 00 00 00 00 00 09 04 00 00 5E 00 08 00 6E 00 02 00 72 00 00 00 72 00 07 00 80 00 "
    "00 00 80 00 00 00 80 00 04 00 88 00 00 00 88 00 00 00 00 50 8B E2 B7 8F 88 00 00 00 88 00 00 "
    "00 88 00 00 00 00 00 00 00 73 00 6B 00 6F 00 73 00 74 00 6F 00 76 00 31 00 73 00 61 00 4F 00 "
    "53 00 51 00 4C 00 2D 00 33 00 32 00 4F 00 44 00 42 00 43 00");

const std::vector<std::uint8_t> kBatchPacket = Hex(
    "01 01 00 5C 00 00 01 00 16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 0A "
    "00 73 00 65 00 6C 00 65 00 63 00 74 00 20 00 27 00 66 00 6F 00 6F 00 27 00 20 00 61 00 73 00 "
    "20 00 27 00 62 00 61 00 72 00 27 00 0A 00 20 00 20 00 20 00 20 00 20 00 20 00 20 00 20 00");

const std::vector<std::uint8_t> kRpcPacket = Hex(
    "03 01 00 2F 00 00 01 00 16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 04 "
    "00 66 00 6F 00 6F 00 33 00 00 00 00 02 26 02 00");

const std::vector<std::uint8_t> kAttentionPacket = Hex("06 01 00 08 00 00 01 00");

// The single-packet message in `packet`, through the assembler.
Message Assemble(const std::vector<std::uint8_t>& packet) {
  MessageAssembler assembler(1 << 20);
  PacketHeader header =
      ParseHeader(std::span<const std::uint8_t, kHeaderSize>(packet.data(), kHeaderSize));
  EXPECT_EQ(header.length, packet.size());
  auto message = assembler.Add(header, std::span(packet).subspan(kHeaderSize));
  EXPECT_TRUE(message);
  return message.value_or(Message{});
}

TEST(RequestDecoding, PreloginExample) {
  Message m = Assemble(kPreloginPacket);
  EXPECT_EQ(m.type, PacketType::kPrelogin);
  PreloginRequest request = DecodePrelogin(m.body);
  EXPECT_EQ(request.encryption, static_cast<std::uint8_t>(Encryption::kOn));
  EXPECT_EQ(request.instance, "");
  EXPECT_EQ(request.mars, true);
  EXPECT_EQ(request.client_version, Hex("09 00 00 00 00 00"));
}

TEST(RequestDecoding, PreloginResponseCarriesTheAgreedEncryption) {
  std::vector<std::uint8_t> reply = EncodePreloginResponse(Encryption::kRequired);
  PreloginRequest parsed = DecodePrelogin(reply);  // same option-table layout
  EXPECT_EQ(parsed.encryption, static_cast<std::uint8_t>(Encryption::kRequired));
  EXPECT_EQ(parsed.mars, false);
  EXPECT_EQ(parsed.client_version, Hex("08 00 07 F7 00 00"));
}

// Every row of the ENCRYPTION table for a server set to ENCRYPT_NOT_SUP,
// ENCRYPT_OFF (offered) and ENCRYPT_ON (required), including a client that
// sent no option at all and one asking for a certificate login.
TEST(RequestDecoding, EncryptionNegotiation) {
  using Scope = EncryptionScope;
  struct Row {
    std::optional<std::uint8_t> client;
    ServerEncryption server;
    Encryption answer;
    Scope scope;
    bool refused;
  };
  constexpr auto kOffered = ServerEncryption::kOffered;
  constexpr auto kRequired = ServerEncryption::kRequired;
  constexpr auto kUnavailable = ServerEncryption::kUnavailable;
  const Row rows[] = {
      {0x00, kOffered, Encryption::kOff, Scope::kLoginOnly, false},
      {0x01, kOffered, Encryption::kOn, Scope::kWholeConnection, false},
      {0x02, kOffered, Encryption::kNotSupported, Scope::kNone, false},
      {0x03, kOffered, Encryption::kOn, Scope::kWholeConnection, false},
      {std::nullopt, kOffered, Encryption::kNotSupported, Scope::kNone, false},
      {0x80, kOffered, Encryption::kOff, Scope::kLoginOnly, false},
      {0x82, kOffered, Encryption::kRequired, Scope::kNone, true},
      {0x07, kOffered, Encryption::kNotSupported, Scope::kNone, true},
      {0x00, kRequired, Encryption::kRequired, Scope::kWholeConnection, false},
      {0x01, kRequired, Encryption::kOn, Scope::kWholeConnection, false},
      {0x02, kRequired, Encryption::kRequired, Scope::kNone, true},
      {0x03, kRequired, Encryption::kOn, Scope::kWholeConnection, false},
      {std::nullopt, kRequired, Encryption::kRequired, Scope::kNone, true},
      {0x81, kRequired, Encryption::kOn, Scope::kWholeConnection, false},
      {0x00, kUnavailable, Encryption::kNotSupported, Scope::kNone, false},
      {0x02, kUnavailable, Encryption::kNotSupported, Scope::kNone, false},
      {0x01, kUnavailable, Encryption::kNotSupported, Scope::kNone, true},
      {0x03, kUnavailable, Encryption::kNotSupported, Scope::kNone, true},
      {0x80, kUnavailable, Encryption::kNotSupported, Scope::kNone, true},
  };
  for (const Row& row : rows) {
    EncryptionAgreement agreement = NegotiateEncryption(row.client, row.server);
    std::string label = "client " + (row.client ? std::to_string(*row.client) : "none") +
                        ", server " + std::to_string(static_cast<int>(row.server));
    EXPECT_EQ(agreement.answer, row.answer) << label;
    EXPECT_EQ(agreement.scope, row.scope) << label;
    EXPECT_EQ(agreement.refused, row.refused) << label;
  }
}

TEST(RequestDecoding, Login7Example) {
  Message m = Assemble(kLoginPacket);
  Login7 login = DecodeLogin7(m.body);
  EXPECT_EQ(login.tds_version, 0x72090002u);
  EXPECT_EQ(NegotiateVersion(login.tds_version), TdsVersion::k72);
  EXPECT_EQ(login.packet_size, 4096u);
  EXPECT_EQ(login.request.host_name, "skostov1");
  EXPECT_EQ(login.request.user, "sa");
  EXPECT_EQ(login.request.password, "");
  EXPECT_EQ(login.request.app_name, "OSQL-32");
  EXPECT_EQ(login.library_name, "ODBC");
  EXPECT_EQ(login.request.database, "");
  EXPECT_FALSE(login.request.integrated);
  EXPECT_EQ(login.option_flags1, 0xE0);
}

TEST(RequestDecoding, PasswordObfuscationMatchesTheWire) {
  // "Secret12" as FreeTDS sends it.
  auto wire = Hex("90 A5 F3 A5 93 A5 82 A5 F3 A5 E2 A5 B6 A5 86 A5");
  std::string clear;
  for (std::size_t i = 0; i < wire.size(); i += 2) {
    EXPECT_EQ(DeobfuscatePasswordByte(wire[i + 1]), 0);
    clear.push_back(static_cast<char>(DeobfuscatePasswordByte(wire[i])));
  }
  EXPECT_EQ(clear, "Secret12");
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(DeobfuscatePasswordByte(ObfuscatePasswordByte(static_cast<std::uint8_t>(b))), b);
  }
}

TEST(RequestDecoding, SqlBatchExampleWithAllHeaders) {
  Message m = Assemble(kBatchPacket);
  SqlBatch batch = DecodeSqlBatch(m.body, TdsVersion::k72);
  EXPECT_EQ(batch.text, "\nselect 'foo' as 'bar'\n        ");
  EXPECT_EQ(batch.headers.transaction_descriptor, 0x0100000000000000u);
  EXPECT_EQ(batch.headers.outstanding_requests, 0u);
  // The same bytes read as 7.1 (no ALL_HEADERS) are not UCS-2 text.
  std::vector<std::uint8_t> without_headers(m.body.begin() + 22, m.body.end());
  EXPECT_EQ(DecodeSqlBatch(without_headers, TdsVersion::k71).text, batch.text);
}

TEST(RequestDecoding, RpcExampleByName) {
  Message m = Assemble(kRpcPacket);
  RpcRequest rpc = DecodeRpc(m.body, TdsVersion::k72);
  ASSERT_EQ(rpc.calls.size(), 1u);
  const RpcCall& call = rpc.calls[0];
  EXPECT_EQ(call.name, "foo3");
  EXPECT_EQ(call.proc_id, SpecialProc::kNone);
  ASSERT_EQ(call.params.size(), 1u);
  EXPECT_EQ(call.params[0].name, "");
  EXPECT_FALSE(call.params[0].output);
  EXPECT_EQ(call.params[0].type.type, SqlType::kSmallInt);
  EXPECT_TRUE(IsNull(call.params[0].value));
}

TEST(RequestDecoding, RpcByProcIdWithSeveralCallsAndTypes) {
  // sp_executesql (id 10): NTEXT statement, then after a separator a
  // second call by name with DECIMAL(5,2) -1.50, MONEY 12.3456, DATETIME,
  // FLTN 8 and an output BIGVARBINARY.
  std::vector<std::uint8_t> body =
      Hex("FF FF 0A 00 00 00"
          "00 00 63 FE FF FF 7F 09 04 D0 00 34 04 00 00 00 31 00 32 00"
          "80"
          "01 00 70 00 00 00"
          "00 00 6A 05 05 02 05 00 96 00 00 00"
          "00 00 6E 08 08 00 00 00 00 40 E2 01 00"
          "00 00 6F 08 08 83 9B 00 00 00 00 00 00"
          "00 00 6D 08 08 00 00 00 00 00 00 F8 3F"
          "00 01 A5 10 00 02 00 AB CD");
  RpcRequest rpc = DecodeRpc(body, TdsVersion::k71);
  ASSERT_EQ(rpc.calls.size(), 2u);
  EXPECT_EQ(rpc.calls[0].proc_id, SpecialProc::kExecuteSql);
  EXPECT_EQ(rpc.calls[0].params[0].value, Value(std::string("12")));
  EXPECT_EQ(rpc.calls[0].params[0].type.type, SqlType::kNText);
  const auto& p = rpc.calls[1].params;
  EXPECT_EQ(rpc.calls[1].name, "p");
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].type.precision, 5);
  EXPECT_EQ(p[0].value, Value(Decimal{-150, 2}));
  EXPECT_EQ(p[1].value, Value(Decimal{123456, 4}));
  EXPECT_EQ(p[2].value, Value(DateTime{2008, 12, 31, 0, 0, 0, 0}));
  EXPECT_EQ(p[3].value, Value(1.5));
  EXPECT_TRUE(p[4].output);
  EXPECT_FALSE(p[4].is_default);
  EXPECT_EQ(p[4].type.type, SqlType::kVarBinary);
  EXPECT_EQ(p[4].type.length, 16);
  EXPECT_EQ(p[4].value, Value(Bytes{0xAB, 0xCD}));
}

TEST(RequestDecoding, RpcParameterAskingForItsDefault) {
  // p with a null INTN 4 whose status has the default-value bit.
  RpcRequest rpc = DecodeRpc(Hex("01 00 70 00 00 00 00 02 26 04 00"), TdsVersion::k71);
  ASSERT_EQ(rpc.calls.size(), 1u);
  ASSERT_EQ(rpc.calls[0].params.size(), 1u);
  EXPECT_TRUE(rpc.calls[0].params[0].is_default);
  EXPECT_FALSE(rpc.calls[0].params[0].output);
}

TEST(RequestDecoding, PlpParameterChunksAreJoined) {
  std::vector<std::uint8_t> body =
      Hex("16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 00 01 00 00 00"
          "01 00 70 00 00 00"
          "00 00 E7 FF FF 09 04 D0 00 34"
          "FE FF FF FF FF FF FF FF 02 00 00 00 68 00 04 00 00 00 69 00 21 00 00 00 00 00");
  RpcRequest rpc = DecodeRpc(body, TdsVersion::k72);
  ASSERT_EQ(rpc.calls.size(), 1u);
  EXPECT_EQ(rpc.calls[0].params[0].type.length, kMaxLength);
  EXPECT_EQ(rpc.calls[0].params[0].value, Value(std::string("hi!")));
  // A MAX type is not valid on 7.1, and a declared total must match the chunks.
  std::vector<std::uint8_t> legacy(body.begin() + 22, body.end());
  EXPECT_THROW(DecodeRpc(legacy, TdsVersion::k71), DecodeError);
  // The chunks still frame the value, so the call is refused, not the stream.
  auto lying = body;
  lying[38] = 0x09;  // total 9 instead of "unknown"
  for (int i = 39; i < 46; ++i) lying[i] = 0;
  RpcRequest refused = DecodeRpc(lying, TdsVersion::k72);
  ASSERT_TRUE(refused.faults.at(0));
  EXPECT_EQ(refused.faults[0]->message_number, 8016);
  EXPECT_EQ(refused.calls[0].params[0].value, Value(std::monostate{}));
}

// Parameters whose bytes frame but cannot be read refuse their call with
// SQL Server's message and leave the parameters after them readable; only
// a type whose bytes cannot be framed fails the whole request.
TEST(RequestDecoding, UnreadableParametersRefuseTheCallNotTheStream) {
  const std::string call = "01 00 70 00 00 00";                   // "p", 7.1
  const std::string seven = " 01 40 00 00 26 04 04 07 00 00 00";  // @ = 7 after it
  struct Case {
    const char* what;
    std::string param;
    std::int32_t number;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"decimal(38) value of 3 bytes",
       "01 40 00 00 6A 11 26 00 03 01 05 00",
       8016,
       {"1", "@", "6A"}},
      {"int TYPE_INFO of length 3", "00 00 26 03 03 01 02 03", 8016, {"1", "", "26"}},
      {"decimal beyond 38 digits",
       "00 00 6C 11 26 00 11 01 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF",
       8023,
       {"1", "", "numeric"}},
      {"datetime ticks past midnight",
       "00 00 6F 08 08 00 00 00 00 00 00 00 7F",
       8023,
       {"1", "", "datetime"}},
      {"sql_variant holding text", "00 00 62 10 00 00 00 06 00 00 00 23 00 01 00 00 00", 8016,
       {"1", "", "62"}},
      {"sql_variant int of 3 bytes", "00 00 62 10 00 00 00 05 00 00 00 38 00 01 00 00", 8016,
       {"1", "", "62"}},
      {"nvarchar value above its maximum",
       "00 00 E7 02 00 09 04 D0 00 34 04 00 61 00 62 00",
       8016,
       {"1", "", "E7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RpcRequest rpc = DecodeRpc(Hex(call + " " + c.param + seven), TdsVersion::k71);
    ASSERT_EQ(rpc.faults.size(), 1u);
    ASSERT_TRUE(rpc.faults[0]);
    EXPECT_EQ(rpc.faults[0]->message_number, c.number);
    EXPECT_EQ(rpc.faults[0]->args, c.args);
    ASSERT_EQ(rpc.calls[0].params.size(), 2u);
    EXPECT_EQ(rpc.calls[0].params[0].value, Value(std::monostate{}));
    EXPECT_EQ(rpc.calls[0].params[1].value, Value(std::int64_t{7}));
  }
  // A readable call after a refused one in the same request is unaffected.
  RpcRequest two =
      DecodeRpc(Hex(call + " " + cases[0].param + " 80 " + call + seven), TdsVersion::k71);
  ASSERT_EQ(two.faults.size(), 2u);
  EXPECT_TRUE(two.faults[0]);
  EXPECT_FALSE(two.faults[1]);
  // An unknown type code cannot be framed.
  try {
    DecodeRpc(Hex(call + " 00 00 99 04 00 00 00 00" + seven), TdsVersion::k71);
    ADD_FAILURE() << "an unknown type code was accepted";
  } catch (const DecodeError& e) {
    EXPECT_NE(std::string(e.what()).find("0x99"), std::string::npos) << e.what();
  }
  // XML frames only from 7.2, where it exists.
  EXPECT_THROW(DecodeRpc(Hex(call + " 00 00 F1 00 FF FF FF FF FF FF FF FF"), TdsVersion::k71),
               DecodeError);
}

// The date and time types a TDS 7.3+ client may send: a value past what its
// type holds is refused as SQL Server refuses it (8023, the parameter NULL,
// the call's other parameters read); a DATETIMEOFFSET keeps its local time.
TEST(RequestDecoding, DateAndTimeParametersOfTds73) {
  const std::string call =
      "16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 01 00 70 00 00 00";
  const std::string seven = " 01 40 00 00 26 04 04 07 00 00 00";
  struct Refused {
    const char* what;
    std::string param;
    const char* type;
  };
  const Refused refused[] = {
      {"date after 9999-12-31", "00 00 28 03 DB B9 37", "date"},
      {"time of 24:00", "00 00 29 07 05 00 C0 69 2A C9", "time"},
      {"datetime2 at 24:00", "00 00 2A 00 06 80 51 01 00 00 00", "datetime2"},
      {"datetime2 after 9999-12-31", "00 00 2A 00 06 00 00 00 DB B9 37", "datetime2"},
      {"offset of 15 hours", "00 00 2B 00 08 00 00 00 01 00 00 84 03", "datetimeoffset"},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.what);
    RpcRequest rpc = DecodeRpc(Hex(call + " " + c.param + seven), TdsVersion::k74);
    ASSERT_EQ(rpc.faults.size(), 1u);
    ASSERT_TRUE(rpc.faults[0]);
    EXPECT_EQ(rpc.faults[0]->message_number, 8023);
    EXPECT_EQ(rpc.faults[0]->args, (std::vector<std::string>{"1", "", c.type}));
    ASSERT_EQ(rpc.calls[0].params.size(), 2u);
    EXPECT_EQ(rpc.calls[0].params[0].value, Value(std::monostate{}));
    EXPECT_EQ(rpc.calls[0].params[1].value, Value(std::int64_t{7}));
  }
  struct Read {
    const char* what;
    std::string param;
    DateTime value;
  };
  const Read read[] = {
      {"the last date", "00 00 28 03 DA B9 37", DateTime{9999, 12, 31, 0, 0, 0, 0}},
      {"the last instant of a day", "00 00 29 00 03 7F 51 01", DateTime{1900, 1, 1, 23, 59, 59, 0}},
      {"00:30 UTC at +02:00", "00 00 2B 00 08 08 07 00 01 00 00 78 00",
       DateTime{1, 1, 2, 2, 30, 0, 0}},
      {"00:30 UTC at -01:00, the day before", "00 00 2B 00 08 08 07 00 01 00 00 C4 FF",
       DateTime{1, 1, 1, 23, 30, 0, 0}},
      // Held as datetime: rounded to its 1/300 second, as a conversion rounds.
      {"09:41:39.48637 as time(5)", "00 00 29 05 05 DD 63 04 D0 00",
       DateTime{1900, 1, 1, 9, 41, 39, 487}},
      {"23:59:59.9999999 as datetime2(7), the next day",
       "00 00 2A 07 08 FF BF 69 2A C9 00 00 00", DateTime{1, 1, 2, 0, 0, 0, 0}},
  };
  for (const Read& c : read) {
    SCOPED_TRACE(c.what);
    RpcRequest rpc = DecodeRpc(Hex(call + " " + c.param + seven), TdsVersion::k74);
    ASSERT_EQ(rpc.faults.size(), 1u);
    EXPECT_FALSE(rpc.faults[0]) << rpc.faults[0]->detail;
    ASSERT_EQ(rpc.calls[0].params.size(), 2u);
    EXPECT_EQ(rpc.calls[0].params[0].value, Value(c.value));
  }
}

TEST(RequestDecoding, TransactionManagerRequests) {
  auto headers = Hex("16 00 00 00 12 00 00 00 02 00 08 07 06 05 04 03 02 01 01 00 00 00");
  auto with = [&](const char* payload) {
    auto body = headers;
    auto rest = Hex(payload);
    body.insert(body.end(), rest.begin(), rest.end());
    return body;
  };
  TmCall begin = DecodeTransactionManager(with("05 00 00 00"), TdsVersion::k74);
  EXPECT_EQ(begin.request, TransactionRequest::kBegin);
  EXPECT_EQ(begin.descriptor, 0x0102030405060708u);
  TmCall commit = DecodeTransactionManager(with("07 00 00 01 00 00"), TdsVersion::k74);
  EXPECT_EQ(commit.request, TransactionRequest::kCommit);
  EXPECT_TRUE(commit.begin_new_after);
  TmCall save = DecodeTransactionManager(with("09 00 04 73 00 70 00"), TdsVersion::k74);
  EXPECT_EQ(save.name, "sp");
  EXPECT_THROW(DecodeTransactionManager(with("09 00 00"), TdsVersion::k74), DecodeError);
  // The documentation's example carries request type 0x16, which does not exist.
  EXPECT_THROW(DecodeTransactionManager(with("16 00"), TdsVersion::k74), DecodeError);
  EXPECT_THROW(DecodeTransactionManager(with("05 00 00 00"), TdsVersion::k71), DecodeError);
}

TEST(RequestDecoding, AttentionEndsAPartialMessage) {
  MessageAssembler assembler(1 << 20);
  PacketHeader first{0x01, 0x00, 12, 0, 1};
  EXPECT_FALSE(assembler.Add(first, Hex("41 00 42 00")));
  PacketHeader attention =
      ParseHeader(std::span<const std::uint8_t, kHeaderSize>(kAttentionPacket.data(), kHeaderSize));
  auto m = assembler.Add(attention, {});
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, PacketType::kAttention);
  PacketHeader next{0x01, 0x01, 10, 0, 2};
  auto batch = assembler.Add(next, Hex("43 00"));
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->body, Hex("43 00")) << "the abandoned packet is not prepended";
}

TEST(RequestDecoding, AssemblerRejectsOversizedAndMixedMessages) {
  MessageAssembler assembler(8);
  PacketHeader part{0x01, 0x00, 14, 0, 1};
  EXPECT_FALSE(assembler.Add(part, Hex("01 02 03 04 05 06")));
  EXPECT_THROW(assembler.Add(part, Hex("01 02 03 04 05 06")), DecodeError);
  MessageAssembler mixed(1 << 20);
  EXPECT_FALSE(mixed.Add(part, Hex("01 02")));
  PacketHeader rpc{0x03, 0x01, 10, 0, 2};
  EXPECT_THROW(mixed.Add(rpc, Hex("01 02")), DecodeError);
  const std::uint8_t short_header[] = {0x01, 0x01, 0x00, 0x07, 0, 0, 0, 0};
  EXPECT_THROW(ParseHeader(std::span<const std::uint8_t, kHeaderSize>(short_header, kHeaderSize)),
               DecodeError);
}

// Every decoder, fed every truncation and many corruptions of the examples,
// either decodes or throws DecodeError. Under the sanitizers this also shows
// that no byte outside the message is read.
TEST(RequestDecoding, DamagedExamplesFailCleanly) {
  auto decode_all = [](std::span<const std::uint8_t> body) {
    for (TdsVersion v : {TdsVersion::k71, TdsVersion::k74}) {
      try {
        DecodePrelogin(body);
      } catch (const DecodeError&) {
      }
      try {
        DecodeLogin7(body);
      } catch (const DecodeError&) {
      }
      try {
        DecodeSqlBatch(body, v);
      } catch (const DecodeError&) {
      }
      try {
        DecodeRpc(body, v);
      } catch (const DecodeError&) {
      }
      try {
        DecodeTransactionManager(body, v);
      } catch (const DecodeError&) {
      }
    }
  };
  std::mt19937 random(20240607);
  for (const auto* packet : {&kPreloginPacket, &kLoginPacket, &kBatchPacket, &kRpcPacket}) {
    std::vector<std::uint8_t> body(packet->begin() + kHeaderSize, packet->end());
    for (std::size_t n = 0; n <= body.size(); ++n) {
      std::vector<std::uint8_t> cut(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n));
      decode_all(cut);
    }
    for (int round = 0; round < 2000; ++round) {
      std::vector<std::uint8_t> damaged = body;
      for (int k = 0; k < 3; ++k) {
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
      }
      decode_all(damaged);
    }
  }
}

TEST(RequestDecoding, LyingLoginLengthsAreRejected) {
  std::vector<std::uint8_t> body(kLoginPacket.begin() + kHeaderSize, kLoginPacket.end());
  auto broken = body;
  broken[0] = 0xFF;  // Length beyond the message
  EXPECT_THROW(DecodeLogin7(broken), DecodeError);
  broken = body;
  broken[36] = 0x80;  // HostName offset + length past the end
  EXPECT_THROW(DecodeLogin7(broken), DecodeError);
  broken = body;
  broken[36 + 2] = 0xFF;  // HostName length
  EXPECT_THROW(DecodeLogin7(broken), DecodeError);
}

}  // namespace
}  // namespace sqlengine::testing
