#include "engine/tsql/bind/for_xml_columns.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql::bind {
namespace {

bool IsBinary(const ColumnType& type) {
  return type.type == SqlType::kBinary || type.type == SqlType::kVarBinary ||
         type.type == SqlType::kImage;
}

bool HasAggregate(const BoundExpr& expr) {
  if (expr.kind == BoundKind::kAggregate) return true;
  for (const auto& arg : expr.args) {
    if (arg && HasAggregate(*arg)) return true;
  }
  return false;
}

// A FROM clause's tables as AUTO mode names them: (what the bound columns
// read them by, the element name). A table's key is the SQL alias its
// columns are read by; a derived table's columns are each keyed as
// alias.column and named as SQL Server 2000 names them, by the table inside
// the derived table their value is read from.
void NameSources(const parse::TableSource& source,
                 std::vector<std::pair<std::string, std::string>>& names);

// The element of each column of derived table `source`: the table inside it
// whose column it reads; none for a computed value. Throws NotBound where a
// column's table cannot be told from the query as written.
void NameDerivedColumns(const parse::TableSource& source,
                        std::vector<std::pair<std::string, std::string>>& names) {
  const parse::Query& query = *source.derived;
  if (query.terms.size() != 1) throw NotBound("FOR XML AUTO over a derived UNION");
  const parse::SelectBlock& block = *query.terms.front();
  std::vector<std::pair<std::string, std::string>> inner;
  for (const auto& from : block.from) NameSources(*from, inner);
  for (std::size_t k = 0; k < block.items.size(); ++k) {
    const parse::SelectItem& item = block.items[k];
    if (item.star) throw NotBound("FOR XML AUTO over a derived table of *");
    if (item.expr->kind != parse::ExprKind::kColumn) continue;
    const std::vector<std::string>& parts = item.expr->names;
    std::string column = k < source.columns.size() ? source.columns[k]
                         : !item.alias.empty()     ? item.alias
                                                   : parts.back();
    std::optional<std::string> element;
    if (parts.size() == 1 && inner.size() == 1) element = inner.front().second;
    for (const auto& [key, name] : inner) {
      if (parts.size() >= 2 && EqualsIgnoreCase(key, QuoteSqliteName(parts[parts.size() - 2])))
        element = name;
    }
    if (!element) throw NotBound("FOR XML AUTO over a derived table's column " + column);
    names.emplace_back(QuoteSqliteName(source.alias) + "." + QuoteSqliteName(column), *element);
  }
}

void NameSources(const parse::TableSource& source,
                 std::vector<std::pair<std::string, std::string>>& names) {
  if (source.kind == parse::TableSource::Kind::kJoin) {
    if (source.left) NameSources(*source.left, names);
    if (source.right) NameSources(*source.right, names);
    return;
  }
  if (source.kind == parse::TableSource::Kind::kDerived && source.derived) {
    NameDerivedColumns(source, names);
    return;
  }
  std::string exposed = source.alias;
  std::string element = source.alias;
  if (exposed.empty() && !source.name.empty()) {
    exposed = source.name.back();
    for (const std::string& part : source.name) {
      if (part.empty()) continue;
      if (!element.empty()) element += '.';
      element += part;
    }
  }
  names.emplace_back(QuoteSqliteName(exposed), std::move(element));
}

void NameElements(ForXml& clause, const parse::SelectBlock& written,
                  const BoundSelectBlock& block) {
  std::vector<std::pair<std::string, std::string>> sources;
  for (const auto& source : written.from) NameSources(*source, sources);
  // Each item's element, nullopt for one that reads no table's column.
  std::vector<std::optional<std::size_t>> elements;
  for (const auto& item : block.items) {
    std::optional<std::size_t> element;
    if (item->kind == BoundKind::kColumn && !item->outer_reference) {
      for (const auto& [alias, name] : sources) {
        if (!EqualsIgnoreCase(item->sql, alias) && !item->sql.starts_with(alias + ".")) continue;
        std::size_t k = 0;
        while (k < clause.element_names.size() && clause.element_names[k] != name) ++k;
        if (k == clause.element_names.size()) clause.element_names.push_back(name);
        element = k;
        break;
      }
    }
    if (!element && !clause.element_names.empty()) element = clause.element_names.size() - 1;
    elements.push_back(element);
  }
  if (clause.element_names.empty()) throw NotBound("FOR XML AUTO without a table");
  for (const std::optional<std::size_t>& element : elements)
    clause.column_elements.push_back(element.value_or(0));
}

}  // namespace

void ShapeForXml(ForXml& clause, const parse::Query& query, const BoundQuery& bound) {
  const bool automatic = clause.mode == ForXml::Mode::kAuto;
  const bool universal = clause.mode == ForXml::Mode::kExplicit;
  if (clause.elements && !automatic) throw MakeError(6825);
  if (clause.xmldata) throw NotBound("FOR XML with XMLDATA");
  for (const Column& column : bound.columns) {
    if (column.name.empty()) throw NotBound("FOR XML of a column without a name");
    if (IsBinary(column.type) && !clause.binary_base64)
      throw NotBound("FOR XML of binary data without BINARY BASE64");
  }
  if (automatic) {
    const BoundSelectBlock& block = bound.terms.front();
    bool aggregates = !block.group_by.empty() || block.having != nullptr;
    for (const auto& item : block.items) aggregates = aggregates || HasAggregate(*item);
    if (aggregates) throw NotBound("GROUP BY or an aggregate with FOR XML AUTO");
    NameElements(clause, *query.terms.front(), block);
  }
  if (universal && bound.columns.size() < 3)
    throw NotBound("FOR XML EXPLICIT without Tag, Parent and a column of a tag");
  // An element holds each attribute once (subelements may repeat).
  if (clause.elements) return;
  std::set<std::pair<std::int64_t, std::string>> attributes;
  for (std::size_t k = universal ? 2 : 0; k < bound.columns.size(); ++k) {
    const std::string& name = bound.columns[k].name;
    std::int64_t element = automatic ? static_cast<std::int64_t>(clause.column_elements[k]) : 0;
    std::string attribute = name;
    if (universal) {
      std::optional<ExplicitColumn> column = ParseExplicitColumn(name);
      if (!column) throw NotBound("the FOR XML EXPLICIT column name " + name);
      if (!column->IsAttribute()) continue;
      element = column->tag;
      attribute = column->attribute;
    }
    if (!attributes.emplace(element, attribute).second)
      throw NotBound("FOR XML of the column name " + attribute + " twice on one element");
  }
}

std::optional<ExplicitColumn> ParseExplicitColumn(const std::string& name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '!') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  if (parts.size() < 2 || parts.size() > 4 || parts[0].empty() || parts[1].empty()) return {};
  ExplicitColumn column;
  column.element = parts[0];
  for (char c : parts[1]) {
    if (c < '0' || c > '9' || column.tag > 100000000) return {};
    column.tag = column.tag * 10 + (c - '0');
  }
  if (column.tag <= 0) return {};
  if (parts.size() > 2) column.attribute = parts[2];
  if (parts.size() > 3) column.directive = ToLower(parts[3]);
  static const std::set<std::string> kDirectives = {"",    "element", "hide",  "xml",
                                                    "cdata", "id",    "idref", "idrefs"};
  if (kDirectives.count(column.directive) == 0) return {};
  // CDATA has no name; ELEMENT and IDs need one.
  if (column.directive == "cdata" && !column.attribute.empty()) return {};
  if ((column.directive == "element" || column.directive.starts_with("id")) &&
      column.attribute.empty())
    return {};
  return column;
}

}  // namespace sqlengine::tsql::bind
