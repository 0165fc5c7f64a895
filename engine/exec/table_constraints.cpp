#include "engine/exec/table_constraints.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/index_names.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kDisabledOpen = "/*sqlengine_disabled ";
constexpr std::string_view kDisabledClose = "*/";

// Generated ids lie below the ids sqlengine_objects hands out (from 2009058209 up).
constexpr std::uint32_t kFirstConstraintId = 0x10000000;
constexpr std::uint32_t kConstraintIdRange = 0x60000000;

}  // namespace

std::int64_t UnnamedConstraintId(std::string_view key) {
  std::uint32_t hash = 2166136261u;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return kFirstConstraintId + hash % kConstraintIdRange;
}

namespace {

// The id a constraint named `name` has: the hex id a generated name ends in,
// so that a name kept through NOCHECK / CHECK keeps its id too.
std::int64_t NamedConstraintId(const std::string& table, const std::string& name) {
  size_t tail = name.rfind("__");
  if (tail != std::string::npos && name.size() - tail == 10) {
    unsigned int id = 0;
    char rest = 0;
    if (std::sscanf(name.c_str() + tail + 2, "%8X%c", &id, &rest) == 1 &&
        id >= kFirstConstraintId && id < kFirstConstraintId + kConstraintIdRange) {
      return id;
    }
  }
  return UnnamedConstraintId(tsql::ToLower(table) + "\x1f" + tsql::ToLower(name));
}

// SQLite keeps a definition as the engine wrote it, "( a > 0 )"; SQL Server
// shows "(a > 0)".
std::string Tidy(std::string_view text) {
  std::string tidy;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == ' ' &&
        ((!tidy.empty() && tidy.back() == '(') || (i + 1 < text.size() && text[i + 1] == ')'))) {
      continue;
    }
    tidy.push_back(c);
  }
  return tidy;
}

std::size_t MatchingClose(const tsql::Tokens& tokens, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")") && --depth == 0) return i;
  }
  return tokens.size() - 1;
}

// A text's tokens one space apart, as the token rewriter writes them: an
// unnamed constraint's id is made from that form, whichever path stored it.
std::string SpacedTokens(std::string_view text) {
  tsql::Tokens tokens = tsql::Lex(text);
  std::string spaced;
  for (const tsql::Token& token : tokens) {
    if (token.kind == tsql::TokenKind::kEnd) break;
    if (!spaced.empty()) spaced.push_back(' ');
    spaced += token.text;
  }
  return spaced;
}

// Whether `text` is one parenthesised group.
bool Parenthesised(std::string_view text) {
  tsql::Tokens tokens = tsql::Lex(text);
  if (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  return !tokens.empty() && tokens.front().IsSymbol("(") &&
         MatchingClose(tokens, 0) == tokens.size() - 1;
}

// A DEFAULT as the catalog shows it: in parentheses.
std::string DefaultShown(const std::string& written) {
  return Parenthesised(written) ? written : "(" + written + ")";
}

// The rewriter wrote DEFAULT f(...) as DEFAULT ( f ( ... ) ).
std::string DefaultKey(const std::string& written) {
  tsql::Tokens tokens = tsql::Lex(written);
  bool call =
      tokens.size() > 2 && tokens[0].kind == tsql::TokenKind::kWord && tokens[1].IsSymbol("(");
  return call ? "( " + SpacedTokens(written) + " )" : SpacedTokens(written);
}

bool StartsConstraint(const tsql::Token& token) {
  return token.IsAnyWord({"constraint", "primary", "unique", "check", "default", "references",
                          "foreign", "not", "null", "collate", "generated", "as"});
}

// Reads the constraints of one element: a column definition or a table
// constraint, lexed from the definition text at `base`.
class ElementReader {
 public:
  // `full`: the whole definition the element stands in at `base`.
  // `named_as`: the name the catalog gives the table, which unnamed
  // constraints' names and all ids derive from (a #temp table's tempdb name).
  ElementReader(const std::string& table, const std::string& named_as, const std::string& text,
                std::string_view full, std::size_t base, std::vector<TableConstraint>& out)
      : table_(table),
        named_as_(named_as),
        text_(text),
        full_(full),
        base_(base),
        out_(out),
        tokens_(tsql::Lex(text)) {
    tokens_.pop_back();  // the end marker
  }

  void Read() {
    if (tokens_.empty()) return;
    std::size_t i = 0;
    if (!tokens_[0].IsAnyWord({"constraint", "primary", "unique", "check", "foreign"})) {
      column_ = tokens_[0].value;
      i = 2;
      if (i < tokens_.size() && tokens_[i].IsSymbol("(")) i = MatchingClose(tokens_, i) + 1;
    }
    while (i < tokens_.size()) i = ReadConstraint(i);
  }

 private:
  const tsql::Token& At(std::size_t i) const {
    static const tsql::Token kEnd;
    return i < tokens_.size() ? tokens_[i] : kEnd;
  }

  // The index past the body that begins at `i`: up to the next constraint's
  // first word outside parentheses.
  std::size_t BodyEnd(std::size_t i) const {
    ++i;
    while (i < tokens_.size() && !StartsConstraint(tokens_[i])) {
      i = tokens_[i].IsSymbol("(") ? MatchingClose(tokens_, i) + 1 : i + 1;
    }
    return i;
  }

  std::size_t End(std::size_t i) const {
    return i == 0 ? 0 : tokens_[i - 1].offset + tokens_[i - 1].text.size();
  }

  std::vector<std::string> Names(std::size_t open, std::size_t close) const {
    std::vector<std::string> names;
    for (std::size_t k = open + 1; k < close; ++k) {
      if (tokens_[k].IsName() && !tokens_[k].IsAnyWord({"asc", "desc"}))
        names.push_back(tokens_[k].value);
    }
    return names;
  }

  std::string Action(std::size_t from, std::size_t to, std::string_view event) const {
    for (std::size_t k = from; k + 2 < to; ++k) {
      if (tokens_[k].IsWord("on") && tokens_[k + 1].IsWord(event)) {
        if (tokens_[k + 2].IsWord("cascade")) return "CASCADE";
        if (tokens_[k + 2].IsWord("set")) {
          return tokens_[k + 3].IsWord("null") ? "SET NULL" : "SET DEFAULT";
        }
      }
    }
    return "NO ACTION";
  }

  // The constraint starting at `i` (its CONSTRAINT word or its body);
  // returns the index past it.
  std::size_t ReadConstraint(std::size_t i) {
    std::size_t start = i;
    std::string key_text;         // of an expression kept with its written text
    std::size_t written_end = 0;  // past that text's comment
    TableConstraint c;
    c.table = table_;
    if (At(i).IsWord("constraint")) {
      c.name = At(i + 1).value;
      i += 2;
    }
    std::size_t body = i;
    std::size_t end = BodyEnd(body);
    const tsql::Token& kind = At(body);
    if (kind.IsWord("not") || kind.IsWord("null") || kind.IsWord("collate") ||
        kind.IsWord("generated") || kind.IsWord("as")) {
      return end;
    }
    if (kind.IsWord("primary") || kind.IsWord("unique")) {
      if (kind.IsWord("primary") && !column_.empty()) {
        // An IDENTITY column is SQLite's INTEGER PRIMARY KEY AUTOINCREMENT.
        for (std::size_t k = body; k < end; ++k) {
          if (tokens_[k].IsWord("autoincrement")) return end;
        }
      }
      c.xtype = kind.IsWord("primary") ? "PK" : "UQ";
      // A PRIMARY KEY kept as UNIQUE in a table whose identity column is the
      // rowid is marked with SQLite's default conflict clause.
      for (std::size_t k = body; k + 2 < end; ++k) {
        if (tokens_[k].IsWord("on") && tokens_[k + 1].IsWord("conflict") &&
            tokens_[k + 2].IsWord("abort")) {
          c.xtype = "PK";
        }
      }
      std::size_t open = body + (kind.IsWord("primary") ? 2 : 1);
      // A clustering marker follows the key's words, which may end the element.
      std::size_t after = full_.find_first_not_of(' ', base_ + End(open));
      std::string_view rest = after == std::string_view::npos ? "" : full_.substr(after);
      bool marked_clustered = rest.starts_with(kClusteredMarker);
      bool marked_nonclustered = rest.starts_with(kNonclusteredMarker);
      c.clustered = marked_clustered || (c.xtype == "PK" && !marked_nonclustered);
      if (marked_clustered || marked_nonclustered) {
        written_end = after - base_ +
                      (marked_clustered ? kClusteredMarker : kNonclusteredMarker).size();
      }
      if (At(open).IsSymbol("(")) {
        c.columns = Names(open, MatchingClose(tokens_, open));
      } else {
        c.columns.push_back(column_);
      }
    } else if (kind.IsWord("check")) {
      c.xtype = "C";
      std::size_t close = MatchingClose(tokens_, body + 1);
      c.text = Tidy(text_.substr(At(body + 1).offset, End(close + 1) - At(body + 1).offset));
      if (std::optional<WrittenExpression> written = ReadWrittenExpression(text_, End(close + 1))) {
        c.text = written->text;
        key_text = "CHECK " + SpacedTokens(written->text);
        written_end = written->end;
      }
      if (!column_.empty()) c.columns.push_back(column_);
    } else if (kind.IsWord("default")) {
      c.xtype = "D";
      end = std::max(end, std::min(body + 2, tokens_.size()));  // DEFAULT NULL
      c.text = Tidy(text_.substr(At(body + 1).offset, End(end) - At(body + 1).offset));
      if (!c.text.starts_with("(")) c.text = "(" + c.text + ")";
      if (std::optional<WrittenExpression> written = ReadWrittenExpression(text_, End(end))) {
        c.text = DefaultShown(written->text);
        key_text = "DEFAULT " + DefaultKey(written->text);
        written_end = written->end;
      }
      c.columns.push_back(column_);
    } else if (kind.IsWord("references") || kind.IsWord("foreign")) {
      c.xtype = "F";
      std::size_t references = body;
      if (kind.IsWord("foreign")) {
        std::size_t open = body + 2;
        std::size_t close = MatchingClose(tokens_, open);
        c.columns = Names(open, close);
        references = close + 1;
        end = references < tokens_.size() ? BodyEnd(references) : references;
      } else {
        c.columns.push_back(column_);
      }
      c.referenced_table = At(references + 1).value;
      if (At(references + 2).IsSymbol("(")) {
        c.referenced_columns = Names(references + 2, MatchingClose(tokens_, references + 2));
      }
      c.on_delete = Action(references, end, "delete");
      c.on_update = Action(references, end, "update");
    } else {
      return end;
    }
    c.column = column_;
    c.begin = base_ + At(start).offset;
    c.end = base_ + std::max(End(end), written_end);
    c.marked_begin = c.begin;
    if ((c.xtype == "C" || c.xtype == "F") && c.begin > 0) {
      std::size_t last = full_.find_last_not_of(' ', c.begin - 1);
      if (last != std::string_view::npos && last + 1 >= kNotTrustedMarker.size() &&
          full_.substr(last + 1 - kNotTrustedMarker.size(), kNotTrustedMarker.size()) ==
              kNotTrustedMarker) {
        c.not_trusted = true;
        c.marked_begin = last + 1 - kNotTrustedMarker.size();
      }
    }
    if (key_text.empty()) key_text = text_.substr(At(body).offset, End(end) - At(body).offset);
    if (c.name.empty()) {
      c.system_named = true;
      std::string key = tsql::ToLower(named_as_) + "\x1f" + c.xtype + "\x1f" +
                        tsql::ToLower(column_) + "\x1f" + key_text;
      c.id = UnnamedConstraintId(key);
      // A foreign key is named after its first column, also at table level.
      std::string named_column = c.xtype == "F" && !c.columns.empty() ? c.columns.front() : column_;
      c.name = GeneratedConstraintName(c.xtype, named_as_, named_column, c.id);
    } else {
      c.id = NamedConstraintId(named_as_, c.name);
    }
    out_.push_back(std::move(c));
    return end;
  }

  const std::string& table_;
  const std::string& named_as_;
  const std::string& text_;
  std::string_view full_;
  std::size_t base_;
  std::vector<TableConstraint>& out_;
  tsql::Tokens tokens_;
  std::string column_;
};

// The disabled constraints a definition keeps in comments.
void ReadDisabled(const TableDefinition& definition, const std::string& named_as,
                  std::vector<TableConstraint>& out) {
  std::size_t at = 0;
  while ((at = definition.sql.find(kDisabledOpen, at)) != std::string::npos) {
    std::size_t close = definition.sql.find(kDisabledClose, at);
    if (close == std::string::npos) return;
    std::size_t end = close + kDisabledClose.size();
    DisabledClause disabled =
        ReadDisabledConstraintComment(std::string_view(definition.sql).substr(at, end - at));
    std::string element = disabled.column.empty()
                              ? disabled.clause
                              : tsql::QuoteSqliteName(disabled.column) + " int " + disabled.clause;
    std::size_t first = out.size();
    ElementReader(definition.table, named_as, element, element, 0, out).Read();
    for (std::size_t k = first; k < out.size(); ++k) {
      out[k].disabled = true;
      out[k].not_trusted = true;
      out[k].begin = at;
      out[k].end = end;
      out[k].marked_begin = at;
    }
    at = end;
  }
}

// The keys ALTER TABLE ADD PRIMARY KEY / UNIQUE made as unique indexes.
void ReadKeyIndexes(sqlite3* db, const std::string& schema, const std::string& table,
                    std::vector<TableConstraint>& out) {
  std::string on = tsql::QuoteSqliteString(schema);
  auto indexes = catalog::Prepare(
      db, "SELECT name, sql FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master WHERE type = 'index' AND tbl_name = ?1 AND sql IS NOT NULL "
              "ORDER BY rowid");
  sqlite3_bind_text(indexes.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    std::string sql = catalog::ColumnText(indexes.get(), 1);
    bool primary = sql.ends_with(kPrimaryKeyMarker);
    if (!primary && !sql.ends_with(kUniqueKeyMarker)) continue;
    TableConstraint c;
    c.table = table;
    c.name = catalog::ColumnText(indexes.get(), 0);
    c.id = NamedConstraintId(table, c.name);
    c.xtype = primary ? "PK" : "UQ";
    c.from_index = true;
    auto columns =
        catalog::Prepare(db, "SELECT name FROM pragma_index_info(?1, " + on + ") ORDER BY seqno");
    sqlite3_bind_text(columns.get(), 1, c.name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      c.columns.push_back(catalog::ColumnText(columns.get(), 0));
    }
    c.clustered = sql.find(kClusteredMarker) != std::string::npos ||
                  (primary && sql.find(kNonclusteredMarker) == std::string::npos);
    out.push_back(std::move(c));
  }
}

// The stored name of the table's index a CREATE CLUSTERED INDEX (or a key
// ALTER TABLE added CLUSTERED) made; empty when there is none.
std::string MarkedClusteredIndex(sqlite3* db, const std::string& schema, const std::string& table) {
  auto indexes = catalog::Prepare(
      db, "SELECT name FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE "
              "AND instr(sql, ?2) > 0");
  sqlite3_bind_text(indexes.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 2, kClusteredMarker.data(),
                    static_cast<int>(kClusteredMarker.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(indexes.get()) != SQLITE_ROW) return {};
  return catalog::ColumnText(indexes.get(), 0);
}

}  // namespace

std::string GeneratedConstraintName(std::string_view xtype, const std::string& table,
                                    const std::string& column, std::int64_t id) {
  std::string prefix = xtype == "F"   ? "FK"
                       : xtype == "C" ? "CK"
                       : xtype == "D" ? "DF"
                                      : std::string(xtype);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned int>(id));
  std::string name = prefix + "__" + table.substr(0, 9) + "__";
  bool with_column = !column.empty() && xtype != "PK" && xtype != "UQ";
  if (with_column) name += column.substr(0, 5) + "__";
  return name + hex;
}

std::string DisabledConstraintComment(const std::string& column, const std::string& clause) {
  std::string kept = clause;
  // The clause may hold "*/" only inside a string; keep it from ending the comment.
  for (std::size_t at = 0; (at = kept.find("*/", at)) != std::string::npos; at += 3) {
    kept.replace(at, 2, "*\\/");
  }
  // Nor may a comment of its own (its written text) open one that T-SQL's
  // lexer, which nests comments, would look for the end of.
  for (std::size_t at = 0; (at = kept.find("/*", at)) != std::string::npos; at += 3) {
    kept.replace(at, 2, "/\\*");
  }
  // A clause that ends in an escaped "*\/" must not make "/*" of the close.
  if (kept.ends_with("/")) kept += " ";
  return std::string(kDisabledOpen) + tsql::QuoteSqliteName(column.empty() ? "" : column) + " " +
         kept + std::string(kDisabledClose);
}

DisabledClause ReadDisabledConstraintComment(std::string_view comment) {
  comment.remove_prefix(kDisabledOpen.size());
  comment.remove_suffix(kDisabledClose.size());
  tsql::Tokens tokens = tsql::Lex(comment);
  DisabledClause disabled;
  if (tokens.size() < 2) return disabled;
  disabled.column = tokens[0].value;
  std::string clause(comment.substr(tokens[1].offset));
  for (std::size_t at = 0; (at = clause.find("*\\/", at)) != std::string::npos; at += 2) {
    clause.replace(at, 3, "*/");
  }
  for (std::size_t at = 0; (at = clause.find("/\\*", at)) != std::string::npos; at += 2) {
    clause.replace(at, 3, "/*");
  }
  disabled.clause = clause;
  return disabled;
}

std::string RewriteDisabledClauses(
    const std::string& sql,
    const std::function<std::string(const std::string& column, const std::string& clause)>& rewrite) {
  std::string out;
  std::size_t at = 0, copied = 0;
  while ((at = sql.find(kDisabledOpen, at)) != std::string::npos) {
    std::size_t close = sql.find(kDisabledClose, at);
    if (close == std::string::npos) break;
    std::size_t end = close + kDisabledClose.size();
    DisabledClause disabled = ReadDisabledConstraintComment(std::string_view(sql).substr(at, end - at));
    out += sql.substr(copied, at - copied);
    out += DisabledConstraintComment(disabled.column, rewrite(disabled.column, disabled.clause));
    copied = at = end;
  }
  return out + sql.substr(copied);
}

std::vector<TableConstraint> ReadTableConstraints(sqlite3* db, const std::string& schema,
                                                  const std::string& table) {
  std::vector<std::string> tables;
  if (!table.empty()) {
    tables.push_back(table);
  } else {
    auto names = catalog::Prepare(db, "SELECT name FROM " + tsql::QuoteSqliteName(schema) +
                                          ".sqlite_master WHERE type = 'table' "
                                          "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                          "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' "
                                          "ORDER BY rowid");
    while (sqlite3_step(names.get()) == SQLITE_ROW) {
      tables.push_back(catalog::ColumnText(names.get(), 0));
    }
  }
  std::vector<TableConstraint> constraints;
  for (const std::string& name : tables) {
    std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, name);
    if (!definition) continue;
    std::size_t first = constraints.size();
    std::string named_as = ConstraintTableName(db, schema, definition->table);
    for (const TableDefinition::Element& element : definition->elements) {
      ElementReader(definition->table, named_as,
                    definition->sql.substr(element.begin, element.end - element.begin),
                    definition->sql, element.begin, constraints)
          .Read();
    }
    ReadDisabled(*definition, named_as, constraints);
    ReadKeyIndexes(db, schema, definition->table, constraints);
    // A PRIMARY KEY left unmarked yields the clustered index to the one declared so.
    bool other_clustered = !MarkedClusteredIndex(db, schema, definition->table).empty();
    for (std::size_t k = first; k < constraints.size(); ++k)
      other_clustered |= constraints[k].xtype == "UQ" && constraints[k].clustered;
    if (other_clustered) {
      for (std::size_t k = first; k < constraints.size(); ++k) {
        if (constraints[k].xtype == "PK") constraints[k].clustered = false;
      }
    }
  }
  return constraints;
}

std::string ClusteredIndexName(sqlite3* db, const std::string& schema, const std::string& table) {
  for (const TableConstraint& c : ReadTableConstraints(db, schema, table)) {
    if ((c.xtype == "PK" || c.xtype == "UQ") && c.clustered) return c.name;
  }
  std::string stored = MarkedClusteredIndex(db, schema, table);
  return stored.empty() ? stored : ShownIndexName(stored, table);
}

}  // namespace sqlengine::exec
