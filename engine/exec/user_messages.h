#pragma once
// Messages users add with sp_addmessage (numbers above 50000), kept in
// master's sqlengine_messages table and reached through the session's own
// connection (so they follow its transaction), and used by RAISERROR.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// master's table of the added messages (error, severity, description).
inline constexpr const char* kUserMessagesTable = "sqlengine_messages";

// sp_addmessage @msgnum, @severity, @msgtext [, @lang, @with_log, @replace]
// and sp_dropmessage @msgnum [, @lang]. False when `name` (lower case) is
// neither. Throws SqlError (15247 without sysadmin or serveradmin, 15040,
// 15041, 15043, 15178, 15179, 201, 8144, 8145).
bool RunMessageProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments);

// Whether master (SQLite schema `master_schema` of `db`) has the table.
bool HasUserMessages(sqlite3* db, const std::string& master_schema);

// The text added for `number`, or nullopt.
std::optional<std::string> FindUserMessage(Session& session, int number);

}  // namespace sqlengine::exec
