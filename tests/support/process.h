// Child processes for tests: started in a process group of their own, talked
// to through pipes, and never outliving the object that started them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelp::test {

using Milliseconds = std::chrono::milliseconds;

// The environment a child starts with.
class Environment {
 public:
  // A snapshot of this process's environment.
  static Environment inherit();
  static Environment empty() { return Environment(); }

  Environment& set(const std::string& name, const std::string& value);
  Environment& unset(const std::string& name);
  std::optional<std::string> get(const std::string& name) const;
  // "NAME=value" entries, as execve takes them.
  std::vector<std::string> entries() const;

 private:
  std::map<std::string, std::string> variables_;
};

// Where one of the child's standard streams goes.
struct Stream {
  enum class Kind { pipe, null, inherit, file };
  Kind kind = Kind::pipe;
  std::string path;  // for `file`: created or truncated

  static Stream piped() { return {Kind::pipe, {}}; }
  static Stream discarded() { return {Kind::null, {}}; }
  static Stream inherited() { return {Kind::inherit, {}}; }
  static Stream toFile(std::string path) { return {Kind::file, std::move(path)}; }
};

struct ProcessOptions {
  // argv[0] is the program: a path, or a name looked up in the child's PATH.
  std::vector<std::string> argv;
  Environment environment = Environment::inherit();
  std::optional<std::string> workingDirectory;
  Stream in = Stream::piped();
  Stream out = Stream::piped();
  Stream err = Stream::piped();
  // How long the child may take to end after SIGTERM before it gets SIGKILL.
  Milliseconds terminationGrace{2000};
};

// How a child ended.
struct ExitStatus {
  bool exited = false;  // by exit(), with `code`; otherwise killed by `signal`
  int code = -1;
  int signal = 0;

  bool success() const { return exited && code == 0; }
  std::string describe() const;
};

// One running child. All waiting is bounded by the timeout given and keeps
// every pipe flowing in both directions, so a child that writes much while
// it is being written to cannot deadlock the test.
class Process {
 public:
  // Starts the child. Throws std::runtime_error with a readable reason when
  // the program cannot be found or started.
  explicit Process(ProcessOptions options);
  ~Process();

  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& program() const { return program_; }

  // Writes all of `data` to the child's standard input. False when the child
  // stopped reading (closed its input or ended) or the timeout passed.
  bool write(const std::string& data, Milliseconds timeout = Milliseconds(10000));
  void closeStdin();
  // Stops reading the child's output: its next write finds the pipe closed.
  void closeStdout();

  // The next line of standard output without its "\n" (a final line without
  // one is returned at end of output). None on timeout or at end of output.
  std::optional<std::string> readLine(Milliseconds timeout);
  // Standard output has ended and every line of it has been read.
  bool stdoutAtEnd() const;
  // Everything still to come on standard output until it ends.
  std::string readAllStdout(Milliseconds timeout);
  // What the child wrote to standard error so far (collected while waiting).
  const std::string& stderrText();
  // Collects standard error until it ends or the timeout passes.
  const std::string& drainStderr(Milliseconds timeout);

  // Waits until the child ends. None when it is still running at the timeout.
  std::optional<ExitStatus> waitForExit(Milliseconds timeout);
  bool running();
  std::optional<ExitStatus> exitStatus() const { return status_; }

  // SIGTERM to the whole process group, SIGKILL after the grace period.
  ExitStatus terminate();
  // Sends `signal` to the whole process group.
  void signalGroup(int signal);

 private:
  using Clock = std::chrono::steady_clock;

  // Moves data through the pipes until `done()` holds or the deadline passes.
  // Returns done().
  template <typename Done>
  bool pumpUntil(Clock::time_point deadline, Done done);
  // One round of poll on the open pipes; false when nothing can change any more.
  bool pumpOnce(int timeoutMs);
  bool reap(bool block);
  void closeFd(int& fd);

  std::string program_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  int pidfd_ = -1;
  std::string pendingInput_;
  std::string outBuffer_;
  std::string errBuffer_;
  std::optional<ExitStatus> status_;
  Milliseconds grace_;
};

// Makes this process the reaper of orphans among its descendants, so that
// what a child's daemons leave behind can be waited for here (see
// reapOrphans) instead of lingering as zombies of an init that may not reap.
void adoptOrphans();
// Reaps ended children of this process that no Process object owns.
void reapOrphans();

// Finds `name` in the directories of `path` (a PATH value); none if absent.
std::optional<std::string> findProgram(const std::string& name, const std::string& path);

// The result of one run of a program to its end.
struct RunResult {
  std::string out;
  std::string err;
  ExitStatus status;
  bool timedOut = false;

  std::vector<std::string> lines() const;
};

// Runs a program with `input` on its standard input (then closed) and
// collects everything until it ends. A child still running at the timeout is
// terminated and the result says so.
RunResult runProgram(ProcessOptions options, const std::string& input, Milliseconds timeout);

// Runs the built kelp-cua with `args` once.
RunResult runHelper(const std::vector<std::string>& args, const std::string& input,
                    const Environment& environment, Milliseconds timeout = Milliseconds(20000));

// The built kelp-cua.
std::string helperPath();

// A fresh directory, removed with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kelp-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Creates (mode 0700) and returns a subdirectory.
  std::string subdirectory(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace kelp::test
