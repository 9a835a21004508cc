// The toolkits of a Linux desktop besides GTK 3, each through the built
// kelp-cua: GTK 4 (gnome-calculator), Qt 5 (featherpad), Qt 6 (qt6ct),
// Chromium and Firefox on a form page of ours, and LibreOffice Writer.
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

const std::string FORM_PAGE = std::string("file://") + KELP_SOURCE_DIR + "/tests/desktop/pages/form.html";

class DesktopToolkits : public WidgetFactoryDesktop {
 protected:
  void operateTheForm(const Json& app);
};

// The first node with this role whose label (or value) holds `text`.
Json nodeWith(const Json& reply, const std::string& role, const std::string& text, const char* field = "label") {
  for (const Json& node : elementsOf(reply)) {
    if (node.value("role", "") == role && contains(node.value(field, ""), text)) return node;
  }
  return Json();
}

Json locator(const std::string& role, const std::string& label) { return {{"role", role}, {"label", label}}; }

TEST_F(DesktopToolkits, Gtk4CalculatorAddsByItsButtons) {
  DesktopApp& calculator = desktop().startApplication(program({"gnome-calculator"}));
  StopWhenDone stop{calculator};
  const Json app = {{"pid", calculator.pid()}};
  std::vector<Json> requests;
  for (const char* key : {"7", "+", "2", "="}) {
    Json press = {{"cmd", "act"}, {"locator", locator("AXButton", key)}};
    press.update(app);
    requests.push_back(press);
  }
  Json tree = {{"cmd", "tree"}, {"max", 400}};
  tree.update(app);
  requests.push_back(tree);
  const std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), 5u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(replies[i]["ok"], true) << replies[i].dump();
  const Json display = nodeWith(replies[4], "AXTextArea", "9", "value");
  EXPECT_EQ(display.value("value", ""), "9") << replies[4].dump();
  const Json seven = nodeWith(replies[4], "AXButton", "7");
  EXPECT_EQ(seven.value("label", ""), "7");
  EXPECT_TRUE(seven.contains("frame")) << "placed on the screen by its window";
  EXPECT_EQ(seven.value("enabled", false), true);
}

TEST_F(DesktopToolkits, Qt5FeatherpadTakesTextAndListsItsMenus) {
  DesktopApp& featherpad = desktop().startApplication(program({"featherpad"}));
  StopWhenDone stop{featherpad};
  const std::vector<Json> replies = ask({
      {{"cmd", "typetext"}, {"app", "featherpad"}, {"text", "hello qt"}},
      {{"cmd", "tree"}, {"app", "featherpad"}, {"max", 50}},
      {{"cmd", "menu"}, {"app", "featherpad"}, {"path", {"File"}}, {"list", true}},
  });
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0]["result"]["landed"], true) << replies[0].dump();
  EXPECT_EQ(replies[0]["result"]["valueTail"], "hello qt");
  EXPECT_EQ(nodeWith(replies[1], "AXTextArea", "hello qt", "value").value("value", ""), "hello qt")
      << replies[1].dump();
  std::vector<std::string> items;
  for (const Json& item : replies[2]["result"]["items"]) items.push_back(item.value("label", ""));
  EXPECT_TRUE(std::find(items.begin(), items.end(), "Open") != items.end()) << replies[2].dump();
  EXPECT_TRUE(featherpad.process->running()) << "reading a Qt application must not end it";
}

TEST_F(DesktopToolkits, Qt6ControlsAreListedAndPressed) {
  DesktopApp& qt6ct = desktop().startApplication(program({"qt6ct"}));
  StopWhenDone stop{qt6ct};
  const std::vector<Json> replies = ask({
      {{"cmd", "find"}, {"pid", qt6ct.pid()}, {"q", "style"}},
      {{"cmd", "act"}, {"pid", qt6ct.pid()}, {"locator", locator("AXButton", "Hide")}},
      {{"cmd", "windowtitles"}},
  });
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_FALSE(elementsOf(replies[0]).empty()) << replies[0].dump();
  EXPECT_EQ(replies[1]["ok"], true) << replies[1].dump();
  EXPECT_EQ(replies[1]["result"]["label"], "Hide");
  EXPECT_TRUE(qt6ct.process->running());
}

// The same form in two browsers: its controls listed, typed into and read
// back, the check box flipped, the card field and the pay button refused,
// and typing at the focus landing in the text area.
void DesktopToolkits::operateTheForm(const Json& app) {
  auto with = [&](Json request) {
    request.update(app);
    return request;
  };
  const std::vector<Json> replies = ask({
      with({{"cmd", "tree"}, {"max", 400}}),
      with({{"cmd", "act"}, {"locator", locator("AXTextField", "Full name")}, {"action", "type"}, {"text", "Kim Minji"}}),
      with({{"cmd", "act"}, {"locator", locator("AXCheckBox", "I agree to the terms")}}),
      with({{"cmd", "act"}, {"locator", locator("AXTextField", "Card number")}, {"action", "type"}, {"text", "7"}}),
      with({{"cmd", "act"}, {"locator", locator("AXButton", "Pay now")}}),
      with({{"cmd", "act"}, {"locator", locator("AXTextArea", "Notes")}, {"action", "focus"}}),
      with({{"cmd", "typetext"}, {"text", "first line"}}),
      with({{"cmd", "tree"}, {"max", 400}}),
  });
  ASSERT_EQ(replies.size(), 8u);
  for (const auto& [role, label] : std::vector<std::pair<std::string, std::string>>{
           {"AXTextField", "Full name"}, {"AXTextField", "Email"}, {"AXCheckBox", "I agree to the terms"},
           {"AXTextArea", "Notes"}, {"AXTextField", "Card number"}, {"AXButton", "Pay now"}}) {
    EXPECT_TRUE(nodeWith(replies[0], role, label).is_object()) << role << " " << label << " in " << replies[0].dump();
  }
  EXPECT_EQ(replies[1]["ok"], true) << replies[1].dump();
  EXPECT_EQ(replies[2]["ok"], true) << replies[2].dump();
  EXPECT_EQ(replies[3]["error"], "blocked-by-safety");
  EXPECT_EQ(replies[4]["error"], "blocked-by-safety");
  EXPECT_EQ(replies[6]["result"]["landed"], true) << replies[6].dump();
  EXPECT_EQ(replies[6]["result"]["into"], "Notes");
  const Json& after = replies[7];
  EXPECT_EQ(nodeWith(after, "AXTextField", "Full name").value("value", ""), "Kim Minji") << after.dump();
  EXPECT_EQ(nodeWith(after, "AXCheckBox", "I agree to the terms").value("value", ""), "1");
  EXPECT_EQ(nodeWith(after, "AXTextField", "Card number").value("value", ""), "");
}

TEST_F(DesktopToolkits, ChromiumWakesAndOperatesAFormPage) {
  TempDir profile("kelp-chromium");
  DesktopApp& chromium = desktop().startApplication(chromiumProgram(profile.path(), FORM_PAGE));
  StopWhenDone stop{chromium};
  operateTheForm({{"pid", chromium.pid()}});
}

TEST_F(DesktopToolkits, FirefoxOperatesAFormPage) {
  TempDir profile("kelp-firefox");
  DesktopApp& firefox = desktop().startApplication(firefoxProgram(profile.path(), FORM_PAGE));
  StopWhenDone stop{firefox};
  // The page arrives after the window.
  ASSERT_TRUE(eventually(
      [&] { return !elementsOf(askOne({{"cmd", "find"}, {"pid", firefox.pid()}, {"q", "pay now"}})).empty(); },
      std::chrono::milliseconds(20000)));
  operateTheForm({{"pid", firefox.pid()}});
}

TEST_F(DesktopToolkits, LibreOfficeOpensADialogFromItsMenuAndTakesText) {
  AppOptions options = program({"libreoffice", "--writer", "--norestore", "--nologo"});
  options.title = "Untitled 1 - LibreOffice Writer";
  DesktopApp& writer = desktop().startApplication(options);
  StopWhenDone stop{writer};
  auto helper = desktop().startHelper();
  auto ask1 = [&](const Json& request) { return helper->request(request).value_or(Json::object()); };
  auto titles = [&] {
    std::vector<std::string> found;
    const Json reply = ask1({{"cmd", "windowtitles"}});
    for (const Json& window : reply["result"]["windows"]) found.push_back(window["title"]);
    return found;
  };
  auto showing = [&](const std::string& title) {
    const std::vector<std::string> now = titles();
    return std::find(now.begin(), now.end(), title) != now.end();
  };
  // The launcher script hands over to soffice.bin, which is the application.
  // The document takes keys a little after its window shows.
  Json typed;
  EXPECT_TRUE(eventually([&] {
    typed = ask1({{"cmd", "typetext"}, {"app", "soffice"}, {"text", "kelp writes here"}});
    return typed["result"]["landed"] == true;
  }, std::chrono::milliseconds(15000))) << typed.dump();
  EXPECT_TRUE(contains(typed["result"].value("valueTail", ""), "writes here")) << typed.dump();
  const Json chosen = ask1({{"cmd", "menu"}, {"app", "soffice"}, {"path", {"Format", "Paragraph"}}});
  EXPECT_EQ(chosen["ok"], true) << chosen.dump();
  ASSERT_TRUE(eventually([&] { return showing("Paragraph"); }, std::chrono::milliseconds(10000))) << chosen.dump();
  EXPECT_EQ(ask1({{"cmd", "key"}, {"key", "escape"}})["ok"], true);
  EXPECT_TRUE(eventually([&] { return !showing("Paragraph"); }, std::chrono::milliseconds(10000)));
  EXPECT_TRUE(helper->finish().has_value());
}

// Without the address on the root window Qt 5 may lose its race to find
// the accessibility bus at start; "activate" hands it the address.
class BareDesktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DesktopOptions options;
    options.busOnRootWindow = false;
    desktop_ = std::make_unique<DesktopSession>(options);
  }
  static void TearDownTestSuite() { desktop_.reset(); }
  static inline std::unique_ptr<DesktopSession> desktop_;
};

TEST_F(BareDesktop, QtLaunchedThroughActivateAlwaysShowsItsTree) {
  for (int launch = 1; launch <= 10; ++launch) {
    auto helper = desktop_->startHelper();
    const Json launched = helper->request({{"cmd", "activate"}, {"app", "featherpad"}}).value_or(Json::object());
    ASSERT_EQ(launched["ok"], true) << launched.dump();
    std::optional<pid_t> pid;
    const bool shown = eventually([&] {
      const Json apps = helper->request({{"cmd", "apps"}}).value_or(Json::object());
      for (const Json& app : apps["result"]["apps"]) {
        if (app.value("name", "") == "FeatherPad") pid = app["pid"].get<pid_t>();
      }
      if (!pid) return false;
      return !elementsOf(helper->request({{"cmd", "tree"}, {"pid", *pid}, {"max", 5}}).value_or(Json())).empty();
    });
    EXPECT_TRUE(shown) << "launch " << launch;
    helper->finish();
    // Started by this test through the helper: ended by its pid.
    if (pid) ::kill(*pid, SIGTERM);
    eventually([&] {
      reapOrphans();
      return !pid || ::kill(*pid, 0) != 0;
    });
  }
}

}  // namespace
}  // namespace kelp::test
