#pragma once
// One connection's TLS state over memory buffers: the caller moves
// ciphertext between the socket and this object, so the same state serves
// the handshake carried inside PRELOGIN packets and the records sent bare
// on the socket afterwards. Thread-safe: the session's reader decrypts while
// its executor encrypts. Whoever takes output must send it before anyone
// takes more (SocketChannel serialises this with its send lock).

#include <openssl/ssl.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "engine/server/tls_context.h"

namespace sqlengine::server {

class TlsStream {
 public:
  // Server side of a new connection. Throws TlsError.
  explicit TlsStream(const TlsContext& context);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Hands ciphertext from the client to the TLS state.
  void Feed(std::span<const std::uint8_t> ciphertext);
  // Advances the handshake with what was fed. Returns true once it is
  // complete; false while more from the client is needed (send Output()
  // first). Throws TlsError when the handshake fails.
  bool Handshake();
  // Plaintext into `out`: the byte count, 0 when more ciphertext must be fed
  // first, -1 when the client closed the TLS session. Throws TlsError on a
  // corrupt or forged record.
  long Decrypt(std::uint8_t* out, std::size_t size);
  // Encrypts `plaintext` into records left in Output(). Throws TlsError.
  void Encrypt(std::span<const std::uint8_t> plaintext);
  // Takes the ciphertext waiting to go to the client.
  std::vector<std::uint8_t> TakeOutput();
  bool HasOutput();
  // True when plaintext or ciphertext from the client is buffered here.
  bool HasBufferedInput();

 private:
  std::mutex mutex_;
  SSL* ssl_ = nullptr;
  BIO* from_client_ = nullptr;  // owned by ssl_
  BIO* to_client_ = nullptr;    // owned by ssl_
};

}  // namespace sqlengine::server
