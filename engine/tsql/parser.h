#pragma once
// Splits a lexed batch into statements (T-SQL needs no semicolons between
// them) and builds the control-flow structure.

#include <string_view>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// Throws SqlError 170 / 156 (with the line) for a batch that cannot be split,
// e.g. an ELSE without IF or an unclosed BEGIN. Nothing of the batch runs then.
StatementList ParseBatch(const Tokens& tokens);

// The same for a client's text, read under this thread's QUOTED_IDENTIFIER as
// LexClientText reads it; a text that cannot be read fails as LexClientText does.
StatementList ParseBatch(std::string_view batch);

// The same, but the batch's small row statements (SELECT, INSERT, UPDATE,
// DELETE, EXEC at its top level, but for its first) keep where their text
// stands rather than their tokens: a long batch of them is not held as
// tokens all at once. ReadDeferred gives each its tokens when it is used.
// The statements refer to `batch`, which must outlive them.
StatementList ParseBatchDeferringTokens(std::string_view batch);

}  // namespace sqlengine::tsql
