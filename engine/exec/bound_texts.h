#pragma once
// The SQLite text the front end generated for a statement of a kept body (a
// stored procedure's, a parameterised text sent again and again), kept for
// the statement's next run so that it is not parsed, bound and generated
// anew on every call.
//
// A kept text is the one a fresh binding would give while everything that
// binding read is unchanged:
//  - the statement: found by its address in the body, and only while that
//    same parse of the body is alive (a body parsed again is another one);
//  - the catalog: the StatementCache::Context it was bound in (the security
//    rules, the connection's epoch, the schema version of every database
//    the connection reaches: another session's DDL counts, and the tables'
//    shapes are read from their schema text) must be the present one;
//  - where unqualified names lead: the current database and schema;
//  - what the binder asked of the session beside the catalog (each
//    variable's type, ANSI_NULLS, CONCAT_NULL_YIELDS_NULL): noted while it
//    binds, asked again before a kept text is used, and compared.
// A binding that read what can change without a schema change is not kept:
// a view's or function's body and its rights, a catalog view, a #temp table
// or a trigger's row images, a user-defined type, whether an object exists.
// Permissions stay checked where they were: the EXECUTE of the call by its
// caller on every call, and the statement's objects by the authorizer
// whenever SQLite compiles it (statement_cache.h keeps compiled statements
// under the same rules).
//
// Holds at most kKept texts; all go when one more would not fit. Owned by
// the session's connection, which forgets them with its kept statements.
// Used on the session's thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/common/types.h"
#include "engine/exec/statement_cache.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class BoundTexts {
 public:
  static constexpr std::size_t kKept = 256;

  // What one binding asked beside the catalog; filled by SessionCatalog
  // while it is the connection's Recording().
  struct Notes {
    bool keepable = true;
    std::vector<std::pair<std::string, std::optional<ColumnType>>> variables;  // lower case
    std::optional<bool> ansi_nulls;
    std::optional<bool> concat_null_yields_null;
  };

  // Where a binding happens: the statement and the body it belongs to.
  struct Place {
    std::shared_ptr<const tsql::StatementList> body;
    const tsql::Statement* statement = nullptr;
  };

  // The present answers to what a binding asked.
  struct Present {
    const StatementCache::Context* context = nullptr;
    const std::string* database = nullptr;
    const std::string* schema = nullptr;
    std::function<std::optional<ColumnType>(const std::string&)> variable_type;
    bool ansi_nulls = true;
    bool concat_null_yields_null = true;
  };

  // Keeps `text`, bound at `place` in `context`, the unqualified names
  // leading to `database` / `schema`, after asking `notes`. Not kept when
  // the notes say so.
  void Keep(const Place& place, const StatementCache::Context& context, std::string database,
            std::string schema, Notes notes, const tsql::SqliteText& text);
  // The text kept for `place` when everything its binding read answers as
  // `present` does; nullopt otherwise.
  std::optional<tsql::SqliteText> Find(const Place& place, const Present& present) const;
  void Clear() {
    kept_.clear();
    shapes_.clear();
    seen_shapes_.clear();
  }
  std::size_t Size() const { return kept_.size() + shapes_.size(); }

  // Statements of a batch, kept by their shape: a long batch of lines that
  // differ only in the values of some integer or character string literals
  // (UPDATE t SET v = v + 1 WHERE k = 17, ... WHERE k = 18) binds once. A
  // statement's shape is its kind and its tokens as written, each such
  // literal standing for its type alone (int and numeric(p,0) by the
  // digits, varchar(n) and nvarchar(n) by the characters), and the line
  // breaks between them. A binding is kept for a shape only where the
  // generator wrote each literal the shape leaves out as a parameter whose
  // place reads nothing but its type (SqliteText::literal_origins); every
  // other literal must be as written then. Besides, the same conditions as
  // Find's hold.
  //
  // The key of `statement`'s shape; empty for a statement not kept so.
  static std::string ShapeKey(const tsql::Statement& statement);
  // Whether a statement of this shape was seen before (noting it now): a
  // binding is kept from the second one on, so a batch of lines none of
  // which comes back costs no more than before.
  bool ShapeSeenBefore(const std::string& key);
  void KeepShape(const std::string& key, const tsql::Statement& statement,
                 const StatementCache::Context& context, std::string database, std::string schema,
                 Notes notes, const tsql::SqliteText& text);
  // The text `statement` binds to: the kept shape's, with the statement's
  // own literal values and lines; nullopt when none is kept for it or the
  // present answers differ.
  std::optional<tsql::SqliteText> FindShape(const std::string& key,
                                            const tsql::Statement& statement,
                                            const Present& present) const;
  // Whether a statement of this shape, with these literals, bound before:
  // its text parses (what the parse reads is all in the shape).
  bool ShapeParses(const std::string& key, const tsql::Statement& statement) const;

 private:
  struct Kept {
    std::weak_ptr<const tsql::StatementList> body;
    StatementCache::Context context;
    std::string database;
    std::string schema;
    Notes notes;
    tsql::SqliteText text;
  };
  struct Shape {
    Kept kept;
    int line = 0;  // the kept statement's first line
    // Beside text.literals: the token whose value each takes, or npos to
    // keep the kept one.
    std::vector<std::size_t> from_token;
    // Literal tokens left in the key by their type that must be as written.
    std::vector<std::pair<std::size_t, std::string>> written;
  };
  static bool Answers(const Kept& kept, const Present& present);
  const Shape* FindShape(const std::string& key, const tsql::Statement& statement) const;
  std::unordered_map<const tsql::Statement*, Kept> kept_;
  std::unordered_map<std::string, Shape> shapes_;
  std::unordered_set<std::size_t> seen_shapes_;
};

// The same type in every respect the binder may read.
bool SameColumnType(const ColumnType& a, const ColumnType& b);

}  // namespace sqlengine::exec
