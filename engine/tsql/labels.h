#pragma once
// GOTO labels (`name:`) in a batch or a procedure's, trigger's or function's
// body: where each stands, and the checks made before anything runs.

#include <cstddef>
#include <optional>
#include <string_view>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// Whether `statement` is the label `name` or holds it in a nested block,
// IF branch, WHILE body or TRY/CATCH block. Names compare without case.
bool ContainsLabel(const Statement& statement, std::string_view name);

// The position in `list` of the statement that is or holds the label `name`.
std::optional<size_t> LabelIndex(const StatementList& list, std::string_view name);

// Throws 132 for a label declared twice and 133 for a GOTO whose label is not
// declared anywhere in `batch`; a GOTO without a label is a syntax error.
void CheckLabels(const StatementList& batch);

}  // namespace sqlengine::tsql
