#pragma once
// The record set over a StatementCursor, for Connection::Execute and
// Command::Execute. Owns its cursor; destroying it drains the statement.

#include <memory>

#include "dbplatform/data_access.h"
#include "statement_cursor.h"

namespace dbplatform {

std::unique_ptr<Recordset> MakeRecordset(std::unique_ptr<StatementCursor> cursor);

}  // namespace dbplatform
