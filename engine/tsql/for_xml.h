#pragma once
// A SELECT's FOR XML clause, and how its result's columns map onto XML:
// written by the parser (mode and options), completed by the front end
// (each column's element in AUTO mode), read by the executor, which sends
// the XML instead of the rows.

#include <cstddef>
#include <string>
#include <vector>

namespace sqlengine::tsql {

struct ForXml {
  enum class Mode { kRaw, kAuto, kExplicit } mode = Mode::kRaw;
  bool xmldata = false;
  bool elements = false;
  bool binary_base64 = false;
  // AUTO: the elements in the order their first column comes in the select
  // list, each nested in the one before it, and each result column's
  // element (an index into `element_names`).
  std::vector<std::string> element_names;
  std::vector<std::size_t> column_elements;
};

// The name SQL Server 2000 gives the one column of a FOR XML result.
inline constexpr const char* kForXmlColumnName = "XML_F52E2B61-18A1-11d1-B105-00805F49916B";

}  // namespace sqlengine::tsql
