#pragma once
// What a SELECT ... FOR XML makes of its bound result: the checks SQL Server
// makes of the clause against the query, and in AUTO mode the element each
// column belongs to.

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/for_xml.h"
#include "engine/tsql/parse/syntax_tree.h"

namespace sqlengine::tsql::bind {

// Fills clause.element_names and clause.column_elements for AUTO mode.
// AUTO names an element by the table alias, else the table's name as
// written; the elements nest in the order their first column comes in the
// select list; a column that reads no table's column goes to the deepest
// element opened so far (the first one when none is yet).
// Throws SqlError 6825 for ELEMENTS outside AUTO; NotBound for what this
// engine does not produce (EXPLICIT, XMLDATA, binary data without BINARY
// BASE64, a column without a name, AUTO with GROUP BY or an aggregate, or
// without a table).
void ShapeForXml(ForXml& clause, const parse::Query& query, const BoundQuery& bound);

}  // namespace sqlengine::tsql::bind
