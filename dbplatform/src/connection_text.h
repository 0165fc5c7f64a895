#pragma once
// Connection texts in the OLE DB form ("Provider=SQLOLEDB.1;Data Source=host,port;...")
// and server names, translated into what the ODBC driver needs.

#include <map>
#include <string>
#include <string_view>

namespace dbplatform {

// Where and as whom to log in, in the ODBC driver's terms.
struct OdbcLogin {
  std::string host;      // host name or address; this computer is 127.0.0.1
  std::string instance;  // named instance ("host\instance"), empty for none
  int port = 0;          // 0: the driver's default (1433, or the instance's port)
  std::string database;  // empty: the login's default database
  std::string user;
  std::string password;
  bool trusted = false;   // integrated security
  int login_timeout = 0;  // seconds; 0: the caller's default
};

// Key/value pairs of an OLE DB connection text: keys lower-cased with inner
// blanks kept, values unquoted ('...' or "..." with the quote doubled inside),
// the last of repeated keys winning. A key without "=" has the empty value.
std::map<std::string, std::string> ParseConnectionText(std::string_view text);

// The OLE DB connection text as an ODBC login. Throws Error(3706, "Provider
// cannot be found. It may not be properly installed.") for a provider other
// than SQLOLEDB / SQLOLEDB.1 / SQLNCLI* / MSOLEDBSQL*, and the unreachable-
// server error for a port that is not a number.
OdbcLogin LoginFromConnectionText(std::string_view text);

// "host", "host,port", "host\instance" (with an optional "tcp:" prefix) into
// `login`. Empty, ".", "(local)", "localhost" and this computer's name mean
// 127.0.0.1. Returns false when the port part is not a valid port number.
bool ApplyServerName(std::string_view server, OdbcLogin& login);

// Whether `host` (no port) names this computer: empty, ".", "(local)",
// "localhost", a loopback address, or this host's own name (letter case ignored).
bool IsThisComputer(std::string_view host);

// The ODBC connection text for SQLDriverConnect: the driver from
// $DBPLATFORM_ODBC_DRIVER (default "FreeTDS"), UTF-8 client character set,
// values in braces where they need it; for FreeTDS a fixed TDS version 7.4.
std::string DriverConnectionText(const OdbcLogin& login);

}  // namespace dbplatform
