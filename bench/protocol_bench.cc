// Request throughput and start-up latency of the built helper, measured
// through its standard streams as a parent application sees them, and the
// cost of handing one request from the reader thread to the main run loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/platform.h"

extern char** environ;

namespace {

// The helper as a child process with piped standard streams.
class Helper {
 public:
  Helper() {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char path[] = KELP_CUA_PATH;
    char* argv[] = {path, nullptr};
    if (posix_spawn(&pid_, path, &actions, nullptr, argv, environ) != 0) throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toHelper_ = in[1];
    fromHelper_ = out[0];
  }
  ~Helper() {
    closeInput();
    close(fromHelper_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  void write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(toHelper_, text.data() + done, text.size() - done);
      if (n <= 0) throw std::runtime_error("write");
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads until `lines` line breaks have arrived.
  void readLines(std::size_t lines) {
    char buffer[65536];
    while (lines > 0) {
      ssize_t n = ::read(fromHelper_, buffer, sizeof buffer);
      if (n <= 0) throw std::runtime_error("helper closed its output");
      for (ssize_t i = 0; i < n; ++i) lines -= buffer[i] == '\n';
    }
  }
  void closeInput() {
    if (toHelper_ >= 0) close(toHelper_);
    toHelper_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int toHelper_ = -1;
  int fromHelper_ = -1;
};

const std::string PING = "{\"cmd\":\"ping\",\"id\":7}\n";

// A parent that writes requests as fast as it can while reading replies.
void BM_PingThroughput(benchmark::State& state) {
  const auto batch = static_cast<std::size_t>(state.range(0));
  std::string input;
  for (std::size_t i = 0; i < batch; ++i) input += PING;
  Helper helper;
  for (auto _ : state) {
    std::thread writer([&] { helper.write(input); });
    helper.readLines(batch);
    writer.join();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
BENCHMARK(BM_PingThroughput)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A parent that waits for each reply before sending the next request.
void BM_PingRoundTrip(benchmark::State& state) {
  Helper helper;
  for (auto _ : state) {
    helper.write(PING);
    helper.readLines(1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// From starting the process to holding its first reply.
void BM_StartToFirstReply(benchmark::State& state) {
  for (auto _ : state) {
    Helper helper;
    helper.write(PING);
    helper.readLines(1);
    state.PauseTiming();
    helper.closeInput();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartToFirstReply)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reader thread's hand-over of one task to the desktop's main run loop.
void BM_RunSyncHandOver(benchmark::State& state) {
  auto os = kelp::platform::makeDesktopPlatform();
  kelp::platform::RunLoop& loop = os->runLoop();
  std::thread mainLoop([&] { loop.run(); });
  std::atomic<long> ran{0};
  for (auto _ : state) loop.runSync([&] { ran.fetch_add(1, std::memory_order_relaxed); });
  loop.stop();
  mainLoop.join();
  if (ran.load() != static_cast<long>(state.iterations())) state.SkipWithError("a task did not run");
}
BENCHMARK(BM_RunSyncHandOver)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
