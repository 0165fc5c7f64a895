#pragma once
// Construction of the data access objects behind "ADODB.Connection" and
// "ADODB.Command".

#include <memory>
#include <string>
#include <vector>

#include "dbplatform/data_access.h"
#include "odbc_session.h"

namespace dbplatform {

// Defaults of the original data access library, in seconds.
inline constexpr int kDefaultLoginTimeout = 15;
inline constexpr int kDefaultCommandTimeout = 30;

std::unique_ptr<Connection> MakeConnection();
std::unique_ptr<Command> MakeCommand();

// Opens a session for an OLE DB connection text; a non-empty user or password
// overrides the text's. Login messages go to *messages, and so do the records
// of a failed login. Throws Error in ADO numbering.
std::shared_ptr<OdbcSession> OpenSessionForText(const std::string& text, const std::string& user,
                                                const std::string& password,
                                                std::vector<DiagRecord>* messages);

}  // namespace dbplatform
