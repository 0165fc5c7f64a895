#pragma once
// What an arithmetic error of an expression (a divide by zero, an overflow,
// a domain error) does under the session's SET ANSI_WARNINGS, ARITHABORT and
// ARITHIGNORE, as SQL Server 2000 handles them:
//   ANSI_WARNINGS ON (the default)   the statement fails (8134, 8115, 220,
//                                    232, 3623); ARITHABORT changes nothing
//   ANSI_WARNINGS OFF, ARITHABORT ON the error ends the batch and rolls the
//                                    open transaction back
//   both OFF                         the expression is NULL and the statement
//                                    is followed by warning 3607 (divide by
//                                    zero), 3606 (overflow) or 3622 (domain
//                                    error), which ARITHIGNORE ON leaves out
// A request runs on one thread; the engine functions deep inside it read the
// settings of the request on their thread, as date conversions do.

#include <vector>

#include "engine/common/error.h"
#include "engine/exec/session_options.h"

namespace sqlengine::exec {

// Whether error `number` is an arithmetic error the settings above govern.
bool IsArithmeticError(int number);

// Called where an engine function meets `error` while computing a value: true
// when the request on this thread turns it into NULL (both options OFF), its
// warning then being owed by the running statement; false when the error
// stands.
bool AbsorbArithmeticError(const SqlError& error);

// Whether `error` ends the batch and rolls back the transaction under
// `options` (ANSI_WARNINGS OFF with ARITHABORT ON).
bool ArithmeticErrorEndsBatch(const SessionOptions& options, const SqlError& error);

// The warnings owed by what ran on this thread since the last call, once
// each, in the order 3607, 3606, 3622; clears them.
std::vector<ServerMessage> TakeArithmeticWarnings();

// Whether the request on this thread runs under ANSI_WARNINGS OFF, where a
// value too long for its character column is cut to the column's length
// rather than refused with 8152. False where no request runs.
bool CutsLongValues();

// Makes `options` the settings of the request running on this thread, and
// `owed` where its warnings are kept, for the guard's lifetime; both must
// outlive it. Guards nest.
class ArithmeticErrorsScope {
 public:
  ArithmeticErrorsScope(const SessionOptions& options, unsigned& owed);
  ~ArithmeticErrorsScope();
  ArithmeticErrorsScope(const ArithmeticErrorsScope&) = delete;
  ArithmeticErrorsScope& operator=(const ArithmeticErrorsScope&) = delete;

 private:
  const SessionOptions* outer_options_;
  unsigned* outer_owed_;
};

}  // namespace sqlengine::exec
