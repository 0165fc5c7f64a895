#include "engine/server/tls_stream.h"

#include <openssl/err.h>

#include <climits>

namespace sqlengine::server {

TlsStream::TlsStream(const TlsContext& context) : ssl_(context.NewConnection()) {
  from_client_ = BIO_new(BIO_s_mem());
  to_client_ = BIO_new(BIO_s_mem());
  if (!from_client_ || !to_client_) {
    BIO_free(from_client_);
    BIO_free(to_client_);
    SSL_free(ssl_);
    throw TlsError("out of memory");
  }
  // An empty input buffer means "wait for more", not end of stream.
  BIO_set_mem_eof_return(from_client_, -1);
  SSL_set_bio(ssl_, from_client_, to_client_);
  SSL_set_accept_state(ssl_);
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

void TlsStream::Feed(std::span<const std::uint8_t> ciphertext) {
  std::lock_guard lock(mutex_);
  std::size_t done = 0;
  while (done < ciphertext.size()) {
    int chunk = static_cast<int>(std::min<std::size_t>(ciphertext.size() - done, INT_MAX));
    int n = BIO_write(from_client_, ciphertext.data() + done, chunk);
    if (n <= 0) throw TlsError("out of memory");
    done += static_cast<std::size_t>(n);
  }
}

bool TlsStream::Handshake() {
  std::lock_guard lock(mutex_);
  ERR_clear_error();
  int rc = SSL_do_handshake(ssl_);
  if (rc == 1) return true;
  int error = SSL_get_error(ssl_, rc);
  if (error == SSL_ERROR_WANT_READ) return false;
  throw TlsError(TakeOpenSslErrors("TLS handshake failed"));
}

long TlsStream::Decrypt(std::uint8_t* out, std::size_t size) {
  std::lock_guard lock(mutex_);
  ERR_clear_error();
  int n = SSL_read(ssl_, out, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  if (n > 0) return n;
  switch (SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_READ:
      return 0;
    case SSL_ERROR_ZERO_RETURN:
      return -1;
    default:
      throw TlsError(TakeOpenSslErrors("cannot decrypt what the client sent"));
  }
}

void TlsStream::Encrypt(std::span<const std::uint8_t> plaintext) {
  std::lock_guard lock(mutex_);
  std::size_t done = 0;
  while (done < plaintext.size()) {
    ERR_clear_error();
    int chunk = static_cast<int>(std::min<std::size_t>(plaintext.size() - done, INT_MAX));
    int n = SSL_write(ssl_, plaintext.data() + done, chunk);
    if (n <= 0) throw TlsError(TakeOpenSslErrors("cannot encrypt a response"));
    done += static_cast<std::size_t>(n);
  }
}

std::vector<std::uint8_t> TlsStream::TakeOutput() {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> out(BIO_ctrl_pending(to_client_));
  if (!out.empty()) {
    int n = BIO_read(to_client_, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return out;
}

bool TlsStream::HasOutput() {
  std::lock_guard lock(mutex_);
  return BIO_ctrl_pending(to_client_) > 0;
}

bool TlsStream::HasBufferedInput() {
  std::lock_guard lock(mutex_);
  return SSL_pending(ssl_) > 0 || BIO_ctrl_pending(from_client_) > 0;
}

}  // namespace sqlengine::server
