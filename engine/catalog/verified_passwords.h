#pragma once
// Remembers, for the life of the process, which (login, password, stored hash)
// triples have passed the salted hash check, so a client that logs in again is
// answered without repeating the deliberately slow derivation. Only a keyed
// digest of each triple is kept (HMAC-SHA256 under a random key made at first
// use), never the password. A failed check is never remembered, and a changed
// stored hash (new password, new salt) no longer matches. Thread-safe.

#include <string_view>

namespace sqlengine::catalog {

// The same answer as VerifyPassword(password, stored). Throws
// std::runtime_error when OpenSSL cannot provide the key or the digest.
bool VerifyPasswordRemembered(std::string_view login, std::string_view password,
                              std::string_view stored);

}  // namespace sqlengine::catalog
