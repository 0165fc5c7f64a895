#pragma once
// The SQLite authorizer of a session's connection. While a statement a user
// sent is being compiled (UserScope), every table SQLite would read or write
// and every schema change passes through it:
//  - the engine's own tables (names starting sqlengine_ or sqlite_) are
//    refused, save reads the catalog views of this batch expanded to and the
//    writes of the engine's own triggers; a password column never;
//  - every other object goes to an AccessPolicy, once per object and action:
//    what the statement names itself as the caller's; what it reaches under
//    a view or an inlined function (as the front end bound it, ObjectReach)
//    by the ownership chain: free where that object has the view's or the
//    function's owner, else the caller's again.
// Outside a UserScope (the engine's own SQL) everything is allowed.
// Used on the session's thread only.

#include <sqlite3.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/object_reach.h"

namespace sqlengine::exec {

// What a statement does to an object, as permissions name it.
enum class Access {
  kSelect,
  kInsert,
  kUpdate,
  kDelete,
  kReferences,
  kExecute,
  kCreateTable,
  kCreateView,
  kCreateProcedure,
  kCreateFunction,
  kCreateDatabase,  // checked in master
  kBackupDatabase,
  kBackupLog,
  kCreateRule,
  kCreateDefault,
  kAlter,  // ALTER TABLE, CREATE/DROP INDEX and TRIGGER on a table
  kDrop,   // DROP TABLE / VIEW / PROCEDURE
};

// Whether the session may do `access` to `object` (empty for CREATE
// statements) of the database reached under SQLite schema `schema`.
// `inside_view`: the view whose query reads the object; a read through a
// view is the view's read. Returns the error to raise, nullopt when allowed.
// Must not run SQL on the connection being authorised.
class AccessPolicy {
 public:
  virtual ~AccessPolicy() = default;
  // `column`: the column a SELECT or UPDATE touches; empty for the whole object.
  virtual std::optional<SqlError> Check(std::string_view schema, std::string_view object,
                                        Access access, std::string_view column) = 0;
  // Whether `name` is a view of that schema (reads inside a view are the
  // view's own; reads inside a trigger follow the trigger's table).
  virtual bool IsView(std::string_view schema, std::string_view name) = 0;
  // The uid of the owner of `name` of that schema; nullopt when unknown.
  // Two objects of one schema and one owner form an ownership chain.
  virtual std::optional<int> OwnerOf(std::string_view schema, std::string_view name) = 0;
  // The user functions that table `table`'s constraints call in a write:
  // an INSERT's CHECK and DEFAULT constraints, an UPDATE's CHECKs.
  virtual std::vector<std::string> FunctionsCalledByWrite(std::string_view schema,
                                                          std::string_view table,
                                                          bool update) = 0;
  // An empty name in these lists stands for a call of a built-in that reads
  // the catalog (OBJECT_ID('t')), which needs no right.
  // Whether a name without a database written in a stored definition of
  // that schema (a constraint's call of a user function) is looked up there
  // when it runs: where the statement's own names without a database
  // resolve.
  virtual bool ResolvesUnqualified(std::string_view schema) = 0;
  // The user functions computed column `column` of table `table` calls at
  // each read of it.
  virtual std::vector<std::string> FunctionsCalledByRead(std::string_view /*schema*/,
                                                         std::string_view /*table*/,
                                                         std::string_view /*column*/) {
    return {};
  }
  // Whether a FOREIGN KEY of table `child` of that schema refers to `parent`.
  virtual bool RefersTo(std::string_view /*schema*/, std::string_view /*child*/,
                        std::string_view /*parent*/) {
    return false;
  }
  // Whether a view named `view` of a schema where names without a database
  // do not resolve calls a user function by its name alone.
  virtual bool ViewCallsElsewhere(std::string_view view) = 0;
  // Called before user SQL compiles, outside the authorizer: may run SQL to
  // bring what Check, IsView and OwnerOf read up to date.
  virtual void Refresh() = 0;
};

// True for the names of the engine's and SQLite's own tables and triggers.
bool IsInternalName(std::string_view name);

class StatementAuthorizer {
 public:
  void Install(sqlite3* db);
  void SetPolicy(AccessPolicy* policy) { policy_ = policy; }
  // Starts the compilation of a user statement: forgets the last one's
  // decisions and brings the policy up to date (runs SQL).
  void BeginCompilation();

  // Marks user SQL compiling or running for its lifetime. Nested scopes are fine.
  class UserScope {
   public:
    explicit UserScope(StatementAuthorizer& authorizer);
    ~UserScope();
    UserScope(const UserScope&) = delete;
    UserScope& operator=(const UserScope&) = delete;

   private:
    StatementAuthorizer& authorizer_;
    bool was_user_;
  };

  // Engine SQL run while user SQL compiles or runs (a catalog procedure the
  // statement calls) suspends the user's rules for its lifetime.
  class EngineScope {
   public:
    explicit EngineScope(StatementAuthorizer& authorizer);
    ~EngineScope();
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;

   private:
    StatementAuthorizer& authorizer_;
    bool was_user_;
  };

  // A catalog view of this batch reads `table` of `schema`: user statements
  // may read it there (its password columns still not).
  void Expose(std::string_view schema, std::string_view table);
  // Forgets the exposures (between batches).
  void ForgetExposures() { exposed_.clear(); }
  bool ExposesAny() const { return !exposed_.empty(); }

  // The objects the statement compiling or running reaches as the front end
  // bound it, for the lifetime of the scope (nested scopes restore the outer
  // one's). Without one, or for an object it does not list, every object is
  // checked as the caller's.
  // The tables the compilation writes start afresh with the scope too.
  class ReachScope {
   public:
    ReachScope(StatementAuthorizer& authorizer, const std::vector<tsql::ObjectReach>* reaches)
        : authorizer_(authorizer),
          saved_(authorizer.reaches_),
          saved_written_(std::move(authorizer.written_)) {
      authorizer_.reaches_ = reaches;
      authorizer_.written_.clear();
    }
    ~ReachScope() {
      authorizer_.reaches_ = saved_;
      authorizer_.written_ = std::move(saved_written_);
    }
    ReachScope(const ReachScope&) = delete;
    ReachScope& operator=(const ReachScope&) = delete;

   private:
    StatementAuthorizer& authorizer_;
    const std::vector<tsql::ObjectReach>* saved_;
    std::set<std::pair<std::string, std::string>> saved_written_;
  };

  // The error that made the last compilation fail with SQLITE_AUTH, once.
  std::optional<SqlError> TakeDenial();

  // After a compilation of `sql` that succeeded: the SQLite schema whose
  // tables' stored CHECK, DEFAULT and computed-column calls (written without
  // a database) the statement runs, when that is not where its own names
  // without a database resolve; empty otherwise. Such calls must then be
  // looked up in that schema while the statement runs (StoredCallsIn).
  // nullopt, with the denial set (8180), when the statement runs stored calls
  // of two databases, or of another one besides calls of its own that name
  // no database: one statement has one place such names resolve.
  std::optional<std::string> SettleStoredCalls(std::string_view sql);

  // While a statement runs: the schema SettleStoredCalls gave it, for the
  // engine's functions that its stored calls reach. Nested scopes restore
  // the outer one's.
  class StoredCallsIn {
   public:
    StoredCallsIn(StatementAuthorizer& authorizer, std::string schema)
        : authorizer_(authorizer), saved_(std::move(authorizer.stored_calls_in_)) {
      authorizer_.stored_calls_in_ = std::move(schema);
    }
    ~StoredCallsIn() { authorizer_.stored_calls_in_ = std::move(saved_); }
    StoredCallsIn(const StoredCallsIn&) = delete;
    StoredCallsIn& operator=(const StoredCallsIn&) = delete;

   private:
    StatementAuthorizer& authorizer_;
    std::string saved_;
  };
  // The running statement's schema for stored calls; empty: where names
  // without a database resolve.
  const std::string& StoredCallsSchema() const { return stored_calls_in_; }


 private:
  static int Callback(void* self, int action, const char* a3, const char* a4, const char* schema,
                      const char* inner);
  int Decide(int action, std::string_view a3, std::string_view a4, std::string_view schema,
             std::string_view inner);
  int DecideAction(int action, std::string_view a3, std::string_view a4, std::string_view schema,
                   std::string_view inner);
  int Deny(SqlError error);
  int Ask(std::string_view schema, std::string_view object, Access access,
          std::string_view column = {});
  // Whether the caller may do `access` to `object` (to `column` of it) as
  // the statement reaches it: named by the statement, checked as his; under
  // a view or function, that one reached first and then the ownership chain.
  // `schema` empty: every object of that name the statement reaches.
  // EXECUTE on the user functions the constraints of written `table` call.
  int AskConstraintCalls(std::string_view schema, std::string_view table, bool update);
  // EXECUTE on the user functions computed column `column` of `table` calls.
  int AskComputedCalls(std::string_view schema, std::string_view table, std::string_view column);
  // Both of those: EXECUTE on `functions`, called by a stored definition of
  // `table`, and notes that the statement runs stored calls of `schema`.
  int AskStoredCalls(std::string_view schema, std::string_view table,
                     const std::vector<std::string>& functions);
  int Reach(std::string_view schema, std::string_view object, Access access,
            std::string_view column, int depth = 0);
  // Whether SQLite reads `table` of `schema` to enforce a FOREIGN KEY between
  // it and a table the statement writes, which the statement does not name.
  bool ReadForKeyCheck(std::string_view schema, std::string_view table) const;
  // Whether the front end's record of the statement lists `object` of `schema`.
  bool Listed(std::string_view schema, std::string_view object) const;
  // Whether an ownership chain runs from `outer` to `inner`, both of `schema`.
  bool SameOwner(std::string_view schema, std::string_view outer, std::string_view inner);
  bool Exposed(std::string_view schema, std::string_view table) const;

  bool user_ = false;
  AccessPolicy* policy_ = nullptr;
  const std::vector<tsql::ObjectReach>* reaches_ = nullptr;
  std::set<std::pair<std::string, std::string>> exposed_;  // lower case
  // (schema, table) this compilation inserts into, updates or deletes from.
  std::set<std::pair<std::string, std::string>> written_;
  // (schema, object, access, column) allowed in this compilation, lower case.
  std::set<std::tuple<std::string, std::string, Access, std::string>> allowed_;
  std::optional<SqlError> denial_;
  bool changes_schema_ = false;  // this compilation writes SQLite's schema table
  // The (schema, table) this compilation's CREATE INDEX indexes, lower case.
  std::optional<std::pair<std::string, std::string>> indexed_;
  // Lower-case schemas whose stored calls this compilation runs.
  std::set<std::string> stored_call_schemas_;
  std::string stored_calls_in_;
};

}  // namespace sqlengine::exec
