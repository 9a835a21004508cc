// "screenshot" through the built kelp-cua: the reply's shape, and pictures
// that show what the X server shows, on one monitor and on a screen split
// into two.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"
#include "desktop/pictures.h"

namespace kelp::test {
namespace {

using DesktopScreenshot = WidgetFactoryDesktop;

TEST_F(DesktopScreenshot, OneDisplayGivesOneJpegOf1024By576) {
  const Json reply = askOne({{"cmd", "screenshot"}, {"id", 1}});
  ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
  const Json& result = reply["result"];
  ASSERT_EQ(result["images"].size(), 1u) << brief(reply);
  const Json& image = result["images"][0];
  EXPECT_EQ(image["note"], "display 1 1920x1080");
  EXPECT_EQ(image["w"], 1024);
  EXPECT_EQ(image["h"], 576);
  EXPECT_EQ(result["displays"], 1);
  EXPECT_EQ(result["jpegBase64"], image["jpegBase64"]) << "the first picture is repeated at the top";
  EXPECT_EQ(result["w"], image["w"]);
  EXPECT_EQ(result["h"], image["h"]);
  const std::optional<Picture> picture = decodeJpeg(image["jpegBase64"].get<std::string>());
  ASSERT_TRUE(picture.has_value()) << "not a JPEG";
  EXPECT_EQ(picture->width, 1024);
  EXPECT_EQ(picture->height, 576);
}

TEST_F(DesktopScreenshot, ThePictureShowsWhatTheXServerShowsWithTheWindowOnTheBackground) {
  const Json reply = askOne({{"cmd", "screenshot"}, {"app", WIDGET_FACTORY}});
  const Picture screen = pictureOf(desktop().screenPixels());
  ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
  const std::optional<Picture> picture = decodeJpeg(reply["result"]["jpegBase64"].get<std::string>());
  ASSERT_TRUE(picture.has_value());

  const BlockMeans screenBlocks(screen, COLUMNS, ROWS);
  // The pointer is drawn into the picture and not into the server's; it
  // covers one block, or parts of up to four.
  const std::vector<std::pair<int, int>> disagreeing = disagreeingBlocks(*picture, screenBlocks, 0);
  EXPECT_LE(disagreeing.size(), 4u) << listed(disagreeing);

  // The window stands out from the empty root window around it.
  const std::optional<DesktopSession::WindowGeometry> frame = desktop().windowGeometry(app().window);
  ASSERT_TRUE(frame.has_value());
  expectWindowStandsOut(*picture, screen.width, *frame);
}

// ---- a screen split into two monitors ------------------------------------------

class DesktopScreenshotTwoMonitors : public WidgetFactoryDesktop {
 protected:
  static void SetUpTestSuite() {
    failure_.clear();
    try {
      DesktopOptions options;
      options.width = 3840;
      options.height = 1080;
      options.monitorColumns = 2;
      desktop_ = std::make_unique<DesktopSession>(options);
      app_ = &desktop_->startApplication();
    } catch (const std::exception& error) {
      failure_ = error.what();
      app_ = nullptr;
      desktop_.reset();
    }
  }
};

TEST_F(DesktopScreenshotTwoMonitors, AllGivesEachMonitorItsOwnPicture) {
  const Json reply = askOne({{"cmd", "screenshot"}, {"which", "all"}});
  const Picture screen = pictureOf(desktop().screenPixels());
  ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
  const Json& result = reply["result"];
  ASSERT_EQ(result["images"].size(), 2u) << brief(reply);
  EXPECT_EQ(result["displays"], 2);
  EXPECT_EQ(result["jpegBase64"], result["images"][0]["jpegBase64"]);

  const BlockMeans screenBlocks(screen, 2 * COLUMNS, ROWS);
  for (int i = 0; i < 2; ++i) {
    const Json& image = result["images"][static_cast<std::size_t>(i)];
    EXPECT_EQ(image["note"], "display " + std::to_string(i + 1) + " 1920x1080");
    EXPECT_EQ(image["w"], 1024);
    EXPECT_EQ(image["h"], 576);
    const std::optional<Picture> picture = decodeJpeg(image["jpegBase64"].get<std::string>());
    ASSERT_TRUE(picture.has_value());
    ASSERT_EQ(picture->width, 1024);
    ASSERT_EQ(picture->height, 576);
    // Each shows its own half of the screen, not the whole nor the other.
    const std::vector<std::pair<int, int>> disagreeing = disagreeingBlocks(*picture, screenBlocks, i * COLUMNS);
    EXPECT_LE(disagreeing.size(), 4u) << "display " << i + 1 << ": " << listed(disagreeing);
  }
}

TEST_F(DesktopScreenshotTwoMonitors, WithoutAllItIsTheMonitorUnderTheFocusedWindow) {
  const Json placed =
      askOne({{"cmd", "window"}, {"app", WIDGET_FACTORY}, {"frame", {{"x", 2100}, {"y", 100}, {"w", 1200}, {"h", 700}}}});
  ASSERT_EQ(placed.value("ok", false), true) << placed.dump();
  ASSERT_TRUE(eventually([&] {
    const std::optional<DesktopSession::WindowGeometry> frame = desktop().windowGeometry(app().window);
    return frame && frame->x >= 1920;
  })) << "the window did not move onto the second monitor";

  const Json reply = askOne({{"cmd", "screenshot"}, {"app", WIDGET_FACTORY}});
  ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
  ASSERT_EQ(reply["result"]["images"].size(), 1u) << brief(reply);
  EXPECT_EQ(reply["result"]["images"][0]["note"], "display 2 1920x1080");
  EXPECT_EQ(reply["result"]["displays"], 1);
}

}  // namespace
}  // namespace kelp::test
