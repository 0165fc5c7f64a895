#pragma once
// Brellow's program-wide connection state, shared by the login window and the
// main window. One instance lives for the whole run (main() owns it).
//
// Outside a running Login handler one of two holds: strConnect is empty and
// cnSQL is null; or strConnect is the text cnSQL was opened with and cnSQL is
// an open connection whose default database is master. An empty strConnect
// after the login window has gone means there is no connection.

#include <memory>
#include <string>

#include "dbplatform/data_access.h"

namespace brellow {

struct basPublic {
  std::string strConnect;
  std::unique_ptr<dbplatform::Connection> cnSQL;
};

}  // namespace brellow
