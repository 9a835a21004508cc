#include "capture/capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "common/messages.h"
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

TEST(RegionPicture, ItsOwnSizeUpToTheLongEdgeAndTheWidthAsked) {
  auto size = [](int w, int h, std::optional<int> maxWidth) {
    auto picture = capture::regionPictureSize(w, h, maxWidth);
    return picture ? std::to_string(picture->width) + "x" + std::to_string(picture->height) : "none";
  };
  EXPECT_EQ(size(400, 300, std::nullopt), "400x300");
  EXPECT_EQ(size(3136, 100, std::nullopt), "1568x50");
  EXPECT_EQ(size(100, 3136, std::nullopt), "50x1568");
  EXPECT_EQ(size(400, 300, 200), "200x150");
  EXPECT_EQ(size(400, 300, 800), "400x300") << "never enlarged";
  EXPECT_EQ(size(0, 300, std::nullopt), "none");
  EXPECT_EQ(size(400, 300, 0), "none");
  EXPECT_EQ(size(4000, 1, std::nullopt), "none");  // less than a pixel high
}

TEST(RegionPicture, APixelLeadsBackToItsPoint) {
  const capture::Placement placement{.x = 800, .y = -90, .scale = 0.5, .width = 960, .height = 540};
  EXPECT_EQ(capture::pointInPicture(placement, 0, 0), (Point{800, -90}));
  EXPECT_EQ(capture::pointInPicture(placement, 959.5, 539), (Point{2719, 988}));
  EXPECT_FALSE(capture::pointInPicture(placement, 960, 10)) << "past the right edge";
  EXPECT_FALSE(capture::pointInPicture(placement, -1, 10));
  EXPECT_FALSE(capture::pointInPicture(placement, std::nan(""), 10));
  EXPECT_FALSE(capture::pointInPicture({.scale = 0, .width = 10, .height = 10}, 1, 1));
}

TEST(RegionPicture, TheDisplayHoldingMostOfTheRegionTakesItClipped) {
  const std::vector<CaptureDisplay> displays = {{.id = 1, .width = 1440, .height = 900, .x = 0, .y = 0},
                                                {.id = 7, .width = 1920, .height = 1080, .x = 1440, .y = -90}};
  auto part = [&](capture::ScreenRegion region) {
    auto found = capture::displayPartOf(displays, region);
    if (!found) return std::string("none");
    const platform::CaptureArea& a = found->area;
    return std::to_string(found->display.id) + ":" + std::to_string(a.x) + "," + std::to_string(a.y) + " " +
           std::to_string(a.width) + "x" + std::to_string(a.height);
  };
  EXPECT_EQ(part({10, 20, 400, 300}), "1:10,20 400x300");
  EXPECT_EQ(part({10.5, 20.25, 99.9, 10}), "1:10,20 101x11") << "whole points, edges outwards";
  EXPECT_EQ(part({1400, 0, 200, 100}), "7:0,90 160x100") << "most of it on the second display";
  EXPECT_EQ(part({-50, -50, 100, 100}), "1:0,0 50x50");
  EXPECT_EQ(part({5000, 0, 10, 10}), "none");
  EXPECT_EQ(part({0, 0, 0, 10}), "none");
  EXPECT_EQ(part({0, 0, std::nan(""), 10}), "none");
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
      "images":[{"jpegBase64":"jpeg:2:800x600@0.62","w":800,"h":600,"note":"display 2 800x600",
                 "x":1512.0,"y":0.0,"scale":1.0}],
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

TEST_F(ScreenshotTest, ARegionOrAWindowIsTakenAtItsOwnSize) {
  Json region = run(R"({"cmd":"screenshot","region":{"x":1600,"y":50,"w":300,"h":200}})")["result"];
  EXPECT_EQ(region["images"][0]["note"], "display 2 800x600, 300x200 at 88,50");
  EXPECT_EQ(region["images"][0]["x"], 1600.0);
  EXPECT_EQ(region["images"][0]["scale"], 1.0);
  Json narrow = run(R"({"cmd":"screenshot","region":{"x":1600,"y":50,"w":300,"h":200},"maxWidth":150})")["result"];
  EXPECT_EQ(narrow["images"][0]["scale"], 0.5);
  // The focused window of the frontmost application.
  Json window = run(R"({"cmd":"screenshot","window":true})")["result"];
  EXPECT_EQ(window["images"][0]["note"], "display 2 800x600, 400x300 at 88,100");
  EXPECT_EQ(sim.captureLog(), (std::vector<std::string>{"2 88,50 300x200 300x200", "2 88,50 300x200 150x100",
                                                        "2 88,100 400x300 400x300"}));
  Json wide = run(R"({"cmd":"screenshot","which":"all","maxWidth":512})")["result"];
  EXPECT_EQ(wide["images"][0]["w"], 512);

  struct Case {
    const char* request;
    std::string_view error;
  };
  for (const Case& bad : {Case{R"({"cmd":"screenshot","region":{"x":1,"y":1,"w":10}})", messages::badRegion},
                          Case{R"({"cmd":"screenshot","region":{"x":9000,"y":1,"w":10,"h":10}})",
                               messages::regionOffScreen},
                          Case{R"({"cmd":"screenshot","maxWidth":0})", messages::badPictureWidth},
                          Case{R"({"cmd":"screenshot","maxWidth":5000})", messages::badPictureWidth},
                          Case{R"({"cmd":"screenshot","window":"Nowhere"})", messages::noWindowToCapture}}) {
    EXPECT_EQ(run(bad.request)["error"], bad.error) << bad.request;
  }
}

TEST_F(ScreenshotTest, ACaptureThatOutlivesTheWaitIsDroppedSafely) {
  sim.holdCaptures();
  std::vector<capture::Picture> pictures =
      capture::captureScreen(sim, "all", std::nullopt, capture::MAX_PICTURE_WIDTH, std::chrono::milliseconds(20));
  EXPECT_TRUE(pictures.empty());
  // The capture goes on after the caller gave up; what it delivers later
  // must go nowhere the caller can see or has freed.
  sim.releaseCaptures();
  while (sim.capturesFinished() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(pictures.empty());
}

}  // namespace
}  // namespace kelp
