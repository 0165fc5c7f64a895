#include "engine/tsql/storage_options.h"

#include <cstddef>

namespace sqlengine::tsql {
namespace {

bool IsIndexOption(const Token& token) {
  return token.IsAnyWord(
      {"fillfactor", "pad_index", "ignore_dup_key", "statistics_norecompute", "sort_in_tempdb",
       "drop_existing"});
}

class StorageOptionRemover {
 public:
  explicit StorageOptionRemover(Tokens& tokens) : tokens_(tokens) {}

  // Whether a CREATE INDEX's options said DROP_EXISTING.
  bool Run() {
    if (!IsDefinition()) return false;
    bool index = !At(1).IsWord("table");
    bool drop_existing = false;
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (At(i).IsWord("not") && At(i + 1).IsWord("for") && At(i + 2).IsWord("replication")) {
        Erase(i, i + 3);
        --i;
        continue;
      }
      if (!At(i).IsSymbol(")")) continue;
      size_t after = i + 1;
      bool ignore_dup_key = false;
      int line = At(i).line;
      if (At(after).IsWord("with")) {
        size_t past = PastIndexOptions(after + 1);
        for (size_t k = after; k < past; ++k) {
          drop_existing = drop_existing || (index && At(k).IsWord("drop_existing"));
          ignore_dup_key = ignore_dup_key || (At(k).IsWord("ignore_dup_key") &&
                                              !(At(k + 1).IsSymbol("=") && At(k + 2).IsWord("off")));
        }
        Erase(after, past);
      }
      while (At(after).IsAnyWord({"on", "textimage_on"}) && IsFileGroup(after + 1)) {
        Erase(after, after + 2);
      }
      if (ignore_dup_key) {
        // It changes what an INSERT does: the definition's reader takes it.
        tokens_.insert(tokens_.begin() + static_cast<std::ptrdiff_t>(after),
                       {WordToken("WITH", line), WordToken("IGNORE_DUP_KEY", line)});
      }
    }
    return drop_existing;
  }

 private:
  const Token& At(size_t i) const {
    static const Token kEnd;
    return i < tokens_.size() ? tokens_[i] : kEnd;
  }

  void Erase(size_t from, size_t to) {
    tokens_.erase(tokens_.begin() + static_cast<std::ptrdiff_t>(from),
                  tokens_.begin() + static_cast<std::ptrdiff_t>(to));
  }

  // CREATE TABLE, ALTER TABLE, CREATE [UNIQUE] [CLUSTERED | NONCLUSTERED]
  // INDEX (the index's kind words stay for the catalog to record).
  bool IsDefinition() const {
    if (At(0).IsAnyWord({"create", "alter"}) && At(1).IsWord("table")) return true;
    if (!At(0).IsWord("create")) return false;
    size_t kind = At(1).IsWord("unique") ? 2 : 1;
    if (At(kind).IsAnyWord({"clustered", "nonclustered"})) ++kind;
    return At(kind).IsWord("index");
  }

  // The end of the option list after WITH at `at`: `opt [= n], ...` as SQL
  // Server 2000 writes it, or `(opt = value, ...)` as later tools do. `at - 1`
  // (the WITH stays) when what follows is no known option.
  size_t PastIndexOptions(size_t at) const {
    if (At(at).IsSymbol("(") && IsIndexOption(At(at + 1))) {
      size_t k = at + 1;
      while (k < tokens_.size() && !At(k).IsSymbol(")")) ++k;
      return k < tokens_.size() ? k + 1 : at - 1;
    }
    size_t k = at;
    while (IsIndexOption(At(k))) {
      ++k;
      if (At(k).IsSymbol("=")) k += 2;
      if (!At(k).IsSymbol(",") || !IsIndexOption(At(k + 1))) return k;
      ++k;
    }
    return k == at ? at - 1 : k;
  }

  // A filegroup name after ON: [PRIMARY], "default", 'default' or a plain
  // name, but not the DELETE / UPDATE of a foreign key's ON DELETE.
  bool IsFileGroup(size_t at) const {
    const Token& name = At(at);
    bool named = name.kind == TokenKind::kQuotedName || name.kind == TokenKind::kString ||
                 (name.kind == TokenKind::kWord && !name.IsAnyWord({"delete", "update"}));
    return named && !At(at + 1).IsSymbol(".") && !At(at + 1).IsSymbol("(");
  }

  Tokens& tokens_;
};

}  // namespace

bool DropStorageOptions(Tokens& statement) { return StorageOptionRemover(statement).Run(); }

}  // namespace sqlengine::tsql
