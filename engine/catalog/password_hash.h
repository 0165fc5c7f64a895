#pragma once
// Salted password hashes for logins: PBKDF2-HMAC-SHA256 (OpenSSL), stored as
// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>".

#include <string>
#include <string_view>

namespace sqlengine::catalog {

// A fresh random salt every call. Throws std::runtime_error when OpenSSL fails.
std::string HashPassword(std::string_view password);

// Constant-time comparison; false for a malformed stored value.
bool VerifyPassword(std::string_view password, std::string_view stored);

}  // namespace sqlengine::catalog
