#include "brellow/shrink_command.h"

namespace brellow {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsPlainIdentifier(const std::string& name) {
  if (name.empty() || !(IsAsciiLetter(name[0]) || name[0] == '_')) return false;
  for (char c : name) {
    if (!(IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '@' || c == '$' || c == '#')) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string DelimitDatabaseName(const std::string& name) {
  if (IsPlainIdentifier(name)) return name;
  std::string delimited = "[";
  for (char c : name) {
    delimited += c;
    if (c == ']') delimited += ']';
  }
  delimited += ']';
  return delimited;
}

std::string ShrinkCommand(const std::string& database_name, bool truncate_only) {
  std::string command = "DBCC SHRINKDATABASE (" + DelimitDatabaseName(database_name) + ",5";
  if (truncate_only) command += ",TRUNCATEONLY";
  command += ")";
  return command;
}

}  // namespace brellow
