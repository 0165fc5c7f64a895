#include "engine/tsql/syntax_error.h"

#include <algorithm>
#include <string>

namespace sqlengine::tsql {
namespace {

// SQL Server 2000's reserved keywords (sorted, lower case).
constexpr std::string_view kReserved[] = {
    "add",          "all",         "alter",       "and",          "any",
    "as",           "asc",         "authorization", "backup",     "begin",
    "between",      "break",       "browse",      "bulk",         "by",
    "cascade",      "case",        "check",       "checkpoint",   "close",
    "clustered",    "coalesce",    "collate",     "column",       "commit",
    "compute",      "constraint",  "contains",    "containstable", "continue",
    "convert",      "create",      "cross",       "current",      "current_date",
    "current_time", "current_timestamp", "current_user", "cursor", "database",
    "dbcc",         "deallocate",  "declare",     "default",      "delete",
    "deny",         "desc",        "disk",        "distinct",     "distributed",
    "double",       "drop",        "dummy",       "dump",         "else",
    "end",          "errlvl",      "escape",      "except",       "exec",
    "execute",      "exists",      "exit",        "fetch",        "file",
    "fillfactor",   "for",         "foreign",     "freetext",     "freetexttable",
    "from",         "full",        "function",    "goto",         "grant",
    "group",        "having",      "holdlock",    "identity",     "identity_insert",
    "identitycol",  "if",          "in",          "index",        "inner",
    "insert",       "intersect",   "into",        "is",           "join",
    "key",          "kill",        "left",        "like",         "lineno",
    "load",         "national",    "nocheck",     "nonclustered", "not",
    "null",         "nullif",      "of",          "off",          "offsets",
    "on",           "open",        "opendatasource", "openquery", "openrowset",
    "openxml",      "option",      "or",          "order",        "outer",
    "over",         "percent",     "plan",        "precision",    "primary",
    "print",        "proc",        "procedure",   "public",       "raiserror",
    "read",         "readtext",    "reconfigure", "references",   "replication",
    "restore",      "restrict",    "return",      "revoke",       "right",
    "rollback",     "rowcount",    "rowguidcol",  "rule",         "save",
    "schema",       "select",      "session_user", "set",         "setuser",
    "shutdown",     "some",        "statistics",  "system_user",  "table",
    "textsize",     "then",        "to",          "top",          "tran",
    "transaction",  "trigger",     "truncate",    "tsequal",      "union",
    "unique",       "update",      "updatetext",  "use",          "user",
    "values",       "varying",     "view",        "waitfor",      "when",
    "where",        "while",       "with",        "writetext",
};

}  // namespace

bool IsReservedKeyword(std::string_view word) {
  std::string lower = ToLower(word);
  return std::binary_search(std::begin(kReserved), std::end(kReserved), std::string_view(lower));
}

SqlError SyntaxError(const Token& at, const Token* previous) {
  const Token& named = at.kind == TokenKind::kEnd && previous != nullptr ? *previous : at;
  SqlError error = named.kind == TokenKind::kWord && IsReservedKeyword(named.text)
                       ? MakeError(156, {named.text})
                       : MakeError(170, {std::to_string(named.line), named.text});
  error.message().line = named.line;
  return error;
}

}  // namespace sqlengine::tsql
