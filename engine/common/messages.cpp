// The message table: SQL Server 2000's numbers, severities and texts.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/error.h"

namespace sqlengine {
namespace {

struct MessageDef {
  std::int32_t number;
  int severity;
  std::string_view text;
};

// Sorted by number.
constexpr MessageDef kMessages[] = {
    {102, 15, "Incorrect syntax near '%.*ls'."},
    {137, 15, "Must declare the variable '%.*ls'."},
    {156, 15, "Incorrect syntax near the keyword '%.*ls'."},
    {170, 15, "Line %d: Incorrect syntax near '%.*ls'."},
    {207, 16, "Invalid column name '%.*ls'."},
    {208, 16, "Invalid object name '%.*ls'."},
    {262, 16, "%ls permission denied in database '%.*ls'."},
    {911, 16,
     "Could not locate entry in sysdatabases for database '%.*ls'. No entry found with that name. "
     "Make sure that the name is entered correctly."},
    {1801, 16, "Database '%.*ls' already exists."},
    {2812, 16, "Could not find stored procedure '%.*ls'."},
    {3701, 11, "Cannot %S_MSG the %S_MSG '%.*ls', because it does not exist in the system catalog."},
    {3702, 16, "Cannot drop the %S_MSG '%.*ls' because it is currently in use."},
    {3708, 16, "Cannot %S_MSG the %S_MSG '%.*ls' because it is a system %S_MSG."},
    {4060, 11, "Cannot open database requested in login '%.*ls'. Login fails."},
    {5701, 10, "Changed database context to '%.*ls'."},
    {5703, 10, "Changed language setting to %.*ls."},
    {15247, 16, "User does not have permission to perform this action."},
    {18452, 14, "Login failed for user '%ls'. Reason: Not associated with a trusted SQL Server connection."},
    {18456, 14, "Login failed for user '%ls'."},
};

// Length of the placeholder starting at text[i] ('%'), or 0 when none.
size_t PlaceholderLength(std::string_view text, size_t i) {
  static constexpr std::string_view kForms[] = {"%S_MSG", "%.*ls", "%ls", "%hs", "%ld", "%03d", "%d", "%s"};
  for (std::string_view form : kForms) {
    if (text.substr(i, form.size()) == form) return form.size();
  }
  return 0;
}

}  // namespace

ServerMessage FormatMessage(std::int32_t number, std::initializer_list<std::string_view> args) {
  ServerMessage message;
  message.number = number;
  const auto* def = std::lower_bound(std::begin(kMessages), std::end(kMessages), number,
                                     [](const MessageDef& d, std::int32_t n) { return d.number < n; });
  auto arg = args.begin();
  if (def == std::end(kMessages) || def->number != number) {
    message.severity = 16;
    for (; arg != args.end(); ++arg) message.text.append(*arg);
    return message;
  }
  message.severity = def->severity;
  std::string_view text = def->text;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t len = text[i] == '%' ? PlaceholderLength(text, i) : 0;
    if (len == 0) {
      message.text.push_back(text[i]);
      continue;
    }
    if (arg != args.end()) message.text.append(*arg++);
    i += len - 1;
  }
  return message;
}

}  // namespace sqlengine
