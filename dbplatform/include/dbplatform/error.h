#pragma once
// Every failing dbplatform operation throws dbplatform::Error: a signed 32-bit
// number (an HRESULT-style code as the original automation libraries raise
// them, or a small file-system error number) and a description.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dbplatform {

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  std::int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

// Well-known numbers.
inline constexpr std::int32_t kServiceAlreadyRunning = static_cast<std::int32_t>(0x80070420);
inline constexpr std::int32_t kAdoServerError = static_cast<std::int32_t>(0x80040E14);
inline constexpr std::int32_t kAdoNoSuchTable = static_cast<std::int32_t>(0x80040E37);
inline constexpr std::int32_t kAdoLoginFailed = static_cast<std::int32_t>(0x80040E4D);
inline constexpr std::int32_t kAdoConnectionFailed = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kAdoProviderNotFound = 3706;
inline constexpr std::int32_t kDmoBase = static_cast<std::int32_t>(0x80040000);
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyExists = 58;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kCannotCreateObject = 429;

}  // namespace dbplatform
