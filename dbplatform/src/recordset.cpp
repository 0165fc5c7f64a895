#include "recordset.h"

#include <vector>

#include "error_mapping.h"
#include "path_lookup.h"

namespace dbplatform {
namespace {

Error NoCurrentRecordError() {
  return Error(3021,
               "Either BOF or EOF is True, or the current record has been deleted. Requested "
               "operation requires a current record.");
}

Error ClosedError() { return Error(3704, "Operation is not allowed when the object is closed."); }

class CursorField final : public Field {
 public:
  CursorField(const StatementCursor& cursor, std::size_t index) : cursor_(cursor), index_(index) {}
  std::string Name() const override { return cursor_.Columns()[index_].name; }
  Value GetValue() const override {
    if (cursor_.AtEnd()) throw NoCurrentRecordError();
    return cursor_.Row()[index_];
  }

 private:
  const StatementCursor& cursor_;
  std::size_t index_;
};

class CursorFields final : public FieldCollection {
 public:
  explicit CursorFields(const StatementCursor& cursor) {
    for (std::size_t i = 0; i < cursor.Columns().size(); ++i) fields_.emplace_back(cursor, i);
  }
  int Count() const override { return static_cast<int>(fields_.size()); }
  Field& Item(int index) override {
    if (index < 0 || index >= Count()) throw ItemNotFoundError();
    return fields_[static_cast<std::size_t>(index)];
  }
  Field& Item(std::string_view name) override {
    for (CursorField& field : fields_) {
      if (EqualIgnoringAsciiCase(field.Name(), name)) return field;
    }
    throw ItemNotFoundError();
  }

 private:
  std::vector<CursorField> fields_;
};

class CursorRecordset final : public Recordset {
 public:
  explicit CursorRecordset(std::unique_ptr<StatementCursor> cursor)
      : cursor_(std::move(cursor)), fields_(*cursor_) {}

  bool Eof() override {
    if (closed_) throw ClosedError();
    return cursor_->AtEnd();
  }
  FieldCollection& Fields() override {
    if (closed_) throw ClosedError();
    return fields_;
  }
  void MoveNext() override {
    if (closed_) throw ClosedError();
    if (cursor_->AtEnd()) throw NoCurrentRecordError();
    try {
      cursor_->MoveNext();
    } catch (const OdbcFailure& failure) {
      throw ToAdoError(failure, Phase::kStatement);
    }
  }
  void Close() override {
    if (closed_) throw ClosedError();
    cursor_->Finish();
    closed_ = true;
  }

 private:
  std::unique_ptr<StatementCursor> cursor_;
  CursorFields fields_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<Recordset> MakeRecordset(std::unique_ptr<StatementCursor> cursor) {
  return std::make_unique<CursorRecordset>(std::move(cursor));
}

}  // namespace dbplatform
