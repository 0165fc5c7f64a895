#pragma once
// The one place where ODBC failures become the error numbers and texts that
// programs of the original platform see: ADO's for the data access objects,
// SQL-DMO's for the administration objects.

#include "dbplatform/error.h"
#include "odbc_diagnostics.h"

namespace dbplatform {

inline constexpr std::int32_t kAdoTimeout = static_cast<std::int32_t>(0x80040E31);
inline constexpr std::int32_t kAdoItemNotFound = 3265;

// Error(0x80004005, "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or
// access denied.").
Error UnreachableServerError();

// Error(3265, "Item cannot be found in the collection corresponding to the requested
// name or ordinal.").
Error ItemNotFoundError();

enum class Phase { kConnect, kStatement };

// ADO numbering: 0x80040E14 server error, 0x80040E37 unknown object (208), 0x80040E4D
// failed login, 0x80004005 unreachable server or other connect failure, 0x80040E31 time-out,
// 3706 missing provider (ODBC driver).
Error ToAdoError(const OdbcFailure& failure, Phase phase);

// SQL-DMO numbering: 0x80040000 + the server's message number; 0x80040000 itself with the
// client library's text when no server message explains the failure.
Error ToDmoError(const OdbcFailure& failure);

}  // namespace dbplatform
