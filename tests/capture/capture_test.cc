#include "capture/capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::CaptureDisplay;
using platform::Point;
using platform::Size;

TEST(PictureSize, AtMost1024WideWithTheAspectKept) {
  auto size = [](int w, int h) {
    auto picture = capture::pictureSize({.id = 1, .width = w, .height = h});
    return picture ? std::to_string(picture->width) + "x" + std::to_string(picture->height) : "none";
  };
  EXPECT_EQ(size(1512, 982), "1024x665");
  EXPECT_EQ(size(1280, 800), "1024x640");
  EXPECT_EQ(size(1920, 1080), "1024x576");
  EXPECT_EQ(size(800, 600), "800x600");
  EXPECT_EQ(size(0, 600), "none");
  EXPECT_EQ(size(5000, 1), "none");  // would be less than a pixel high
}

TEST(TargetDisplays, AllOrTheOneUnderTheFocusCentre) {
  const std::vector<CaptureDisplay> displays = {{.id = 1, .width = 1440, .height = 900, .x = 0, .y = 0},
                                                {.id = 7, .width = 1920, .height = 1080, .x = 1440, .y = -90}};
  auto ids = [&](const std::string& which, std::optional<Point> centre) {
    std::string text;
    for (const auto& display : capture::targetDisplays(displays, which, centre)) text += std::to_string(display.id);
    return text;
  };
  EXPECT_EQ(ids("all", Point{2000, 100}), "17");
  EXPECT_EQ(ids("focused", Point{2000, 100}), "7");
  EXPECT_EQ(ids("focused", Point{1440, -90}), "7");  // the top left corner belongs to the display
  EXPECT_EQ(ids("focused", Point{1439.5, 899.5}), "1");
  EXPECT_EQ(ids("focused", Point{5000, 5000}), "1");  // off every display
  EXPECT_EQ(ids("Focused", std::nullopt), "1");
  EXPECT_TRUE(capture::targetDisplays({}, "focused", Point{0, 0}).empty());
}

class ScreenshotTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Viewer", .active = true});
    sim.captureDisplays = std::vector<CaptureDisplay>{{.id = 1, .width = 1512, .height = 982, .x = 0, .y = 0},
                                                      {.id = 2, .width = 800, .height = 600, .x = 1512, .y = 0}};
    window = sim.addElement(sim.appRoot(100), "AXWindow",
                            {{"AXPosition", Point{1600, 100}}, {"AXSize", Size{400, 300}}});
    sim.setAttr(sim.appRoot(100), "AXFocusedWindow", window);
  }
  platform::Element window;
};

TEST_F(ScreenshotTest, TheFocusedWindowChoosesTheDisplay) {
  EXPECT_EQ(run(R"({"cmd":"screenshot","id":1})"), Json::parse(R"({"id":1,"ok":true,"result":{
      "images":[{"jpegBase64":"jpeg:2:800x600@0.62","w":800,"h":600,"note":"display 2 800x600"}],
      "displays":1,"jpegBase64":"jpeg:2:800x600@0.62","w":800,"h":600}})"));
  // Without trust there is no focus to go by.
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"screenshot","id":2,"which":"whatever"})")["result"]["images"][0]["note"],
            "display 1 1512x982");
  EXPECT_EQ(sim.captureLog(), (std::vector<std::string>{"2 800x600", "1 1024x665"}));
}

TEST_F(ScreenshotTest, TheNamedApplicationsWindowWinsOverTheFrontmost) {
  sim.addApp({.pid = 200, .name = "Notes"});
  platform::Element notes = sim.addElement(sim.appRoot(200), "AXWindow",
                                           {{"AXPosition", Point{10, 10}}, {"AXSize", Size{100, 100}}});
  sim.setAttr(sim.appRoot(200), "AXWindows", platform::ValueList{notes});
  EXPECT_EQ(run(R"({"cmd":"screenshot","app":"Notes"})")["result"]["images"][0]["note"], "display 1 1512x982");
  EXPECT_EQ(run(R"({"cmd":"screenshot","app":"Ghost"})")["result"]["images"][0]["note"], "display 2 800x600");
}

TEST_F(ScreenshotTest, AllDisplaysInOrderWithTheFirstRepeatedOnTop) {
  Json result = run(R"({"cmd":"screenshot","which":"all"})")["result"];
  ASSERT_EQ(result["images"].size(), 2u);
  EXPECT_EQ(result["displays"], 2);
  EXPECT_EQ(result["images"][0]["note"], "display 1 1512x982");
  EXPECT_EQ(result["images"][0]["w"], 1024);
  EXPECT_EQ(result["images"][0]["h"], 665);
  EXPECT_EQ(result["jpegBase64"], result["images"][0]["jpegBase64"]);
  EXPECT_EQ(result["w"], 1024);
  EXPECT_EQ(result["h"], 665);
}

TEST_F(ScreenshotTest, FailedCapturesAndEncodings) {
  sim.captureFailures = {1};
  Json result = run(R"({"cmd":"screenshot","which":"all"})")["result"];
  EXPECT_EQ(result["displays"], 1);
  EXPECT_EQ(result["images"][0]["note"], "display 2 800x600");

  // Pictures that were taken but cannot be encoded are dropped quietly.
  sim.unencodable = {2};
  EXPECT_EQ(run(R"({"cmd":"screenshot","id":1,"which":"all"})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"images":[],"displays":0}})"));

  sim.captureFailures = {1, 2};
  EXPECT_EQ(run(R"({"cmd":"screenshot","id":2,"which":"all"})"),
            Json::parse(R"({"id":2,"ok":false,"error":"no-screen-recording"})"));
  sim.captureDisplays = std::nullopt;
  EXPECT_EQ(run(R"({"cmd":"screenshot","id":3})")["error"], "no-screen-recording");
}

TEST_F(ScreenshotTest, ACaptureThatOutlivesTheWaitIsDroppedSafely) {
  sim.holdCaptures();
  std::vector<capture::Picture> pictures =
      capture::captureScreen(sim, "all", std::nullopt, std::chrono::milliseconds(20));
  EXPECT_TRUE(pictures.empty());
  // The capture goes on after the caller gave up; what it delivers later
  // must go nowhere the caller can see or has freed.
  sim.releaseCaptures();
  while (sim.capturesFinished() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(pictures.empty());
}

}  // namespace
}  // namespace kelp
