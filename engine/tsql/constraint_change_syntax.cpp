#include "engine/tsql/constraint_change_syntax.h"

#include <algorithm>

#include "engine/tsql/dotted_name.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

class ChangeReader {
 public:
  explicit ChangeReader(const Tokens& alter) : alter_(alter) {}

  // nullopt when the statement changes no constraint; throws SyntaxError for
  // a malformed one that does.
  std::optional<ConstraintChange> Read() {
    if (alter_.size() < 5 || !At(2).IsName()) return std::nullopt;
    DottedName name = ReadDottedName(alter_, 2);
    ConstraintChange change;
    change.database = name.Database();
    change.table = name.Last();
    size_t i = name.end;
    bool with_check = false;
    if (At(i).IsWord("with") && At(i + 1).IsAnyWord({"check", "nocheck"})) {
      change.check_existing = At(i + 1).IsWord("check");
      with_check = change.check_existing;
      i += 2;
    }
    if (At(i).IsAnyWord({"check", "nocheck"}) && At(i + 1).IsWord("constraint")) {
      change.enable = At(i).IsWord("check");
      change.check_existing = with_check;
      ReadSwitched(i + 2, change);
      return change;
    }
    if (At(i).IsWord("drop")) {
      if (!At(i + 1).IsWord("constraint")) return std::nullopt;
      ReadDropped(i + 2, change);
      return change;
    }
    if (!At(i).IsWord("add") ||
        !At(i + 1).IsAnyWord({"constraint", "primary", "unique", "check", "foreign", "default"})) {
      return std::nullopt;
    }
    size_t begin = i + 1;
    int depth = 0;
    for (size_t k = begin; k <= alter_.size(); ++k) {
      if (At(k).IsSymbol("(")) ++depth;
      if (At(k).IsSymbol(")")) --depth;
      if (k == alter_.size() || (depth == 0 && At(k).IsSymbol(","))) {
        if (k == begin) throw SyntaxError(At(k), &alter_[k - 1]);
        change.added.push_back(ReadAdded(begin, k));
        begin = k + 1;
      }
    }
    return change;
  }

 private:
  const Token& At(size_t i) const {
    static const Token kEnd;
    return i < alter_.size() ? alter_[i] : kEnd;
  }

  [[noreturn]] void Fail(size_t at) const {
    throw SyntaxError(At(at), at > 0 ? &alter_[std::min(at, alter_.size()) - 1] : nullptr);
  }

  void ReadDropped(size_t i, ConstraintChange& change) const {
    while (true) {
      if (!At(i).IsName()) Fail(i);
      change.dropped.push_back(At(i).value);
      if (i + 1 == alter_.size()) return;
      if (!At(i + 1).IsSymbol(",")) Fail(i + 1);
      i += At(i + 2).IsWord("constraint") ? 3 : 2;
    }
  }

  void ReadSwitched(size_t i, ConstraintChange& change) const {
    if (At(i).IsWord("all")) {
      change.all = true;
      if (i + 1 != alter_.size()) Fail(i + 1);
      return;
    }
    while (true) {
      if (!At(i).IsName()) Fail(i);
      change.switched.push_back(At(i).value);
      if (i + 1 == alter_.size()) return;
      if (!At(i + 1).IsSymbol(",")) Fail(i + 1);
      i += 2;
    }
  }

  // ( name [ASC | DESC], ... ) at `open`; returns the index after ')'.
  size_t ReadColumns(size_t open, std::vector<std::string>& columns) const {
    if (!At(open).IsSymbol("(")) Fail(open);
    size_t k = open + 1;
    while (true) {
      if (!At(k).IsName()) Fail(k);
      columns.push_back(At(k).value);
      ++k;
      if (At(k).IsAnyWord({"asc", "desc"})) ++k;
      if (At(k).IsSymbol(")")) return k + 1;
      if (!At(k).IsSymbol(",")) Fail(k);
      ++k;
    }
  }

  AddedConstraint ReadAdded(size_t begin, size_t end) const {
    AddedConstraint added;
    added.begin = begin;
    added.end = end;
    size_t k = begin;
    if (At(k).IsWord("constraint")) {
      if (!At(k + 1).IsName() || k + 2 >= end) Fail(k + 1);
      added.name = At(k + 1).value;
      k += 2;
    }
    const Token& kind = At(k);
    if (kind.IsWord("primary") || kind.IsWord("unique")) {
      added.kind = ToLower(kind.text);
      k += kind.IsWord("primary") ? 1 : 0;
      if (kind.IsWord("primary") && !At(k).IsWord("key")) Fail(k);
      ++k;
      if (At(k).IsAnyWord({"clustered", "nonclustered"})) {
        added.clustered = At(k).IsWord("clustered");
        ++k;
      }
      k = ReadColumns(k, added.columns);
      if (k != end) Fail(k);
    } else if (kind.IsWord("check")) {
      added.kind = "check";
      if (!At(k + 1).IsSymbol("(") || end - k < 3 || !At(end - 1).IsSymbol(")")) Fail(k + 1);
    } else if (kind.IsWord("foreign")) {
      added.kind = "foreign";
      if (!At(k + 1).IsWord("key")) Fail(k + 1);
      k = ReadColumns(k + 2, added.columns);
      if (!At(k).IsWord("references") || !At(k + 1).IsName())
        Fail(At(k).IsWord("references") ? k + 1 : k);
    } else if (kind.IsWord("default")) {
      added.kind = "default";
      size_t for_at = k + 1;
      int depth = 0;
      while (for_at < end && !(depth == 0 && At(for_at).IsWord("for"))) {
        if (At(for_at).IsSymbol("(")) ++depth;
        if (At(for_at).IsSymbol(")")) --depth;
        ++for_at;
      }
      if (for_at == k + 1 || for_at >= end) Fail(for_at);
      if (!At(for_at + 1).IsName()) Fail(for_at + 1);
      added.columns.push_back(At(for_at + 1).value);
      added.expression_end = for_at;
      size_t rest = for_at + 2;
      if (rest + 2 == end && At(rest).IsWord("with") && At(rest + 1).IsWord("values")) rest = end;
      if (rest != end) Fail(rest);
    } else {
      Fail(k);
    }
    return added;
  }

  const Tokens& alter_;
};

}  // namespace

std::optional<ConstraintChange> ReadConstraintChange(const Tokens& alter) {
  return ChangeReader(alter).Read();
}

}  // namespace sqlengine::tsql
