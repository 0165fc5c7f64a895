#pragma once
// The server's TLS identity: one OpenSSL context holding the certificate and
// private key every encrypted connection presents. Built once at start-up;
// thread-safe afterwards (sessions only create SSL objects from it).

#include <openssl/ssl.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace sqlengine::server {

class TlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where a certificate and its key are read from.
struct CertificateFiles {
  std::filesystem::path certificate;  // PEM
  std::filesystem::path private_key;  // PEM, unencrypted
};

// The engine's own certificate in `folder` (<home>/tls): sqlengine.crt and
// sqlengine.key. When either is missing, a new self-signed certificate
// (ECDSA P-256, ten years, for this host name, localhost, 127.0.0.1 and ::1)
// is written there first, both files owner-only (0600). Throws TlsError.
CertificateFiles EnsureSelfSignedCertificate(const std::filesystem::path& folder,
                                             const std::string& host_name);

class TlsContext {
 public:
  // Loads the certificate chain and key and checks that they belong together.
  // Throws TlsError naming the file that failed.
  explicit TlsContext(const CertificateFiles& files);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // A new server-side connection state; the caller owns it (SSL_free).
  SSL* NewConnection() const;

 private:
  SSL_CTX* context_ = nullptr;
};

// The text of OpenSSL's queued errors (and clears the queue); `fallback`
// when there are none.
std::string TakeOpenSslErrors(const std::string& fallback);

}  // namespace sqlengine::server
