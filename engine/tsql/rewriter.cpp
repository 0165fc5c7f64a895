#include "engine/tsql/rewriter.h"

#include <algorithm>
#include <limits>

#include "engine/common/error.h"
#include "engine/tsql/addition_calls.h"
#include "engine/tsql/join_conditions.h"
#include "engine/tsql/recursion_limit.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::tsql {

int SqliteText::LineAt(std::size_t offset) const {
  int line = lines.empty() ? 1 : lines.front().second;
  for (const auto& [start, source_line] : lines) {
    if (start > offset) break;
    line = source_line;
  }
  return line;
}

namespace {

// CAST(x AS varchar) and its kin: the length SQL Server gives a conversion
// that names none.
constexpr int kDefaultConversionLength = 30;

bool IsStringLiteral(const Token& token) {
  return token.kind == TokenKind::kString || token.kind == TokenKind::kNationalString;
}

// One dotted name as written: "db..t" has an empty middle part.
struct NameChain {
  std::vector<const Token*> parts;  // null for an omitted part
  size_t end = 0;                   // index after the chain
};

const std::vector<CommonTableExpression> kNoWith;

class Rewriter {
 public:
  // `with` is the WITH list of the statement the tokens belong to; the names
  // of its first `visible` entries hide catalog views of the same name.
  Rewriter(const Tokens& tokens, NameResolver& resolver,
           const std::vector<CommonTableExpression>& with = kNoWith,
           size_t visible = std::numeric_limits<size_t>::max())
      : tokens_(tokens),
        resolver_(resolver),
        with_(with),
        visible_with_(std::min(visible, with.size())) {}

  SqliteText Statement(StatementKind kind) {
    if (kind != StatementKind::kSelect) EmitWith();
    switch (kind) {
      case StatementKind::kInsert:
        Append("INSERT", tokens_[0]);
        if (tokens_.size() > 1 && !tokens_[1].IsWord("into")) Append("INTO", tokens_[0]);
        EmitRange(1, tokens_.size());
        break;
      case StatementKind::kDelete:
        Append("DELETE", tokens_[0]);
        if (tokens_.size() > 1 && !tokens_[1].IsWord("from")) Append("FROM", tokens_[0]);
        EmitRange(1, tokens_.size());
        break;
      case StatementKind::kSelect:
        if (SelectInto()) break;
        out_.column_types = SelectListTypes(out_.column_variables, out_.column_aliases);
        EmitWith();
        EmitRange(0, tokens_.size());
        break;
      default:
        EmitRange(0, tokens_.size());
    }
    return std::move(out_);
  }

  // A query of a WITH list.
  SqliteText Query() {
    EmitRange(0, tokens_.size());
    return std::move(out_);
  }

  SqliteText Condition() {
    Append("SELECT CASE WHEN (", tokens_.empty() ? Token{} : tokens_[0]);
    EmitRange(0, tokens_.size());
    Append(") THEN 1 ELSE 0 END", tokens_.empty() ? Token{} : tokens_.back());
    return std::move(out_);
  }

 private:
  const Token& At(size_t i) const {
    static const Token kEnd;
    return i < tokens_.size() ? tokens_[i] : kEnd;
  }

  void Append(std::string_view text, const Token& origin) {
    if (!out_.sql.empty()) out_.sql.push_back(' ');
    out_.lines.emplace_back(out_.sql.size(), origin.line);
    out_.sql.append(text);
  }

  void Append(const SqliteText& part) {
    if (part.sql.empty()) return;
    if (!out_.sql.empty()) out_.sql.push_back(' ');
    for (const auto& [offset, line] : part.lines)
      out_.lines.emplace_back(out_.sql.size() + offset, line);
    out_.sql.append(part.sql);
  }

  // Emits the statement's WITH list, if it has one; returns whether it did.
  bool EmitWith() {
    if (with_.empty()) return false;
    std::string_view separator = "WITH";
    for (size_t index = 0; index < with_.size(); ++index) {
      const CommonTableExpression& cte = with_[index];
      std::string head = std::string(separator) + " " + NamePart(cte.name);
      for (size_t k = 0; k < cte.columns.size(); ++k) {
        head += (k == 0 ? "(" : ", ") + NamePart(cte.columns[k]);
      }
      if (!cte.columns.empty()) head += ")";
      Append(head + " AS (", cte.name);
      Tokens query = DivisorsChecked(AdditionsAsCalls(cte.query));
      // A query sees the names before it and its own.
      Append(Rewriter(query, resolver_, with_, index + 1).Query());
      Append(")", cte.query.back());
      separator = ",";
    }
    out_.statement_offset = out_.sql.size();
    return true;
  }

  bool IsWithName(const Token& name) const {
    auto visible_end = with_.begin() + static_cast<std::ptrdiff_t>(visible_with_);
    return std::any_of(with_.begin(), visible_end, [&](const CommonTableExpression& cte) {
      return EqualsIgnoreCase(cte.name.value, name.value);
    });
  }

  std::string NamePart(const Token& token) const {
    if (token.kind == TokenKind::kQuotedName || token.value.starts_with("#")) {
      return QuoteSqliteName(token.value);
    }
    return token.text;
  }

  NameChain ReadChain(size_t i) const {
    NameChain chain;
    chain.parts.push_back(&tokens_[i]);
    size_t j = i + 1;
    while (At(j).IsSymbol(".")) {
      if (At(j + 1).IsName()) {
        chain.parts.push_back(&tokens_[j + 1]);
        j += 2;
      } else if (At(j + 1).IsSymbol(".")) {
        chain.parts.push_back(nullptr);
        j += 1;
      } else {
        break;
      }
    }
    chain.end = j;
    return chain;
  }

  static bool IsSchemaPart(const Token* part) {
    return part == nullptr || EqualsIgnoreCase(part->value, "dbo");
  }

  // Emits a catalog view's subquery, keeping the view's name as the alias
  // unless the statement gives one.
  bool EmitCatalogView(std::string_view database, std::string_view view, size_t next,
                       const Token& origin) {
    std::optional<std::string> subquery = resolver_.CatalogView(database, ToLower(view));
    if (!subquery) return false;
    Append(*subquery, origin);
    const Token& following = At(next);
    bool has_alias = following.IsWord("as") || following.kind == TokenKind::kQuotedName ||
                     (following.kind == TokenKind::kWord && !IsReservedKeyword(following.text));
    if (!has_alias) Append("AS " + QuoteSqliteName(view.substr(view.rfind('.') + 1)), origin);
    return true;
  }

  // Emits a name chain; returns the index after it. An object name (the
  // table SELECT INTO makes) is never taken for a function call.
  size_t EmitChain(size_t i, bool object_name = false) {
    NameChain chain = ReadChain(i);
    const auto& parts = chain.parts;
    const Token& origin = tokens_[i];
    auto part_text = [&](size_t k) {
      return parts[k] == nullptr ? std::string() : parts[k]->value;
    };
    bool is_call = !object_name && At(chain.end).IsSymbol("(");
    if (parts.size() == 1 && parts[0]->kind == TokenKind::kWord) {
      if (is_call && parts[0]->IsWord("convert")) return EmitConvert(chain.end);
      if (is_call && parts[0]->IsWord("object_id")) return EmitObjectId(chain.end);
      if (is_call) {
        if (std::optional<size_t> next = EmitCatalogFunction(*parts[0], chain.end)) return *next;
      }
      if (is_call && (*parts[0]).IsAnyWord({"dateadd", "datediff", "datepart", "datename"}) &&
          At(chain.end + 1).kind == TokenKind::kWord && At(chain.end + 2).IsSymbol(",")) {
        // The date part is a bare word in T-SQL; the functions take it as text.
        Append(ToLower(parts[0]->text) + "(" + QuoteSqliteString(ToLower(At(chain.end + 1).text)) +
                   ",",
               origin);
        return chain.end + 3;
      }
      if (is_call) {
        EmitFunctionName(*parts[0]);
        return chain.end;
      }
      if (parts[0]->IsWord("current_timestamp")) {
        Append("getdate()", origin);
        return chain.end;
      }
    }
    if (!is_call) {
      if (parts.size() == 1 && parts[0]->kind == TokenKind::kWord && !IsWithName(*parts[0]) &&
          EmitCatalogView("", parts[0]->value, chain.end, origin)) {
        return chain.end;
      }
      if (parts.size() == 2 && parts[0] != nullptr) {
        if (EqualsIgnoreCase(part_text(0), "information_schema") &&
            EmitCatalogView("", "information_schema." + part_text(1), chain.end, origin)) {
          return chain.end;
        }
        if (IsSchemaPart(parts[0]) && parts[1] != nullptr &&
            EmitCatalogView("", part_text(1), chain.end, origin)) {
          return chain.end;
        }
      }
      if (parts.size() == 3 && parts[0] != nullptr && parts[2] != nullptr) {
        std::string view = EqualsIgnoreCase(part_text(1), "information_schema")
                               ? "information_schema." + part_text(2)
                               : (IsSchemaPart(parts[1]) ? part_text(2) : std::string());
        if (!view.empty() && EmitCatalogView(part_text(0), view, chain.end, origin)) {
          return chain.end;
        }
      }
    }
    std::vector<std::string> emitted;
    size_t first = 0;
    if (parts.size() >= 3 && parts[0] != nullptr && IsSchemaPart(parts[1])) {
      // database.schema.object[.column]
      emitted.push_back(QuoteSqliteName(resolver_.SchemaFor(part_text(0))));
      first = 2;
    } else if (parts.size() >= 2 && parts[0] != nullptr && EqualsIgnoreCase(part_text(0), "dbo")) {
      first = 1;
    }
    for (size_t k = first; k < parts.size(); ++k) {
      if (parts[k] == nullptr) throw SyntaxError(At(chain.end));
      emitted.push_back(NamePart(*parts[k]));
    }
    std::string text;
    for (const std::string& part : emitted) {
      if (!text.empty()) text.push_back('.');
      text += part;
    }
    Append(text, origin);
    return chain.end;
  }

  // OBJECT_ID('[owner.]name') looks the name up in the current database's sysobjects.
  size_t EmitObjectId(size_t open) {
    size_t close = MatchingClose(open);
    std::optional<std::string> objects = resolver_.CatalogView("", "sysobjects");
    if (!objects || close == open + 1) throw SyntaxError(tokens_[close], &tokens_[open]);
    Append("(SELECT id FROM " + *objects +
               " AS sqlengine_o WHERE sqlengine_o.name = sqlengine_object_name(",
           tokens_[open]);
    size_t comma = open + 1;
    while (comma < close && !tokens_[comma].IsSymbol(",")) ++comma;
    EmitRange(open + 1, comma);
    Append("))", tokens_[close]);
    return close + 1;
  }

  // A binary literal as SQLite text: a blob, or beside a bitwise operator
  // the integer its bytes make (SQLite's & and | read a blob as text, 0).
  std::string BinaryLiteral(size_t i) const {
    std::string hex = tokens_[i].value.size() % 2 ? "0" + tokens_[i].value : tokens_[i].value;
    auto bitwise = [](const Token& t) {
      return t.IsSymbol("&") || t.IsSymbol("|") || t.IsSymbol("^") || t.IsSymbol("~");
    };
    bool operand = (i > 0 && bitwise(tokens_[i - 1])) || bitwise(At(i + 1));
    if (!operand || hex.size() > 16) return "X'" + hex + "'";
    std::uint64_t bits = hex.empty() ? 0 : std::stoull(hex, nullptr, 16);
    // The rightmost four bytes as an int, eight as a bigint.
    if (hex.size() <= 8)
      return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
    return std::to_string(static_cast<std::int64_t>(bits));
  }

  // Functions answered from the catalog views as scalar subqueries. The
  // arguments are bound once, in order, as columns of a one-row source so
  // each may be any expression; an unknown object gives NULL, as in SQL
  // Server. Returns the index after the call, or nullopt for another function.
  std::optional<size_t> EmitCatalogFunction(const Token& name, size_t open) {
    struct Form {
      std::string_view function;
      size_t arguments;
      std::string_view view;
      // Before the arguments (after "(SELECT "), between them the
      // placeholder columns a0, a1 ..., and after them.
      std::string_view select;
      std::string_view match;
    };
    static constexpr Form kForms[] = {
        {"object_name", 1, "sysobjects", "sqlengine_v.name", "sqlengine_v.id = sqlengine_a.a0"},
        {"objectproperty", 2, "sysobjects",
         "sqlengine_object_property(sqlengine_v.xtype, sqlengine_a.a1)",
         "sqlengine_v.id = sqlengine_a.a0"},
        {"col_name", 2, "syscolumns", "sqlengine_v.name",
         "sqlengine_v.id = sqlengine_a.a0 AND sqlengine_v.colid = sqlengine_a.a1"},
        {"col_length", 2, "syscolumns", "sqlengine_v.length",
         "sqlengine_v.name = sqlengine_a.a1 COLLATE NOCASE AND sqlengine_v.id = (SELECT id FROM "
         "{sysobjects} AS sqlengine_o WHERE sqlengine_o.name = "
         "sqlengine_object_name(sqlengine_a.a0))"},
        {"db_id", 0, "sysdatabases", "sqlengine_v.dbid",
         "sqlengine_v.name = db_name() COLLATE NOCASE"},
        {"db_id", 1, "sysdatabases", "sqlengine_v.dbid",
         "sqlengine_v.name = sqlengine_a.a0 COLLATE NOCASE"},
        {"db_name", 1, "sysdatabases", "sqlengine_v.name", "sqlengine_v.dbid = sqlengine_a.a0"},
    };
    size_t close = MatchingClose(open);
    std::vector<std::pair<size_t, size_t>> arguments;
    if (close > open + 1) {
      int depth = 0;
      size_t start = open + 1;
      for (size_t k = open + 1; k <= close; ++k) {
        if (tokens_[k].IsSymbol("(")) ++depth;
        if (tokens_[k].IsSymbol(")") && k != close) --depth;
        if (k == close || (depth == 0 && tokens_[k].IsSymbol(","))) {
          if (k == start) throw SyntaxError(tokens_[k], &tokens_[k - 1]);
          arguments.emplace_back(start, k);
          start = k + 1;
        }
      }
    }
    const Form* form = nullptr;
    for (const Form& candidate : kForms) {
      if (name.IsWord(candidate.function) && candidate.arguments == arguments.size())
        form = &candidate;
    }
    if (form == nullptr) return std::nullopt;
    auto view = [&](std::string_view which) {
      // sysdatabases exists in master only.
      std::optional<std::string> sql =
          resolver_.CatalogView(which == "sysdatabases" ? "master" : "", which);
      if (!sql) throw SyntaxError(tokens_[open], nullptr);
      return *sql;
    };
    std::string match(form->match);
    if (size_t at = match.find("{sysobjects}"); at != std::string::npos)
      match.replace(at, 12, view("sysobjects"));
    Append("(SELECT " + std::string(form->select) + " FROM (SELECT ", name);
    for (size_t k = 0; k < arguments.size(); ++k) {
      if (k > 0) Append(", ", tokens_[arguments[k].first]);
      Append("(", tokens_[arguments[k].first]);
      EmitRange(arguments[k].first, arguments[k].second);
      Append(") AS a" + std::to_string(k), tokens_[arguments[k].second]);
    }
    if (arguments.empty()) Append("NULL AS a0", name);
    Append(") AS sqlengine_a JOIN " + view(form->view) + " AS sqlengine_v ON " + match + ")",
           tokens_[close]);
    return close + 1;
  }

  // CONVERT(type, expression [, style]) becomes CAST(expression AS type); with
  // a style, a conversion to text or to a date goes through the style functions.
  size_t EmitConvert(size_t open) {
    size_t close = MatchingClose(open);
    size_t comma = open + 1;
    int depth = 0;
    while (comma < close && !(depth == 0 && tokens_[comma].IsSymbol(","))) {
      if (tokens_[comma].IsSymbol("(")) ++depth;
      if (tokens_[comma].IsSymbol(")")) --depth;
      ++comma;
    }
    if (comma >= close || comma == open + 1) throw SyntaxError(tokens_[comma], &tokens_[comma - 1]);
    size_t end = comma + 1;
    depth = 0;
    while (end < close && !(depth == 0 && tokens_[end].IsSymbol(","))) {
      if (tokens_[end].IsSymbol("(")) ++depth;
      if (tokens_[end].IsSymbol(")")) --depth;
      ++end;
    }
    if (end == comma + 1) throw SyntaxError(tokens_[end], &tokens_[comma]);
    if (end < close) {
      // A style: dates are written as text, or read from text, in its form.
      std::optional<ColumnType> type = TypeAt(open + 1, comma);
      bool to_text = IsCharacterType(type->type);
      bool to_date = type->type == SqlType::kDateTime || type->type == SqlType::kSmallDateTime;
      if (to_text || to_date) {
        Append(to_text ? "sqlengine_date_style(" : "sqlengine_datetime_styled(", tokens_[open]);
        EmitRange(comma + 1, end);
        Append(",", tokens_[end]);
        EmitRange(end + 1, close);
        Append(")", tokens_[close]);
        return close + 1;
      }
    }
    EmitCast(comma + 1, end, open + 1, comma);
    return close + 1;
  }

  // CAST(expression AS type): the type normalised like column types.
  size_t EmitCastCall(size_t open) {
    size_t close = MatchingClose(open);
    size_t as = open + 1;
    int depth = 0;
    while (as < close && !(depth == 0 && tokens_[as].IsWord("as"))) {
      if (tokens_[as].IsSymbol("(")) ++depth;
      if (tokens_[as].IsSymbol(")")) --depth;
      ++as;
    }
    if (as >= close || as == open + 1 || as + 1 >= close)
      throw SyntaxError(tokens_[as], &tokens_[as - 1]);
    EmitCast(open + 1, as, as + 1, close);
    return close + 1;
  }

  // SQLite's CAST to NUMERIC keeps only a text's numeric prefix, so dates,
  // GUIDs, binary data and bits convert their own way; a cast to decimal or
  // money also rounds to the type's scale, as SQL Server does.
  void EmitCast(size_t expression_begin, size_t expression_end, size_t type_begin,
                size_t type_end) {
    const Token& origin = tokens_[type_begin];
    std::optional<ColumnType> type = TypeAt(type_begin, type_end);
    struct Form {
      SqlType type;
      std::string_view before, after;
    };
    static constexpr Form kForms[] = {
        {SqlType::kDateTime, "sqlengine_datetime(", ")"},
        {SqlType::kSmallDateTime, "sqlengine_smalldatetime(", ")"},
        {SqlType::kUniqueIdentifier, "CAST(", " AS TEXT)"},

        {SqlType::kBit, "(CAST(", " AS REAL) <> 0)"},
    };
    if (type->type == SqlType::kBinary || type->type == SqlType::kVarBinary ||
        type->type == SqlType::kImage) {
      // An integer converts to its own bytes, not its digits' text.
      Append("sqlengine_binary(", origin);
      EmitRange(expression_begin, expression_end);
      Append(", " + QuoteSqliteString(TypeDeclaration(*type)) + ")", origin);
      return;
    }
    for (const Form& form : kForms) {
      if (form.type != type->type) continue;
      Append(form.before, origin);
      EmitRange(expression_begin, expression_end);
      Append(form.after, origin);
      return;
    }
    bool rounds = type->type == SqlType::kDecimal || type->type == SqlType::kMoney ||
                  type->type == SqlType::kSmallMoney;
    // A text is read as a whole number, not as SQLite's numeric prefix.
    bool number = rounds || type->type == SqlType::kTinyInt || type->type == SqlType::kSmallInt ||
                  type->type == SqlType::kInt || type->type == SqlType::kBigInt ||
                  type->type == SqlType::kReal || type->type == SqlType::kFloat;
    // A datetime becomes text in style 0 ('Jan  1 2002 10:00AM').
    bool text = IsCharacterType(type->type);
    std::string declaration = TypeDeclaration(*type);
    if (rounds) Append("round(", origin);
    Append("CAST(", origin);
    if (number) Append("sqlengine_number(", origin);
    if (text) Append("sqlengine_date_style(", origin);
    EmitRange(expression_begin, expression_end);
    if (number) Append(", " + QuoteSqliteString(declaration) + ")", origin);
    if (text) Append(", 0)", origin);
    Append("AS " +
               (declaration.find("(max)") != std::string::npos ? QuoteSqliteName(declaration)
                                                               : declaration) +
               ")",
           origin);
    if (rounds) Append(", " + std::to_string(type->scale) + ")", origin);
  }

  // The type written at [begin, end) of a CAST or CONVERT, where a character
  // or binary type without a length has 30; throws 243 for an unknown one.
  std::optional<ColumnType> TypeAt(size_t begin, size_t end) {
    const Token& word = tokens_[begin];
    std::vector<std::string> arguments;
    for (size_t k = begin + 1; k < end; ++k) {
      if (!tokens_[k].IsSymbol("(") && !tokens_[k].IsSymbol(")") && !tokens_[k].IsSymbol(",")) {
        arguments.push_back(tokens_[k].text);
      }
    }
    std::optional<ColumnType> type = ColumnTypeFromName(word.value, arguments);
    if (!type) {
      SqlError error = MakeError(243, {word.value});
      error.message().line = word.line;
      throw error;
    }
    bool sized = type->type == SqlType::kChar || type->type == SqlType::kVarChar ||
                 type->type == SqlType::kNChar || type->type == SqlType::kNVarChar ||
                 type->type == SqlType::kBinary || type->type == SqlType::kVarBinary;
    if (sized && arguments.empty()) type->length = kDefaultConversionLength;
    return type;
  }

  void EmitFunctionName(const Token& name) {
    struct Mapping {
      std::string_view tsql;
      std::string_view sqlite;
    };
    static constexpr Mapping kFunctions[] = {
        {"isnull", "ifnull"},
        {"left", "\"left\""},
        {"right", "\"right\""},
    };
    for (const Mapping& mapping : kFunctions) {
      if (name.IsWord(mapping.tsql)) {
        Append(mapping.sqlite, name);
        return;
      }
    }
    Append(name.text, name);
  }

  // The count of TOP at `top`: n, (n) or (@v). Sets `next` to the index after it.
  std::string ReadTopCount(size_t top, size_t& next) const {
    const Token& count = At(top + 1);
    next = top + 2;
    if (count.kind == TokenKind::kNumber) return count.text;
    // A variable's count is checked when the statement runs: a negative one is an error.
    if (count.kind == TokenKind::kVariable) return "sqlengine_top_count(" + count.value + ")";
    if (!count.IsSymbol("(")) throw SyntaxError(count, &tokens_[top]);
    size_t close = top + 2;
    while (close < tokens_.size() && !tokens_[close].IsSymbol(")")) ++close;
    if (close != top + 3) throw SyntaxError(At(top + 2));
    const Token& inner = At(top + 2);
    if (inner.kind != TokenKind::kNumber && inner.kind != TokenKind::kVariable) {
      throw SyntaxError(inner);
    }
    next = close + 1;
    if (inner.kind == TokenKind::kVariable) return "sqlengine_top_count(" + inner.text + ")";
    return inner.text;
  }

  // SELECT [ALL | DISTINCT] TOP n [PERCENT] ...: n becomes a LIMIT at the end
  // of that SELECT, which is the end of its parentheses or else `range_end`.
  size_t ReadTop(size_t i, int depth, size_t range_end) {
    size_t next = 0;
    std::string limit = ReadTopCount(i, next);
    if (At(next).IsWord("percent")) {
      if (At(next + 1).IsWord("with")) throw SyntaxError(At(next + 1));
      size_t select = tokens_[i - 1].IsAnyWord({"all", "distinct"}) ? i - 2 : i - 1;
      size_t query_end =
          select > 0 && tokens_[select - 1].IsSymbol("(") ? MatchingClose(select - 1) : range_end;
      limit = PercentLimit(select, i, next + 1, query_end, limit);
      ++next;
    } else if (At(next).IsWord("with")) {
      throw SyntaxError(At(next));
    }
    pending_limits_.emplace_back(depth, limit);
    return next;
  }

  // Whether a select list starts with TOP n PERCENT at `top`.
  bool TopPercentAt(size_t top) const {
    if (!At(top).IsWord("top")) return false;
    return At(top + (At(top + 1).IsSymbol("(") ? 4 : 2)).IsWord("percent");
  }

  // The row count of TOP n PERCENT: n percent of the rows of the query
  // [select, query_end) without its TOP [top, rest), rounded up. The query is
  // counted through a copy of it, since SQLite may drop the ORDER BY of a
  // query that is named and limited elsewhere.
  std::string PercentLimit(size_t select, size_t top, size_t rest, size_t query_end,
                           const std::string& percent) {
    if (percent_nesting_ >= kMaxPercentNesting) {
      SqlError error = MakeError(191);
      error.message().line = tokens_[top].line;
      throw error;
    }
    Rewriter copy(tokens_, resolver_, with_, visible_with_);
    copy.percent_nesting_ = percent_nesting_ + 1;
    copy.EmitRange(select, top);
    copy.EmitRange(rest, query_end);
    return "(SELECT CAST(p AS INTEGER) + (p > CAST(p AS INTEGER)) FROM (SELECT count(*) * (" +
           percent + ") / 100.0 AS p FROM (" + copy.out_.sql + ")))";
  }

  // Emits the LIMIT of a TOP read at `depth`, when one is waiting there above `floor`.
  void FlushLimit(int depth, const Token& origin, size_t floor) {
    if (pending_limits_.size() > floor && pending_limits_.back().first == depth) {
      Append("LIMIT " + pending_limits_.back().second, origin);
      pending_limits_.pop_back();
    }
  }

  // Emits [begin, end); a TOP read there gets its LIMIT there too.
  void EmitRange(size_t begin, size_t end) {
    size_t floor = pending_limits_.size();
    EmitTokens(begin, end, floor);
    FlushLimits(floor, At(end - 1));
  }

  void FlushLimits(size_t floor, const Token& origin) {
    while (pending_limits_.size() > floor) FlushLimit(pending_limits_.back().first, origin, floor);
  }

  // Emits [begin, end), leaving the LIMITs of TOPs at its outer level above
  // `floor` waiting.
  void EmitTokens(size_t begin, size_t end, size_t floor) {
    int depth = 0;
    size_t i = begin;
    while (i < end) {
      const Token& token = tokens_[i];
      switch (token.kind) {
        case TokenKind::kEnd:
          ++i;
          continue;
        case TokenKind::kWord:
        case TokenKind::kQuotedName:
          if (token.kind == TokenKind::kWord && At(i + 1).IsSymbol("(") &&
              At(i + 2).IsWord("max") && At(i + 3).IsSymbol(")")) {
            Append(QuoteSqliteName(ToLower(token.text) + "(max)"), token);
            i += 4;
            continue;
          }
          if (token.IsWord("top") && i > begin &&
              (tokens_[i - 1].IsWord("select") || tokens_[i - 1].IsAnyWord({"all", "distinct"}))) {
            i = ReadTop(i, depth, end);
            continue;
          }
          if (token.IsWord("scope_identity") && At(i + 1).IsSymbol("(") &&
              At(i + 2).IsSymbol(")")) {
            Append(std::string(kSystemVariablePrefix) + "scope_identity", token);
            i += 3;
            continue;
          }
          if (token.IsWord("cast") && At(i + 1).IsSymbol("(")) {
            i = EmitCastCall(i + 1);
            continue;
          }
          if (token.kind == TokenKind::kWord && IsReservedKeyword(token.text) &&
              !token.IsAnyWord({"left", "right", "current_timestamp", "convert"})) {
            Append(token.text, token);
            ++i;
            continue;
          }
          i = std::min(EmitChain(i), end);
          continue;
        case TokenKind::kString:
        case TokenKind::kNationalString:
          Append(QuoteSqliteString(token.value), token);
          break;
        case TokenKind::kBinary:
          Append(BinaryLiteral(i), token);
          break;
        case TokenKind::kSystemVariable:
          Append(std::string(kSystemVariablePrefix) + ToLower(token.text.substr(2)), token);
          break;
        case TokenKind::kSymbol:
          if (token.IsSymbol("(")) ++depth;
          if (token.IsSymbol(")")) {
            FlushLimit(depth, token, floor);
            --depth;
          }
          if (token.IsSymbol("!<")) {
            Append(">=", token);
          } else if (token.IsSymbol("!>")) {
            Append("<=", token);
          } else if (token.IsSymbol("+") &&
                     (StartsString(i + 1) || (i > begin && EndsString(i - 1)))) {
            // T-SQL concatenates with '+'; a string operand beside it settles the meaning.
            Append("||", token);
          } else if (token.IsSymbol("{") || token.IsSymbol("}")) {
            throw SyntaxError(token);
          } else {
            Append(token.text, token);
          }
          break;
        default:
          Append(token.text, token);
      }
      ++i;
    }
  }

  // SELECT list INTO table FROM ... becomes CREATE TABLE table AS SELECT list FROM ...
  bool SelectInto() {
    int depth = 0;
    for (size_t i = 1; i < tokens_.size(); ++i) {
      if (tokens_[i].IsSymbol("(")) ++depth;
      if (tokens_[i].IsSymbol(")")) --depth;
      if (depth != 0) continue;
      if (tokens_[i].IsAnyWord({"from", "where", "union"})) return false;
      if (!tokens_[i].IsWord("into")) continue;
      size_t top = At(1).IsAnyWord({"all", "distinct"}) ? 2 : 1;
      if (TopPercentAt(top)) throw SyntaxError(At(At(top + 1).IsSymbol("(") ? top + 4 : top + 2));
      NameChain target = ReadChain(i + 1);
      if (!At(i + 1).IsName()) throw SyntaxError(At(i + 1), &tokens_[i]);
      bool temporary =
          target.parts.back() != nullptr && target.parts.back()->value.starts_with("#");
      Append(temporary ? "CREATE TEMP TABLE" : "CREATE TABLE", tokens_[i]);
      EmitChain(i + 1, /*object_name=*/true);
      Append("AS", tokens_[i]);
      EmitWith();
      size_t floor = pending_limits_.size();
      EmitTokens(0, i, floor);
      EmitTokens(target.end, tokens_.size(), floor);
      FlushLimits(floor, tokens_.back());
      return true;
    }
    return false;
  }

  // The types the select-list items state themselves; empty for a list with '*'.
  std::vector<std::optional<ColumnType>> SelectListTypes(std::vector<std::string>& variables,
                                                         std::vector<std::string>& aliases) {
    std::vector<std::optional<ColumnType>> types;
    variables.clear();
    aliases.clear();
    size_t i = 1;
    if (At(i).IsAnyWord({"all", "distinct"})) ++i;
    if (At(i).IsWord("top")) {
      i += At(i + 1).IsSymbol("(") ? 4 : 2;
      if (At(i).IsWord("percent")) ++i;
    }
    size_t start = i;
    int depth = 0;
    for (size_t j = i; j <= tokens_.size(); ++j) {
      const Token& token = At(j);
      bool ends =
          j == tokens_.size() ||
          (depth == 0 && (token.IsSymbol(",") || token.IsAnyWord({"from", "into", "where", "group",
                                                                  "order", "having", "union"})));
      if (token.IsSymbol("(")) ++depth;
      if (token.IsSymbol(")")) --depth;
      if (!ends) continue;
      if (j == start) return {};
      for (size_t k = start; k < j; ++k) {
        if (tokens_[k].IsSymbol("*") && (k == start || tokens_[k - 1].IsSymbol("."))) return {};
      }
      types.push_back(ItemType(start, j));
      variables.push_back(LoneVariable(start, j));
      aliases.push_back(ItemAlias(start, j));
      if (!token.IsSymbol(",")) break;
      start = j + 1;
    }
    return types;
  }

  // The variable the item [begin, end) is, with or without an alias; empty
  // for any other item, and in a UNION, whose other values may not fit it.
  std::string LoneVariable(size_t begin, size_t end) const {
    if (CombinesQueries()) return {};
    if (end - begin == 3 && At(begin + 1).IsWord("as")) end = begin + 1;
    if (end - begin == 2 && At(end - 1).IsName()) end = begin + 1;
    return end - begin == 1 && At(begin).kind == TokenKind::kVariable ? At(begin).text
                                                                      : std::string();
  }

  // The name the item [begin, end) is given: "expr AS name", "expr name" or
  // "name = expr"; empty when it has none (t.c is not c given the name c).
  std::string ItemAlias(size_t begin, size_t end) const {
    if (end - begin >= 3 && At(begin).IsName() && At(begin + 1).IsSymbol("="))
      return At(begin).value;
    if (end - begin >= 2 && At(end - 1).IsName() && !At(end - 2).IsSymbol("."))
      return At(end - 1).value;
    return {};
  }

  // The type of the item [begin, end) when it is one call that states it.
  std::optional<ColumnType> ItemType(size_t begin, size_t end) {
    if (end - begin >= 2 && At(end - 2).IsWord("as"))
      end -= 2;
    else if (end - begin >= 2 && At(end - 1).IsName() &&
             (At(end - 2).IsSymbol(")") || At(end - 2).kind == TokenKind::kNumber))
      end -= 1;
    bool literal = end - begin == 1 ||
                   (end - begin == 2 && (At(begin).IsSymbol("-") || At(begin).IsSymbol("+")));
    // Another query's values in the same column may need more digits.
    if (literal) return CombinesQueries() ? std::nullopt : DecimalLiteralType(At(end - 1));
    if (end - begin < 3 || !At(begin + 1).IsSymbol("(") || !At(end - 1).IsSymbol(")"))
      return std::nullopt;
    try {
      if (MatchingClose(begin + 1) != end - 1) return std::nullopt;
    } catch (const SqlError&) {
      return std::nullopt;
    }
    const Token& function = At(begin);
    try {
      if (function.IsWord("cast")) {
        for (size_t k = end - 2; k > begin + 1; --k) {
          if (At(k).IsWord("as")) return TypeAt(k + 1, end - 1);
        }
        return std::nullopt;
      }
      if (function.IsAnyWord({"convert", "round"})) {
        size_t comma = begin + 2;
        int nested = 0;
        while (comma < end && !(nested == 0 && At(comma).IsSymbol(","))) {
          if (At(comma).IsSymbol("(")) ++nested;
          if (At(comma).IsSymbol(")")) --nested;
          ++comma;
        }
        if (function.IsWord("convert")) return TypeAt(begin + 2, comma);
        // ROUND keeps a decimal argument's type.
        std::optional<ColumnType> rounded = ItemType(begin + 2, comma);
        return rounded && rounded->type == SqlType::kDecimal ? rounded : std::nullopt;
      }
    } catch (const SqlError&) {
      return std::nullopt;
    }
    if (function.IsAnyWord({"getdate", "getutcdate", "dateadd"}))
      return ColumnType{SqlType::kDateTime};
    if (function.IsAnyWord(
            {"len", "charindex", "datediff", "datepart", "year", "month", "day", "count"})) {
      return ColumnType{SqlType::kInt};
    }
    return std::nullopt;
  }

  // Whether the statement joins the rows of several queries (UNION ...).
  bool CombinesQueries() const {
    return std::any_of(tokens_.begin(), tokens_.end(), [](const Token& token) {
      return token.IsAnyWord({"union", "except", "intersect"});
    });
  }

  // A literal with a decimal point and no exponent is numeric(digits, digits
  // after the point), as SQL Server types it: 1.50 is numeric(3,2).
  static std::optional<ColumnType> DecimalLiteralType(const Token& number) {
    const std::string& text = number.text;
    size_t point = text.find('.');
    if (number.kind != TokenKind::kNumber || point == std::string::npos ||
        text.find_first_of("eE") != std::string::npos) {
      return std::nullopt;
    }
    size_t first = text.find_first_not_of('0');
    int whole = static_cast<int>(point - std::min(first, point));
    int scale = static_cast<int>(text.size() - point - 1);
    if (whole + scale > 38) return std::nullopt;
    ColumnType type{SqlType::kDecimal};
    type.precision = std::max(whole + scale, 1);
    type.scale = scale;
    return type;
  }

  // Whether the operand starting at i / ending at i is text: a string literal
  // or a call of a function that returns text.
  bool StartsString(size_t i) const {
    const Token& token = At(i);
    return IsStringLiteral(token) || (IsStringFunction(token) && At(i + 1).IsSymbol("("));
  }

  bool EndsString(size_t i) const {
    if (IsStringLiteral(At(i))) return true;
    if (!At(i).IsSymbol(")")) return false;
    int depth = 0;
    for (size_t k = i + 1; k-- > 0;) {
      if (tokens_[k].IsSymbol(")")) ++depth;
      if (tokens_[k].IsSymbol("(") && --depth == 0)
        return k > 0 && IsStringFunction(tokens_[k - 1]);
    }
    return false;
  }

  static bool IsStringFunction(const Token& token) {
    return token.IsAnyWord({"upper",     "lower",     "ltrim",    "rtrim",   "left",
                            "right",     "substring", "replace",  "char",    "nchar",
                            "space",     "replicate", "str",      "db_name", "suser_sname",
                            "user_name", "newid",     "datename", "reverse", "stuff"});
  }

  // Index of the token closing the parenthesis opened at `open`.
  size_t MatchingClose(size_t open) const {
    int depth = 0;
    for (size_t i = open; i < tokens_.size(); ++i) {
      if (tokens_[i].IsSymbol("(")) ++depth;
      if (tokens_[i].IsSymbol(")") && --depth == 0) return i;
    }
    throw SyntaxError(At(tokens_.size()), &tokens_.back());
  }

  const Tokens& tokens_;
  NameResolver& resolver_;
  SqliteText out_;
  const std::vector<CommonTableExpression>& with_;
  size_t visible_with_;
  // TOP n PERCENT copies its query once for each enclosing TOP n PERCENT.
  static constexpr int kMaxPercentNesting = 8;
  int percent_nesting_ = 0;
  std::vector<std::pair<int, std::string>> pending_limits_;  // (paren depth, count)
};

}  // namespace

namespace {

SqliteText Rewritten(const Statement& statement, NameResolver& resolver) {
  // Table definitions keep SQLite's own operators so that their stored schema
  // needs none of the engine's functions.
  bool expressions =
      statement.kind == StatementKind::kSelect || statement.kind == StatementKind::kInsert ||
      statement.kind == StatementKind::kUpdate || statement.kind == StatementKind::kDelete ||
      (statement.kind == StatementKind::kCreateOther && statement.tokens.size() > 1 &&
       statement.tokens[1].IsWord("view"));
  if (!expressions) return Rewriter(statement.tokens, resolver).Statement(statement.kind);
  CheckJoinConditions(statement.tokens);
  Tokens tokens = DivisorsChecked(AdditionsAsCalls(statement.tokens));
  if (statement.kind == StatementKind::kCreateOther) {
    return Rewriter(tokens, resolver, statement.with).Statement(statement.kind);
  }
  QueryHints hints = TakeQueryHints(tokens);
  std::vector<CommonTableExpression> with =
      LimitRecursion(statement.with, hints.max_recursion.value_or(kDefaultMaxRecursion));
  return Rewriter(tokens, resolver, with).Statement(statement.kind);
}

}  // namespace

SqliteText RewriteStatement(const Statement& statement, NameResolver& resolver) {
  SqliteText text = Rewritten(statement, resolver);
  text.from_rewriter = true;
  return text;
}

SqliteText RewriteCondition(const Tokens& condition, NameResolver& resolver) {
  Tokens tokens = DivisorsChecked(AdditionsAsCalls(condition));
  SqliteText text = Rewriter(tokens, resolver).Condition();
  text.from_rewriter = true;
  return text;
}

TableReference TableOf(const Statement& statement) {
  const Tokens& tokens = statement.tokens;
  std::vector<std::string> parts;
  for (size_t i = 2; i < tokens.size(); ++i) {
    if (tokens[i].IsName()) {
      parts.push_back(tokens[i].value);
      if (i + 1 >= tokens.size() || !tokens[i + 1].IsSymbol(".")) break;
    } else if (tokens[i].IsSymbol(".")) {
      if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol(".")) parts.emplace_back();
    } else {
      break;
    }
  }
  TableReference table;
  if (!parts.empty()) table.name = parts.back();
  if (parts.size() >= 3) table.database = parts[parts.size() - 3];
  return table;
}

}  // namespace sqlengine::tsql
