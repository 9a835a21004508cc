// One private desktop with the GTK widget factory for a whole test suite.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "desktop/harness.h"

namespace kelp::test {

// Turns the desktop's accessibility switch off for as long as it lives and
// back on afterwards, whatever happens in between, so that a suite's later
// tests find it on.
class AccessibilitySwitchedOff {
 public:
  explicit AccessibilitySwitchedOff(DesktopSession& desktop) : desktop_(desktop) {
    desktop_.setAccessibilityEnabled(false);
  }
  ~AccessibilitySwitchedOff() {
    try {
      desktop_.setAccessibilityEnabled(true);
    } catch (const std::exception& error) {
      ADD_FAILURE() << error.what();
    }
  }
  AccessibilitySwitchedOff(const AccessibilitySwitchedOff&) = delete;
  AccessibilitySwitchedOff& operator=(const AccessibilitySwitchedOff&) = delete;

 private:
  DesktopSession& desktop_;
};

// Polls `done` every 50 ms until it holds or the time is up.
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

inline AppOptions program(std::vector<std::string> argv) {
  AppOptions options;
  options.argv = std::move(argv);
  return options;
}

// Chromium on `url` with a profile in `profile`. The harness runs as root,
// where Chromium insists on --no-sandbox; the helper itself never passes it.
inline AppOptions chromiumProgram(const std::string& profile, const std::string& url) {
  return program({"chromium", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile, url});
}

// Firefox on `url` with a profile in `profile` (an empty directory), without
// its first-run pages.
inline AppOptions firefoxProgram(const std::string& profile, const std::string& url) {
  std::ofstream(profile + "/user.js")
      << "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"startup.homepage_welcome_url\", \"\");\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n";
  return program({"firefox-esr", "--new-instance", "--profile", profile, url});
}

// Ends an application that a test started when the test ends, however it ends.
struct StopWhenDone {
  DesktopApp& app;
  ~StopWhenDone() {
    if (app.process->running()) app.process->terminate();
  }
};

// The view sway shows for an application that the desktop started.
// Every check of a "selftest" reply passed.
inline void expectAWorkingSelfTestReport(const Json& result) {
  EXPECT_GE(result.value("windows", 0), 1) << result.dump();
  EXPECT_GE(result.value("elements", 0), 5) << result.dump();
  EXPECT_EQ(result["cardStayedEmpty"], true) << result.dump();
  EXPECT_EQ(result["payBlocked"], true) << result.dump();
  EXPECT_TRUE(std::find(result["menuTop"].begin(), result["menuTop"].end(), "파일") != result["menuTop"].end())
      << result.dump();
  for (const char* check : {"sawButton", "sawField", "resolvedAndPressed", "typed", "typeRefusedHonestly",
                            "lockedStayed", "cardBlocked", "menuPressed"}) {
    EXPECT_EQ(result[check], true) << check << " in " << result.dump();
  }
}

inline std::optional<DesktopSession::SwayWindow> swayWindowOf(DesktopSession& desktop, const DesktopApp& app) {
  for (const DesktopSession::SwayWindow& window : desktop.swayWindows()) {
    if (static_cast<unsigned long>(window.conId) == app.window) return window;
  }
  return std::nullopt;
}

class WidgetFactoryDesktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { startSuite({}); }

  static void startSuite(DesktopOptions options) {
    failure_.clear();
    try {
      desktop_ = std::make_unique<DesktopSession>(std::move(options));
      app_ = &desktop_->startApplication();
    } catch (const std::exception& error) {
      failure_ = error.what();
      app_ = nullptr;
      desktop_.reset();
    }
  }

  static void TearDownTestSuite() {
    app_ = nullptr;
    desktop_.reset();
  }

  // A desktop that did not start fails every test of the suite, with the
  // reason: the machines that run these tests have everything installed.
  void SetUp() override {
    if (!desktop_) FAIL() << failure_;
  }

  DesktopSession& desktop() { return *desktop_; }
  DesktopApp& app() { return *app_; }

  // Sends `requests` to one kelp-cua in server mode and returns its replies.
  // The helper must answer each, end at end of input with status 0, and
  // write nothing to standard error. `environment` replaces the desktop's.
  std::vector<Json> ask(const std::vector<Json>& requests, const std::optional<Environment>& environment = {}) {
    std::vector<Json> replies;
    auto helper = environment ? std::make_unique<HelperSession>(*environment) : desktop_->startHelper();
    for (const Json& request : requests) {
      auto reply = helper->request(request);
      EXPECT_TRUE(reply.has_value()) << "no reply to " << request.dump();
      if (!reply) break;
      replies.push_back(*reply);
    }
    auto status = helper->finish();
    EXPECT_TRUE(status.has_value()) << "kelp-cua still runs after its input ended";
    if (status) {
      EXPECT_TRUE(status->success()) << status->describe();
    }
    EXPECT_EQ(helper->trailingOutput(), "");
    EXPECT_EQ(helper->stderrText(), "");
    lastHelperPid_ = helper->process().pid();
    return replies;
  }

  Json askOne(const Json& request) {
    auto replies = ask({request});
    return replies.empty() ? Json() : replies.front();
  }

  pid_t lastHelperPid_ = 0;

  static inline std::unique_ptr<DesktopSession> desktop_;
  static inline DesktopApp* app_ = nullptr;
  static inline std::string failure_;
};

}  // namespace kelp::test
