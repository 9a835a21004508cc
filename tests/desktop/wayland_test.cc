// The helper on a Wayland session: headless sway, with the widget factory
// and mousepad as Wayland clients. Everything the helper knows of windows,
// places, input and pictures comes from the compositor there, not X.
#include <algorithm>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

class SwayDesktop : public WidgetFactoryDesktop {
 protected:
  static void SetUpTestSuite() {
    DesktopOptions options;
    options.server = DisplayServer::sway;
    startSuite(options);
  }

  DesktopSession::SwayWindow factoryWindow() {
    auto window = swayWindowOf(desktop(), app());
    if (!window) ADD_FAILURE() << desktop().swayTree().dump();
    return window.value_or(DesktopSession::SwayWindow{});
  }

  DesktopApp& startMousepad() { return desktop().startApplication(program({"mousepad"})); }
};

TEST_F(SwayDesktop, DoctorTellsAWaylandSessionThatRefusesRecording) {
  const std::vector<Json> replies = ask({{{"cmd", "doctor"}}, {{"cmd", "rec-start"}}});
  ASSERT_EQ(replies.size(), 2u);
  const Json& offers = replies[0]["result"]["desktop"];
  EXPECT_EQ(offers["session"], "wayland") << replies[0].dump();
  EXPECT_EQ(offers["windows"], true);
  EXPECT_EQ(offers["windowFrames"], true);
  EXPECT_EQ(offers["recording"], false);
  EXPECT_EQ(replies[0]["result"]["accessibility"], true);
  EXPECT_EQ(replies[1], Json::parse(R"({"id":null,"ok":false,"result":{"recording":false},"error":"no-accessibility"})"));
}

TEST_F(SwayDesktop, TreeFramesLandWhereSwayShowsTheWindow) {
  // The factory floats where sway put it, away from the output's corner, so
  // that frames measured from the window itself would be plainly wrong.
  desktop().swaymsg("[con_id=" + std::to_string(app().window) + "] move absolute position 150 px 90 px");
  const DesktopSession::SwayWindow window = factoryWindow();
  const Json elements = elementsOf(askOne({{"cmd", "tree"}, {"app", WIDGET_FACTORY}}));
  ASSERT_FALSE(elements.empty());
  double top = 1e9;
  double left = 1e9;
  int framed = 0;
  for (const Json& element : elements) {
    if (!element.contains("frame")) continue;
    const Json& frame = element["frame"];
    const double x = frame["x"], y = frame["y"], w = frame["w"], h = frame["h"];
    ++framed;
    top = std::min(top, y);
    left = std::min(left, x);
    EXPECT_GE(x, window.content.x - 2) << element.dump();
    EXPECT_GE(y, window.content.y - 2) << element.dump();
    EXPECT_LE(x + w, window.content.x + window.content.width + 2) << element.dump();
    EXPECT_LE(y + h, window.content.y + window.content.height + 2) << element.dump();
  }
  EXPECT_GT(framed, 20);
  // The header bar's toggles reach the top of the window sway shows, without
  // the shadow GTK draws around it.
  EXPECT_NEAR(top, window.content.y, 2);
  EXPECT_NEAR(left, window.content.x + 10, 12);
}

TEST_F(SwayDesktop, WindowMovesMousepadAndWindowTitlesListsIt) {
  DesktopApp& mousepad = startMousepad();
  StopWhenDone stop{mousepad};
  auto place = [&](int x, int y) {
    const Json reply = askOne({{"cmd", "window"}, {"pid", mousepad.pid()}, {"frame", {{"x", x}, {"y", y}}}});
    EXPECT_EQ(reply["result"]["found"], true) << reply.dump();
    auto window = swayWindowOf(desktop(), mousepad);
    return window ? window->content : DesktopSession::WindowGeometry{};
  };
  const DesktopSession::WindowGeometry first = place(200, 150);
  const DesktopSession::WindowGeometry second = place(420, 260);
  EXPECT_EQ(second.x - first.x, 220);
  EXPECT_EQ(second.y - first.y, 110);
  EXPECT_EQ(second.width, first.width) << "a move keeps the size";

  const Json titles = askOne({{"cmd", "windowtitles"}});
  bool listed = false;
  for (const Json& entry : titles["result"]["windows"]) {
    listed = listed || (entry.value("pid", 0) == mousepad.pid() && entry.value("title", "") == mousepad.title);
  }
  EXPECT_TRUE(listed) << titles.dump();
}

TEST_F(SwayDesktop, MenuOfMousepadListsFile) {
  DesktopApp& mousepad = startMousepad();
  StopWhenDone stop{mousepad};
  const Json bar = askOne({{"cmd", "menu"}, {"pid", mousepad.pid()}});
  ASSERT_EQ(bar["ok"], true) << bar.dump();
  ASSERT_FALSE(bar["result"]["items"].empty()) << bar.dump();
  EXPECT_EQ(bar["result"]["items"][0]["label"], "File");
}

}  // namespace
}  // namespace kelp::test
