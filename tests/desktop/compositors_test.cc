// The helper on the desktops people run: GNOME Shell and KWin, each headless
// with the widget factory and mousepad as Wayland clients. Each compositor
// starts once for all of its tests (one CTest test a compositor), and every
// check holds kelp-cua against the compositor's own view: its window list,
// its focus, its own picture of the screen.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"
#include "desktop/pictures.h"

namespace kelp::test {
namespace {

class ShellDesktopTest : public WidgetFactoryDesktop {
 protected:
  static void startShell(DisplayServer server) {
    mousepad_ = nullptr;
    skipped_.clear();
    if (!displayServerInstalled(server)) {
      // ctest reads this sentence as a skip (tests/CMakeLists.txt).
      skipped_ = std::string(server == DisplayServer::gnome ? "gnome-shell" : "kwin_wayland") +
                 ": the compositor is not installed here (scripts/setup.sh installs it)";
      return;
    }
    DesktopOptions options;
    options.server = server;
    startSuite(options);
    if (!desktop_) return;
    try {
      mousepad_ = &desktop_->startApplication(program({"mousepad"}));
    } catch (const std::exception& error) {
      failure_ = error.what();
      app_ = nullptr;
      desktop_.reset();
    }
  }

  static void TearDownTestSuite() {
    mousepad_ = nullptr;
    WidgetFactoryDesktop::TearDownTestSuite();
  }

  void SetUp() override {
    if (!skipped_.empty()) GTEST_SKIP() << skipped_;
    WidgetFactoryDesktop::SetUp();
  }

  DesktopApp& mousepad() { return *mousepad_; }
  bool onGnome() { return desktop().server() == DisplayServer::gnome; }

  // Whether the compositor has given `app`'s window the focus: GNOME Shell
  // says so itself; KWin tells the application, which says so through
  // accessibility.
  bool focused(const DesktopApp& app) {
    if (auto window = desktop().compositorWindowOf(app); window && window->focused) return *window->focused;
    return desktop().appWindowActive(app);
  }

  // The first enabled node of `app`'s tree with this role (and label, when
  // given) that `fits`: the factory shows a disabled copy of each control.
  Json nodeOf(const std::string& app, const std::string& role, const std::string& label = "",
              const std::function<bool(const Json&)>& fits = {}) {
    for (const Json& node : elementsOf(askOne({{"cmd", "tree"}, {"app", app}, {"max", 400}}))) {
      if (node.value("role", "") == role && (label.empty() || node.value("label", "") == label) &&
          node.value("enabled", false) && (!fits || fits(node))) {
        return node;
      }
    }
    return Json();
  }

  std::string mousepadText() { return nodeOf("mousepad", "AXTextArea").value("value", ""); }

  // ---- the checks, the same on both compositors ---------------------------

  // What the other checks hold kelp-cua against: the compositor's window
  // list with both applications, and its picture of the screen.
  void theCompositorsOwnViewShowsBothApplications() {
    for (const DesktopApp* started : {&app(), &mousepad()}) {
      const auto window = desktop().compositorWindowOf(*started);
      ASSERT_TRUE(window.has_value()) << started->title;
      EXPECT_EQ(window->title, started->title);
      EXPECT_GT(window->frame.width, 200);
      EXPECT_GT(window->frame.height, 200);
      if (onGnome()) {
        EXPECT_EQ(window->pid, started->pid());
      }
    }
    const Picture screen = pictureOf(desktop().screenPixels());
    ASSERT_EQ(screen.width, desktop().width());
    ASSERT_EQ(screen.height, desktop().height());
    // Windows with text and controls, not an empty or black picture.
    std::vector<unsigned char> seen;
    for (std::size_t at = 0; at < screen.rgb.size(); at += 3 * 997) seen.push_back(screen.rgb[at]);
    std::sort(seen.begin(), seen.end());
    EXPECT_GT(std::unique(seen.begin(), seen.end()) - seen.begin(), 20);
  }

  void doctorTellsTheCompositorAndEverythingOffered(const char* compositor) {
    const Json reply = askOne({{"cmd", "doctor"}});
    const Json& offers = reply["result"]["desktop"];
    EXPECT_EQ(offers["session"], "wayland") << reply.dump();
    EXPECT_EQ(offers["compositor"], compositor) << reply.dump();
    for (const char* offer : {"input", "capture", "windows", "windowFrames"}) {
      EXPECT_EQ(offers[offer], true) << offer << " in " << reply.dump();
    }
    EXPECT_EQ(offers["recording"], false);
    EXPECT_FALSE(offers.contains("setup")) << "nothing is left to set up: " << reply.dump();
    EXPECT_EQ(reply["result"]["accessibility"], true);
  }

  void windowTitlesListsTheFactoryAndItsFramesLieInItsWindow() {
    const auto window = desktop().compositorWindowOf(app());
    ASSERT_TRUE(window.has_value()) << "the compositor no longer lists the factory";
    const std::vector<Json> replies =
        ask({{{"cmd", "windowtitles"}}, {{"cmd", "tree"}, {"app", WIDGET_FACTORY}}});
    ASSERT_EQ(replies.size(), 2u);
    bool listed = false;
    for (const Json& entry : replies[0]["result"]["windows"]) {
      listed = listed || (entry.value("pid", 0) == app().pid() && entry.value("title", "") == window->title);
    }
    EXPECT_TRUE(listed) << replies[0].dump();
    // The compositor centres a new window, so frames measured from the
    // window itself would lie far off it.
    const DesktopSession::WindowGeometry& place = window->frame;
    double top = 1e9;
    double left = 1e9;
    int framed = 0;
    for (const Json& element : elementsOf(replies[1])) {
      if (!element.contains("frame")) continue;
      const Json& frame = element["frame"];
      const double x = frame["x"], y = frame["y"], w = frame["w"], h = frame["h"];
      ++framed;
      top = std::min(top, y);
      left = std::min(left, x);
      EXPECT_GE(x, place.x - 2) << element.dump();
      EXPECT_GE(y, place.y - 2) << element.dump();
      EXPECT_LE(x + w, place.x + place.width + 2) << element.dump();
      EXPECT_LE(y + h, place.y + place.height + 2) << element.dump();
      if (HasFailure()) break;
    }
    EXPECT_GT(framed, 20);
    // The header bar's toggles reach the top of the window the compositor
    // shows, without the shadow GTK draws around it.
    EXPECT_NEAR(top, place.y, 2) << "window at " << place.x << "," << place.y;
    EXPECT_NEAR(left, place.x + 10, 12) << "window at " << place.x << "," << place.y;
  }

  void windowBringsEachApplicationToTheFront() {
    // Each in turn from behind the other: the one in front goes second.
    const bool factoryInFront = focused(app());
    for (DesktopApp* target : {factoryInFront ? &mousepad() : &app(), factoryInFront ? &app() : &mousepad()}) {
      ASSERT_FALSE(focused(*target)) << target->title << " is in front already";
      const Json reply = askOne({{"cmd", "window"}, {"pid", target->pid()}});
      EXPECT_EQ(reply["result"]["found"], true) << reply.dump();
      EXPECT_TRUE(eventually([&] { return focused(*target); })) << target->title << " did not come to the front";
    }
  }

  void clickFlipsACheckBox() {
    // A box in the mixed state ("2") stays mixed when clicked: GTK leaves
    // that to the application.
    const Json box = nodeOf(WIDGET_FACTORY, "AXCheckBox", "checkbutton",
                            [](const Json& node) { return node.value("value", "") != "2"; });
    ASSERT_TRUE(box.is_object()) << "no check box in the factory";
    const std::string before = box.value("value", "");
    const Json reply = askOne({{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", box["ref"]}, {"action", "click"}});
    EXPECT_EQ(reply["result"]["found"], true) << reply.dump();
    std::string after;
    EXPECT_TRUE(eventually([&] {
      for (const Json& node : elementsOf(askOne({{"cmd", "find"}, {"app", WIDGET_FACTORY}, {"q", "checkbutton"}}))) {
        if (node.value("path", "") == box.value("path", "")) after = node.value("value", "");
      }
      return !after.empty() && after != before;
    })) << "the check box still reads " << after << " after " << reply.dump();
  }

  void typetextPutsHangulIntoMousepad() {
    const std::string text = "안녕하세요, 세계! kelp 한글 입력";
    const std::vector<Json> replies = ask({
        {{"cmd", "window"}, {"pid", mousepad().pid()}},
        {{"cmd", "key"}, {"app", "mousepad"}, {"key", "a"}, {"mods", {"ctrl"}}},
        {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", text}},
    });
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2]["result"]["landed"], true) << replies[2].dump();
    EXPECT_EQ(replies[2]["result"]["valueTail"], text) << replies[2].dump();
    EXPECT_TRUE(eventually([&] { return mousepadText() == text; })) << "mousepad holds \"" << mousepadText() << "\"";
  }

  void ctrlASelectsAllOfMousepadsText() {
    const std::vector<Json> replies = ask({
        {{"cmd", "window"}, {"pid", mousepad().pid()}},
        {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", "two lines\nof text"}},
        {{"cmd", "key"}, {"app", "mousepad"}, {"key", "a"}, {"mods", {"ctrl"}}},
        {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", "X"}},
    });
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2]["result"]["pressed"], true) << replies[2].dump();
    // Typing over the selection leaves only what was typed.
    EXPECT_TRUE(eventually([&] { return mousepadText() == "X"; })) << "mousepad holds \"" << mousepadText() << "\"";
  }

  // A menu opens in a popup the compositor places itself: the item is
  // clicked where the popup shows it, and the dialog it opens is there.
  void menuOpensMousepadsSaveAsDialog() {
    const auto dialogShows = [&] {
      for (const auto& window : desktop().compositorWindows()) {
        if (window.title == "Save As") return true;
      }
      return false;
    };
    const std::vector<Json> replies = ask({
        {{"cmd", "window"}, {"pid", mousepad().pid()}},
        {{"cmd", "menu"}, {"app", "mousepad"}, {"path", {"File", "Save As..."}}},
    });
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1]["result"]["done"], true) << replies[1].dump();
    EXPECT_TRUE(eventually(dialogShows)) << "no Save As dialog after " << replies[1].dump();
    askOne({{"cmd", "key"}, {"app", "mousepad"}, {"key", "escape"}});
    EXPECT_TRUE(eventually([&] { return !dialogShows(); })) << "the dialog stayed open";
  }

  void screenshotMatchesTheCompositorsOwnPicture() {
    const Json reply = askOne({{"cmd", "screenshot"}});
    const Picture screen = pictureOf(desktop().screenPixels());
    ASSERT_EQ(reply.value("ok", false), true) << brief(reply);
    const Json& image = reply["result"]["images"][0];
    EXPECT_EQ(image["note"], "display 1 1920x1080");
    const std::optional<Picture> picture = decodeJpeg(image.value("jpegBase64", ""));
    ASSERT_TRUE(picture.has_value()) << "not a JPEG";
    ASSERT_EQ(picture->width, 1024);
    ASSERT_EQ(picture->height, 576);
    // Only the pointer, which the compositor leaves out of its own picture,
    // and a blinking text cursor may differ.
    const auto disagreeing = disagreeingBlocks(*picture, BlockMeans(screen, COLUMNS, ROWS), 0);
    EXPECT_LE(disagreeing.size(), 4u) << listed(disagreeing);
  }

  void selftestPasses() {
    const Json reply = askOne({{"cmd", "selftest"}});
    expectAWorkingSelfTestReport(reply["result"]);
    EXPECT_EQ(reply["result"]["readBack"], "보고서.docx");
  }

  static inline DesktopApp* mousepad_ = nullptr;
  static inline std::string skipped_;
};

class GnomeDesktop : public ShellDesktopTest {
 protected:
  static void SetUpTestSuite() { startShell(DisplayServer::gnome); }
};

class KdeDesktop : public ShellDesktopTest {
 protected:
  static void SetUpTestSuite() { startShell(DisplayServer::kde); }
};

TEST_F(GnomeDesktop, TheShellListsAndShowsBothApplications) { theCompositorsOwnViewShowsBothApplications(); }
TEST_F(KdeDesktop, KWinListsAndShowsBothApplications) { theCompositorsOwnViewShowsBothApplications(); }

TEST_F(GnomeDesktop, DoctorTellsGnomeWithInputCaptureAndWindows) { doctorTellsTheCompositorAndEverythingOffered("gnome"); }
TEST_F(KdeDesktop, DoctorTellsKdeWithInputCaptureAndWindows) { doctorTellsTheCompositorAndEverythingOffered("kde"); }

TEST_F(GnomeDesktop, WindowTitlesAndFramesAgreeWithTheShell) { windowTitlesListsTheFactoryAndItsFramesLieInItsWindow(); }
TEST_F(KdeDesktop, WindowTitlesAndFramesAgreeWithKWin) { windowTitlesListsTheFactoryAndItsFramesLieInItsWindow(); }

TEST_F(GnomeDesktop, WindowActivatesEachApplication) { windowBringsEachApplicationToTheFront(); }
TEST_F(KdeDesktop, WindowActivatesEachApplication) { windowBringsEachApplicationToTheFront(); }

TEST_F(GnomeDesktop, ClickFlipsACheckBox) { clickFlipsACheckBox(); }
TEST_F(KdeDesktop, ClickFlipsACheckBox) { clickFlipsACheckBox(); }

TEST_F(GnomeDesktop, TypetextPutsHangulIntoMousepad) { typetextPutsHangulIntoMousepad(); }
TEST_F(KdeDesktop, TypetextPutsHangulIntoMousepad) { typetextPutsHangulIntoMousepad(); }

TEST_F(GnomeDesktop, CtrlASelectsAllOfMousepadsText) { ctrlASelectsAllOfMousepadsText(); }
TEST_F(KdeDesktop, CtrlASelectsAllOfMousepadsText) { ctrlASelectsAllOfMousepadsText(); }

TEST_F(GnomeDesktop, MenuOpensMousepadsSaveAsDialog) { menuOpensMousepadsSaveAsDialog(); }
TEST_F(KdeDesktop, MenuOpensMousepadsSaveAsDialog) { menuOpensMousepadsSaveAsDialog(); }

TEST_F(GnomeDesktop, ScreenshotMatchesTheShellsOwnScreenshot) { screenshotMatchesTheCompositorsOwnPicture(); }
TEST_F(KdeDesktop, ScreenshotMatchesKWinsOwnScreenshot) { screenshotMatchesTheCompositorsOwnPicture(); }

TEST_F(GnomeDesktop, SelftestPasses) { selftestPasses(); }
TEST_F(KdeDesktop, SelftestPasses) { selftestPasses(); }

}  // namespace
}  // namespace kelp::test
