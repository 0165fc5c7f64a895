#include "engine/server/read_watch.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace sqlengine::server {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

ReadWatch::ReadWatch(int socket) : socket_(socket) {
  poller_ = epoll_create1(EPOLL_CLOEXEC);
  if (poller_ < 0) Fail("epoll_create1");
  waker_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (waker_ < 0) {
    close(poller_);
    Fail("eventfd");
  }
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.fd = waker_;
  epoll_event socket_event{};
  socket_event.data.fd = socket_;
  if (epoll_ctl(poller_, EPOLL_CTL_ADD, waker_, &wake) != 0 ||
      epoll_ctl(poller_, EPOLL_CTL_ADD, socket_, &socket_event) != 0) {
    close(waker_);
    close(poller_);
    Fail("epoll_ctl");
  }
}

ReadWatch::~ReadWatch() {
  close(waker_);
  close(poller_);
}

void ReadWatch::Watch(unsigned events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = socket_;
  // Fails only for a socket already closed, which has nothing more to tell.
  epoll_ctl(poller_, EPOLL_CTL_MOD, socket_, &event);
}

// One-shot: once reported, the socket is out of the watch until armed again.
void ReadWatch::Arm() { Watch(EPOLLIN | EPOLLRDHUP | EPOLLONESHOT); }

void ReadWatch::Disarm() { Watch(0); }

void ReadWatch::Wake() {
  const std::uint64_t one = 1;
  // A full counter (never, in practice) still wakes the next wait.
  [[maybe_unused]] ssize_t written = write(waker_, &one, sizeof one);
}

bool ReadWatch::Wait(std::chrono::milliseconds timeout) {
  epoll_event events[2];
  int ready;
  do {
    ready = epoll_wait(poller_, events, 2, timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  for (int i = 0; i < ready; ++i) {
    if (events[i].data.fd == waker_) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t taken = read(waker_, &count, sizeof count);
    }
  }
  return ready != 0;
}

}  // namespace sqlengine::server
