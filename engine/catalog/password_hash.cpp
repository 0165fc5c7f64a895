#include "engine/catalog/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>
#include <vector>

namespace sqlengine::catalog {
namespace {

constexpr int kIterations = 100000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr std::string_view kScheme = "pbkdf2-sha256";

std::string ToHex(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

bool FromHex(std::string_view hex, std::vector<unsigned char>& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return false;
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return true;
}

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  int iterations) {
  std::vector<unsigned char> hash(kHashBytes);
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(),
                        static_cast<int>(hash.size()), hash.data()) != 1) {
    throw std::runtime_error("PBKDF2 failed");
  }
  return hash;
}

}  // namespace

std::string HashPassword(std::string_view password) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    throw std::runtime_error("no random bytes for a password salt");
  }
  return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" + ToHex(salt) + "$" +
         ToHex(Derive(password, salt, kIterations));
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
  size_t first = stored.find('$');
  size_t second = stored.find('$', first + 1);
  size_t third = stored.find('$', second + 1);
  if (first == stored.npos || second == stored.npos || third == stored.npos) return false;
  if (stored.substr(0, first) != kScheme) return false;
  int iterations = 0;
  std::string_view count = stored.substr(first + 1, second - first - 1);
  auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), iterations);
  if (error != std::errc() || end != count.data() + count.size() || iterations < 1) return false;
  std::vector<unsigned char> salt, expected;
  if (!FromHex(stored.substr(second + 1, third - second - 1), salt) ||
      !FromHex(stored.substr(third + 1), expected) || expected.size() != kHashBytes) {
    return false;
  }
  std::vector<unsigned char> actual = Derive(password, salt, iterations);
  return CRYPTO_memcmp(actual.data(), expected.data(), kHashBytes) == 0;
}

}  // namespace sqlengine::catalog
