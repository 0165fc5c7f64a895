#pragma once
// Upkeep a request leaves for after its answer has gone out to the client
// (a bulk load's checkpoint), so the client is not kept waiting for it.
// Per thread: the request's executor sets it, and the connection's owner,
// on the same thread, runs it once the answer is sent, or drops it when the
// connection ends. The work must not throw.

#include <functional>
#include <utility>

namespace sqlengine {

inline thread_local std::function<void()> after_response_work;

// Replaces any work set before and not yet run.
inline void SetAfterResponse(std::function<void()> work) { after_response_work = std::move(work); }

inline void RunAfterResponse() {
  std::function<void()> work = std::exchange(after_response_work, nullptr);
  if (work) work();
}

inline void DropAfterResponse() { after_response_work = nullptr; }

}  // namespace sqlengine
