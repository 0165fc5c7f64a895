#pragma once
// The placeholders of a message's text as RAISERROR and FORMATMESSAGE fill
// them, printf-like: %d %i %o %s %u %x %X with flags (- + space # 0), a
// width and a precision (digits, or * taking the next argument), h or l;
// %% for a percent sign.

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

// `text` with its placeholders filled from `arguments` in order: a width
// pads (to the left with '-', with zeros with '0' for numbers), a precision
// cuts a string, NULL is "(null)"; a placeholder without an argument left
// is dropped.
std::string FillPlaceholders(std::string_view text, const std::vector<Value>& arguments);

// sqlengine_formatmessage(template, arguments...): FORMATMESSAGE's text,
// NULL for a NULL template (no such message).
void RegisterMessageFormatting(sqlite3* db);

}  // namespace sqlengine::exec
