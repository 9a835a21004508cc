#include <gtest/gtest.h>

#include "platform/linux/kde/kwin_script.h"

#include <nlohmann/json.hpp>

#include <string>

namespace kelp::platform::linux_desktop::kde {
namespace {

// A report as KWin 5.27 sent it for gtk3-widget-factory and a dialog of
// mousepad's under Xwayland, with entries it never sends mixed in.
constexpr const char* REPORT = R"({"done":true,"windows":[
  {"id":"{aaaf52c9-bca1-42a0-aecd-a3d2634da67e}","pid":7300,"caption":"gtk3-widget-factory",
   "resourceClass":"gtk3-widget-factory","resourceName":"gtk3-widget-factory","desktopFile":"gtk3-widget-factory",
   "frame":[252,174,1415,732],"buffer":[226,151,1467,784],"kind":"normal","stacking":1,"active":true,
   "minimized":false,"shown":true,"xwayland":false},
  {"id":"{0000000000000001-ffff}","pid":0,"caption":"Find","resourceClass":"Mousepad","resourceName":"mousepad",
   "frame":[10,20,300,200],"kind":"other","stacking":0,"minimized":true,"shown":false,"xwayland":true},
  {"id":"not a uuid","frame":[0,0,1,1]},
  {"id":"{aaaf52c9-bca1-42a0-aecd-a3d2634da67f}","frame":null},
  17],
 "screens":[[0,0,1920,1080],[1920,0,0,1080],[1920,0,1280,1024]]})";

TEST(KWinReport, ReadsEveryWindowWithAnIdAndAFrame) {
  const std::optional<KWinReport> report = parseReport(REPORT);
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->done);
  ASSERT_EQ(report->windows.size(), 2u);

  const KWinWindow& factory = report->windows[0];
  EXPECT_EQ(factory.id, 0xaaaf52c9bca142a0u);
  EXPECT_EQ(factory.internalId, "{aaaf52c9-bca1-42a0-aecd-a3d2634da67e}");
  EXPECT_EQ(factory.pid, Pid{7300});
  EXPECT_EQ(factory.caption, "gtk3-widget-factory");
  EXPECT_EQ(factory.resourceClass, "gtk3-widget-factory");
  EXPECT_EQ(factory.frame, (RootRect{252, 174, 1415, 732}));
  EXPECT_EQ(factory.buffer, (RootRect{226, 151, 1467, 784}));
  EXPECT_EQ(factory.kind, WindowKind::normal);
  EXPECT_EQ(factory.stacking, 1);
  EXPECT_TRUE(factory.active);
  EXPECT_TRUE(factory.shown);
  EXPECT_FALSE(factory.xwayland);

  const KWinWindow& find = report->windows[1];
  EXPECT_EQ(find.id, 1u);
  // KWin's 0 is a process it does not know.
  EXPECT_FALSE(find.pid);
  // Without a buffer geometry the frame stands for it.
  EXPECT_EQ(find.buffer, find.frame);
  EXPECT_EQ(find.kind, WindowKind::other);
  EXPECT_TRUE(find.minimized);
  EXPECT_FALSE(find.shown);
  EXPECT_TRUE(find.xwayland);
  EXPECT_FALSE(find.active);

  // Empty screens are no screens.
  ASSERT_EQ(report->screens.size(), 2u);
  EXPECT_EQ(report->screens[1], (RootRect{1920, 0, 1280, 1024}));
}

TEST(KWinReport, RefusesWhatIsNoReport) {
  for (const char* text : {"", "[]", "{}", R"({"windows":{}})", "{\"windows\":[", "null"}) {
    EXPECT_FALSE(parseReport(text)) << text;
  }
  const std::optional<KWinReport> empty = parseReport(R"({"windows":[]})");
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->done);
  EXPECT_TRUE(empty->windows.empty());
}

TEST(KWinWindowId, TakesTheFirstSixtyFourBitsOfTheUuid) {
  EXPECT_EQ(windowIdOf("{aaaf52c9-bca1-42a0-aecd-a3d2634da67e}"), WindowId{0xaaaf52c9bca142a0u});
  EXPECT_EQ(windowIdOf("AAAF52C9-BCA1-42A0-AECD-A3D2634DA67E"), WindowId{0xaaaf52c9bca142a0u});
  EXPECT_FALSE(windowIdOf(""));
  EXPECT_FALSE(windowIdOf("{aaaf52c9-bca1}"));          // too short
  EXPECT_FALSE(windowIdOf("{aaaf52c9-bca1-42x0-aecd}"));  // not hex
  EXPECT_FALSE(windowIdOf("{00000000-0000-0000-0000-000000000000}"));  // KWin's null id
}

TEST(KWinPlacement, MovesTheFrameAsFarAsTheBufferIsToMove) {
  KWinWindow window;
  window.frame = {252, 174, 1415, 732};   // without the shadow
  window.buffer = {226, 151, 1467, 784};  // with it
  struct Case {
    WindowPlacement placement;
    RootRect frame;
  };
  const Case cases[] = {
      {{100, 80, std::nullopt, std::nullopt}, {126, 103, 1415, 732}},
      {{std::nullopt, std::nullopt, 852, 652}, {252, 174, 800, 600}},
      {{0, 0, 852, 652}, {26, 23, 800, 600}},
      {{std::nullopt, 500, std::nullopt, std::nullopt}, {252, 523, 1415, 732}},
      {{}, {252, 174, 1415, 732}},
  };
  for (const Case& c : cases) EXPECT_EQ(frameForPlacement(window, c.placement), c.frame);

  // A window KWin decorates: the frame is the larger one.
  KWinWindow decorated;
  decorated.frame = {100, 70, 804, 634};
  decorated.buffer = {102, 100, 800, 600};
  EXPECT_EQ(frameForPlacement(decorated, {0, 30, 400, 300}), (RootRect{-2, 0, 404, 334}));
}

// The request as the script holds it: the JSON literal after "request =".
nlohmann::json requestIn(const std::string& script) {
  const std::size_t start = script.find("var request = ") + 14;
  const std::size_t end = script.find(";\n", start);
  return nlohmann::json::parse(script.substr(start, end - start), nullptr, false);
}

TEST(KWinScript, CarriesTheRequestAndWhereToReport) {
  const std::string list = scriptText({}, ":1.42", "77-1");
  const nlohmann::json request = requestIn(list);
  ASSERT_TRUE(request.is_object()) << list;
  EXPECT_EQ(request["action"], "list");
  EXPECT_EQ(request["service"], ":1.42");
  EXPECT_EQ(request["path"], REPORT_PATH);
  EXPECT_EQ(request["interface"], REPORT_INTERFACE);
  EXPECT_EQ(request["method"], REPORT_METHOD);
  EXPECT_EQ(request["token"], "77-1");
  EXPECT_FALSE(request.contains("frame"));

  const std::string place =
      scriptText({ScriptRequest::Action::place, "{a-b}", RootRect{1, -2, 300, 400}}, ":1.42", "77-2");
  const nlohmann::json placed = requestIn(place);
  EXPECT_EQ(placed["action"], "place");
  EXPECT_EQ(placed["window"], "{a-b}");
  EXPECT_EQ(placed["frame"], nlohmann::json::array({1, -2, 300, 400}));

  // Whatever a window id holds stays inside the string literal, in ASCII.
  const std::string odd = scriptText({ScriptRequest::Action::activate, "\"});\u2028창", std::nullopt}, ":1.4", "t");
  EXPECT_EQ(requestIn(odd)["window"], "\"});\u2028창");
  for (const char c : odd) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::kde
