#pragma once
// The text a procedure, function, trigger or view keeps: what its author
// wrote, as SQL Server keeps it for sp_helptext and syscomments.

#include <string>
#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// The definition `statement` (its tokens, read from `source`) keeps. A
// CREATE of such an object is alone in its batch: comments in front of it
// are part of its text, and so is the rest of the batch after its last token
// when only comments and blanks stand there. Where other statements precede
// or follow it, the text starts at its first and ends at its last token.
// Without a source, or with tokens read from another text, the definition
// is rebuilt from the tokens (TokensText).
std::string DefinitionText(std::string_view source, const Tokens& statement);

// Whether a procedure's, function's or view's kept text was made WITH
// ENCRYPTION: the word stands among its options, before the AS that starts
// its body (outside parentheses). False for a text that does not lex.
bool WrittenWithEncryption(std::string_view written);

}  // namespace sqlengine::tsql
