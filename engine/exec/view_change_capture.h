#pragma once
// The rows a data change statement on a view would change, for the view's
// INSTEAD OF trigger: SQLite changes a view only through triggers of its
// own, so for the statement's run TEMP triggers on the view copy each OLD
// and NEW row into TEMP tables instead of changing anything. The caller
// runs the statement inside a savepoint it rolls back afterwards, so the
// objects made here go with it; the destructor drops them too.
// Used on the session's thread only.

#include <sqlite3.h>

#include <string>

#include "engine/exec/row_images.h"

namespace sqlengine::exec {

class ViewChangeCapture {
 public:
  // `schema` and `view` name the statement's target view as SQLite knows
  // it. Throws std::runtime_error when SQLite refuses the objects.
  ViewChangeCapture(sqlite3* db, const std::string& schema, const std::string& view);
  ~ViewChangeCapture();
  ViewChangeCapture(const ViewChangeCapture&) = delete;
  ViewChangeCapture& operator=(const ViewChangeCapture&) = delete;

  // The view's rows the statement deleted or updated, before the change.
  RowImages OldRows() const;
  // The rows it inserted, or updated rows as they would be after it.
  RowImages NewRows() const;

 private:
  void Remove();

  sqlite3* db_;
};

// Whether `name` is a view of `schema`.
bool IsView(sqlite3* db, const std::string& schema, const std::string& name);

}  // namespace sqlengine::exec
