#pragma once
// One client connection from PRELOGIN to disconnect. Run() performs the
// login on the calling thread, then serves requests there. Between requests
// that thread reads the next one itself; while a request runs, a reader
// thread watches the socket: it queues what comes (requests sent ahead, the
// rest of a bulk load's packets) and, when an ATTENTION arrives, cancels the
// request at once. The session owns its socket and its SqlSession; the
// Engine and Log must outlive it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/common/engine_api.h"
#include "engine/common/log.h"
#include "engine/server/bulk_packet_stream.h"
#include "engine/server/read_watch.h"
#include "engine/server/response_writer.h"
#include "engine/server/socket_channel.h"
#include "engine/server/tls_context.h"
#include "engine/server/wire_sink.h"
#include "engine/tds/packet.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/version.h"

namespace sqlengine::server {

// What a client may send before it has logged in: PRELOGIN messages (the
// option table, then the TLS handshake records they carry) and LOGIN7 (at
// most 128 KiB - 1 bytes), each a message of its own.
inline constexpr std::size_t kMaxPreloginMessageSize = 32 * 1024;
inline constexpr std::size_t kMaxLogin7MessageSize = 128 * 1024 - 1;

struct SessionSettings {
  std::string server_name;                   // ServerName in INFO/ERROR tokens
  std::size_t max_request_size = 64u << 20;  // once logged in
  // From accept to LOGINACK; a client that has not logged in by then is
  // cut off. Zero: no limit.
  std::chrono::milliseconds login_timeout{60'000};
  tds::ServerEncryption encryption = tds::ServerEncryption::kUnavailable;
  std::shared_ptr<const TlsContext> tls;  // set unless kUnavailable
  // The highest TDS version agreed to; k71 answers as SQL Server 2000.
  tds::TdsVersion highest_version = tds::TdsVersion::k74;
};

class ClientSession {
 public:
  ClientSession(int fd, std::string peer, Engine& engine, Log& log,
                const SessionSettings& settings);
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // Returns when the client disconnects, sends something malformed, or
  // Close() is called. Never throws.
  void Run();
  // Thread-safe: ends the connection; a running request is cancelled.
  void Close();

 private:
  bool ReadMessage(tds::Message* message);
  // ReadMessage once logged in; a malformed message is logged and ends the
  // connection as its end does (false).
  bool ReadRequest(tds::Message* message);
  bool Login();
  // Runs the TLS handshake carried in PRELOGIN packets; afterwards the
  // channel encrypts. Returns false when the client went away; throws
  // TlsError when the handshake fails.
  bool NegotiateTls();
  void SendLoginFailure(const std::vector<ServerMessage>& messages, bool wide);
  void ReaderLoop();
  // The reader's turn to read: a request runs and something came, or the
  // connection ends (false). Called and returns with `lock` held.
  bool AwaitReaderTurn(std::unique_lock<std::mutex>& lock);
  // Starts or ends a request (mutex_ held): the reader watches the socket
  // while one runs.
  void SetRunning(bool running);
  void ServeRequests();
  void Execute(const tds::Message& message);
  void AnswerAttention();
  // Answers a message the client gave up with IGNORE: one DONE(ERROR).
  void AnswerIgnored();
  // Runs one executor call; an escaped SqlError or internal fault becomes an
  // ERROR in the response instead of ending the connection.
  void Guarded(WireSink& sink, const std::function<void()>& work);

  SocketChannel channel_;
  std::string peer_;
  Engine& engine_;
  Log& log_;
  SessionSettings settings_;
  tds::MessageAssembler assembler_;
  // The bulk load whose packets are still arriving (the reading thread's).
  std::shared_ptr<BulkPacketStream> bulk_stream_;
  tds::TdsVersion version_ = tds::TdsVersion::k71;
  std::unique_ptr<SqlSession> session_;
  std::atomic<bool> client_gone_{false};
  ResponseWriter writer_;

  // The socket is read by one thread at a time: by the reader while
  // running_ (and to the end of a message it began), else by the executor.
  std::mutex mutex_;
  std::condition_variable changed_;
  ReadWatch watch_;
  std::deque<tds::Message> queue_;  // requests and idle ATTENTIONs, in arrival order
  bool reader_done_ = false;
  bool reader_reads_ = false;           // the reader is amid a message
  bool running_ = false;                // a request is being executed
  std::atomic<bool> attention_{false};  // ATTENTION seen while running_
};

}  // namespace sqlengine::server
