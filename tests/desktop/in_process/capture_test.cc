// Screen capture through the real Linux backend in this process: displays,
// pictures checked against the X server's own, and captures on another
// thread while the main thread keeps using its X connection.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/in_process/linux_fixture.h"

namespace kelp::test {
namespace {

using platform::CaptureDisplay;
using platform::Image;

TEST_F(CoreOnLinuxDesktop, TheOneDisplayIsTheWholeScreenInPixels) {
  const std::optional<std::vector<CaptureDisplay>> displays = os().capture().displays();
  ASSERT_TRUE(displays.has_value());
  ASSERT_EQ(displays->size(), 1u);
  const CaptureDisplay& display = displays->front();
  EXPECT_EQ(display.id, 1u);
  EXPECT_EQ(display.width, desktop().width());
  EXPECT_EQ(display.height, desktop().height());
  EXPECT_EQ(display.x, 0);
  EXPECT_EQ(display.y, 0);
  EXPECT_TRUE(os().capabilities().screenCapture);
}

TEST_F(CoreOnLinuxDesktop, NoPictureOfDisplaysOrSizesThatDoNotExist) {
  EXPECT_EQ(os().capture().captureDisplay(0, 1024, 576), std::nullopt);
  EXPECT_EQ(os().capture().captureDisplay(2, 1024, 576), std::nullopt);
  EXPECT_EQ(os().capture().captureDisplay(1, 0, 576), std::nullopt);
  EXPECT_EQ(os().capture().captureDisplay(1, 1 << 20, 1 << 20), std::nullopt);
  EXPECT_TRUE(os().capture().captureDisplay(1, 16, 9).has_value()) << "and the capture still works afterwards";
}

// At full size nothing is scaled: every pixel is the server's, except where
// the pointer is drawn in (the server's picture never has it) and where the
// factory animates a spinner between the two readings.
TEST_F(CoreOnLinuxDesktop, AFullSizePictureIsTheServersWithThePointerDrawnIn) {
  const std::optional<DesktopSession::WindowGeometry> frame = desktop().windowGeometry(app().window);
  ASSERT_TRUE(frame.has_value());
  // On the empty background, right of or below the window.
  const int pointerX = frame->x + frame->width + 100 < desktop().width() ? frame->x + frame->width + 60 : 200;
  const int pointerY = frame->x + frame->width + 100 < desktop().width() ? 300 : frame->y + frame->height + 60;
  ASSERT_LT(pointerY + 64, desktop().height()) << "no room beside the window";
  platform::MouseEvent move;
  move.at = {static_cast<double>(pointerX), static_cast<double>(pointerY)};
  ASSERT_TRUE(os().events().postMouse(move));

  // The server's pictures from just before and just after: a pixel the
  // spinner changed in between matches one of them.
  const DesktopSession::ScreenPixels before = desktop().screenPixels();
  const std::optional<Image> picture = os().capture().captureDisplay(1, desktop().width(), desktop().height());
  const DesktopSession::ScreenPixels screen = desktop().screenPixels();
  ASSERT_TRUE(picture.has_value());
  ASSERT_EQ(before.rgb.size(), screen.rgb.size());
  ASSERT_EQ(picture->width, screen.width);
  ASSERT_EQ(picture->height, screen.height);
  ASSERT_EQ(picture->rgb.size(), screen.rgb.size());

  std::size_t differentElsewhere = 0;
  std::size_t differentAtPointer = 0;
  for (int y = 0; y < screen.height; ++y) {
    for (int x = 0; x < screen.width; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * screen.width + x) * 3;
      const auto matches = [&](const std::vector<unsigned char>& server) {
        return picture->rgb[at] == server[at] && picture->rgb[at + 1] == server[at + 1] &&
               picture->rgb[at + 2] == server[at + 2];
      };
      const bool same = matches(screen.rgb) || matches(before.rgb);
      if (same) continue;
      const bool nearPointer = std::abs(x - pointerX) < 64 && std::abs(y - pointerY) < 64;
      ++(nearPointer ? differentAtPointer : differentElsewhere);
    }
  }
  EXPECT_GT(differentAtPointer, 20u) << "the pointer is drawn";
  EXPECT_LT(differentElsewhere, 2000u) << "of " << screen.width * screen.height << " pixels";
}

// The core captures on a thread of its own. Xlib objects shared between
// threads show as crashes, hangs or garbled replies; the capture's own
// connection must keep both sides whole.
TEST_F(CoreOnLinuxDesktop, CapturesOnAnotherThreadWhileTheMainThreadUsesX) {
  std::atomic<bool> done{false};
  int pictures = 0;
  int wrong = 0;
  std::thread capturing([&] {
    for (int i = 0; i < 15; ++i) {
      const std::optional<std::vector<CaptureDisplay>> displays = os().capture().displays();
      const std::optional<Image> picture = os().capture().captureDisplay(1, 1024, 576);
      if (displays && displays->size() == 1 && picture && picture->width == 1024 && picture->height == 576 &&
          picture->rgb.size() == 1024u * 576u * 3u) {
        ++pictures;
      } else {
        ++wrong;
      }
    }
    done = true;
  });
  int rounds = 0;
  int emptyWindowLists = 0;
  while (!done) {
    const std::optional<std::vector<platform::WindowInfo>> windows = os().windowList().onScreenWindows();
    if (!windows || windows->empty()) ++emptyWindowLists;
    EXPECT_EQ(os().screens().screens().size(), 1u);
    ++rounds;
  }
  capturing.join();
  EXPECT_EQ(pictures, 15);
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(emptyWindowLists, 0);
}

}  // namespace
}  // namespace kelp::test
