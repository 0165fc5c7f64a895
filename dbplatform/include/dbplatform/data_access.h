#pragma once
// Data access objects: connection, record set, command. Implemented over
// unixODBC with the FreeTDS driver (or the driver named by $DBPLATFORM_ODBC_DRIVER).
//
// Connection texts are the OLE DB form ("Provider=SQLOLEDB.1;Data Source=host,port;
// Initial Catalog=db;User ID=sa;Password=;" or "Integrated Security=SSPI"),
// keys matched ignoring letter case, values optionally quoted.
//
// Errors: a server error raises Error(0x80040E14, server text) (0x80040E37 for
// an unknown object, 0x80040E4D for a failed login); an unreachable server
// raises Error(0x80004005, "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server
// does not exist or access denied."). Descriptions carry no driver prefixes.
// Not thread-safe: one object is used by one thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbplatform/object.h"
#include "dbplatform/value.h"

namespace dbplatform {

class Field {
 public:
  virtual ~Field() = default;
  virtual std::string Name() const = 0;
  virtual Value GetValue() const = 0;  // the current row's value
};

class FieldCollection {
 public:
  virtual ~FieldCollection() = default;
  virtual int Count() const = 0;
  // By 0-based position; out of range throws Error(3265, "Item cannot be found
  // in the collection corresponding to the requested name or ordinal.").
  virtual Field& Item(int index) = 0;
  // By column name, ignoring letter case; a miss throws the same error.
  virtual Field& Item(std::string_view name) = 0;
};

// A forward-only record set over one statement's results. Messages that arrive
// after the first result set are added to the connection's Errors when the set
// is read to its end, closed or destroyed; destroying an unread set drains the
// remaining results, so the statement always runs to completion.
class Recordset : public AutomationObject {
 public:
  // Named Eof because EOF is a macro of the C library.
  virtual bool Eof() = 0;
  virtual FieldCollection& Fields() = 0;
  virtual void MoveNext() = 0;
  virtual void Close() = 0;
};

struct ErrorItem {
  std::int32_t Number = 0;        // the server's message number (native error)
  std::string Description;        // message text, no driver prefix
  std::string SQLState;
  std::string Text() const { return Description; }
};

class ErrorCollection {
 public:
  virtual ~ErrorCollection() = default;
  virtual int Count() const = 0;
  // 0-based; an empty list or an index out of range throws Error(3265, ...).
  virtual const ErrorItem& Item(int index) const = 0;
};

class Connection : public AutomationObject {
 public:
  virtual void SetConnectionString(const std::string& text) = 0;
  virtual std::string ConnectionString() const = 0;  // read back unchanged
  // Empty connection_string: use ConnectionString(). Synchronous.
  virtual void Open(const std::string& connection_string = "", const std::string& user = "",
                    const std::string& password = "", int options = -1) = 0;
  // Runs sql and returns a record set positioned on the first row of the
  // first result; a statement without a row set gives a set with no fields
  // whose Eof() is true.
  virtual std::unique_ptr<Recordset> Execute(const std::string& sql) = 0;
  virtual void SetCommandTimeout(int seconds) = 0;  // applies to the next Execute
  // Every message of the last Open or Execute, in arrival order, informational
  // ones included.
  virtual ErrorCollection& Errors() = 0;
  virtual void Close() = 0;
};

class Parameter {
 public:
  virtual ~Parameter() = default;
  virtual std::string Name() const = 0;
  virtual void SetValue(const Value& value) = 0;
  virtual Value GetValue() const = 0;
};

class ParameterCollection {
 public:
  virtual ~ParameterCollection() = default;
  virtual int Count() const = 0;
  // 0 is the return value, then the declared parameters in order.
  virtual Parameter& Item(int index) = 0;
};

class Command : public AutomationObject {
 public:
  static constexpr int kStoredProcedure = 4;
  // A connection text; the command opens its own connection when first needed.
  virtual void SetActiveConnection(const std::string& connection_text) = 0;
  virtual void SetCommandText(const std::string& text) = 0;
  virtual void SetCommandType(int type) = 0;
  // On first access the procedure's parameters are described by the server.
  virtual ParameterCollection& Parameters() = 0;
  virtual std::unique_ptr<Recordset> Execute() = 0;
};

}  // namespace dbplatform
