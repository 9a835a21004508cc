#include "support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kelp::test {
namespace {

using Clock = std::chrono::steady_clock;

// A write to the stdin of a child that has gone must come back as EPIPE
// rather than kill the test process.
void ignoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
}

std::string errnoText(const std::string& what, int error) { return what + ": " + std::strerror(error); }

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 60'000));
}

// Children owned by a live Process object: only their owner may reap them.
std::mutex ownedMutex;
std::set<pid_t>& ownedChildren() {
  static std::set<pid_t> owned;
  return owned;
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

struct ProcStat {
  pid_t pid = 0;
  char state = 0;
  pid_t parent = 0;
  pid_t group = 0;
};

// Every process's state, parent and group, as /proc tells them at this moment.
std::vector<ProcStat> listProcesses() {
  std::vector<ProcStat> processes;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return processes;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    // The command name may hold spaces and parentheses; fields resume after the last ')'.
    auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 1));
    ProcStat process;
    process.pid = static_cast<pid_t>(std::atol(entry->d_name));
    fields >> process.state >> process.parent >> process.group;
    processes.push_back(process);
  }
  ::closedir(proc);
  return processes;
}

// Members of a process group that can still act: zombies are left out, as
// nobody may reap them here and signals no longer reach them anyway.
bool groupHasLiveMembers(pid_t group) {
  if (::kill(-group, 0) != 0) return false;
  if (::access("/proc/self/stat", R_OK) != 0) return true;
  for (const ProcStat& process : listProcesses()) {
    if (process.group == group && process.state != 'Z' && process.state != 'X') return true;
  }
  return false;
}

// Ends whatever is left of a process group: SIGTERM, then SIGKILL.
void sweepGroup(pid_t group, Milliseconds grace) {
  if (group <= 0 || !groupHasLiveMembers(group)) return;
  ::kill(-group, SIGTERM);
  const auto deadline = Clock::now() + grace;
  while (Clock::now() < deadline) {
    if (!groupHasLiveMembers(group)) return;
    std::this_thread::sleep_for(Milliseconds(10));
  }
  ::kill(-group, SIGKILL);
}

int openForChild(const Stream& stream, bool forWriting) {
  switch (stream.kind) {
    case Stream::Kind::null:
      return ::open("/dev/null", (forWriting ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    case Stream::Kind::file:
      return forWriting ? ::open(stream.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                        : ::open(stream.path.c_str(), O_RDONLY | O_CLOEXEC);
    default:
      return -1;
  }
}

}  // namespace

// ---- Environment -----------------------------------------------------------

Environment Environment::inherit() {
  Environment environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    environment.variables_[text.substr(0, equals)] = text.substr(equals + 1);
  }
  return environment;
}

Environment& Environment::set(const std::string& name, const std::string& value) {
  variables_[name] = value;
  return *this;
}

Environment& Environment::unset(const std::string& name) {
  variables_.erase(name);
  return *this;
}

std::optional<std::string> Environment::get(const std::string& name) const {
  auto found = variables_.find(name);
  if (found == variables_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> Environment::entries() const {
  std::vector<std::string> entries;
  entries.reserve(variables_.size());
  for (const auto& [name, value] : variables_) entries.push_back(name + "=" + value);
  return entries;
}

// ---- ExitStatus ------------------------------------------------------------

std::string ExitStatus::describe() const {
  if (exited) return "exit status " + std::to_string(code);
  if (signal != 0)
    return std::string("killed by signal ") + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
  return "not ended";
}

// ---- Process ---------------------------------------------------------------

std::optional<std::string> findProgram(const std::string& name, const std::string& path) {
  if (name.find('/') != std::string::npos) {
    if (::access(name.c_str(), X_OK) == 0) return name;
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string directory = path.substr(start, end - start);
    if (directory.empty()) directory = ".";
    std::string candidate = directory + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

Process::Process(ProcessOptions options) : grace_(options.terminationGrace) {
  ignoreSigpipeOnce();
  if (options.argv.empty()) throw std::runtime_error("no program to start");
  const std::string searchPath = options.environment.get("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  auto resolved = findProgram(options.argv.front(), searchPath);
  if (!resolved)
    throw std::runtime_error("program not found: " + options.argv.front() + " (PATH=" + searchPath + ")");
  program_ = *resolved;

  // Everything the child needs is prepared before fork: between fork and
  // exec a multi-threaded parent's child may only make plain system calls.
  std::vector<std::string> envEntries = options.environment.entries();
  std::vector<char*> argv;
  for (std::string& arg : options.argv) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : envEntries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // childFds[n] is what becomes fd n in the child; parent ends stay behind.
  int childFds[3] = {-1, -1, -1};
  int parentFds[3] = {-1, -1, -1};
  const Stream* streams[3] = {&options.in, &options.out, &options.err};
  auto closeAll = [&] {
    for (int i = 0; i < 3; ++i) {
      if (childFds[i] >= 0) ::close(childFds[i]);
      if (parentFds[i] >= 0) ::close(parentFds[i]);
    }
  };
  for (int i = 0; i < 3; ++i) {
    const Stream& stream = *streams[i];
    if (stream.kind == Stream::Kind::pipe) {
      int ends[2];
      if (::pipe2(ends, O_CLOEXEC) != 0) {
        closeAll();
        throw std::runtime_error(errnoText("pipe", errno));
      }
      // For stdin the child reads end 0; for the outputs it writes end 1.
      childFds[i] = i == 0 ? ends[0] : ends[1];
      parentFds[i] = i == 0 ? ends[1] : ends[0];
      setNonBlocking(parentFds[i]);
    } else if (stream.kind != Stream::Kind::inherit) {
      childFds[i] = openForChild(stream, i != 0);
      if (childFds[i] < 0) {
        int error = errno;
        closeAll();
        throw std::runtime_error(
            errnoText("cannot open " + (stream.path.empty() ? "/dev/null" : stream.path), error));
      }
    }
  }
  int execReport[2];
  if (::pipe2(execReport, O_CLOEXEC) != 0) {
    closeAll();
    throw std::runtime_error(errnoText("pipe", errno));
  }
  const char* workingDirectory = options.workingDirectory ? options.workingDirectory->c_str() : nullptr;
  const pid_t parent = ::getpid();

  pid_t pid = ::fork();
  if (pid < 0) {
    int error = errno;
    closeAll();
    ::close(execReport[0]);
    ::close(execReport[1]);
    throw std::runtime_error(errnoText("fork", error));
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    ::setpgid(0, 0);
    // Should the test process die without running destructors, its
    // children must not linger.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    for (int i = 0; i < 3; ++i) {
      if (childFds[i] >= 0 && ::dup2(childFds[i], i) < 0) {
        int error = errno;
        [[maybe_unused]] auto written = ::write(execReport[1], &error, sizeof error);
        ::_exit(127);
      }
    }
    if (workingDirectory != nullptr && ::chdir(workingDirectory) != 0) {
      int error = errno;
      [[maybe_unused]] auto written = ::write(execReport[1], &error, sizeof error);
      ::_exit(127);
    }
    // Descriptors that some library opened without close-on-exec must not
    // leak into the child (a leaked pipe end would hide end of output).
    ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */);
    ::execve(program_.c_str(), argv.data(), envp.data());
    int error = errno;
    [[maybe_unused]] auto written = ::write(execReport[1], &error, sizeof error);
    ::_exit(127);
  }

  // Parent. Setting the group here as well closes the race with a signal
  // sent to the group before the child has made its own.
  ::setpgid(pid, pid);
  pid_ = pid;
  {
    std::lock_guard<std::mutex> lock(ownedMutex);
    ownedChildren().insert(pid);
  }
  for (int i = 0; i < 3; ++i) {
    if (childFds[i] >= 0) ::close(childFds[i]);
  }
  ::close(execReport[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(execReport[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(execReport[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    for (int i = 0; i < 3; ++i) {
      if (parentFds[i] >= 0) ::close(parentFds[i]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    {
      std::lock_guard<std::mutex> lock(ownedMutex);
      ownedChildren().erase(pid);
    }
    pid_ = -1;
    throw std::runtime_error(errnoText("cannot start " + program_, error));
  }
  stdin_ = parentFds[0];
  stdout_ = parentFds[1];
  stderr_ = parentFds[2];
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd_ >= 0) ::fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
}

Process::~Process() {
  if (pid_ <= 0) return;
  if (!status_) terminate();
  // Whatever the child started in its group goes with it.
  sweepGroup(pid_, grace_);
  {
    std::lock_guard<std::mutex> lock(ownedMutex);
    ownedChildren().erase(pid_);
  }
  reapOrphans();
  closeFd(stdin_);
  closeFd(stdout_);
  closeFd(stderr_);
  closeFd(pidfd_);
}

void Process::closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool Process::reap(bool block) {
  if (status_) return true;
  int raw = 0;
  pid_t got;
  do {
    got = ::waitpid(pid_, &raw, block ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  ExitStatus status;
  if (WIFEXITED(raw)) {
    status.exited = true;
    status.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    status.signal = WTERMSIG(raw);
  }
  status_ = status;
  closeFd(pidfd_);
  return true;
}

bool Process::pumpOnce(int timeoutMs) {
  pollfd fds[4];
  int count = 0;
  int inIndex = -1, outIndex = -1, errIndex = -1, exitIndex = -1;
  if (stdin_ >= 0 && !pendingInput_.empty()) {
    inIndex = count;
    fds[count++] = {stdin_, POLLOUT, 0};
  }
  if (stdout_ >= 0) {
    outIndex = count;
    fds[count++] = {stdout_, POLLIN, 0};
  }
  if (stderr_ >= 0) {
    errIndex = count;
    fds[count++] = {stderr_, POLLIN, 0};
  }
  const bool watchExit = !status_.has_value();
  if (watchExit && pidfd_ >= 0) {
    exitIndex = count;
    fds[count++] = {pidfd_, POLLIN, 0};
  }
  if (count == 0 && !watchExit) return false;
  // Without a pidfd the end of the child is noticed by asking often.
  if (watchExit && pidfd_ < 0) timeoutMs = std::min(timeoutMs, 10);

  int ready = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
  if (ready < 0) return errno == EINTR;

  auto drain = [this](int& fd, std::string& buffer) {
    char chunk[65536];
    for (;;) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got > 0) {
        buffer.append(chunk, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      closeFd(fd);  // end of output, or an error that ends it just the same
      return;
    }
  };
  if (outIndex >= 0 && fds[outIndex].revents != 0) drain(stdout_, outBuffer_);
  if (errIndex >= 0 && fds[errIndex].revents != 0) drain(stderr_, errBuffer_);
  if (inIndex >= 0 && fds[inIndex].revents != 0) {
    if (fds[inIndex].revents & (POLLERR | POLLNVAL)) {
      closeFd(stdin_);
      pendingInput_.clear();
    } else {
      ssize_t put = ::write(stdin_, pendingInput_.data(), pendingInput_.size());
      if (put > 0) {
        pendingInput_.erase(0, static_cast<std::size_t>(put));
      } else if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closeFd(stdin_);
        pendingInput_.clear();
      }
    }
  }
  if (watchExit && (exitIndex < 0 || fds[exitIndex].revents != 0)) reap(false);
  return true;
}

template <typename Done>
bool Process::pumpUntil(Clock::time_point deadline, Done done) {
  for (;;) {
    if (done()) return true;
    int wait = remainingMs(deadline);
    if (!pumpOnce(wait)) return done();
    if (wait == 0) return done();
  }
}

bool Process::write(const std::string& data, Milliseconds timeout) {
  if (stdin_ < 0) return false;
  pendingInput_ += data;
  pumpUntil(Clock::now() + timeout, [this] { return pendingInput_.empty() || stdin_ < 0; });
  return stdin_ >= 0 && pendingInput_.empty();
}

void Process::closeStdin() {
  pendingInput_.clear();
  closeFd(stdin_);
}

void Process::closeStdout() {
  outBuffer_.clear();
  closeFd(stdout_);
}

std::optional<std::string> Process::readLine(Milliseconds timeout) {
  pumpUntil(Clock::now() + timeout,
            [this] { return outBuffer_.find('\n') != std::string::npos || stdout_ < 0; });
  auto newline = outBuffer_.find('\n');
  if (newline != std::string::npos) {
    std::string line = outBuffer_.substr(0, newline);
    outBuffer_.erase(0, newline + 1);
    return line;
  }
  if (stdout_ < 0 && !outBuffer_.empty()) {
    std::string line = std::move(outBuffer_);
    outBuffer_.clear();
    return line;
  }
  return std::nullopt;
}

bool Process::stdoutAtEnd() const { return stdout_ < 0 && outBuffer_.empty(); }

std::string Process::readAllStdout(Milliseconds timeout) {
  pumpUntil(Clock::now() + timeout, [this] { return stdout_ < 0; });
  std::string all = std::move(outBuffer_);
  outBuffer_.clear();
  return all;
}

const std::string& Process::stderrText() {
  pumpOnce(0);
  return errBuffer_;
}

const std::string& Process::drainStderr(Milliseconds timeout) {
  pumpUntil(Clock::now() + timeout, [this] { return stderr_ < 0; });
  return errBuffer_;
}

std::optional<ExitStatus> Process::waitForExit(Milliseconds timeout) {
  pumpUntil(Clock::now() + timeout, [this] { return status_.has_value(); });
  return status_;
}

bool Process::running() {
  reap(false);
  return !status_.has_value();
}

void Process::signalGroup(int signal) {
  if (pid_ > 0) ::kill(-pid_, signal);
}

ExitStatus Process::terminate() {
  if (!status_) {
    signalGroup(SIGTERM);
    if (!waitForExit(grace_)) {
      signalGroup(SIGKILL);
      reap(true);
    }
  }
  return *status_;
}

void adoptOrphans() {
  static std::once_flag once;
  std::call_once(once, [] { ::prctl(PR_SET_CHILD_SUBREAPER, 1); });
}

void reapOrphans() {
  const pid_t self = ::getpid();
  std::vector<pid_t> ended;
  for (const ProcStat& process : listProcesses()) {
    if (process.parent == self && process.state == 'Z') ended.push_back(process.pid);
  }
  std::lock_guard<std::mutex> lock(ownedMutex);
  for (pid_t pid : ended) {
    if (ownedChildren().count(pid) == 0) ::waitpid(pid, nullptr, WNOHANG);
  }
}

// ---- one-shot runs ---------------------------------------------------------

std::vector<std::string> RunResult::lines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

RunResult runProgram(ProcessOptions options, const std::string& input, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  auto left = [&] {
    return std::max(Milliseconds(0), std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()));
  };
  Process process(std::move(options));
  RunResult result;
  if (!input.empty()) process.write(input, left());
  process.closeStdin();
  result.out = process.readAllStdout(left());
  result.err = process.drainStderr(left());
  if (auto status = process.waitForExit(left())) {
    result.status = *status;
  } else {
    result.timedOut = true;
    result.status = process.terminate();
    result.out += process.readAllStdout(Milliseconds(0));
    result.err = process.stderrText();
  }
  return result;
}

std::string helperPath() { return KELP_CUA_PATH; }

RunResult runHelper(const std::vector<std::string>& args, const std::string& input,
                    const Environment& environment, Milliseconds timeout) {
  ProcessOptions options;
  options.argv.push_back(helperPath());
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.environment = environment;
  return runProgram(std::move(options), input, timeout);
}

// ---- TempDir ---------------------------------------------------------------

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error(errnoText("mkdtemp " + pattern, errno));
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::subdirectory(const std::string& name) const {
  std::string path = path_ + "/" + name;
  std::filesystem::create_directories(path);
  ::chmod(path.c_str(), 0700);
  return path;
}

}  // namespace kelp::test
