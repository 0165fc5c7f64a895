#include "service_start.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "connection_text.h"
#include "dbplatform/error.h"
#include "dbplatform/platform.h"

namespace dbplatform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEngineAlreadyRunningStatus = 3;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  int got;
  do {
    got = ::poll(&p, 1, timeout_ms);
  } while (got < 0 && errno == EINTR);
  return got > 0 && (p.revents & events) != 0;
}

// A PRELOGIN packet asking for no encryption: header, then the VERSION and
// ENCRYPTION options.
constexpr unsigned char kPrelogin[] = {0x12, 0x01, 0x00, 26,   0x00, 0x00,
                                       0x01, 0x00,  // header: type, status, length 26
                                       0x00, 0x00, 11,   0x00, 6,  // VERSION at 11, 6 bytes
                                       0x01, 0x00, 17,   0x00, 1,  // ENCRYPTION at 17, 1 byte
                                       0xFF,                       // end of options
                                       0x09, 0x00, 0x00, 0x00, 0x00, 0x00,  // client version
                                       0x02};  // encryption not supported

bool ProbeAddress(const addrinfo& address, int timeout_ms) {
  Socket s(::socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (s.get() < 0) return false;
  if (::connect(s.get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS || !WaitFor(s.get(), POLLOUT, timeout_ms)) return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return false;
  }
  if (::send(s.get(), kPrelogin, sizeof kPrelogin, MSG_NOSIGNAL) !=
      static_cast<ssize_t>(sizeof kPrelogin)) {
    return false;
  }
  if (!WaitFor(s.get(), POLLIN, timeout_ms)) return false;
  unsigned char reply = 0;
  return ::recv(s.get(), &reply, 1, 0) == 1 && reply == 0x04;  // a tabular response
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string ReadAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

[[noreturn]] void ThrowAlreadyRunning() {
  throw Error(kServiceAlreadyRunning, "An instance of the service is already running.");
}

// Runs `engine start --port N`, which returns once the engine accepts
// connections. Its output goes to an unlinked temporary file, not a pipe: the
// engine that stays behind must not hold our read end open.
void RunEngineStart(const std::string& engine, int port, Clock::time_point deadline) {
  char name[] = "/tmp/dbplatform-start-XXXXXX";
  int output = ::mkstemp(name);
  if (output < 0) throw Error(kServiceFailedToStart, "The service could not be started.");
  ::unlink(name);
  std::string port_text = std::to_string(port);
  pid_t child = ::fork();
  if (child < 0) {
    ::close(output);
    throw Error(kServiceFailedToStart, "The service could not be started.");
  }
  if (child == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0) ::dup2(null_in, 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    ::execl(engine.c_str(), engine.c_str(), "start", "--port", port_text.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  bool exited = false;
  while (Clock::now() < deadline) {
    pid_t got = ::waitpid(child, &status, WNOHANG);
    if (got == child || (got < 0 && errno != EINTR)) {
      exited = got == child;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string said = ReadAll(output);
  ::close(output);
  if (!exited) {
    throw Error(kServiceStartTimeout,
                "The service did not respond to the start or control request in a timely "
                "fashion.");
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kEngineAlreadyRunningStatus) {
    ThrowAlreadyRunning();
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw Error(kServiceFailedToStart,
                "The service could not be started" + (said.empty() ? "." : ": " + said));
  }
}

}  // namespace

ServiceAddress ParseServiceAddress(std::string_view server) {
  ServiceAddress address;
  OdbcLogin login;
  if (!ApplyServerName(server, login)) {
    address.valid = false;
    return address;
  }
  address.host = login.host;
  if (login.port > 0) address.port = login.port;
  address.this_computer = login.host == "127.0.0.1" || IsThisComputer(login.host);
  return address;
}

bool TdsServerAnswers(const std::string& host, int port, int timeout_ms) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string port_text = std::to_string(port);
  if (::getaddrinfo(host.c_str(), port_text.c_str(), &hints, &found) != 0) return false;
  bool answers = false;
  for (addrinfo* a = found; a != nullptr && !answers; a = a->ai_next) {
    answers = ProbeAddress(*a, timeout_ms);
  }
  ::freeaddrinfo(found);
  return answers;
}

std::optional<std::string> FindEngineProgram(const std::string& executable_folder,
                                             std::string_view path_list) {
  std::string beside = executable_folder + kPathSeparator + "sqlengine";
  if (!executable_folder.empty() && IsExecutableFile(beside)) return beside;
  while (!path_list.empty()) {
    std::size_t colon = path_list.find(':');
    std::string_view folder = path_list.substr(0, colon);
    path_list = colon == std::string_view::npos ? std::string_view() : path_list.substr(colon + 1);
    if (folder.empty()) continue;
    std::string candidate = std::string(folder) + kPathSeparator + "sqlengine";
    if (IsExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

void StartService(const std::string& server, int timeout_seconds) {
  const char* path = std::getenv("PATH");
  StartService(server, timeout_seconds, FindEngineProgram(ExecutableFolder(), path ? path : ""));
}

void StartService(const std::string& server, int timeout_seconds,
                  const std::optional<std::string>& engine_program) {
  ServiceAddress address = ParseServiceAddress(server);
  if (!address.valid) {
    throw Error(kServiceFailedToStart, "'" + server + "' is not a valid server name.");
  }
  auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds > 0 ? timeout_seconds : 60);
  int probe_ms = std::min(timeout_seconds > 0 ? timeout_seconds : 60, 5) * 1000;
  if (TdsServerAnswers(address.host, address.port, probe_ms)) ThrowAlreadyRunning();
  if (!address.this_computer) {
    throw Error(kRemoteServiceStart, "The service of the computer '" + address.host +
                                         "' cannot be started from here; start it on that "
                                         "computer.");
  }
  if (!engine_program) {
    throw Error(kServiceNotInstalled,
                "The specified service does not exist as an installed service: the program "
                "sqlengine was found neither beside this program nor on PATH.");
  }
  RunEngineStart(*engine_program, address.port, deadline);
  while (!TdsServerAnswers(address.host, address.port, 1000)) {
    if (Clock::now() >= deadline) {
      throw Error(kServiceStartTimeout,
                  "The service did not respond to the start or control request in a timely "
                  "fashion.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace dbplatform
