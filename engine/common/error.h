#pragma once
// The one error type engine code throws. Build it with MakeError so that
// numbers, severities and texts come from the message table.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <initializer_list>
#include <span>

#include "engine/common/sink.h"

namespace sqlengine {

class SqlError : public std::runtime_error {
 public:
  explicit SqlError(ServerMessage message)
      : std::runtime_error(message.text), message_(std::move(message)) {}
  const ServerMessage& message() const { return message_; }
  ServerMessage& message() { return message_; }

 private:
  ServerMessage message_;
};

// The text and severity of a message number, with its %-placeholders
// (%ls, %.*ls, %d, %hs, %S_MSG ...) replaced by args in order.
// Unknown numbers give severity 16 and the args joined.
ServerMessage FormatMessage(std::int32_t number, std::initializer_list<std::string_view> args = {});

// What the engine does with a message beside reporting it.
enum MessageFlags : unsigned {
  kNoFlags = 0,
  // Found when SQL Server compiles a statement: met while a batch or a
  // module's body is bound ahead of its run, it stops it before anything
  // runs (CREATE refuses the body).
  kCompileError = 1,
};

// A message of the table as master..sysmessages lists it: its number,
// severity and text with the placeholders unfilled, and its flags.
struct MessageTemplate {
  std::int32_t number;
  int severity;
  std::string_view text;
  unsigned flags = kNoFlags;
};

// Every message of the table, by number.
std::span<const MessageTemplate> MessageTemplates();
// Whether the message `number` is flagged kCompileError.
bool IsCompileError(std::int32_t number);

inline SqlError MakeError(std::int32_t number, std::initializer_list<std::string_view> args = {}) {
  return SqlError(FormatMessage(number, args));
}

}  // namespace sqlengine
