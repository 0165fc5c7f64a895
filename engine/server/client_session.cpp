#include "engine/server/client_session.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "engine/common/after_response.h"
#include "engine/common/error.h"
#include "engine/server/wire_sink.h"
#include "engine/tds/bulk_load.h"
#include "engine/tds/decode_error.h"
#include "engine/tds/login7.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/requests.h"
#include "engine/tds/tokens.h"

namespace sqlengine::server {
namespace {

// Requests waiting while one runs; a client that pipelines more is not read
// further until the queue drains.
constexpr std::size_t kMaxQueuedRequests = 16;
constexpr std::chrono::milliseconds kCancelRepeat(50);
// Bytes of a bulk load that may wait for its executor before the reader
// stops taking the client's packets.
constexpr std::size_t kBulkLoadBuffer = 4u << 20;

std::size_t NegotiatePacketSize(std::uint32_t requested) {
  if (requested == 0) return tds::kDefaultPacketSize;
  return std::clamp<std::size_t>(requested, tds::kMinPacketSize, tds::kMaxPacketSize);
}

}  // namespace

ClientSession::ClientSession(int fd, std::string peer, Engine& engine, Log& log,
                             const SessionSettings& settings)
    : channel_(fd),
      peer_(std::move(peer)),
      engine_(engine),
      log_(log),
      settings_(settings),
      assembler_(kMaxPreloginMessageSize),
      writer_(channel_, client_gone_),
      watch_(channel_.Descriptor()) {}

ClientSession::~ClientSession() {
  // The session goes first: until it is gone another session's KILL may call
  // Close(), which uses the members below.
  session_.reset();
}

void ClientSession::Close() {
  client_gone_ = true;
  channel_.Shutdown();
  watch_.Wake();
  // Wakes a reader waiting for room in the queue.
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

bool ClientSession::ReadRequest(tds::Message* message) {
  try {
    return ReadMessage(message);
  } catch (const tds::DecodeError& e) {
    log_.Warning("malformed packet from " + peer_ + ": " + e.what() + "; connection closed");
  } catch (const TlsError& e) {
    log_.Warning("encryption with " + peer_ + " failed: " + e.what() + "; connection closed");
  }
  return false;
}

bool ClientSession::ReadMessage(tds::Message* message) {
  // Before login only PRELOGIN (with the TLS handshake) and LOGIN7 come, and
  // anything else is refused before its payload is read.
  auto check_before_login = [this](const tds::PacketHeader& header) {
    bool login7 = header.type == static_cast<std::uint8_t>(tds::PacketType::kLogin7);
    if (!login7 && header.type != static_cast<std::uint8_t>(tds::PacketType::kPrelogin)) {
      constexpr std::uint8_t kTlsHandshakeRecord = 0x16;
      throw tds::DecodeError(
          "packet type " + std::to_string(header.type) + " before login" +
          (header.type == kTlsHandshakeRecord
               ? " (a TLS handshake before PRELOGIN, TDS 8.0's strict encryption, is not offered)"
               : ""));
    }
    assembler_.set_max_message_size(login7 ? kMaxLogin7MessageSize : kMaxPreloginMessageSize);
  };
  tds::PacketHeader header;
  std::vector<std::uint8_t> payload;
  for (;;) {
    if (!channel_.ReadPacket(
            &header, &payload,
            session_ ? std::function<void(const tds::PacketHeader&)>() : check_before_login)) {
      return false;
    }
    const bool last = (header.status & tds::kStatusEndOfMessage) != 0;
    const auto type = static_cast<tds::PacketType>(header.type);
    if (bulk_stream_) {
      // The rest of a bulk load being executed: to its executor.
      if (type == tds::PacketType::kAttention || (last && (header.status & tds::kStatusIgnore))) {
        bulk_stream_->Close();  // the client gave the message up
        bulk_stream_.reset();
        if (type != tds::PacketType::kAttention) continue;
      } else {
        if (type != tds::PacketType::kBulkLoad)
          throw tds::DecodeError("packet type changed inside a message");
        bulk_stream_->Push(std::move(payload), last, client_gone_);
        if (last) bulk_stream_.reset();
        continue;
      }
    } else if (session_ && type == tds::PacketType::kBulkLoad && !assembler_.assembling()) {
      // A bulk load is handed over with its first packet and executed while
      // the others arrive.
      auto stream = std::make_shared<BulkPacketStream>(kBulkLoadBuffer);
      stream->Push(std::move(payload), last, client_gone_);
      if (!last) bulk_stream_ = stream;
      message->type = type;
      message->body.clear();
      message->parts = std::move(stream);
      return true;
    }
    if (auto complete = assembler_.Add(header, payload)) {
      // Before login a message given up is only dropped.
      if (complete->ignored && !session_) continue;
      *message = std::move(*complete);
      return true;
    }
  }
}

void ClientSession::Run() {
  try {
    if (Login()) {
      std::thread reader([this] { ReaderLoop(); });
      try {
        ServeRequests();
      } catch (...) {
        DropAfterResponse();  // the session it was for ends with the connection
        Close();
        reader.join();
        throw;
      }
      DropAfterResponse();
      Close();
      reader.join();
    } else if (channel_.DeadlinePassed()) {
      auto ms = settings_.login_timeout.count();
      std::string limit =
          ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
      log_.Warning("closed the connection from " + peer_ + ": no login within " + limit);
    }
  } catch (const tds::DecodeError& e) {
    log_.Warning("malformed request from " + peer_ + ": " + e.what() + "; connection closed");
  } catch (const TlsError& e) {
    log_.Warning("encryption with " + peer_ + " failed: " + e.what() + "; connection closed");
  } catch (const ClientGone&) {
  } catch (const std::exception& e) {
    log_.Error("internal error in the session of " + peer_ + ": " + e.what());
  }
  Close();
  session_.reset();
}

void ClientSession::SendLoginFailure(const std::vector<ServerMessage>& messages, bool wide) {
  for (const ServerMessage& m : messages) {
    tds::WriteMessage(m, settings_.server_name, wide, writer_.Tokens());
  }
  tds::WriteDone(tds::Token::kDone, tds::kDoneError, 0, 0, wide, writer_.Tokens());
  writer_.Finish();
}

bool ClientSession::NegotiateTls() {
  auto tls = std::make_unique<TlsStream>(*settings_.tls);
  for (;;) {
    tds::Message message;
    if (!ReadMessage(&message)) return false;
    if (message.type != tds::PacketType::kPrelogin) {
      throw TlsError("expected the TLS handshake in PRELOGIN packets, got packet type " +
                     std::to_string(static_cast<int>(message.type)));
    }
    tls->Feed(message.body);
    bool done = tls->Handshake();
    std::vector<std::uint8_t> records = tls->TakeOutput();
    if (!records.empty()) {
      std::vector<std::uint8_t> packets;
      std::uint8_t packet_id = 1;
      tds::AppendPackets(records, tds::kDefaultPacketSize, 0, true, &packet_id, packets,
                         tds::PacketType::kPrelogin);
      if (!channel_.WriteAll(packets)) return false;
    }
    if (done) break;
  }
  channel_.StartTls(std::move(tls));
  return true;
}

bool ClientSession::Login() {
  if (settings_.login_timeout.count() > 0) {
    channel_.SetReadDeadline(SocketChannel::Clock::now() + settings_.login_timeout);
  }
  tds::Message message;
  if (!ReadMessage(&message)) return false;
  tds::EncryptionScope encryption = tds::EncryptionScope::kNone;
  if (message.type == tds::PacketType::kPrelogin) {
    tds::PreloginRequest prelogin = tds::DecodePrelogin(message.body);
    tds::EncryptionAgreement agreement =
        tds::NegotiateEncryption(prelogin.encryption, settings_.encryption);
    writer_.Tokens().Append(tds::EncodePreloginResponse(agreement.answer));
    writer_.Finish();
    if (agreement.refused) {
      log_.Warning("closed the connection from " + peer_ +
                   ": the client and the server do not agree on encryption (client " +
                   (prelogin.encryption ? std::to_string(*prelogin.encryption) : "none") + ")");
      return false;
    }
    encryption = agreement.scope;
    if (encryption != tds::EncryptionScope::kNone && !NegotiateTls()) return false;
    if (!ReadMessage(&message)) return false;
  } else if (settings_.encryption == tds::ServerEncryption::kRequired) {
    log_.Warning("closed the connection from " + peer_ +
                 ": it logs in without PRELOGIN, so without the encryption this server requires");
    return false;
  }
  if (message.type != tds::PacketType::kLogin7) {
    throw tds::DecodeError("expected LOGIN7, got packet type " +
                           std::to_string(static_cast<int>(message.type)));
  }
  // Encryption for the login only ends with the LOGIN7 message: the answer
  // and everything after it travel in clear text.
  if (encryption == tds::EncryptionScope::kLoginOnly) channel_.StopTls();
  tds::Login7 login = tds::DecodeLogin7(message.body);
  login.request.client_address = peer_;
  // Until LOGINACK the client reads tokens in the layout it asked for.
  const bool requested_wide = tds::HasWideCounts(tds::NegotiateVersion(login.tds_version));
  LoginResult result = engine_.Login(login.request);
  if (!result.session) {
    std::string reason = result.messages.empty() ? "" : ": " + result.messages.front().text;
    log_.Warning("login failed for user '" + login.request.user + "' from " + peer_ + reason);
    SendLoginFailure(result.messages, requested_wide);
    return false;
  }
  session_ = std::move(result.session);
  session_->SetDisconnect([this] { Close(); });
  session_->SetClientGone([this] { return channel_.PeerClosed(); });
  channel_.SetReadDeadline(std::nullopt);
  assembler_.set_max_message_size(settings_.max_request_size);
  version_ = std::min(tds::NegotiateVersion(login.tds_version), settings_.highest_version);
  std::size_t packet_size = NegotiatePacketSize(login.packet_size);
  writer_.Configure(tds::kDefaultPacketSize, static_cast<std::uint16_t>(session_->Spid()));

  tds::ByteWriter& out = writer_.Tokens();
  tds::WriteLoginAck(version_, out);
  tds::WriteEnvChange(tds::EnvChangeType::kDatabase, session_->CurrentDatabase(), "master", out);
  tds::WriteCollationChange(out);
  tds::WriteEnvChange(tds::EnvChangeType::kLanguage, "us_english", "", out);
  tds::WriteEnvChange(tds::EnvChangeType::kPacketSize, std::to_string(packet_size),
                      std::to_string(login.packet_size), out);
  for (const ServerMessage& m : result.messages) {
    tds::WriteMessage(m, settings_.server_name, tds::HasWideCounts(version_), out);
  }
  tds::WriteDone(tds::Token::kDone, tds::kDoneFinal, 0, 0, tds::HasWideCounts(version_), out);
  writer_.Finish();
  writer_.Configure(packet_size, static_cast<std::uint16_t>(session_->Spid()));
  return true;
}

bool ClientSession::AwaitReaderTurn(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (client_gone_) return false;
    if (running_ && channel_.WaitReadable(std::chrono::milliseconds(0))) return true;
    if (running_) watch_.Arm();
    // An executor may clear a cancel request that came just before it
    // started; repeat it until the request ends.
    const bool repeat = attention_ && running_;
    lock.unlock();
    const bool woken = watch_.Wait(repeat ? kCancelRepeat : std::chrono::milliseconds(-1));
    lock.lock();
    if (!woken && attention_ && running_) session_->Cancel();
  }
}

void ClientSession::ReaderLoop() {
  tds::Message message;
  std::unique_lock lock(mutex_);
  while (AwaitReaderTurn(lock)) {
    reader_reads_ = true;
    lock.unlock();
    const bool read = ReadRequest(&message);
    lock.lock();
    reader_reads_ = false;
    changed_.notify_all();
    if (!read) break;
    if (message.type == tds::PacketType::kAttention) {
      if (running_) {
        attention_ = true;
        session_->Cancel();
        continue;
      }
      // Requests that have not started are abandoned with the attention.
      std::erase_if(queue_,
                    [](const tds::Message& m) { return m.type != tds::PacketType::kAttention; });
    }
    changed_.wait(lock, [&] { return queue_.size() < kMaxQueuedRequests || client_gone_; });
    queue_.push_back(std::move(message));
    changed_.notify_all();
  }
  if (running_ && bulk_stream_) {
    // Its executor reads the rows that arrived and no more.
    bulk_stream_->Close();
    bulk_stream_.reset();
  }
  client_gone_ = true;
  reader_done_ = true;
  changed_.notify_all();
  while (running_) {
    session_->Cancel();
    changed_.wait_for(lock, kCancelRepeat);
  }
}

void ClientSession::AnswerAttention() {
  tds::WriteDone(tds::Token::kDone, tds::kDoneAttention, 0, 0, tds::HasWideCounts(version_),
                 writer_.Tokens());
  writer_.Finish();
}

void ClientSession::AnswerIgnored() {
  tds::WriteDone(tds::Token::kDone, tds::kDoneError, 0, 0, tds::HasWideCounts(version_),
                 writer_.Tokens());
  writer_.Finish();
}

void ClientSession::SetRunning(bool running) {
  running_ = running;
  if (!running) {
    watch_.Disarm();
  } else if (reader_reads_) {
    // The reader looks for more once it has read the message it is amid.
  } else if (channel_.HasReadAhead()) {
    watch_.Wake();  // what came with the request is the reader's to read now
  } else {
    watch_.Arm();
  }
  changed_.notify_all();
}

void ClientSession::ServeRequests() {
  for (;;) {
    tds::Message message;
    {
      std::unique_lock lock(mutex_);
      // A message the reader began while the last request ran is queued
      // once read; otherwise the socket is this thread's.
      changed_.wait(lock, [&] { return !queue_.empty() || reader_done_ || !reader_reads_; });
      if (client_gone_) return;
      if (!queue_.empty()) {
        message = std::move(queue_.front());
        queue_.pop_front();
      } else {
        if (reader_done_) return;
        lock.unlock();
        if (!ReadRequest(&message)) return;
        lock.lock();
      }
      SetRunning(message.type != tds::PacketType::kAttention);
    }
    if (message.type == tds::PacketType::kAttention) {
      AnswerAttention();
      continue;
    }
    Execute(message);
    RunAfterResponse();
  }
}

void ClientSession::Guarded(WireSink& sink, const std::function<void()>& work) {
  try {
    work();
  } catch (const ClientGone&) {
    throw;
  } catch (const BulkLoadAbandoned&) {
    // A session that let it through kept nothing either: answered as it would.
    sink.Done({std::nullopt, true});
  } catch (const SqlError& e) {
    // The executor should report through the sink; an escaped error still
    // reaches the client as the error it is.
    sink.Message(e.message());
  } catch (const std::exception& e) {
    log_.Error("internal error in the session of " + peer_ + ": " + e.what());
    ServerMessage internal;
    internal.severity = 16;
    internal.text = std::string("Internal error: ") + e.what();
    sink.Message(internal);
  }
}

void ClientSession::Execute(const tds::Message& message) {
  // Ends the request: after this, an ATTENTION is queued and answered on its own.
  auto stop_running = [this] {
    std::lock_guard lock(mutex_);
    SetRunning(false);
  };
  auto finish = [&](WireSink& sink, bool more_follows) {
    if (!more_follows) stop_running();
    sink.Finish(more_follows, !more_follows);
    if (!more_follows) attention_ = false;
  };
  try {
    if (message.ignored) {
      stop_running();
      AnswerIgnored();
      attention_ = false;
      return;
    }
    switch (message.type) {
      case tds::PacketType::kSqlBatch: {
        tds::SqlBatch batch = tds::DecodeSqlBatch(message.body, version_);
        WireSink sink(writer_, version_, settings_.server_name, RequestKind::kBatch, attention_);
        if (!attention_) Guarded(sink, [&] { session_->ExecuteBatch(batch.text, sink); });
        finish(sink, false);
        return;
      }
      case tds::PacketType::kRpc: {
        tds::RpcRequest request = tds::DecodeRpc(message.body, version_);
        for (std::size_t i = 0; i < request.calls.size(); ++i) {
          WireSink sink(writer_, version_, settings_.server_name, RequestKind::kRpc, attention_);
          if (const std::optional<tds::ParamFault>& fault = request.faults[i]) {
            // The call does not run; the stream was framed, so the session goes on.
            log_.Warning("unreadable RPC parameter from " + peer_ + ": " + fault->detail +
                         "; answered with error " + std::to_string(fault->message_number));
            const std::vector<std::string>& a = fault->args;
            sink.Message(FormatMessage(fault->message_number, {a.at(0), a.at(1), a.at(2)}));
          } else if (!attention_) {
            Guarded(sink, [&] { session_->ExecuteRpc(request.calls[i], sink); });
          }
          bool cancelled = attention_;
          finish(sink, i + 1 < request.calls.size() && !cancelled);
          if (cancelled) break;
        }
        return;
      }
      case tds::PacketType::kBulkLoad: {
        // Whatever the message's tokens hold is answered by the session; its
        // packets are read as the rows need them, and the answer waits for
        // the last one.
        std::optional<tds::BulkLoadReader> rows;
        if (message.parts) {
          rows.emplace(*message.parts, version_);
        } else {
          rows.emplace(message.body, version_);
        }
        WireSink sink(writer_, version_, settings_.server_name, RequestKind::kBatch, attention_);
        if (!attention_) Guarded(sink, [&] { session_->BulkLoad(*rows, sink); });
        if (message.parts) message.parts->SkipRest();
        finish(sink, false);
        return;
      }
      case tds::PacketType::kTransactionManager: {
        TmCall call = tds::DecodeTransactionManager(message.body, version_);
        WireSink sink(writer_, version_, settings_.server_name, RequestKind::kBatch, attention_);
        if (!attention_) Guarded(sink, [&] { session_->Transaction(call, sink); });
        finish(sink, false);
        return;
      }
      default:
        throw tds::DecodeError("unexpected packet type " +
                               std::to_string(static_cast<int>(message.type)) + " after login");
    }
  } catch (...) {
    stop_running();
    throw;
  }
}

}  // namespace sqlengine::server
