#pragma once
// What a SELECT ... FOR XML makes of its bound result: the checks SQL Server
// makes of the clause against the query, and in AUTO mode the element each
// column belongs to.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/for_xml.h"
#include "engine/tsql/parse/syntax_tree.h"

namespace sqlengine::tsql::bind {

// A column of FOR XML EXPLICIT's universal table after Tag and Parent,
// named Element!Tag[!Attribute[!Directive]].
struct ExplicitColumn {
  std::string element;
  std::int64_t tag = 0;
  std::string attribute;  // empty: the element's content
  std::string directive;  // lower case: element, hide, xml, cdata, id, idref, idrefs or ""
  // Written as an attribute of its element (rather than inside it, or not at all).
  bool IsAttribute() const {
    return !attribute.empty() && (directive.empty() || directive.starts_with("id"));
  }
};

// nullopt for a name not of that form (a tag that is no positive integer,
// an unknown directive, CDATA with a name, ELEMENT or an ID without one).
std::optional<ExplicitColumn> ParseExplicitColumn(const std::string& name);

// Fills clause.element_names and clause.column_elements for AUTO mode.
// AUTO names an element by the table alias, else the table's name as
// written; the elements nest in the order their first column comes in the
// select list; a column that reads no table's column goes to the deepest
// element opened so far (the first one when none is yet).
// EXPLICIT takes the first two columns as Tag and Parent, each other
// column's name as an ExplicitColumn.
// Throws SqlError 6825 for ELEMENTS outside AUTO; NotBound for what this
// engine does not produce (XMLDATA, binary data without BINARY BASE64, a
// column without a name, one name twice among an element's attributes, AUTO
// with GROUP BY or an aggregate, or without a table, an EXPLICIT column not
// named as above).
void ShapeForXml(ForXml& clause, const parse::Query& query, const BoundQuery& bound);

}  // namespace sqlengine::tsql::bind
