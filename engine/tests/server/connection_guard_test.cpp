// What the server does about connections that do not log in (the login
// timeout, the size of what they may send, the connection limit) and about
// encryption: TLS inside PRELOGIN, then the login only or everything
// encrypted. Each abusive connection is cut off without disturbing a session
// that has logged in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "engine/server/tls_context.h"
#include "engine/tests/server/server_fixture.h"
#include "engine/tests/server/tds_client.h"

namespace sqlengine::testing {
namespace {

using tds::PacketType;
using tds::Token;

// Sends packets of `type` without an end-of-message flag until the server
// stops taking them or `limit` bytes went out; returns the bytes sent.
std::size_t SendUnendedMessage(TdsClient& client, PacketType type, std::size_t limit) {
  std::vector<std::uint8_t> packet(4096, 0x41);
  tds::PacketHeader header;
  header.type = static_cast<std::uint8_t>(type);
  header.length = static_cast<std::uint16_t>(packet.size());
  tds::WriteHeader(header, std::span<std::uint8_t, tds::kHeaderSize>(packet.data(), 8));
  std::size_t sent = 0;
  try {
    while (sent < limit) {
      client.SendRaw(packet);
      sent += packet.size();
    }
  } catch (const std::runtime_error&) {
  }
  return sent;
}

bool LogsIn(int port) {
  try {
    TdsClient client(port);
    Response response = client.Login();
    auto events = ParseTokens(response.body, client.version());
    return !events.empty() && events.front().token == Token::kLoginAck;
  } catch (const std::runtime_error&) {
    return false;
  }
}

class LoginTimeoutTest : public ServerTest {
 protected:
  void Configure(server::SessionSettings& settings) override {
    settings.login_timeout = std::chrono::milliseconds(400);
  }
};

TEST_F(LoginTimeoutTest, ConnectionsThatDoNotLogInAreClosedAndLoggedInOnesStay) {
  TdsClient working(Port());
  working.LoginOrFail();
  auto started = std::chrono::steady_clock::now();
  TdsClient silent(Port());
  TdsClient dribbling(Port());
  const std::uint8_t half_a_header[] = {0x12, 0x01, 0x00};
  dribbling.SendRaw(half_a_header);
  TdsClient stuck_after_prelogin(Port());
  ASSERT_EQ(stuck_after_prelogin.Prelogin(0x02), 0x02);

  EXPECT_TRUE(silent.WaitForClose());
  EXPECT_TRUE(dribbling.WaitForClose());
  EXPECT_TRUE(stuck_after_prelogin.WaitForClose());
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300))
      << "closed before the timeout";
  EXPECT_EQ(Only(working.Batch("rows 2"), Token::kRow).size(), 2u);
}

class ConnectionLimitTest : public ServerTest {
 protected:
  ConnectionLimitTest() { connection_limit_ = 3; }
};

TEST_F(ConnectionLimitTest, ConnectionsBeyondTheLimitAreClosedUntilOneEnds) {
  auto first = std::make_unique<TdsClient>(Port());
  first->LoginOrFail();
  TdsClient second(Port());
  second.LoginOrFail();
  TdsClient not_logged_in(Port());  // counts as well

  TdsClient refused(Port());
  EXPECT_TRUE(refused.WaitForClose());
  EXPECT_FALSE(LogsIn(Port()));
  EXPECT_EQ(Only(second.Batch("rows 1"), Token::kRow).size(), 1u);

  first.reset();
  EXPECT_TRUE(Eventually([&] { return LogsIn(Port()); }));
}

// A connection the server has no descriptors left for (beyond its socket)
// is closed; the server goes on.
TEST_F(ServerTest, AConnectionWithoutDescriptorsLeftIsClosedAndTheServerGoesOn) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime checks a thrown object's type through a pipe of
  // its own, which a process out of descriptors cannot open.
  GTEST_SKIP() << "needs descriptors the sanitizer runtime would take";
#endif
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest_free = open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest_free, 0);
  close(lowest_free);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free) + 2;  // the client's socket and the accepted one
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  bool closed = false;
  {
    TdsClient refused(Port());
    closed = refused.WaitForClose();
  }
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_TRUE(closed);
  TdsClient client(Port());
  client.LoginOrFail();
  EXPECT_EQ(Only(client.Batch("rows 1"), Token::kRow).size(), 1u);
}

TEST_F(ServerTest, OversizedMessagesBeforeLoginAreCutOff) {
  // 16 MiB offered each time; the server must stop reading long before.
  constexpr std::size_t kOffered = 16u << 20;
  TdsClient endless_prelogin(Port());
  EXPECT_LT(SendUnendedMessage(endless_prelogin, PacketType::kPrelogin, kOffered), kOffered);
  EXPECT_TRUE(endless_prelogin.WaitForClose());

  TdsClient endless_login(Port());
  ASSERT_EQ(endless_login.Prelogin(0x02), 0x02);
  EXPECT_LT(SendUnendedMessage(endless_login, PacketType::kLogin7, kOffered), kOffered);
  EXPECT_TRUE(endless_login.WaitForClose());

  // The largest LOGIN7 a client may send still gets an answer.
  TdsClient large_login(Port());
  ASSERT_EQ(large_login.Prelogin(0x02), 0x02);
  std::vector<std::uint8_t> login = BuildLogin7({});
  login.resize(server::kMaxLogin7MessageSize, 0);
  large_login.Send(PacketType::kLogin7, login);
  EXPECT_TRUE(large_login.Receive()) << "a LOGIN7 within the limit was refused";
  TdsClient large_first_login(Port());  // as a TDS 7.0 client, without PRELOGIN
  large_first_login.Send(PacketType::kLogin7, login);
  EXPECT_TRUE(large_first_login.Receive()) << "a first LOGIN7 within the limit was refused";

  EXPECT_TRUE(LogsIn(Port()));
}

TEST_F(ServerTest, AnythingButPreloginOrLogin7BeforeLoginIsCutOffAtOnce) {
  // What a TDS 8.0 client sends first: a TLS ClientHello record.
  const std::uint8_t client_hello[] = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xFC};
  TdsClient strict(Port());
  strict.SendRaw(client_hello);
  EXPECT_TRUE(strict.WaitForClose()) << "kept until the login timeout";

  TdsClient batch_first(Port());
  batch_first.Send(PacketType::kSqlBatch, BuildBatch("rows 1", tds::TdsVersion::k74));
  EXPECT_TRUE(batch_first.WaitForClose());
  EXPECT_TRUE(LogsIn(Port()));
}

// A server with a certificate made for the test in a temporary folder.
class EncryptionTest : public ServerTest {
 protected:
  void Configure(server::SessionSettings& settings) override {
    char pattern[] = "/tmp/sqlengine-tls-XXXXXX";
    folder_ = mkdtemp(pattern);
    files_ = server::EnsureSelfSignedCertificate(folder_ / "tls", "testhost");
    settings.tls = std::make_shared<server::TlsContext>(files_);
    settings.encryption = encryption_;
  }
  void TearDown() override {
    ServerTest::TearDown();
    std::filesystem::remove_all(folder_);
  }

  tds::ServerEncryption encryption_ = tds::ServerEncryption::kOffered;
  std::filesystem::path folder_;
  server::CertificateFiles files_;
};

class RequiredEncryptionTest : public EncryptionTest {
 protected:
  RequiredEncryptionTest() { encryption_ = tds::ServerEncryption::kRequired; }
};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(EncryptionTest, TheCertificateIsMadeOnceAndOnlyItsOwnerMayReadIt) {
  for (const auto& file : {files_.certificate, files_.private_key}) {
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
  }
  std::string key = ReadAll(files_.private_key);
  server::CertificateFiles again = server::EnsureSelfSignedCertificate(folder_ / "tls", "other");
  EXPECT_EQ(ReadAll(again.private_key), key) << "an existing key was replaced";
}

TEST_F(EncryptionTest, LoginOnlyEncryptionReturnsToClearTextRightAfterLogin7) {
  TdsClient client(Port());
  ASSERT_EQ(client.Prelogin(0x00), 0x00);
  client.StartTls(files_.certificate);
  client.Send(PacketType::kLogin7, BuildLogin7({}));
  client.StopTls();
  auto response = client.Receive();
  ASSERT_TRUE(response) << "no clear-text answer to the encrypted LOGIN7";
  auto events = ParseTokens(response->body, tds::TdsVersion::k74);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().token, Token::kLoginAck);
  EXPECT_EQ(Only(client.Batch("rows 3"), Token::kRow).size(), 3u);
}

TEST_F(EncryptionTest, AClientWithoutEncryptionLogsInInClearText) {
  TdsClient client(Port());
  client.LoginOrFail();  // offers ENCRYPT_NOT_SUP
  EXPECT_EQ(Only(client.Batch("rows 1"), Token::kRow).size(), 1u);
}

TEST_F(EncryptionTest, AnEncryptedConnectionCarriesLongMessagesAndAttention) {
  TdsClient client(Port());
  ASSERT_EQ(client.Prelogin(0x01), 0x01);
  client.StartTls(files_.certificate);
  client.Send(PacketType::kLogin7, BuildLogin7({}));
  auto response = client.Receive();
  ASSERT_TRUE(response);
  ASSERT_EQ(ParseTokens(response->body, tds::TdsVersion::k74).front().token, Token::kLoginAck);

  // A request of many 512-byte packets, answered in several packets.
  std::string text(20000, 'x');
  for (std::size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  client.Send(PacketType::kSqlBatch, BuildBatch("echo " + text, client.version()), 512);
  auto echoed = client.Receive();
  ASSERT_TRUE(echoed);
  EXPECT_GT(echoed->headers.size(), 1u);
  auto rows = Only(ParseTokens(echoed->body, client.version()), Token::kRow);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::get<std::string>(rows[0].values[0]), text);

  client.Send(PacketType::kSqlBatch, BuildBatch("wait", client.version()));
  ASSERT_TRUE(Eventually([&] { return engine_.Waiting() == 1; }));
  client.Send(PacketType::kAttention, {});
  ASSERT_TRUE(DrainUntilAttentionAck(client));
  EXPECT_TRUE(Eventually([&] { return engine_.CancelledRequests() == 1; }));
  EXPECT_EQ(Only(client.Batch("rows 2"), Token::kRow).size(), 2u);
}

TEST_F(RequiredEncryptionTest, EveryConnectionIsEncryptedOrRefused) {
  TdsClient without(Port());
  EXPECT_EQ(without.Prelogin(0x02), 0x03);
  EXPECT_TRUE(without.WaitForClose());

  TdsClient no_prelogin(Port());
  no_prelogin.Send(PacketType::kLogin7, BuildLogin7({}));
  EXPECT_TRUE(no_prelogin.WaitForClose());

  TdsClient willing(Port());
  ASSERT_EQ(willing.Prelogin(0x00), 0x03) << "login-only encryption must be turned down";
  willing.StartTls(files_.certificate);
  willing.Send(PacketType::kLogin7, BuildLogin7({}));
  auto response = willing.Receive();
  ASSERT_TRUE(response);
  EXPECT_EQ(ParseTokens(response->body, tds::TdsVersion::k74).front().token, Token::kLoginAck);
  EXPECT_EQ(Only(willing.Batch("rows 1"), Token::kRow).size(), 1u);
}

TEST_F(EncryptionTest, AFailedHandshakeEndsOnlyThatConnection) {
  TdsClient garbage(Port());
  ASSERT_EQ(garbage.Prelogin(0x01), 0x01);
  const std::uint8_t not_tls[] = {'h', 'e', 'l', 'l', 'o', ' ', 't', 'l', 's'};
  garbage.Send(PacketType::kPrelogin, not_tls);
  EXPECT_TRUE(garbage.WaitForClose());
  EXPECT_TRUE(LogsIn(Port()));
}

}  // namespace
}  // namespace sqlengine::testing
