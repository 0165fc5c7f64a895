// BatchExecutor's RAISERROR: the message it sends, formatted as printf-like
// T-SQL placeholders ask.
//
//   RAISERROR ({msg_id | msg_str | @var}, severity, state [, argument ...])
//       [WITH LOG | NOWAIT | SETERROR [, ...]]
//   RAISERROR msg_id 'msg_str'      (the older form: severity 16, state 1)

#include <algorithm>

#include "engine/exec/batch_executor.h"
#include "engine/exec/message_placeholders.h"
#include "engine/exec/session.h"
#include "engine/exec/user_messages.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// The types a message's arguments may have: integers of int's size or less,
// character and binary strings.
bool Substitutable(SqlType type) {
  switch (type) {
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
    case SqlType::kBinary:
    case SqlType::kVarBinary:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string BatchExecutor::NumberedMessageText(int number) {
  if (std::optional<std::string> added = FindUserMessage(session_, number)) return *added;
  ServerMessage known = FormatMessage(number);
  if (known.text.empty()) throw MakeError(2758, {std::to_string(number)});
  return known.text;
}

void BatchExecutor::Raiserror(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  std::vector<Value> values;
  size_t after = 0;  // the first token after the message and its arguments
  std::optional<Value> old_number;
  if (tokens.size() > 1 && tokens[1].IsSymbol("(")) {
    std::vector<Tokens> arguments(1);
    int depth = 0;
    size_t i = 2;
    for (; i < tokens.size(); ++i) {
      if (tokens[i].IsSymbol("(")) ++depth;
      if (tokens[i].IsSymbol(")")) {
        if (depth == 0) break;
        --depth;
      }
      if (depth == 0 && tokens[i].IsSymbol(",")) {
        arguments.emplace_back();
        continue;
      }
      arguments.back().push_back(tokens[i]);
    }
    if (i >= tokens.size() || arguments.size() < 3 ||
        std::any_of(arguments.begin(), arguments.end(), [](const Tokens& a) { return a.empty(); }))
      throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : tokens.back(), &tokens[i - 1]);
    for (const Tokens& argument : arguments) {
      std::optional<ColumnType> type;
      values.push_back(Evaluate(argument, statement.line, &type));
      if (values.size() > 3 && type && !Substitutable(type->type)) {
        throw MakeError(2748, {std::string(tsql::DeclaredTypeName(*type)),
                               std::to_string(values.size())});
      }
    }
    after = i + 1;
  } else {
    // The older form: a number, then the text, each a constant or a variable.
    if (tokens.size() < 3) throw tsql::SyntaxError(tokens.size() > 1 ? tokens[1] : tokens[0]);
    old_number = Evaluate(Tokens{tokens[1]}, statement.line);
    values = {Evaluate(Tokens{tokens[2]}, statement.line), Value{std::int64_t{16}},
              Value{std::int64_t{1}}};
    after = 3;
  }
  bool set_error = false;
  bool logged = false;
  if (after < tokens.size()) {
    if (!tokens[after].IsWord("with") || after + 1 >= tokens.size())
      throw tsql::SyntaxError(tokens[after], &tokens[after - 1]);
    for (size_t i = after + 1; i < tokens.size(); i += 2) {
      if (!tokens[i].IsAnyWord({"log", "nowait", "seterror"}))
        throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
      set_error = set_error || tokens[i].IsWord("seterror");
      logged = logged || tokens[i].IsWord("log");
      if (i + 1 < tokens.size() && !tokens[i + 1].IsSymbol(","))
        throw tsql::SyntaxError(tokens[i + 1], &tokens[i]);
    }
  }
  ServerMessage message;
  const Value& what = old_number ? *old_number : values[0];
  const auto* format = std::get_if<std::string>(&values[0]);
  if (const auto* number = std::get_if<std::int64_t>(&what)) {
    // Numbers below 13000 belong to the server's own messages, and 50000 to
    // a text raised without a number.
    if (*number < 13000 || *number == 50000 || *number > 2147483647)
      throw MakeError(2732, {std::to_string(*number), "13000", "2147483647"});
    message.number = static_cast<std::int32_t>(*number);
  } else {
    message.number = 50000;
  }
  const auto* severity = std::get_if<std::int64_t>(&values[1]);
  const auto* state = std::get_if<std::int64_t>(&values[2]);
  message.severity = severity ? static_cast<int>(std::clamp<std::int64_t>(*severity, 0, 25)) : 16;
  // A negative state is taken as 1.
  message.state =
      state ? (*state < 0 ? 1 : static_cast<int>(std::min<std::int64_t>(*state, 127))) : 1;
  // Severities 19 to 25 need WITH LOG, and only a sysadmin may use them.
  if (message.severity > 18 && (!logged || !session_.IsSysadmin())) throw MakeError(2754, {"18"});
  std::string text = format ? *format : NumberedMessageText(message.number);
  message.text = FillPlaceholders(text, std::vector<Value>(values.begin() + 3, values.end()));
  message.line = statement.line;
  message.procedure = procedure_;  // the procedure, trigger or function raising it
  if (message.severity > 10 && session_.TryCatch().try_depth > 0) throw SqlError(message);
  // WITH SETERROR: @@ERROR is the message's number whatever its severity.
  session_.LastError() = message.severity > 10 || set_error ? message.number : 0;
  sink_.Message(message);
  StatementDone done;
  done.error = message.severity > 10;
  sink_.Done(done);
}

}  // namespace sqlengine::exec
