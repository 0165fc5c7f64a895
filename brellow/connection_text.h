#pragma once
// The connection text Brellow opens its one server connection with.

#include <QString>
#include <string>

namespace brellow {

// "Provider=SQLOLEDB.1;Persist Security Info=False;", then either
// "Integrated Security=SSPI;" or "User ID=<login>;Password=<password>;",
// then "Initial Catalog=master;Data Source=<server>;". The three texts are
// inserted with leading and trailing spaces removed and without quoting; with
// integrated security the login and password are left out.
std::string BrellowConnectString(bool integrated_security, const QString& server,
                                 const QString& login, const QString& password);

}  // namespace brellow
