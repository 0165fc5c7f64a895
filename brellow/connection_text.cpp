#include "brellow/connection_text.h"

namespace brellow {
namespace {

// Spaces only: tabs and other white space stay part of the text.
std::string TrimSpaces(const QString& text) {
  const std::string value = text.toStdString();
  const auto first = value.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const auto last = value.find_last_not_of(' ');
  return value.substr(first, last - first + 1);
}

}  // namespace

std::string BrellowConnectString(bool integrated_security, const QString& server,
                                 const QString& login, const QString& password) {
  std::string text = "Provider=SQLOLEDB.1;Persist Security Info=False;";
  if (integrated_security) {
    text += "Integrated Security=SSPI;";
  } else {
    text += "User ID=" + TrimSpaces(login) + ";Password=" + TrimSpaces(password) + ";";
  }
  text += "Initial Catalog=master;Data Source=" + TrimSpaces(server) + ";";
  return text;
}

}  // namespace brellow
