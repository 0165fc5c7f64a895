#include "engine/exec/front_end_view.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/exec/front_end_statement.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/view_upgrade.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

// The stored definition holds the query in a comment that starts with this.
constexpr std::string_view kQueryMark = "/*sqlengine-tsql ";
// In front of it, the whole CREATE VIEW as its author wrote it (views made
// before it was kept lack this comment).
constexpr std::string_view kWrittenMark = "/*sqlengine-written ";
constexpr std::string_view kCommentEnd = " */ ";
// After the query: the types of the view's columns as it was bound when made
// (views made before they were kept lack this comment).
constexpr std::string_view kTypesMark = "/*sqlengine-types ";
// In place of the generated query: a stand-in that fails when read, for a
// view each reader binds (one reading another database's tables).
constexpr std::string_view kBoundAtUseMark = "/*sqlengine-bound-at-use */ ";

std::string Doubled(const std::string& text, char quote) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  return out;
}

// The tokens as T-SQL that reads back the same under any QUOTED_IDENTIFIER
// setting: names in brackets, strings in single quotes.
std::string Written(const Tokens& tokens) {
  std::string text;
  for (const Token& token : tokens) {
    if (token.kind == TokenKind::kEnd) break;
    if (!text.empty()) text += ' ';
    switch (token.kind) {
      case TokenKind::kQuotedName:
        text += "[" + Doubled(token.value, ']') + "]";
        break;
      case TokenKind::kString:
        text += "'" + Doubled(token.value, '\'') + "'";
        break;
      case TokenKind::kNationalString:
        text += "N'" + Doubled(token.value, '\'') + "'";
        break;
      default:
        text += token.text;
    }
  }
  return text;
}

// `text` inside a /* */ comment, where neither its end nor another mark can
// be read: '\', the '/' of "*/" and the '*' of "/*" escaped by '\'.
std::string CommentSafe(std::string_view text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    char before = k > 0 ? text[k - 1] : '\0';
    if (c == '\\' || (c == '/' && before == '*') || (c == '*' && before == '/')) out += '\\';
    out += c;
  }
  return out;
}

std::string FromComment(std::string_view text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\\' && k + 1 < text.size()) ++k;
    out += text[k];
  }
  return out;
}

// After kQueryMark: the view was made WITH CHECK OPTION.
constexpr std::string_view kCheckOptionMark = "check-option ";

struct ViewHeader {
  std::string name;
  std::vector<std::string> columns;
  Tokens query;
  bool check_option = false;
};

// The statement's verb as SQL Server's messages name it: "CREATE VIEW".
std::string Verb(const Tokens& tokens) {
  return tokens[0].IsWord("create") ? "CREATE VIEW" : "ALTER VIEW";
}

// {CREATE | ALTER} VIEW [owner.]name [(columns)] [WITH option [, ...]] AS
// query [WITH CHECK OPTION]; nullopt for another statement. Throws SQL
// Server's error for a header it refuses: a database prefix (166), more
// prefixes still (117), a #name (4103), anything else out of place (a
// syntax error there).
std::optional<ViewHeader> ReadHeader(const Tokens& tokens) {
  auto at = [&](size_t k) -> const Token& { return tsql::TokenAt(tokens, k); };
  if (!at(0).IsAnyWord({"create", "alter"}) || !at(1).IsWord("view")) return std::nullopt;
  size_t k = 2;
  // The name's parts, an omitted one (d..v) empty.
  std::vector<std::string> parts;
  std::string written_name;
  while (true) {
    if (at(k).IsName()) {
      parts.push_back(at(k).value);
      written_name += at(k).text;
      ++k;
    } else {
      parts.emplace_back();
    }
    if (!at(k).IsSymbol(".")) break;
    written_name += ".";
    ++k;
  }
  if (parts.back().empty()) throw tsql::SyntaxError(at(k));
  if (parts.size() > 3) throw MakeError(117, {written_name, "2"});
  if (parts.size() == 3) throw MakeError(166, {Verb(tokens)});
  // An owner part was checked before the statement ran (CheckOwnerPart).
  ViewHeader header;
  header.name = parts.back();
  if (header.name.starts_with("#")) throw MakeError(4103, {header.name});
  if (at(k).IsSymbol("(")) {
    ++k;
    while (at(k).IsName()) {
      header.columns.push_back(at(k).value);
      ++k;
      if (!at(k).IsSymbol(",")) break;
      ++k;
    }
    if (!at(k).IsSymbol(")")) throw tsql::SyntaxError(at(k));
    ++k;
  }
  if (at(k).IsWord("with")) {
    ++k;
    while (at(k).IsAnyWord({"encryption", "schemabinding", "view_metadata"})) {
      ++k;
      if (!at(k).IsSymbol(",")) break;
      ++k;
    }
  }
  if (!at(k).IsWord("as")) throw tsql::SyntaxError(at(k));
  const Token& as = at(k);
  ++k;
  for (; k < tokens.size() && tokens[k].kind != TokenKind::kEnd; ++k)
    header.query.push_back(tokens[k]);
  size_t n = header.query.size();
  if (n >= 3 && header.query[n - 3].IsWord("with") && header.query[n - 2].IsWord("check") &&
      header.query[n - 1].IsWord("option")) {
    header.check_option = true;
    header.query.resize(n - 3);
  }
  if (header.query.empty()) throw tsql::SyntaxError(as);
  return header;
}

// The INTO of a SELECT ... INTO outside parentheses, which no view may hold
// (SQL Server reports the keyword as out of place); null when none.
const Token* IntoOfQuery(const Tokens& query) {
  int depth = 0;
  for (const Token& token : query) {
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth == 0 && token.IsWord("into")) return &token;
  }
  return nullptr;
}

// A view's query as written, with or without a WITH list in front. Throws
// what the query parser throws.
struct ViewQuery {
  std::vector<tsql::parse::CommonTable> with;
  std::unique_ptr<tsql::parse::Query> query;
};

ViewQuery ParseViewQuery(const Tokens& written) {
  ViewQuery parsed;
  if (written.empty() || !written.front().IsWord("with")) {
    parsed.query = tsql::parse::ParseSelect(written);
    if (parsed.query->for_xml) RefuseForXml("CREATE VIEW", parsed.query->for_xml_origin.line);
    return parsed;
  }
  Tokens tokens = written;
  if (tokens.back().kind != TokenKind::kEnd) {
    Token end;
    end.kind = TokenKind::kEnd;
    end.line = tokens.back().line;
    tokens.push_back(end);
  }
  tsql::StatementList statements = tsql::ParseBatch(tokens);
  if (statements.size() != 1 || statements.front()->kind != tsql::StatementKind::kSelect)
    throw tsql::parse::NotParsed("WITH list before no single SELECT");
  FrontEndText text = PrepareFrontEndText(*statements.front());
  parsed.with = std::move(text.with);
  parsed.query = tsql::parse::ParseSelect(text.tokens);
  if (parsed.query->for_xml) RefuseForXml("CREATE VIEW", parsed.query->for_xml_origin.line);
  return parsed;
}

// The columns of a view's bound query named as the view lists them, checked
// as SQL Server checks them: SqlError 8158 / 8159 for a list of another
// width, 4511 for an unnamed column, 4506 for a name given twice.
void NameViewColumns(std::vector<Column>& columns, const ViewHeader& header) {
  if (!header.columns.empty()) {
    if (columns.size() > header.columns.size()) throw MakeError(8158, {header.name});
    if (columns.size() < header.columns.size()) throw MakeError(8159, {header.name});
    for (size_t k = 0; k < columns.size(); ++k) columns[k].name = header.columns[k];
  }
  std::set<std::string> names;
  for (size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].name.empty()) throw MakeError(4511, {std::to_string(k + 1)});
    if (!names.insert(tsql::ToLower(columns[k].name)).second)
      throw MakeError(4506, {columns[k].name, header.name});
  }
}

// Where the comments of a stored definition start: past its header `CREATE
// VIEW "name" ("column", ...) AS `, whose quoted names may hold anything.
// npos for SQL of another shape.
size_t PastHeader(std::string_view sql) {
  bool quoted = false;
  for (size_t k = 0; k < sql.size(); ++k) {
    if (sql[k] == '"') quoted = !quoted;  // a doubled quote toggles twice
    if (!quoted && sql.substr(k).starts_with(") AS ")) return k + 5;
  }
  return std::string_view::npos;
}

// The comment starting with `mark` at `at` in `sql`: its text, unescaped,
// and the position past it; nullopt when none starts there.
std::optional<std::pair<std::string, size_t>> CommentAt(std::string_view sql, size_t at,
                                                        std::string_view mark) {
  if (at > sql.size() || !sql.substr(at).starts_with(mark)) return std::nullopt;
  size_t begin = at + mark.size();
  size_t end = sql.find(kCommentEnd, begin);
  if (end == std::string_view::npos) return std::nullopt;
  return std::pair{FromComment(sql.substr(begin, end - begin)), end + kCommentEnd.size()};
}

// The types comment's text: each column's declaration and NULL / NOT NULL,
// separated by ";".
std::string TypesText(const std::vector<Column>& columns) {
  std::string text;
  for (const Column& column : columns) {
    text += (text.empty() ? "" : "; ") + tsql::TypeDeclaration(column.type) +
            (column.type.nullable ? " NULL" : " NOT NULL");
  }
  return text;
}

std::optional<std::vector<ColumnType>> ParseTypesText(std::string_view text) {
  std::vector<ColumnType> types;
  while (!text.empty()) {
    size_t end = text.find(';');
    std::string_view item = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (item.starts_with(' ')) item.remove_prefix(1);
    bool nullable = true;
    if (item.ends_with(" NOT NULL")) {
      nullable = false;
      item.remove_suffix(9);
    } else if (item.ends_with(" NULL")) {
      item.remove_suffix(5);
    }
    std::optional<ColumnType> type = tsql::ParseDeclaredType(item);
    if (!type) return std::nullopt;
    type->nullable = nullable;
    types.push_back(*type);
  }
  return types;
}

// A query SQLite may keep for a view read at each use: the view's columns,
// no rows, and a call that fails if anything reads it.
std::string StandInQuery(const ViewHeader& header, const std::vector<Column>& columns) {
  std::string list;
  for (const Column& column : columns)
    list += (list.empty() ? "NULL AS " : ", NULL AS ") + tsql::QuoteSqliteName(column.name);
  return std::string(kBoundAtUseMark) + "SELECT " + list + " WHERE sqlengine_unstored_view(" +
         tsql::QuoteSqliteString(header.name) + ")";
}

// The stored definition of a front-end view: its columns, its text as
// written (when known), its query and its columns' types in comments, and
// the generated query (`generated`; nullopt for a view each reader binds,
// which gets StandInQuery).
std::string ViewDefinition(const ViewHeader& header, const std::vector<Column>& columns,
                           const std::optional<std::string>& generated,
                           std::string_view written) {
  std::string list;
  for (const Column& column : columns)
    list += (list.empty() ? "" : ", ") + tsql::QuoteSqliteName(column.name);
  std::string written_comment;
  if (!written.empty())
    written_comment = std::string(kWrittenMark) + CommentSafe(written) + std::string(kCommentEnd);
  return "CREATE VIEW " + tsql::QuoteSqliteName(header.name) + " (" + list + ") AS " +
         written_comment + std::string(kQueryMark) +
         std::string(header.check_option ? kCheckOptionMark : std::string_view()) +
         CommentSafe(Written(header.query)) + std::string(kCommentEnd) + std::string(kTypesMark) +
         CommentSafe(TypesText(columns)) + std::string(kCommentEnd) +
         (generated ? *generated : StandInQuery(header, columns));
}

}  // namespace

namespace {

// The header and parsed query of a CREATE / ALTER VIEW `statement`; nullopt
// for another statement. Throws SQL Server's error for a view it refuses
// to parse: a WITH list before CREATE, a bad header, SELECT ... INTO, a
// query the parser does not take.
std::optional<std::pair<ViewHeader, ViewQuery>> ParseView(const tsql::Statement& statement) {
  if (statement.kind != tsql::StatementKind::kCreateOther) return std::nullopt;
  std::optional<ViewHeader> header = ReadHeader(statement.tokens);
  if (!header) return std::nullopt;
  // CREATE VIEW starts its statement: a WITH list may stand only after AS.
  if (!statement.with.empty()) throw tsql::SyntaxError(statement.tokens.front());
  if (const Token* into = IntoOfQuery(header->query)) throw tsql::SyntaxError(*into);
  try {
    ViewQuery parsed = ParseViewQuery(header->query);
    return std::pair{std::move(*header), std::move(parsed)};
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("view parse", why, statement.tokens);
  }
}

}  // namespace

bool FrontEndParsesView(const tsql::Statement& statement) {
  return ParseView(statement).has_value();
}

std::optional<tsql::SqliteText> FrontEndCreateView(const tsql::Statement& statement,
                                                   Session& session, std::string_view written) {
  std::optional<std::pair<ViewHeader, ViewQuery>> view = ParseView(statement);
  if (!view) return std::nullopt;
  auto& [header, parsed] = *view;
  tsql::bind::RequireTopForOrderBy(*parsed.query);
  SessionCatalog catalog(session);
  tsql::bind::BoundQuery bound;
  try {
    bound = tsql::bind::Bind(*parsed.query, catalog, parsed.with);
  } catch (const tsql::bind::NotBound& why) {
    RefuseUnbound("view bind", why, statement.tokens, statement.line);
  }
  NameViewColumns(bound.columns, header);
  bool reads_temp = false;
  std::optional<tsql::SqliteText> generated =
      tsql::generate::GenerateViewQuery(bound, statement.line, EngineExactForm(), &reads_temp);
  // A ##table is a table of tempdb, but a temporary one all the same.
  reads_temp =
      reads_temp ||
      std::any_of(statement.tokens.begin(), statement.tokens.end(), [](const tsql::Token& token) {
        return token.IsName() && tsql::IsGlobalTempName(token.value);
      });
  if (reads_temp) {
    SqlError error = MakeError(4508);
    error.message().line = statement.line;
    throw error;
  }
  if (!generated) {
    // It reads another database: SQLite keeps no view over another attached
    // file, so every reader binds the query kept here.
    tsql::SqliteText text;
    text.sql = ViewDefinition(header, bound.columns, std::nullopt, written);
    return text;
  }
  tsql::SqliteText text = std::move(*generated);
  text.sql = ViewDefinition(header, bound.columns, text.sql, written);
  return text;
}

std::optional<std::string> AlteredView(const tsql::Statement& statement) {
  if (statement.kind != tsql::StatementKind::kCreateOther || statement.tokens.size() < 3 ||
      !statement.tokens[0].IsWord("alter") || !statement.tokens[1].IsWord("view"))
    return std::nullopt;
  return ReadHeader(statement.tokens)->name;
}

std::optional<std::string> CreatedView(const tsql::Statement& statement) {
  if (statement.kind != tsql::StatementKind::kCreateOther || statement.tokens.size() < 3 ||
      !statement.tokens[0].IsWord("create") || !statement.tokens[1].IsWord("view"))
    return std::nullopt;
  std::optional<ViewHeader> header = ReadHeader(statement.tokens);
  if (!header) return std::nullopt;
  return header->name;
}

namespace {

// The query comment of a front-end view's stored definition: the query as
// written (after the check-option mark) and where the generated query
// starts; nullopt for a view the front end did not make.
std::optional<std::pair<std::string, size_t>> QueryComment(std::string_view create_sql) {
  size_t at = PastHeader(create_sql);
  if (at == std::string_view::npos) return std::nullopt;
  if (auto written = CommentAt(create_sql, at, kWrittenMark)) at = written->second;
  return CommentAt(create_sql, at, kQueryMark);
}

StoredView Stored(ViewQuery parsed, bool check_option) {
  StoredView stored;
  stored.query = std::move(parsed.query);
  stored.check_option = check_option;
  if (!parsed.with.empty())
    stored.with =
        std::make_shared<const std::vector<tsql::parse::CommonTable>>(std::move(parsed.with));
  return stored;
}

}  // namespace

StoredView StoredViewQuery(std::string_view create_sql) {
  std::optional<std::pair<std::string, size_t>> comment = QueryComment(create_sql);
  if (!comment) return {};
  std::string_view query = comment->first;
  bool check_option = query.starts_with(kCheckOptionMark);
  if (check_option) query.remove_prefix(kCheckOptionMark.size());
  try {
    StoredView stored = Stored(ParseViewQuery(tsql::Lex(query)), check_option);
    stored.generated_at = comment->second;
    if (auto types = CommentAt(create_sql, stored.generated_at, kTypesMark))
      stored.generated_at = types->second;
    stored.bound_at_use = create_sql.substr(stored.generated_at).starts_with(kBoundAtUseMark);
    return stored;
  } catch (const std::exception&) {
    return {};  // none the front end reads
  }
}

StoredView OlderViewQuery(std::string_view create_sql) {
  if (create_sql.find(kQueryMark) != std::string_view::npos) return {};
  try {
    std::optional<ViewHeader> header = ReadHeader(tsql::Lex(std::string(create_sql)));
    if (!header || IntoOfQuery(header->query) != nullptr) return {};
    return Stored(ParseViewQuery(header->query), header->check_option);
  } catch (const std::exception&) {
    return {};  // SQLite's own SQL, which no T-SQL reader takes
  }
}

std::string ViewTextAsWritten(std::string_view create_sql) {
  size_t at = PastHeader(create_sql);
  if (at == std::string_view::npos) return std::string(create_sql);
  if (auto written = CommentAt(create_sql, at, kWrittenMark)) return written->first;
  std::optional<std::pair<std::string, size_t>> query = CommentAt(create_sql, at, kQueryMark);
  if (!query) return std::string(create_sql);
  std::string_view text = query->first;
  bool check_option = text.starts_with(kCheckOptionMark);
  if (check_option) text.remove_prefix(kCheckOptionMark.size());
  // `CREATE VIEW "name" (`: the name as SQLite quotes it.
  std::string name;
  try {
    tsql::Tokens header = tsql::Lex(create_sql.substr(0, at));
    if (header.size() > 2 && header[2].IsName()) name = header[2].value;
  } catch (const std::exception&) {
  }
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (char c : name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!plain) name = "[" + Doubled(name, ']') + "]";
  return "CREATE VIEW " + name + " AS " + std::string(text) +
         (check_option ? " WITH CHECK OPTION" : "");
}

std::string StoredViewSql(sqlite3* db, const std::string& schema, const std::string& view) {
  catalog::PreparedStatement read =
      catalog::Prepare(db, "SELECT sql FROM " + tsql::QuoteSqliteName(schema) +
                               ".sqlite_master WHERE type = 'view' AND name = ? COLLATE NOCASE");
  sqlite3_bind_text(read.get(), 1, view.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(read.get()) == SQLITE_ROW ? catalog::ColumnText(read.get(), 0)
                                                : std::string();
}

std::optional<SqliteTable> TableWrittenThrough(SessionConnection& connection, std::string schema,
                                               std::string name) {
  constexpr int kMaxViewNesting = 32;
  sqlite3* db = connection.Handle();
  for (int depth = 0; depth < kMaxViewNesting; ++depth) {
    std::string view_sql;
    {
      SessionConnection::KeptRead found(connection, "SELECT type, sql FROM " +
                                                        tsql::QuoteSqliteName(schema) +
                                                        ".sqlite_master WHERE name = ?1 COLLATE "
                                                        "NOCASE AND type IN ('table', 'view')");
      if (found.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_bind_text(found.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(found.get()) != SQLITE_ROW) return std::nullopt;
      if (catalog::ColumnText(found.get(), 0) == "table") return SqliteTable{schema, name};
      view_sql = catalog::ColumnText(found.get(), 1);
    }  // the read ends before SchemaOf below may attach another database
    StoredView stored = StoredViewQuery(view_sql);
    if (!stored.query || stored.query->terms.size() != 1) return std::nullopt;
    const auto& from = stored.query->terms.front()->from;
    if (from.size() != 1 || from.front()->kind != tsql::parse::TableSource::Kind::kTable)
      return std::nullopt;
    const std::vector<std::string>& source = from.front()->name;
    // A name without a database is the view's own database's.
    if (source.size() == 3 && !source.front().empty()) schema = connection.SchemaOf(source.front());
    name = source.back();
  }
  return std::nullopt;
}

std::optional<std::vector<ColumnType>> StoredViewColumnTypes(std::string_view create_sql) {
  std::optional<std::pair<std::string, size_t>> query = QueryComment(create_sql);
  if (!query) return std::nullopt;
  std::optional<std::pair<std::string, size_t>> types =
      CommentAt(create_sql, query->second, kTypesMark);
  if (!types) return std::nullopt;
  return ParseTypesText(types->first);
}

std::optional<std::vector<ColumnType>> ViewColumnTypes(sqlite3* db, const std::string& schema,
                                                       std::string_view create_sql) {
  if (std::optional<std::vector<ColumnType>> types = StoredViewColumnTypes(create_sql))
    return types;
  // A catalog query asks once per column and property: the last view bound
  // is kept while its file's schema stays as it was.
  struct Bound {
    sqlite3* db = nullptr;
    std::string schema;
    std::string sql;
    sqlite3_int64 version = -1;
    std::optional<std::vector<ColumnType>> types;
  };
  thread_local Bound last;
  sqlite3_int64 version = -1;
  std::string pragma = "PRAGMA " + tsql::QuoteSqliteName(schema) + ".schema_version";
  sqlite3_stmt* read = nullptr;
  if (sqlite3_prepare_v2(db, pragma.c_str(), -1, &read, nullptr) == SQLITE_OK &&
      sqlite3_step(read) == SQLITE_ROW)
    version = sqlite3_column_int64(read, 0);
  sqlite3_finalize(read);
  if (version >= 0 && last.db == db && last.version == version && last.schema == schema &&
      last.sql == create_sql)
    return last.types;
  last = {db, schema, std::string(create_sql), version,
          BindViewColumnTypes(db, schema, create_sql)};
  return last.types;
}

namespace {

// The type of column `cid` of the view `sql` of `schema`, for the SQL
// functions; nullopt for no view, or one whose types are unknown.
std::optional<ColumnType> ViewColumnType(sqlite3_context* context, sqlite3_value* sql,
                                         sqlite3_value* cid, sqlite3_value* schema) {
  if (sqlite3_value_type(sql) == SQLITE_NULL) return std::nullopt;
  std::string text = SqliteValueText(sql);
  if (text.size() < 11 || sqlite3_strnicmp(text.c_str(), "CREATE VIEW", 11) != 0)
    return std::nullopt;
  std::optional<std::vector<ColumnType>> types = ViewColumnTypes(
      sqlite3_context_db_handle(context), SqliteValueText(schema), text);
  sqlite3_int64 k = sqlite3_value_int64(cid);
  if (!types || k < 0 || static_cast<size_t>(k) >= types->size()) return std::nullopt;
  return (*types)[static_cast<size_t>(k)];
}

}  // namespace

void ViewColumnTypeFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (std::optional<ColumnType> type =
          ViewColumnType(context, arguments[2], arguments[3], arguments[4]))
    return SqliteResultText(context, tsql::TypeDeclaration(*type));
  StoredColumnTypeFunction(context, 3, arguments);
}

void ViewColumnNullFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  std::optional<ColumnType> type =
      ViewColumnType(context, arguments[0], arguments[1], arguments[2]);
  if (!type) return sqlite3_result_null(context);
  sqlite3_result_int(context, type->nullable ? 1 : 0);
}

void UnstoredViewFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run it: view '" +
                          SqliteValueText(arguments[0]) +
                          "' is read only as its query bound where a statement names it.";
  ResultSqlError(context, error);
}

void ViewTextFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  SqliteResultText(context, ViewTextAsWritten(SqliteValueText(arguments[0])));
}

std::optional<std::string> FrontEndViewOfOlderView(std::string_view create_sql,
                                                      tsql::bind::Catalog& catalog,
                                                      tsql::generate::ExactForm form) {
  StoredView stored = OlderViewQuery(create_sql);
  if (!stored.query) return std::nullopt;
  try {
    std::optional<ViewHeader> header = ReadHeader(tsql::Lex(std::string(create_sql)));
    static const std::vector<tsql::parse::CommonTable> kNoWith;
    tsql::bind::BoundQuery bound =
        tsql::bind::Bind(*stored.query, catalog, stored.with ? *stored.with : kNoWith);
    NameViewColumns(bound.columns, *header);
    std::optional<tsql::SqliteText> generated = tsql::generate::GenerateViewQuery(bound, 1, form);
    if (!generated) return std::nullopt;
    return ViewDefinition(*header, bound.columns, std::optional<std::string>(generated->sql), {});
  } catch (const std::exception&) {
    return std::nullopt;  // not T-SQL the front end binds: it stays as it is
  }
}

}  // namespace sqlengine::exec
