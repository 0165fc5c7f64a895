#include "engine/exec/lock_waits.h"

#include <algorithm>
#include <chrono>

namespace sqlengine::exec {
namespace {

// How often a waiter looks at its cancel flag.
constexpr std::chrono::milliseconds kCancelPoll{20};

}  // namespace

LockWaits::Outcome LockWaits::Acquire(int session, const std::string& file, int timeout_ms,
                                      const std::atomic<bool>& cancelled) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  std::unique_lock lock(mutex_);
  Gate& gate = gates_[file];
  if (gate.holder == session) return Outcome::kHeld;
  if (gate.holder == 0 && gate.queue.empty()) {
    gate.holder = session;
    return Outcome::kHeld;
  }
  Waiter waiter{session, {}};
  gate.queue.push_back(&waiter);
  waits_[session] = file;
  while (true) {
    // The holder hands the gate over on release (PassOn), so a newcomer
    // never overtakes a waiting session.
    if (gate.holder == session) return Outcome::kHeld;
    Outcome outcome = Outcome::kHeld;
    if (ClosesCycle(session, file)) {
      outcome = Outcome::kVictim;
    } else if (cancelled.load()) {
      outcome = Outcome::kCancelled;
    } else if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) {
      outcome = Outcome::kTimedOut;
    }
    if (outcome != Outcome::kHeld) {
      gate.queue.erase(std::remove(gate.queue.begin(), gate.queue.end(), &waiter),
                       gate.queue.end());
      waits_.erase(session);
      return outcome;
    }
    auto wake = std::chrono::steady_clock::now() + kCancelPoll;
    if (timeout_ms >= 0) wake = std::min(wake, deadline);
    waiter.turn.wait_until(lock, wake);
  }
}

void LockWaits::Release(int session) {
  std::lock_guard lock(mutex_);
  for (auto& [file, gate] : gates_) {
    if (gate.holder == session) PassOn(gate);
  }
}

void LockWaits::PassOn(Gate& gate) {
  gate.holder = 0;
  if (gate.queue.empty()) return;
  Waiter* next = gate.queue.front();
  gate.queue.pop_front();
  waits_.erase(next->session);
  gate.holder = next->session;
  next->turn.notify_one();
}

bool LockWaits::ClosesCycle(int session, const std::string& file) const {
  // Each session waits for one file and each gate has one holder, so the
  // chain from `file` is a path; it is a cycle when it comes back here.
  std::string next = file;
  for (size_t step = 0; step <= waits_.size(); ++step) {
    auto gate = gates_.find(next);
    if (gate == gates_.end() || gate->second.holder == 0) return false;
    if (gate->second.holder == session) return true;
    auto wait = waits_.find(gate->second.holder);
    if (wait == waits_.end()) return false;
    next = wait->second;
  }
  return false;
}

std::vector<LockWaits::GateState> LockWaits::Snapshot() {
  std::lock_guard lock(mutex_);
  std::vector<GateState> states;
  for (const auto& [file, gate] : gates_) {
    if (gate.holder == 0 && gate.queue.empty()) continue;
    GateState state{file, gate.holder, {}};
    for (const Waiter* waiter : gate.queue) state.waiting.push_back(waiter->session);
    states.push_back(std::move(state));
  }
  return states;
}

int LockWaits::Holder(const std::string& file) {
  std::lock_guard lock(mutex_);
  auto it = gates_.find(file);
  return it == gates_.end() ? 0 : it->second.holder;
}

}  // namespace sqlengine::exec
