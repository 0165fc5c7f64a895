#include "engine/exec/arithmetic_errors.h"

namespace sqlengine::exec {
namespace {

thread_local const SessionOptions* current_options = nullptr;
thread_local unsigned* current_owed = nullptr;

constexpr unsigned kDivideByZero = 1;
constexpr unsigned kOverflow = 2;
constexpr unsigned kDomain = 4;

unsigned WarningOf(int number) {
  switch (number) {
    case 8134:
      return kDivideByZero;
    case 8115:
    case 220:
    case 232:
      return kOverflow;
    case 3623:
      return kDomain;
    default:
      return 0;
  }
}

}  // namespace

bool IsArithmeticError(int number) { return WarningOf(number) != 0; }

bool AbsorbArithmeticError(const SqlError& error) {
  const SessionOptions* options = current_options;
  if (options == nullptr || options->ansi_warnings || options->arithabort) return false;
  unsigned warning = WarningOf(error.message().number);
  if (warning == 0) return false;
  if (!options->arithignore && current_owed != nullptr) *current_owed |= warning;
  return true;
}

bool ArithmeticErrorEndsBatch(const SessionOptions& options, const SqlError& error) {
  return !options.ansi_warnings && options.arithabort && IsArithmeticError(error.message().number);
}

bool CutsLongValues() { return current_options != nullptr && !current_options->ansi_warnings; }

std::vector<ServerMessage> TakeArithmeticWarnings() {
  std::vector<ServerMessage> warnings;
  if (current_owed == nullptr || *current_owed == 0) return warnings;
  unsigned owed = *current_owed;
  *current_owed = 0;
  if (owed & kDivideByZero) warnings.push_back(FormatMessage(3607));
  if (owed & kOverflow) warnings.push_back(FormatMessage(3606));
  if (owed & kDomain) warnings.push_back(FormatMessage(3622));
  return warnings;
}

ArithmeticErrorsScope::ArithmeticErrorsScope(const SessionOptions& options, unsigned& owed)
    : outer_options_(current_options), outer_owed_(current_owed) {
  current_options = &options;
  current_owed = &owed;
}

ArithmeticErrorsScope::~ArithmeticErrorsScope() {
  current_options = outer_options_;
  current_owed = outer_owed_;
}

}  // namespace sqlengine::exec
