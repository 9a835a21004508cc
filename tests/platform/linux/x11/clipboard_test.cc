// The X clipboard against xclip in a private X desktop: what this process
// copies is pasted by another program and the other way round, long texts
// too, and the clipboard passes to whoever takes it last.
#include "platform/linux/clipboard_fixture.h"

// After GoogleTest: the X11 headers bring macros (None, Bool, ...).
#include "platform/linux/x11/clipboard.h"

namespace kelp::test {
namespace {

using platform::linux_desktop::XClipboard;

class XClipboardTest : public ClipboardDesktop {
 protected:
  static void SetUpTestSuite() { startSuite({}); }

  static std::vector<std::string> paste(const std::string& target = "UTF8_STRING") {
    return {"xclip", "-o", "-selection", "clipboard", "-t", target};
  }
  std::unique_ptr<Process> copy(const std::string& text) {
    return startCopying({"xclip", "-i", "-selection", "clipboard", "-quiet"}, text);
  }
};

TEST_F(XClipboardTest, WhatThisProcessCopiedIsPastedHereAndElsewhere) {
  XClipboard clipboard;
  ASSERT_TRUE(clipboard.setText(WORLD_TEXT));
  EXPECT_EQ(clipboard.text(), WORLD_TEXT);
  const RunResult pasted = runWhileServing(paste());
  EXPECT_TRUE(pasted.status.success()) << pasted.err;
  EXPECT_EQ(pasted.out, WORLD_TEXT);
}

TEST_F(XClipboardTest, WhatAnotherProgramCopiedIsReadHere) {
  auto other = copy(WORLD_TEXT);
  XClipboard clipboard;
  EXPECT_TRUE(eventually([&] { return clipboard.text() == WORLD_TEXT; })) << clipboard.text().value_or("(none)");
}

// Beyond what one request carries, both ways go in pieces (INCR).
TEST_F(XClipboardTest, LongTextsArriveWholeBothWays) {
  const std::string ours = longText(3 << 20, 1);
  XClipboard clipboard;
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

TEST_F(XClipboardTest, AnotherProgramTakesTheClipboardFromThisProcess) {
  XClipboard clipboard;
  ASSERT_TRUE(clipboard.setText("ours"));
  auto other = copy("theirs");
  EXPECT_TRUE(eventually([&] { return clipboard.text() == "theirs"; }));
  // Its owner gone, the clipboard holds nothing: this process's old text
  // does not come back.
  other->terminate();
  EXPECT_TRUE(eventually([&] { return clipboard.text() == std::nullopt; }));
  // And this process can take it again.
  ASSERT_TRUE(clipboard.setText("ours again"));
  EXPECT_EQ(runWhileServing(paste()).out, "ours again");
}

// Programs of older conventions list the targets and ask for STRING
// (ISO 8859-1), which has no room for Hangul or emoji.
TEST_F(XClipboardTest, OtherTargetsAreAnswered) {
  XClipboard clipboard;
  ASSERT_TRUE(clipboard.setText("café 😀"));
  const std::vector<std::string> targets = runWhileServing(paste("TARGETS")).lines();
  for (const char* target : {"TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING", "TEXT", "text/plain;charset=utf-8"}) {
    EXPECT_NE(std::find(targets.begin(), targets.end(), target), targets.end()) << target;
  }
  EXPECT_EQ(runWhileServing(paste("STRING")).out, "caf\xe9 ?");
  EXPECT_EQ(runWhileServing(paste("text/plain;charset=utf-8")).out, "café 😀");
}

TEST_F(XClipboardTest, WithoutADisplayThereIsNoClipboard) {
  const std::optional<std::string> display = variable("DISPLAY");
  ::unsetenv("DISPLAY");
  XClipboard clipboard;
  EXPECT_FALSE(clipboard.available());
  EXPECT_FALSE(clipboard.setText("text"));
  EXPECT_EQ(clipboard.text(), std::nullopt);
  restore("DISPLAY", display);
  EXPECT_TRUE(clipboard.available()) << "the display found once it is there";
}

}  // namespace
}  // namespace kelp::test
