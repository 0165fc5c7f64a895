#include "engine/tds/login7.h"

#include <vector>

#include "engine/tds/byte_reader.h"
#include "engine/tds/text_codec.h"

namespace sqlengine::tds {
namespace {

constexpr std::size_t kFixedPart71 = 86;

struct Field {
  std::uint16_t offset = 0;
  std::uint16_t length = 0;  // characters (bytes for SSPI)
};

Field ReadField(ByteReader& reader) {
  Field f;
  f.offset = reader.U16();
  f.length = reader.U16();
  return f;
}

std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> login, Field f,
                                         std::size_t unit, const char* what) {
  std::size_t size = static_cast<std::size_t>(f.length) * unit;
  if (size == 0) return {};
  if (f.offset > login.size() || size > login.size() - f.offset) {
    throw DecodeError(std::string("LOGIN7 ") + what + " lies outside the message");
  }
  return login.subspan(f.offset, size);
}

std::string FieldText(std::span<const std::uint8_t> login, Field f, const char* what) {
  return Ucs2ToUtf8(FieldBytes(login, f, 2, what));
}

}  // namespace

std::uint8_t DeobfuscatePasswordByte(std::uint8_t b) {
  b ^= 0xA5;
  return static_cast<std::uint8_t>((b << 4) | (b >> 4));
}

std::uint8_t ObfuscatePasswordByte(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
  return b ^ 0xA5;
}

Login7 DecodeLogin7(std::span<const std::uint8_t> body) {
  ByteReader reader(body);
  Login7 login;
  std::uint32_t length = reader.U32();
  if (length < kFixedPart71 || length > body.size()) {
    throw DecodeError("LOGIN7 length " + std::to_string(length) + " does not fit the message");
  }
  // Offsets are relative to the LOGIN7 record, which the declared length bounds.
  std::span<const std::uint8_t> record = body.first(length);
  login.tds_version = reader.U32();
  login.packet_size = reader.U32();
  reader.Skip(4);  // ClientProgVer
  login.client_pid = reader.U32();
  reader.Skip(4);  // ConnectionID
  login.option_flags1 = reader.U8();
  login.option_flags2 = reader.U8();
  login.type_flags = reader.U8();
  login.option_flags3 = reader.U8();
  reader.Skip(8);  // ClientTimeZone, ClientLCID
  Field host = ReadField(reader);
  Field user = ReadField(reader);
  Field password = ReadField(reader);
  Field app = ReadField(reader);
  Field server = ReadField(reader);
  ReadField(reader);  // ibExtension / unused
  Field library = ReadField(reader);
  Field language = ReadField(reader);
  Field database = ReadField(reader);
  reader.Skip(6);  // ClientID

  LoginRequest& r = login.request;
  r.host_name = FieldText(record, host, "HostName");
  r.user = FieldText(record, user, "UserName");
  std::vector<std::uint8_t> clear;
  for (std::uint8_t b : FieldBytes(record, password, 2, "Password")) {
    clear.push_back(DeobfuscatePasswordByte(b));
  }
  r.password = Ucs2ToUtf8(clear);
  r.app_name = FieldText(record, app, "AppName");
  r.client_pid = login.client_pid;
  login.server_name = FieldText(record, server, "ServerName");
  login.library_name = FieldText(record, library, "CltIntName");
  login.language = FieldText(record, language, "Language");
  r.database = FieldText(record, database, "Database");
  r.integrated = (login.option_flags2 & kIntegratedSecurity) != 0;
  r.odbc = (login.option_flags2 & kOdbcClient) != 0;
  return login;
}

}  // namespace sqlengine::tds
