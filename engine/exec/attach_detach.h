#pragma once
// Databases whose files come from outside or go outside: CREATE DATABASE
// with file specifications (new files at a chosen place, or FOR ATTACH),
// sp_attach_db, sp_attach_single_file_db and sp_detach_db. Each sends its
// messages; failures throw SqlError and leave nothing registered.

#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// CREATE DATABASE name ON [PRIMARY] (NAME = ..., FILENAME = '...', ...) [, ...]
// [LOG ON (...)] [FOR ATTACH]. Sends the statement's DONE.
void ExecuteCreateDatabaseWithFiles(Session& session, const tsql::Statement& statement,
                                    ResultSink& sink);

// The procedures; the caller sends return status and DONE.
void AttachDb(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);
void AttachSingleFileDb(Session& session, const std::vector<CallArgument>& arguments,
                        ResultSink& sink);
void DetachDb(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
