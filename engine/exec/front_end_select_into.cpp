#include "engine/exec/front_end_select_into.h"

#include <algorithm>
#include <set>

#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/exec/front_end_statement.h"
#include "engine/exec/session.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

// SQL Server keeps a source column's IDENTITY only when it is selected as
// it is, once, from one table, without grouping, aggregates or UNION.
// `made`: the column IDENTITY() makes, which no kept one may stand beside
// (8108).
void ApplyIdentityRule(const tsql::parse::Query& query, std::vector<Column>& columns,
                       const std::optional<tsql::bind::IdentityFunction>& made,
                       const std::string& table) {
  if (made) {
    for (size_t k = 0; k < columns.size(); ++k) {
      if (k != made->column && columns[k].type.identity)
        throw MakeError(8108, {table, columns[k].name});
    }
    return;
  }
  const tsql::parse::SelectBlock& block = *query.terms.front();
  bool one_table = query.terms.size() == 1 && block.from.size() == 1 &&
                   block.from.front()->kind == tsql::parse::TableSource::Kind::kTable &&
                   block.group_by.empty() && block.having == nullptr;
  size_t identities = 0;
  for (const Column& column : columns) identities += column.type.identity ? 1 : 0;
  if (one_table && identities == 1) return;
  for (Column& column : columns) column.type.identity = false;
}

// "[name]" with any ] doubled, as T-SQL quotes an identifier.
std::string Bracketed(const std::string& name) {
  std::string quoted = "[";
  for (char c : name) {
    quoted += c;
    if (c == ']') quoted += ']';
  }
  return quoted + "]";
}

}  // namespace

std::optional<SelectInto> FrontEndSelectInto(const tsql::Statement& statement, Session& session) {
  if (statement.kind != tsql::StatementKind::kSelect || statement.tokens.empty() ||
      !statement.tokens.front().IsWord("select"))
    return std::nullopt;
  // Most SELECTs have no INTO: they are not parsed twice.
  if (std::none_of(statement.tokens.begin(), statement.tokens.end(),
                   [](const tsql::Token& token) { return token.IsWord("into"); }))
    return std::nullopt;
  std::unique_ptr<tsql::parse::Query> query;
  FrontEndText text;
  try {
    text = PrepareFrontEndText(statement);
    query = tsql::parse::ParseSelect(text.tokens);
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("select into parse", why, statement.tokens);
  }
  if (query->terms.front()->into.empty()) return std::nullopt;
  if (query->for_xml) RefuseForXml("SELECT INTO", statement.line);
  SelectInto into;
  into.table = query->terms.front()->into;
  SessionCatalog catalog(session);
  try {
    tsql::bind::BoundQuery bound = tsql::bind::Bind(*query, catalog, text.with);
    into.query = tsql::generate::GenerateSelect(bound, statement.line, EngineExactForm());
    into.query.reaches = catalog.TakeReaches();
    into.columns = bound.columns;
    into.made_identity = tsql::bind::IdentityFunctionOf(bound);
  } catch (const tsql::bind::NotBound& why) {
    RefuseUnbound("select into bind", why, statement.tokens, statement.line);
  }
  // The new table needs a name for every column, each once.
  std::set<std::string> names;
  for (size_t k = 0; k < into.columns.size(); ++k) {
    const Column& column = into.columns[k];
    bool unnamed = column.name.empty();
    if (!unnamed && names.insert(tsql::ToLower(column.name)).second) continue;
    SqlError error = unnamed ? MakeError(8155, {std::to_string(k + 1), into.table.back()})
                             : MakeError(2705, {column.name, into.table.back()});
    error.message().line = statement.line;
    throw error;
  }
  ApplyIdentityRule(*query, into.columns, into.made_identity, into.table.back());
  if (into.made_identity) {
    into.identity = {into.made_identity->seed, into.made_identity->increment};
    return into;
  }
  if (std::any_of(into.columns.begin(), into.columns.end(),
                  [](const Column& column) { return column.type.identity; })) {
    // ApplyIdentityRule kept it: the query reads one table.
    std::optional<tsql::bind::TableShape> source =
        catalog.FindTable(query->terms.front()->from.front()->name);
    if (source) {
      if (std::optional<KeptIdentity> kept =
              KeptIdentityOf(session.Connection().Handle(), source->schema, source->name))
        into.identity = *kept;
    }
  }
  return into;
}

std::string CreateTableText(const SelectInto& into) {
  std::string text = "CREATE TABLE ";
  for (size_t k = 0; k < into.table.size(); ++k) {
    if (k > 0) text += ".";
    if (!into.table[k].empty()) text += Bracketed(into.table[k]);
  }
  text += " (";
  for (size_t k = 0; k < into.columns.size(); ++k) {
    const ColumnType& type = into.columns[k].type;
    if (k > 0) text += ", ";
    text += Bracketed(into.columns[k].name) + " " + tsql::TypeDeclaration(type);
    if (type.identity) {
      text += " IDENTITY(" + std::to_string(into.identity.seed) + "," +
              std::to_string(into.identity.increment) + ")";
    }
    // The new column compares as the one it is taken from.
    if (tsql::IsCharacterType(type.type) && !tsql::SameCollation(type, ColumnType{}))
      text += " COLLATE " + tsql::CollationNameFor(type);
    text += type.nullable && !type.identity ? " NULL" : " NOT NULL";
  }
  return text + ")";
}

}  // namespace sqlengine::exec
