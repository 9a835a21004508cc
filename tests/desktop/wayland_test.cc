// The helper on a Wayland session: headless sway, with the widget factory
// and mousepad as Wayland clients. Everything the helper knows of windows,
// places, input and pictures comes from the compositor there, not X.
#include <glib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"
#include "desktop/pictures.h"

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

  // The first enabled node of the factory with this role and value, or null.
  Json factoryNode(const std::string& role, const std::string& value) {
    for (const Json& node : elementsOf(askOne({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 400}}))) {
      if (node.value("role", "") == role && node.value("value", "") == value && node.value("enabled", false))
        return node;
    }
    return Json();
  }
};

// 200 characters, Hangul and an emoji among them, different each round.
// Each is one grapheme, so the reply's tail is the last 80 characters.
std::string longTextForRound(int round) {
  std::string text = "round " + std::to_string(round) + " 안녕하세요 세계 😀 ";
  const std::string filler = "the quick brown fox jumps over the lazy dog ";
  for (std::size_t i = 0; g_utf8_strlen(text.c_str(), -1) < 200; ++i) text += filler[i % filler.size()];
  return text;
}

long utf16Length(const std::string& text) {
  glong units = 0;
  g_free(g_utf8_to_utf16(text.c_str(), -1, nullptr, &units, nullptr));
  return units;
}

std::string lastCharacters(const std::string& text, long count) {
  return g_utf8_offset_to_pointer(text.c_str(), g_utf8_strlen(text.c_str(), -1) - count);
}

TEST_F(SwayDesktop, DoctorTellsAWaylandSessionThatRefusesRecording) {
  const std::vector<Json> replies = ask({{{"cmd", "doctor"}}, {{"cmd", "rec-start"}}});
  ASSERT_EQ(replies.size(), 2u);
  const Json& offers = replies[0]["result"]["desktop"];
  EXPECT_EQ(offers["session"], "wayland") << replies[0].dump();
  EXPECT_EQ(offers["windows"], true);
  EXPECT_EQ(offers["windowFrames"], true);
  EXPECT_EQ(offers["input"], true);
  EXPECT_EQ(offers["capture"], true);
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
  // Sway tiles a new window where nothing says otherwise: the helper makes
  // it float, as a person would, rather than answer found with nothing moved.
  desktop().swaymsg("[con_id=" + std::to_string(mousepad.window) + "] floating disable");
  const DesktopSession::WindowGeometry first = place(200, 150);
  EXPECT_EQ(first.x, 200);
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

// Other wlroots compositors have no sway IPC; sway offers their toplevel
// list too, so a SWAYSOCK that names no socket stands for one of them.
TEST_F(SwayDesktop, WithoutSwaysSocketTheToplevelListStillTitlesTheFactory) {
  Environment environment = desktop().environment();
  environment.set("SWAYSOCK", desktop().swaySocket() + ".missing");
  const std::vector<Json> replies = ask({{{"cmd", "doctor"}}, {{"cmd", "windowtitles"}}}, environment);
  ASSERT_EQ(replies.size(), 2u);
  const Json& offers = replies[0]["result"]["desktop"];
  EXPECT_EQ(offers["windows"], true) << replies[0].dump();
  EXPECT_EQ(offers["windowFrames"], false) << replies[0].dump();
  bool listed = false;
  for (const Json& entry : replies[1]["result"]["windows"]) {
    listed = listed || (entry.value("pid", 0) == app().pid() && entry.value("title", "") == app().title);
  }
  EXPECT_TRUE(listed) << replies[1].dump();
}

TEST_F(SwayDesktop, MenuOfMousepadListsFile) {
  DesktopApp& mousepad = startMousepad();
  StopWhenDone stop{mousepad};
  const Json bar = askOne({{"cmd", "menu"}, {"pid", mousepad.pid()}});
  ASSERT_EQ(bar["ok"], true) << bar.dump();
  ASSERT_FALSE(bar["result"]["items"].empty()) << bar.dump();
  EXPECT_EQ(bar["result"]["items"][0]["label"], "File");
}

TEST_F(SwayDesktop, ShortcutThenLongTypetextReplacesMousepadsTextTenTimes) {
  DesktopApp& mousepad = startMousepad();
  StopWhenDone stop{mousepad};
  for (int round = 0; round < 10; ++round) {
    const std::string typed = longTextForRound(round);
    const std::vector<Json> replies = ask({
        {{"cmd", "key"}, {"app", "mousepad"}, {"key", "a"}, {"mods", {"ctrl"}}},
        {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", typed}},
    });
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0]["result"]["pressed"], true) << replies[0].dump();
    const Json& result = replies[1]["result"];
    // The whole text, and nothing of the last round's: ctrl+a selected it all.
    EXPECT_EQ(result["landed"], true) << "round " << round << ": " << replies[1].dump();
    EXPECT_EQ(result["valueLen"], utf16Length(typed)) << "round " << round << ": " << replies[1].dump();
    EXPECT_EQ(result["valueTail"], lastCharacters(typed, 80)) << "round " << round;
    if (HasFailure()) break;
  }
}

TEST_F(SwayDesktop, DraggingTheSliderThroughThePointerMovesItsValue) {
  const Json slider = factoryNode("AXSlider", "50");
  ASSERT_TRUE(slider.is_object());
  const Json reply = askOne({{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", slider["ref"]}, {"action", "drag"},
                             {"dx", 60}, {"dy", 0}});
  EXPECT_EQ(reply["result"]["found"], true) << reply.dump();
  ASSERT_TRUE(eventually([&] {
    for (const Json& node : elementsOf(askOne({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 400}}))) {
      if (node.value("path", "") == slider.value("path", "")) return std::stod(node.value("value", "0")) > 50;
    }
    return false;
  })) << "the slider did not move right";
}

TEST_F(SwayDesktop, ScreenshotShowsWhatSwayShowsWithTheWindowWhereSwayPutsIt) {
  const Json reply = askOne({{"cmd", "screenshot"}});
  const Picture screen = pictureOf(desktop().screenPixels());
  ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
  const Json& image = reply["result"]["images"][0];
  EXPECT_EQ(image["note"], "display 1 1920x1080");
  EXPECT_EQ(image["w"], 1024);
  EXPECT_EQ(image["h"], 576);
  const std::optional<Picture> picture = decodeJpeg(image.value("jpegBase64", ""));
  ASSERT_TRUE(picture.has_value()) << "not a JPEG";
  ASSERT_EQ(picture->width, 1024);
  ASSERT_EQ(picture->height, 576);
  // Only the pointer, which sway draws into our copy, may differ from grim's.
  const std::vector<std::pair<int, int>> disagreeing = disagreeingBlocks(*picture, BlockMeans(screen, COLUMNS, ROWS), 0);
  EXPECT_LE(disagreeing.size(), 4u) << listed(disagreeing);
  expectWindowStandsOut(*picture, screen.width, factoryWindow().rect);
}

TEST_F(SwayDesktop, SelftestPassesWithItsWindowAsAWaylandClient) {
  const Json reply = askOne({{"cmd", "selftest"}});
  expectAWorkingSelfTestReport(reply["result"]);
  EXPECT_EQ(reply["result"]["readBack"], "보고서.docx");
}

}  // namespace
}  // namespace kelp::test
