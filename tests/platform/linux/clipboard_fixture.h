// What the clipboard tests of both display servers share: a private desktop
// for the suite, whose display this process then uses, and other programs
// that paste while this thread serves the clipboard from its main loop, as
// kelp-cua's main thread does between requests.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/harness.h"

namespace kelp::test {

// Hangul, an accent that combines and an emoji beyond 16 bits.
inline const std::string WORLD_TEXT = "클립보드에 복사한 글, café e\xcc\x81 😀";

// At least `size` bytes of lines in several scripts, different for each `seed`.
inline std::string longText(std::size_t size, int seed) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += std::to_string(seed) + "/" + std::to_string(line) + " 안녕하세요 세계 😀 the quick brown fox\n";
  }
  return text;
}

class ClipboardDesktop : public ::testing::Test {
 protected:
  static void startSuite(DesktopOptions options) {
    failure_.clear();
    try {
      options.accessibility = false;
      desktop_ = std::make_unique<DesktopSession>(options);
    } catch (const std::exception& error) {
      failure_ = error.what();
      return;
    }
    // The backends find their display where kelp-cua would: in the environment.
    saved_ = {{"DISPLAY", variable("DISPLAY")}, {"WAYLAND_DISPLAY", variable("WAYLAND_DISPLAY")}};
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    if (options.server == DisplayServer::sway) {
      ::setenv("WAYLAND_DISPLAY", desktop_->waylandDisplay().c_str(), 1);
    } else {
      ::setenv("DISPLAY", desktop_->display().c_str(), 1);
    }
  }

  static void TearDownTestSuite() {
    desktop_.reset();
    for (const auto& [name, value] : saved_) restore(name, value);
    saved_.clear();
  }

  // A desktop that did not start fails every test of the suite, with the
  // reason: the machines that run these tests have everything installed.
  void SetUp() override {
    if (!desktop_) FAIL() << failure_;
  }

  static std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void restore(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  // Runs a program of the desktop to its end, this thread's main loop
  // serving meanwhile.
  RunResult runWhileServing(std::vector<std::string> argv) {
    ProcessOptions options;
    options.argv = std::move(argv);
    options.environment = desktop_->environment();
    std::atomic<bool> done{false};
    RunResult result;
    std::thread program([&] {
      result = runProgram(std::move(options), "", Milliseconds(20000));
      done = true;
    });
    while (!done) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    program.join();
    return result;
  }

  // Starts a program of the desktop that copies `text` from its standard
  // input and keeps serving it until it ends.
  std::unique_ptr<Process> startCopying(std::vector<std::string> argv, const std::string& text) {
    ProcessOptions options;
    options.argv = std::move(argv);
    options.environment = desktop_->environment();
    options.out = Stream::discarded();
    options.err = Stream::discarded();
    auto program = std::make_unique<Process>(std::move(options));
    EXPECT_TRUE(program->write(text));
    program->closeStdin();
    return program;
  }

  static inline std::unique_ptr<DesktopSession> desktop_;
  static inline std::string failure_;
  static inline std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace kelp::test
