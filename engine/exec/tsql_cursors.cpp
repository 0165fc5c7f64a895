#include "engine/exec/tsql_cursors.h"

#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

int OpenStatus(const std::shared_ptr<TsqlCursor>& cursor) {
  if (!cursor->IsOpen()) return -1;
  // A dynamic cursor does not know whether rows remain: 1 either way.
  return cursor->RowsAfterOpen() == 0 ? 0 : 1;
}

}  // namespace

std::int64_t TsqlCursor::RowsAfterOpen() const {
  if (!rows_) return 0;
  if (visibility_ == CursorVisibility::kDynamic) return -1;
  if (visibility_ == CursorVisibility::kKeyset) return rows_->Count();
  switch (declaration_.kind) {
    case tsql::CursorKind::kStatic:
    case tsql::CursorKind::kKeyset:
      return rows_->Count();
    default:
      return -1;
  }
}

void SessionCursors::Opened(const std::shared_ptr<TsqlCursor>& cursor) {
  // The entries of cursors gone or closed since (and this one's) go first,
  // so the list stays as long as the cursors open at once.
  std::erase_if(opened, [&](const std::weak_ptr<TsqlCursor>& kept) {
    std::shared_ptr<TsqlCursor> alive = kept.lock();
    return !alive || !alive->IsOpen() || alive == cursor;
  });
  opened.push_back(cursor);
}

void SessionCursors::CloseAll() {
  for (const std::weak_ptr<TsqlCursor>& kept : opened) {
    if (std::shared_ptr<TsqlCursor> cursor = kept.lock()) cursor->Close();
  }
  opened.clear();
}

int SessionCursors::Status(std::string_view scope, std::string_view name) const {
  const std::string key = tsql::ToLower(name);
  const std::string kind = tsql::ToLower(scope);
  if (kind == "global") {
    auto it = global.find(key);
    return it == global.end() ? -3 : OpenStatus(it->second);
  }
  if (local == nullptr || (kind != "local" && kind != "variable")) return -3;
  if ((kind == "variable") != key.starts_with("@")) return -3;
  auto it = local->find(key);
  if (it == local->end()) return -3;
  return it->second ? OpenStatus(it->second) : -2;
}

}  // namespace sqlengine::exec
