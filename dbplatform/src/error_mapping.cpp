#include "error_mapping.h"

namespace dbplatform {
namespace {

constexpr const char* kUnreachableText =
    "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.";
constexpr const char* kNetworkErrorText =
    "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
    "documentation.";
constexpr const char* kTimeoutText = "Timeout expired";
constexpr const char* kProviderText = "Provider cannot be found. It may not be properly installed.";

std::string PrimaryText(const OdbcFailure& failure) {
  const DiagRecord* primary = failure.Primary();
  return primary ? primary->text : std::string("Unspecified error");
}

}  // namespace

Error UnreachableServerError() { return Error(kAdoConnectionFailed, kUnreachableText); }

Error ItemNotFoundError() {
  return Error(kAdoItemNotFound,
               "Item cannot be found in the collection corresponding to the requested name or "
               "ordinal.");
}

Error ToAdoError(const OdbcFailure& failure, Phase phase) {
  switch (failure.Kind()) {
    case FailureKind::kServerError: {
      if (phase == Phase::kConnect) return Error(kAdoConnectionFailed, PrimaryText(failure));
      const DiagRecord* primary = failure.Primary();
      bool no_such_object = primary != nullptr && primary->native == 208;
      return Error(no_such_object ? kAdoNoSuchTable : kAdoServerError, PrimaryText(failure));
    }
    case FailureKind::kLoginFailed:
      return Error(kAdoLoginFailed, PrimaryText(failure));
    case FailureKind::kUnreachable:
      return UnreachableServerError();
    case FailureKind::kTimeout:
      return phase == Phase::kConnect ? UnreachableServerError() : Error(kAdoTimeout, kTimeoutText);
    case FailureKind::kConnectionLost:
      return Error(kAdoConnectionFailed, kNetworkErrorText);
    case FailureKind::kDriverMissing:
      return Error(kAdoProviderNotFound, kProviderText);
    case FailureKind::kDriverError:
      break;
  }
  return Error(kAdoConnectionFailed, PrimaryText(failure));
}

Error ToDmoError(const OdbcFailure& failure) {
  switch (failure.Kind()) {
    case FailureKind::kServerError:
    case FailureKind::kLoginFailed: {
      const DiagRecord* primary = failure.Primary();
      std::int32_t native = primary ? primary->native : 0;
      return Error(static_cast<std::int32_t>(static_cast<std::uint32_t>(kDmoBase) +
                                             static_cast<std::uint32_t>(native)),
                   PrimaryText(failure));
    }
    case FailureKind::kUnreachable:
      return Error(kDmoBase, kUnreachableText);
    case FailureKind::kTimeout:
      return Error(kDmoBase, kTimeoutText);
    case FailureKind::kConnectionLost:
      return Error(kDmoBase, kNetworkErrorText);
    case FailureKind::kDriverMissing:
      return Error(kDmoBase, kProviderText);
    case FailureKind::kDriverError:
      break;
  }
  return Error(kDmoBase, PrimaryText(failure));
}

}  // namespace dbplatform
