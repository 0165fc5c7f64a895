#include "engine/catalog/verified_passwords.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "engine/catalog/password_hash.h"

namespace sqlengine::catalog {
namespace {

// Enough for every login of an instance; when full the memory starts afresh
// (the next logins pay the slow check once more).
constexpr std::size_t kMaxRemembered = 4096;

class VerifiedDigests {
 public:
  VerifiedDigests() {
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1)
      throw std::runtime_error("no random bytes for the login verification key");
  }

  // Fields are length-prefixed so no two triples share an input.
  std::string Digest(std::string_view login, std::string_view password,
                     std::string_view stored) const {
    std::string input;
    for (std::string_view field : {login, password, stored}) {
      std::uint64_t size = field.size();
      input.append(reinterpret_cast<const char*>(&size), sizeof size);
      input.append(field);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
             reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest,
             &length) == nullptr) {
      throw std::runtime_error("HMAC failed");
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
  }

  bool Contains(const std::string& digest) {
    std::lock_guard lock(mutex_);
    return digests_.count(digest) != 0;
  }

  void Remember(std::string digest) {
    std::lock_guard lock(mutex_);
    if (digests_.size() >= kMaxRemembered) digests_.clear();
    digests_.insert(std::move(digest));
  }

 private:
  std::array<unsigned char, 32> key_;
  std::mutex mutex_;
  std::unordered_set<std::string> digests_;
};

VerifiedDigests& Verified() {
  static VerifiedDigests verified;
  return verified;
}

}  // namespace

bool VerifyPasswordRemembered(std::string_view login, std::string_view password,
                              std::string_view stored) {
  VerifiedDigests& verified = Verified();
  std::string digest = verified.Digest(login, password, stored);
  if (verified.Contains(digest)) return true;
  if (!VerifyPassword(password, stored)) return false;
  verified.Remember(std::move(digest));
  return true;
}

}  // namespace sqlengine::catalog
