// The clipboard on headless sway against wl-copy and wl-paste: what this
// process copies is pasted by another program and the other way round, long
// texts too, and the clipboard passes to whoever takes it last.
#include "platform/linux/clipboard_fixture.h"
#include "platform/linux/wayland/clipboard.h"

namespace kelp::test {
namespace {

using platform::linux_desktop::wayland::WaylandClipboard;

class WaylandClipboardTest : public ClipboardDesktop {
 protected:
  static void SetUpTestSuite() {
    DesktopOptions options;
    options.server = DisplayServer::sway;
    startSuite(options);
  }

  static std::vector<std::string> paste() { return {"wl-paste", "--no-newline"}; }
  std::unique_ptr<Process> copy(const std::string& text) {
    return startCopying({"wl-copy", "--foreground", "--type", "text/plain;charset=utf-8"}, text);
  }
};

TEST_F(WaylandClipboardTest, WhatThisProcessCopiedIsPastedHereAndElsewhere) {
  WaylandClipboard clipboard;
  ASSERT_TRUE(clipboard.setText(WORLD_TEXT));
  EXPECT_EQ(clipboard.text(), WORLD_TEXT);
  const RunResult pasted = runWhileServing(paste());
  EXPECT_TRUE(pasted.status.success()) << pasted.err;
  EXPECT_EQ(pasted.out, WORLD_TEXT);
}

TEST_F(WaylandClipboardTest, WhatAnotherProgramCopiedIsReadHere) {
  auto other = copy(WORLD_TEXT);
  WaylandClipboard clipboard;
  EXPECT_TRUE(eventually([&] { return clipboard.text() == WORLD_TEXT; })) << clipboard.text().value_or("(none)");
}

// Far more than a pipe holds: the reader is written to from the main loop
// as it takes the text.
TEST_F(WaylandClipboardTest, LongTextsArriveWholeBothWays) {
  const std::string ours = longText(3 << 20, 1);
  WaylandClipboard clipboard;
  ASSERT_TRUE(clipboard.setText(ours));
  const RunResult pasted = runWhileServing(paste());
  EXPECT_TRUE(pasted.status.success()) << pasted.err;
  EXPECT_EQ(pasted.out.size(), ours.size());
  EXPECT_TRUE(pasted.out == ours);

  const std::string theirs = longText(3 << 20, 2);
  auto other = copy(theirs);
  std::optional<std::string> read;
  EXPECT_TRUE(eventually([&] { return (read = clipboard.text()) == theirs; }))
      << (read ? std::to_string(read->size()) + " bytes" : "none");
}

TEST_F(WaylandClipboardTest, AnotherProgramTakesTheClipboardFromThisProcess) {
  WaylandClipboard clipboard;
  ASSERT_TRUE(clipboard.setText("ours"));
  auto other = copy("theirs");
  EXPECT_TRUE(eventually([&] { return clipboard.text() == "theirs"; }));
  // Its owner gone, the clipboard holds nothing: this process's old text
  // does not come back.
  other->terminate();
  EXPECT_TRUE(eventually([&] { return clipboard.text() == std::nullopt; }));
  ASSERT_TRUE(clipboard.setText("ours again"));
  EXPECT_EQ(runWhileServing(paste()).out, "ours again");
}

TEST_F(WaylandClipboardTest, WithoutACompositorThereIsNoClipboard) {
  const std::optional<std::string> display = variable("WAYLAND_DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  WaylandClipboard clipboard;
  EXPECT_FALSE(clipboard.available());
  EXPECT_FALSE(clipboard.setText("text"));
  EXPECT_EQ(clipboard.text(), std::nullopt);
  restore("WAYLAND_DISPLAY", display);
  EXPECT_TRUE(clipboard.available()) << "the compositor found once it is there";
}

}  // namespace
}  // namespace kelp::test
