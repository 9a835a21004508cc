// The clipboards of both display servers against other programs in a
// private desktop (xclip on X11, wl-copy and wl-paste on headless sway),
// each served from its own thread as kelp-cua serves it: what this process
// copies is pasted elsewhere and the other way round, long texts too, and
// the clipboard passes to whoever takes it last.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/harness.h"
#include "platform/linux/clipboard_thread.h"
#include "platform/linux/wayland/clipboard.h"
// After GoogleTest: the X11 headers bring macros (None, Bool, ...).
#include "platform/linux/x11/clipboard.h"

namespace kelp::test {
namespace {

using platform::linux_desktop::ClipboardThread;

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

// The desktop of one display server for a suite, whose display this process
// then uses, as kelp-cua finds it: in the environment.
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

  RunResult runInDesktop(std::vector<std::string> argv) {
    ProcessOptions options;
    options.argv = std::move(argv);
    options.environment = desktop_->environment();
    return runProgram(std::move(options), "", Milliseconds(20000));
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

struct OnX11 {
  using Served = platform::linux_desktop::XClipboard;
  static DesktopOptions options() { return {}; }
  static std::vector<std::string> paste() { return {"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}; }
  static std::vector<std::string> copy() { return {"xclip", "-i", "-selection", "clipboard", "-quiet"}; }
  static constexpr const char* DISPLAY_VARIABLE = "DISPLAY";
};

struct OnSway {
  using Served = platform::linux_desktop::wayland::WaylandClipboard;
  static DesktopOptions options() {
    DesktopOptions options;
    options.server = DisplayServer::sway;
    return options;
  }
  static std::vector<std::string> paste() { return {"wl-paste", "--no-newline"}; }
  static std::vector<std::string> copy() {
    return {"wl-copy", "--foreground", "--type", "text/plain;charset=utf-8"};
  }
  static constexpr const char* DISPLAY_VARIABLE = "WAYLAND_DISPLAY";
};

template <typename Server>
class ClipboardTest : public ClipboardDesktop {
 protected:
  using Clipboard = ClipboardThread<typename Server::Served>;
  static void SetUpTestSuite() { startSuite(Server::options()); }
  RunResult paste() { return runInDesktop(Server::paste()); }
  std::unique_ptr<Process> copy(const std::string& text) { return startCopying(Server::copy(), text); }
};

using Servers = ::testing::Types<OnX11, OnSway>;
TYPED_TEST_SUITE(ClipboardTest, Servers);

TYPED_TEST(ClipboardTest, WhatThisProcessCopiedIsPastedHereAndElsewhere) {
  typename TestFixture::Clipboard clipboard;
  ASSERT_TRUE(clipboard.setText(WORLD_TEXT));
  EXPECT_EQ(clipboard.text(), WORLD_TEXT);
  const RunResult pasted = this->paste();
  EXPECT_TRUE(pasted.status.success()) << pasted.err;
  EXPECT_EQ(pasted.out, WORLD_TEXT);
}

TYPED_TEST(ClipboardTest, WhatAnotherProgramCopiedIsReadHere) {
  auto other = this->copy(WORLD_TEXT);
  typename TestFixture::Clipboard clipboard;
  EXPECT_TRUE(eventually([&] { return clipboard.text() == WORLD_TEXT; })) << clipboard.text().value_or("(none)");
}

// Beyond what one request or one pipe carries: in pieces (X's INCR), or
// written as the reader takes it.
TYPED_TEST(ClipboardTest, LongTextsArriveWholeBothWays) {
  const std::string ours = longText(3 << 20, 1);
  typename TestFixture::Clipboard clipboard;
  ASSERT_TRUE(clipboard.setText(ours));
  const RunResult pasted = this->paste();
  EXPECT_TRUE(pasted.status.success()) << pasted.err;
  EXPECT_EQ(pasted.out.size(), ours.size());
  EXPECT_TRUE(pasted.out == ours);

  const std::string theirs = longText(3 << 20, 2);
  auto other = this->copy(theirs);
  std::optional<std::string> read;
  EXPECT_TRUE(eventually([&] { return (read = clipboard.text()) == theirs; }))
      << (read ? std::to_string(read->size()) + " bytes" : "none");
}

TYPED_TEST(ClipboardTest, AnotherProgramTakesTheClipboardFromThisProcess) {
  typename TestFixture::Clipboard clipboard;
  ASSERT_TRUE(clipboard.setText("ours"));
  auto other = this->copy("theirs");
  EXPECT_TRUE(eventually([&] { return clipboard.text() == "theirs"; }));
  // Its owner gone, the clipboard holds nothing: this process's old text
  // does not come back.
  other->terminate();
  EXPECT_TRUE(eventually([&] { return clipboard.text() == std::nullopt; }));
  ASSERT_TRUE(clipboard.setText("ours again"));
  EXPECT_EQ(this->paste().out, "ours again");
}

TYPED_TEST(ClipboardTest, WithoutADisplayThereIsNoClipboardUntilThereIsOne) {
  const char* name = TypeParam::DISPLAY_VARIABLE;
  const std::optional<std::string> display = ClipboardDesktop::variable(name);
  ::unsetenv(name);
  typename TestFixture::Clipboard clipboard;
  EXPECT_FALSE(clipboard.available());
  EXPECT_FALSE(clipboard.setText("text"));
  EXPECT_EQ(clipboard.text(), std::nullopt);
  ClipboardDesktop::restore(name, display);
  EXPECT_TRUE(clipboard.available()) << "the display found once it is there";
}

// Programs of older conventions list the targets and ask for STRING
// (ISO 8859-1), which has no room for Hangul or emoji.
using XClipboardTargets = ClipboardTest<OnX11>;
TEST_F(XClipboardTargets, OtherTargetsAreAnswered) {
  Clipboard clipboard;
  ASSERT_TRUE(clipboard.setText("café 😀"));
  const std::vector<std::string> targets =
      runInDesktop({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}).lines();
  for (const char* target : {"TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING", "TEXT", "text/plain;charset=utf-8"}) {
    EXPECT_NE(std::find(targets.begin(), targets.end(), target), targets.end()) << target;
  }
  EXPECT_EQ(runInDesktop({"xclip", "-o", "-selection", "clipboard", "-t", "STRING"}).out, "caf\xe9 ?");
  EXPECT_EQ(runInDesktop({"xclip", "-o", "-selection", "clipboard", "-t", "text/plain;charset=utf-8"}).out,
            "café 😀");
}

}  // namespace
}  // namespace kelp::test
