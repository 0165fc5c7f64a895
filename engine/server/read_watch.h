#pragma once
// Lets one thread sleep until a socket has something to read, but only while
// another thread has armed it: a connection's reader watches its socket while
// a request runs, and the executing thread, which reads the socket itself in
// between, arms and disarms the watch with no thread switch. Wake() ends a
// wait at any time. Thread-safe.

#include <chrono>

namespace sqlengine::server {

class ReadWatch {
 public:
  explicit ReadWatch(int socket);
  ~ReadWatch();
  ReadWatch(const ReadWatch&) = delete;
  ReadWatch& operator=(const ReadWatch&) = delete;

  // The socket's next data (or its end) ends one wait, now if it is there.
  void Arm();
  // The socket no longer ends a wait.
  void Disarm();
  // Ends the current wait, or the next one.
  void Wake();
  // Sleeps until the armed socket is readable, a Wake() or the timeout
  // (negative: none). False when the timeout passed.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  void Watch(unsigned events);

  int socket_;
  int poller_;  // epoll: the wake-up counter always, the socket while armed
  int waker_;   // eventfd
};

}  // namespace sqlengine::server
