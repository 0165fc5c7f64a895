#pragma once
// Multi-part names as written: a, a.b, a.b.c, db..object (empty owner).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

struct DottedName {
  std::vector<std::string> parts;  // unquoted; "" for an omitted part
  std::size_t end = 0;             // index of the first token after the name
  std::string Written() const;     // "db..p"
  const std::string& Last() const { return parts.back(); }
  // The database part of a three- or four-part name, else "".
  std::string Database() const;
};

// A #name is a local temporary table: the session's own, kept apart from
// every database. A ##name is a global one, a table of tempdb every session
// reaches by that name (global_temp_names.h).
inline bool IsLocalTempName(std::string_view name) {
  return name.starts_with('#') && !name.starts_with("##");
}
inline bool IsGlobalTempName(std::string_view name) { return name.starts_with("##"); }

// Reads the name starting at tokens[begin] (which must be a name; otherwise
// parts is empty and end == begin).
DottedName ReadDottedName(const Tokens& tokens, std::size_t begin);

// A name written as text, as system procedures and RPC requests take one:
// "t", "dbo.t", "db..t", "[my table]"; text that does not read as a dotted
// name ("Sales by Year") is one part as it stands.
DottedName ReadWrittenName(std::string_view written);

}  // namespace sqlengine::tsql
