#include "engine/server/tls_context.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace sqlengine::server {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

void AddExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) {
    throw TlsError(TakeOpenSslErrors("cannot add a certificate extension"));
  }
}

// Writes `pem` to a new file readable by its owner only; an existing file
// is replaced.
void WriteOwnerOnly(const std::filesystem::path& path, const std::string& pem) {
  std::filesystem::path temporary = path;
  temporary += ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw TlsError("cannot create " + temporary.string());
  fchmod(fd, 0600);
  bool written = write(fd, pem.data(), pem.size()) == static_cast<ssize_t>(pem.size());
  written = fsync(fd) == 0 && written;
  close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw TlsError("cannot write " + path.string());
  }
}

template <typename Writer>
std::string ToPem(Writer write) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) throw TlsError("out of memory");
  std::string pem;
  if (write(bio) == 1) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    pem.assign(data, static_cast<std::size_t>(size));
  }
  BIO_free(bio);
  if (pem.empty()) throw TlsError(TakeOpenSslErrors("cannot encode PEM"));
  return pem;
}

void MakeSelfSigned(const CertificateFiles& files, const std::string& host_name) {
  KeyPtr key(EVP_EC_gen("P-256"));
  if (!key) throw TlsError(TakeOpenSslErrors("cannot generate a key"));
  CertPtr cert(X509_new());
  if (!cert) throw TlsError("out of memory");
  X509_set_version(cert.get(), 2);
  std::uint8_t serial[16];
  std::FILE* random = std::fopen("/dev/urandom", "rb");
  if (!random || std::fread(serial, 1, sizeof serial, random) != sizeof serial) {
    if (random) std::fclose(random);
    throw TlsError("cannot read /dev/urandom");
  }
  std::fclose(random);
  serial[0] &= 0x7F;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 60 * 60);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(host_name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  std::string alt_names = "DNS:localhost,IP:127.0.0.1,IP:::1";
  if (host_name != "localhost") alt_names = "DNS:" + host_name + "," + alt_names;
  AddExtension(cert.get(), NID_subject_alt_name, alt_names);
  AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(cert.get(), NID_subject_key_identifier, "hash");
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    throw TlsError(TakeOpenSslErrors("cannot sign the certificate"));
  }
  // The key first: a certificate without its key is never left behind.
  WriteOwnerOnly(files.private_key, ToPem([&](BIO* bio) {
                   return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr,
                                                   nullptr);
                 }));
  WriteOwnerOnly(files.certificate,
                 ToPem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); }));
}

}  // namespace

std::string TakeOpenSslErrors(const std::string& fallback) {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text += (text.empty() ? "" : "; ") + std::string(buffer);
  }
  return text.empty() ? fallback : fallback + ": " + text;
}

CertificateFiles EnsureSelfSignedCertificate(const std::filesystem::path& folder,
                                             const std::string& host_name) {
  CertificateFiles files{folder / "sqlengine.crt", folder / "sqlengine.key"};
  std::error_code error;
  if (std::filesystem::exists(files.certificate, error) &&
      std::filesystem::exists(files.private_key, error)) {
    return files;
  }
  std::filesystem::create_directories(folder, error);
  if (error) throw TlsError("cannot create " + folder.string() + ": " + error.message());
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, error);
  MakeSelfSigned(files, host_name);
  return files;
}

TlsContext::TlsContext(const CertificateFiles& files) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (!context_) throw TlsError(TakeOpenSslErrors("cannot create a TLS context"));
  // TLS 1.2 only, as SQL Server offers inside PRELOGIN: with 1.3 the
  // client's Finished is its last handshake record, and FreeTDS then keeps
  // it back and sends it inside its first encrypted packet, which no server
  // can read.
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
  // No session tickets: after the handshake nothing may follow on the wire
  // but the client's own records (the login-only mode goes back to clear
  // text right after LOGIN7).
  SSL_CTX_set_num_tickets(context_, 0);
  SSL_CTX_set_options(context_, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_OFF);
  if (SSL_CTX_use_certificate_chain_file(context_, files.certificate.c_str()) != 1) {
    SSL_CTX_free(context_);
    throw TlsError(TakeOpenSslErrors("cannot load the certificate " + files.certificate.string()));
  }
  if (SSL_CTX_use_PrivateKey_file(context_, files.private_key.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context_) != 1) {
    SSL_CTX_free(context_);
    throw TlsError(TakeOpenSslErrors("cannot load the private key " + files.private_key.string() +
                                     " for " + files.certificate.string()));
  }
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

SSL* TlsContext::NewConnection() const {
  SSL* ssl = SSL_new(context_);
  if (!ssl) throw TlsError(TakeOpenSslErrors("cannot start a TLS session"));
  return ssl;
}

}  // namespace sqlengine::server
