#pragma once
// Gives a variable a value for the life of a scope and restores the one it
// had when the scope ends, however it ends (SET ROWCOUNT for one statement,
// the body whose LOCAL cursors CURSOR_STATUS sees).

#include <utility>

namespace sqlengine::exec {

template <typename T>
class ScopedValue {
 public:
  // `target` must outlive the scope.
  ScopedValue(T& target, T value) : target_(target), saved_(std::move(target)) {
    target_ = std::move(value);
  }
  ~ScopedValue() { target_ = std::move(saved_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& target_;
  T saved_;
};

}  // namespace sqlengine::exec
