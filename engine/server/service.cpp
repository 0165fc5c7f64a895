#include "engine/server/service.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/server/instance_files.h"
#include "engine/server/server.h"
#include "engine/server/service_options.h"
#include "engine/server/tds_probe.h"
#include "engine/server/tls_context.h"

namespace sqlengine::server {
namespace {

// What `run --background` writes to stderr once it accepts connections,
// just before it detaches from the pipe `start` reads.
constexpr std::string_view kReadyMarker = "sqlengine: ready\n";

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string HostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

void RedirectToDevNull(std::initializer_list<int> fds) {
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  for (int fd : fds) dup2(null, fd);
  close(null);
}

bool AnyAnswers(const ServiceOptions& options) {
  if (options.port == 0) return false;
  for (const std::string& address : options.ListenAddresses()) {
    if (AnswersTds(address, options.port)) return true;
  }
  return false;
}

int Run(const ServiceOptions& options, const EngineFactory& open_engine) {
  std::unique_ptr<InstanceLock> lock;
  try {
    lock = InstanceLock::Acquire(options.home);
  } catch (const std::exception& e) {
    std::cerr << "sqlengine: " << e.what() << '\n';
    return kExitFailure;
  }
  if (!lock) {
    std::cerr << kAlreadyRunning << '\n';
    return kExitAlreadyRunning;
  }
  Log log(options.home / "log" / "sqlengine.log");

  // Every thread inherits this mask; one thread takes the signals.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<Engine> engine;
  try {
    engine = open_engine(options.home, log);
  } catch (const std::exception& e) {
    log.Error(std::string("cannot open the instance home: ") + e.what());
    std::cerr << "sqlengine: cannot open the instance home " << options.home << ": " << e.what()
              << '\n';
    return kExitFailure;
  }
  const std::vector<std::string> addresses = options.ListenAddresses();
  for (const std::string& address : addresses) {
    if (!IsLoopbackAddress(address) && engine->SysadminHasEmptyPassword()) {
      std::string text = "Refusing to listen on " + address +
                         ": a sysadmin login has an empty password. Connect on 127.0.0.1 and set "
                         "one first, for example: EXEC sp_password NULL, 'new password', 'sa'";
      log.Error(text);
      std::cerr << "sqlengine: " << text << '\n';
      return kExitRefused;
    }
    if (!IsLoopbackAddress(address)) engine->SetListensBeyondLoopback(true);
  }

  SessionSettings settings;
  settings.server_name = HostName();
  settings.login_timeout = options.login_timeout;
  if (options.sql_server_2000) settings.highest_version = tds::TdsVersion::k71;
  try {
    CertificateFiles files{options.tls_certificate, options.tls_key};
    if (files.certificate.empty()) {
      files = EnsureSelfSignedCertificate(options.home / "tls", settings.server_name);
    }
    settings.tls = std::make_shared<TlsContext>(files);
  } catch (const TlsError& e) {
    log.Error(std::string("cannot set up encryption: ") + e.what());
    std::cerr << "sqlengine: cannot set up encryption: " << e.what() << '\n';
    return kExitFailure;
  }
  bool beyond_loopback = false;
  for (const std::string& address : addresses) beyond_loopback |= !IsLoopbackAddress(address);
  settings.encryption = beyond_loopback || options.force_encryption
                            ? tds::ServerEncryption::kRequired
                            : tds::ServerEncryption::kOffered;
  int user_connections = options.user_connections.value_or(engine->ConfiguredUserConnections());
  Server server(*engine, log, settings);
  server.SetConnectionLimit(user_connections > 0 ? static_cast<std::size_t>(user_connections)
                                                 : kMaxUserConnections);
  ListenConfig config;
  config.addresses = addresses;
  if (options.UsesDefaultAddresses()) config.optional_addresses = {"::1"};
  config.port = options.port;
  try {
    server.Listen(config);
  } catch (const ListenError& e) {
    if (e.address_in_use() && AnswersTds(e.address(), options.port)) {
      std::cerr << kAlreadyRunning << '\n';
      return kExitAlreadyRunning;
    }
    log.Error(e.what());
    std::cerr << "sqlengine: " << e.what() << '\n';
    return kExitFailure;
  }
  lock->Publish({static_cast<int>(getpid()), server.Port(), server.Endpoints()});
  log.Info("started (pid " + std::to_string(getpid()) + ", home " + options.home.string() +
           "), listening on " + Join(server.Endpoints()) + "; encryption " +
           (settings.encryption == tds::ServerEncryption::kRequired ? "required" : "offered") +
           ", user connections " +
           (user_connections > 0 ? std::to_string(user_connections) : "0 (32767)"));
  if (options.background) {
    std::cerr << kReadyMarker << std::flush;
    RedirectToDevNull({STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO});
  } else {
    std::cout << "sqlengine listening on " << Join(server.Endpoints()) << std::endl;
  }

  // SHUTDOWN stops the engine as `sqlengine stop` does: by the signal the
  // waiter below takes.
  engine->SetShutdown([] { kill(getpid(), SIGTERM); });
  std::thread signal_waiter([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    log.Info("stopping on signal " + std::to_string(signal_number));
    server.Stop();
  });
  server.Serve();
  // Serve ends only through Stop(), so the waiter has taken its signal.
  signal_waiter.join();
  engine.reset();
  log.Info("stopped");
  return 0;
}

int Start(const ServiceOptions& options) {
  if (FindRunningInstance(options.home) || AnyAnswers(options)) {
    std::cout << kAlreadyRunning << '\n';
    return kExitAlreadyRunning;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    std::perror("sqlengine: pipe");
    return kExitFailure;
  }
  std::vector<std::string> args = {"sqlengine",           "run",    "--home",
                                   options.home.string(), "--port", std::to_string(options.port),
                                   "--background"};
  for (const std::string& address : options.listen) {
    args.push_back("--listen");
    args.push_back(address);
  }
  for (std::string& arg : options.TuningArguments()) args.push_back(std::move(arg));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t child = fork();
  if (child < 0) {
    std::perror("sqlengine: fork");
    return kExitFailure;
  }
  if (child == 0) {
    setsid();
    RedirectToDevNull({STDIN_FILENO, STDOUT_FILENO});
    dup2(pipe_fds[1], STDERR_FILENO);
    execv("/proc/self/exe", argv.data());
    std::perror("sqlengine: exec");
    _exit(127);
  }
  close(pipe_fds[1]);
  std::string output;
  char buffer[512];
  for (;;) {
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_fds[0]);
  std::size_t marker = output.find(kReadyMarker);
  if (marker == std::string::npos) {
    int status = 0;
    waitpid(child, &status, 0);
    std::cerr << output;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
    if (code == kExitAlreadyRunning) return code;
    if (code == 0) code = kExitFailure;
    if (output.empty()) std::cerr << "sqlengine: the service ended during start-up\n";
    return code;
  }
  std::cerr << output.substr(0, marker);
  auto info = FindRunningInstance(options.home);
  std::cout << "The service is running (pid " << child << ")"
            << (info ? ", listening on " + Join(info->endpoints) : std::string()) << ".\n";
  return 0;
}

int Stop(const ServiceOptions& options) {
  auto info = FindRunningInstance(options.home);
  if (!info || info->pid <= 0) {
    std::cout << "The service is not running.\n";
    return kExitFailure;
  }
  if (kill(info->pid, SIGTERM) != 0) {
    std::perror("sqlengine: kill");
    return kExitFailure;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (FindRunningInstance(options.home)) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::cerr << "sqlengine: the service (pid " << info->pid << ") did not stop within 60 s\n";
      return kExitFailure;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::cout << "The service has stopped.\n";
  return 0;
}

int Status(const ServiceOptions& options) {
  auto info = FindRunningInstance(options.home);
  if (!info) {
    std::cout << "The service is not running (home " << options.home.string() << ").\n";
    return kExitFailure;
  }
  if (info->pid <= 0) {
    std::cout << "The service is starting (home " << options.home.string() << ").\n";
    return 0;
  }
  std::cout << "The service is running (pid " << info->pid << "), listening on "
            << Join(info->endpoints) << " (home " << options.home.string() << ").\n";
  return 0;
}

}  // namespace

int ServiceMain(int argc, char** argv, const EngineFactory& open_engine) {
  ServiceOptions options;
  try {
    options = ParseCommandLine(argc, argv);
  } catch (const std::invalid_argument& e) {
    std::cerr << "sqlengine: " << e.what() << '\n' << UsageText();
    return kExitRefused;
  }
  if (options.command == "run") return Run(options, open_engine);
  if (options.command == "start") return Start(options);
  if (options.command == "stop") return Stop(options);
  return Status(options);
}

}  // namespace sqlengine::server
