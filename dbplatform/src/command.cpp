#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data_access_objects.h"
#include "error_mapping.h"
#include "recordset.h"
#include "statement_cursor.h"

namespace dbplatform {
namespace {

// The parts of "catalog.schema.name" ([..] and ".." delimiters removed).
struct ProcedureName {
  std::string catalog, schema, name;
};

ProcedureName SplitProcedureName(const std::string& text) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      for (++i; i < text.size(); ++i) {
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            parts.back() += close;
            ++i;
            continue;
          }
          break;
        }
        parts.back() += text[i];
      }
    } else if (c == '.') {
      parts.emplace_back();
    } else if (c != ' ') {
      parts.back() += c;
    }
  }
  ProcedureName name;
  name.name = parts.back();
  if (parts.size() >= 2) name.schema = parts[parts.size() - 2];
  if (parts.size() >= 3) name.catalog = parts[parts.size() - 3];
  return name;
}

// '_' and '%' are patterns for the catalog call; the procedure is meant literally.
std::string EscapePattern(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '_' || c == '%' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::int64_t AsInteger(const Value& value) {
  if (auto* v = std::get_if<std::int16_t>(&value)) return *v;
  if (auto* v = std::get_if<std::int32_t>(&value)) return *v;
  if (auto* v = std::get_if<std::int64_t>(&value)) return *v;
  if (auto* v = std::get_if<bool>(&value)) return *v ? 1 : 0;
  if (auto* v = std::get_if<double>(&value)) return static_cast<std::int64_t>(*v);
  std::string text = ToText(value);
  std::int64_t out = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw Error(static_cast<std::int32_t>(0x80020005), "Type mismatch.");
  }
  return out;
}

bool IsIntegerType(SQLSMALLINT type) {
  return type == SQL_TINYINT || type == SQL_SMALLINT || type == SQL_INTEGER || type == SQL_BIGINT;
}

std::size_t Utf16Units(const std::string& text) {
  std::size_t units = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) units += (c >= 0xF0) ? 2 : 1;
  }
  return units;
}

struct ProcedureParameter final : public Parameter {
  std::string name;
  SQLSMALLINT direction = SQL_PARAM_INPUT;  // SQL_PARAM_* of the procedure's declaration
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  Value value;

  std::string Name() const override { return name; }
  void SetValue(const Value& v) override { value = v; }
  Value GetValue() const override { return value; }
};

class ProcedureParameters final : public ParameterCollection {
 public:
  int Count() const override { return static_cast<int>(items.size()); }
  Parameter& Item(int index) override {
    if (index < 0 || index >= Count()) throw ItemNotFoundError();
    return *items[static_cast<std::size_t>(index)];
  }
  std::vector<std::unique_ptr<ProcedureParameter>> items;
};

// One parameter's buffer as bound to the statement; lives until the
// statement has finished and the outputs have been read back.
struct Binding {
  ProcedureParameter* parameter = nullptr;  // null once the command is gone
  bool output = false;
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN column_size = 1;
  SQLSMALLINT digits = 0;
  std::vector<char> buffer;
  SQLLEN indicator = 0;

  template <class T>
  void Store(const T& v) {
    buffer.resize(sizeof v);
    std::memcpy(buffer.data(), &v, sizeof v);
    indicator = sizeof v;
  }
  template <class T>
  T Load() const {
    T v{};
    std::memcpy(&v, buffer.data(), std::min(sizeof v, buffer.size()));
    return v;
  }
};

void PrepareInput(Binding& b, const Value& value) {
  if (IsNull(value)) {
    b.c_type = SQL_C_CHAR;
    b.buffer.assign(1, '\0');
    b.indicator = SQL_NULL_DATA;
  } else if (auto* v = std::get_if<bool>(&value)) {
    b.c_type = SQL_C_BIT, b.sql_type = SQL_BIT;
    b.Store(static_cast<unsigned char>(*v ? 1 : 0));
  } else if (auto* v = std::get_if<std::int16_t>(&value)) {
    b.c_type = SQL_C_SSHORT, b.sql_type = SQL_SMALLINT;
    b.Store(static_cast<SQLSMALLINT>(*v));
  } else if (auto* v = std::get_if<std::int32_t>(&value)) {
    b.c_type = SQL_C_SLONG, b.sql_type = SQL_INTEGER;
    b.Store(static_cast<SQLINTEGER>(*v));
  } else if (auto* v = std::get_if<std::int64_t>(&value)) {
    b.c_type = SQL_C_SBIGINT, b.sql_type = SQL_BIGINT;
    b.Store(static_cast<SQLBIGINT>(*v));
  } else if (auto* v = std::get_if<double>(&value)) {
    b.c_type = SQL_C_DOUBLE, b.sql_type = SQL_DOUBLE;
    b.Store(*v);
  } else if (auto* v = std::get_if<DateTime>(&value)) {
    SQL_TIMESTAMP_STRUCT t{};
    t.year = static_cast<SQLSMALLINT>(v->year);
    t.month = static_cast<SQLUSMALLINT>(v->month);
    t.day = static_cast<SQLUSMALLINT>(v->day);
    t.hour = static_cast<SQLUSMALLINT>(v->hour);
    t.minute = static_cast<SQLUSMALLINT>(v->minute);
    t.second = static_cast<SQLUSMALLINT>(v->second);
    t.fraction = static_cast<SQLUINTEGER>(v->millisecond) * 1000000u;
    b.c_type = SQL_C_TYPE_TIMESTAMP, b.sql_type = SQL_TYPE_TIMESTAMP;
    b.column_size = 23, b.digits = 3;
    b.Store(t);
  } else if (auto* v = std::get_if<Bytes>(&value)) {
    b.c_type = SQL_C_BINARY;
    b.sql_type = v->size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
    b.column_size = std::max<std::size_t>(v->size(), 1);
    b.buffer.assign(v->begin(), v->end());
    if (b.buffer.empty()) b.buffer.push_back(0);
    b.indicator = static_cast<SQLLEN>(v->size());
  } else {
    std::string text = ToText(value);
    bool decimal = std::holds_alternative<DecimalText>(value);
    std::size_t units = Utf16Units(text);
    b.c_type = SQL_C_CHAR;
    b.sql_type = decimal ? SQL_VARCHAR : (units > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR);
    b.column_size = std::max<std::size_t>(decimal ? text.size() : units, 1);
    b.buffer.assign(text.begin(), text.end());
    b.buffer.push_back('\0');
    b.indicator = static_cast<SQLLEN>(text.size());
  }
}

// In/out parameters are bound in the declared type, so the buffer can take
// whatever the procedure gives back.
void PrepareInOut(Binding& b, const ProcedureParameter& p) {
  b.sql_type = p.sql_type;
  b.column_size = std::max<SQLULEN>(p.size, 1);
  b.digits = p.digits;
  bool null = IsNull(p.value);
  if (IsIntegerType(p.sql_type) || p.sql_type == SQL_BIT) {
    b.c_type = SQL_C_SBIGINT;
    b.Store(static_cast<SQLBIGINT>(null ? 0 : AsInteger(p.value)));
  } else if (p.sql_type == SQL_FLOAT || p.sql_type == SQL_DOUBLE || p.sql_type == SQL_REAL) {
    b.c_type = SQL_C_DOUBLE;
    double v = 0;
    if (auto* d = std::get_if<double>(&p.value))
      v = *d;
    else if (!null)
      v = static_cast<double>(AsInteger(p.value));
    b.Store(v);
  } else {
    std::string text = ToText(p.value);
    b.c_type = SQL_C_CHAR;
    std::size_t room = std::max<std::size_t>(p.size * 4 + 1, 8001);
    b.buffer.assign(std::max(room, text.size() + 1), '\0');
    std::memcpy(b.buffer.data(), text.data(), text.size());
    b.indicator = static_cast<SQLLEN>(text.size());
  }
  if (null) b.indicator = SQL_NULL_DATA;
}

Value ReadBack(const Binding& b) {
  if (b.indicator == SQL_NULL_DATA) return Null{};
  switch (b.c_type) {
    case SQL_C_SLONG:
      return static_cast<std::int32_t>(b.Load<SQLINTEGER>());
    case SQL_C_SBIGINT: {
      SQLBIGINT v = b.Load<SQLBIGINT>();
      if (b.sql_type == SQL_BIT) return v != 0;
      if (b.sql_type == SQL_SMALLINT || b.sql_type == SQL_TINYINT) {
        return static_cast<std::int16_t>(v);
      }
      if (b.sql_type == SQL_INTEGER) return static_cast<std::int32_t>(v);
      return static_cast<std::int64_t>(v);
    }
    case SQL_C_DOUBLE:
      return b.Load<double>();
    default: {
      std::size_t length =
          b.indicator == SQL_NO_TOTAL
              ? std::strlen(b.buffer.data())
              : std::min<std::size_t>(static_cast<std::size_t>(b.indicator), b.buffer.size());
      return std::string(b.buffer.data(), length);
    }
  }
}

class OdbcCommand final : public Command {
 public:
  ~OdbcCommand() override { DetachLiveBindings(); }

  void SetActiveConnection(const std::string& connection_text) override {
    connection_text_ = connection_text;
    session_.reset();
  }
  void SetCommandText(const std::string& text) override {
    text_ = text;
    described_ = false;
  }
  void SetCommandType(int type) override {
    type_ = type;
    described_ = false;
  }

  ParameterCollection& Parameters() override {
    if (!described_ && type_ == kStoredProcedure) Describe();
    described_ = true;
    return parameters_;
  }

  std::unique_ptr<Recordset> Execute() override {
    if (type_ == kStoredProcedure) Parameters();
    EnsureSession();
    try {
      auto cursor = std::make_unique<StatementCursor>(session_, kDefaultCommandTimeout, nullptr);
      if (type_ != kStoredProcedure) {
        cursor->Execute(text_);
        return MakeRecordset(std::move(cursor));
      }
      auto bindings = Bind(*cursor);
      cursor->SetOnFinished([bindings] {
        for (Binding& b : *bindings) {
          if (b.output && b.parameter != nullptr) b.parameter->value = ReadBack(b);
        }
      });
      cursor->Execute(CallText());
      return MakeRecordset(std::move(cursor));
    } catch (const OdbcFailure& failure) {
      throw ToAdoError(failure, Phase::kStatement);
    }
  }

 private:
  void EnsureSession() {
    if (session_) return;
    if (connection_text_.empty()) {
      throw Error(3709,
                  "The connection cannot be used to perform this operation. It is either closed "
                  "or invalid in this context.");
    }
    session_ = OpenSessionForText(connection_text_, "", "", nullptr);
  }

  // Record sets that outlive the parameters they were bound from no longer
  // write their outputs back.
  void DetachLiveBindings() {
    for (auto& bindings : live_bindings_) {
      if (auto alive = bindings.lock()) {
        for (Binding& b : *alive) b.parameter = nullptr;
      }
    }
    live_bindings_.clear();
  }

  void Describe() {
    EnsureSession();
    DetachLiveBindings();
    parameters_.items.clear();
    ProcedureName name = SplitProcedureName(text_);
    try {
      StatementCursor cursor(session_, kDefaultCommandTimeout, nullptr);
      cursor.DescribeProcedure(name.catalog, EscapePattern(name.schema), EscapePattern(name.name));
      // Columns by position: 4 name, 5 kind, 6 data type, 8 size, 10 digits.
      while (!cursor.AtEnd() && cursor.Row().size() >= 10) {
        const std::vector<Value>& row = cursor.Row();
        auto p = std::make_unique<ProcedureParameter>();
        p->name = ToText(row[3]);
        p->direction = static_cast<SQLSMALLINT>(IsNull(row[4]) ? 1 : AsInteger(row[4]));
        p->sql_type = static_cast<SQLSMALLINT>(IsNull(row[5]) ? SQL_VARCHAR : AsInteger(row[5]));
        p->size = static_cast<SQLULEN>(IsNull(row[7]) ? 0 : AsInteger(row[7]));
        p->digits = static_cast<SQLSMALLINT>(IsNull(row[9]) ? 0 : AsInteger(row[9]));
        if (p->direction == SQL_RETURN_VALUE) {
          parameters_.items.insert(parameters_.items.begin(), std::move(p));
        } else if (p->direction != SQL_RESULT_COL) {
          parameters_.items.push_back(std::move(p));
        }
        cursor.MoveNext();
      }
    } catch (const OdbcFailure& failure) {
      throw ToAdoError(failure, Phase::kStatement);
    }
    // A procedure always has a return value, described or not.
    if (!parameters_.items.empty() && parameters_.items.front()->direction != SQL_RETURN_VALUE) {
      auto ret = std::make_unique<ProcedureParameter>();
      ret->name = "@RETURN_VALUE";
      ret->direction = SQL_RETURN_VALUE;
      ret->sql_type = SQL_INTEGER;
      parameters_.items.insert(parameters_.items.begin(), std::move(ret));
    }
  }

  std::string CallText() const {
    std::string call = "{? = call " + text_;
    if (parameters_.items.size() > 1) {
      call += "(";
      for (std::size_t i = 1; i < parameters_.items.size(); ++i) call += i == 1 ? "?" : ",?";
      call += ")";
    }
    return call + "}";
  }

  std::shared_ptr<std::vector<Binding>> Bind(StatementCursor& cursor) {
    auto bindings =
        std::make_shared<std::vector<Binding>>(std::max<std::size_t>(parameters_.items.size(), 1));
    Binding& ret = (*bindings)[0];
    ret.parameter = parameters_.items.empty() ? nullptr : parameters_.items[0].get();
    ret.output = true;
    ret.c_type = SQL_C_SLONG;
    ret.sql_type = SQL_INTEGER;
    ret.Store(SQLINTEGER{0});
    for (std::size_t i = 1; i < parameters_.items.size(); ++i) {
      ProcedureParameter& p = *parameters_.items[i];
      Binding& b = (*bindings)[i];
      b.parameter = &p;
      b.output = p.direction == SQL_PARAM_INPUT_OUTPUT || p.direction == SQL_PARAM_OUTPUT;
      if (b.output) {
        PrepareInOut(b, p);
      } else {
        b.sql_type = p.sql_type;
        PrepareInput(b, p.value);
      }
    }
    for (std::size_t i = 0; i < bindings->size(); ++i) {
      Binding& b = (*bindings)[i];
      SQLSMALLINT io =
          i == 0 ? SQL_PARAM_OUTPUT : (b.output ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_INPUT);
      SQLRETURN rc =
          SQLBindParameter(cursor.Handle(), static_cast<SQLUSMALLINT>(i + 1), io, b.c_type,
                           b.sql_type, b.column_size, b.digits, b.buffer.data(),
                           static_cast<SQLLEN>(b.buffer.size()), &b.indicator);
      if (!SQL_SUCCEEDED(rc)) {
        throw StatementFailure(ReadDiagnostics(SQL_HANDLE_STMT, cursor.Handle()));
      }
    }
    std::erase_if(live_bindings_, [](const auto& weak) { return weak.expired(); });
    live_bindings_.push_back(bindings);
    return bindings;
  }

  std::string connection_text_;
  std::string text_;
  int type_ = 1;
  bool described_ = false;
  std::shared_ptr<OdbcSession> session_;
  ProcedureParameters parameters_;
  std::vector<std::weak_ptr<std::vector<Binding>>> live_bindings_;
};

}  // namespace

std::unique_ptr<Command> MakeCommand() { return std::make_unique<OdbcCommand>(); }

}  // namespace dbplatform
