// What an agent that looks at the screen does, against real applications:
// it clicks a pixel of a screenshot, zooms into a region, waits for a
// dialog, pastes through the clipboard and chooses values, and the gate
// holds for a click at a point as it does for "act".
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

class DesktopToolbox : public WidgetFactoryDesktop {
 protected:
  // One helper for a whole conversation, so that later requests can use
  // what earlier replies said (a picture's placement).
  struct Conversation {
    std::unique_ptr<HelperSession> helper;
    Json ask(const Json& request) {
      std::optional<Json> reply = helper->request(request);
      EXPECT_TRUE(reply.has_value()) << "no reply to " << request.dump();
      return reply.value_or(Json());
    }
    ~Conversation() {
      EXPECT_TRUE(helper->finish().has_value());
      EXPECT_EQ(helper->stderrText(), "");
    }
  };
  Conversation talk() { return Conversation{desktop().startHelper()}; }

  Json treeOf(Conversation& conversation, const Json& target) {
    Json request = {{"cmd", "tree"}, {"max", 400}};
    request.update(target);
    return elementsOf(conversation.ask(request));
  }

  void pointAtWhatAPictureShows();
};

// The first enabled element with this role, or null.
Json firstEnabled(const Json& elements, const std::string& role) {
  for (const Json& node : elements) {
    if (node.value("role", "") == role && node.value("enabled", false) && node.contains("frame")) return node;
  }
  return Json();
}

Json atPath(const Json& elements, const Json& path) {
  for (const Json& node : elements) {
    if (node["path"] == path) return node;
  }
  return Json();
}

// A click at a pixel of a screenshot flips a check box, a drag moves a
// slider, and a region comes at its own size: on X11 and on sway.
void DesktopToolbox::pointAtWhatAPictureShows() {
  Conversation agent = talk();
  const Json app = {{"app", WIDGET_FACTORY}};
  const Json elements = treeOf(agent, app);
  Json box;
  for (const Json& node : elements) {
    // A check button of the page, not the header bar's toggle that opens a menu.
    if (node.value("role", "") == "AXCheckBox" && node.value("label", "") == "checkbutton" &&
        node.value("value", "") == "0" && node.value("enabled", false) && node.contains("frame")) {
      box = node;
      break;
    }
  }
  ASSERT_TRUE(box.is_object());
  const Json shot = agent.ask({{"cmd", "screenshot"}});
  const Json picture = shot["result"]["images"][0];
  ASSERT_TRUE(picture.is_object()) << shot.dump().substr(0, 300);
  const double scale = picture["scale"];
  const Json& frame = box["frame"];
  const double x = (frame["x"].get<double>() + frame["w"].get<double>() / 2 - picture["x"].get<double>()) * scale;
  const double y = (frame["y"].get<double>() + frame["h"].get<double>() / 2 - picture["y"].get<double>()) * scale;

  const Json click = agent.ask({{"cmd", "pointer"}, {"action", "click"}, {"image", 0}, {"x", x}, {"y", y}});
  EXPECT_EQ(click["result"]["done"], true) << click.dump();
  EXPECT_EQ(click["result"]["element"]["app"], WIDGET_FACTORY) << click.dump();
  EXPECT_EQ(click["result"]["element"]["role"], "AXCheckBox") << click.dump();
  EXPECT_TRUE(eventually([&] { return atPath(treeOf(agent, app), box["path"]).value("value", "") == "1"; }));

  // A drag takes a slider's handle along.
  const Json slider = firstEnabled(elements, "AXSlider");
  ASSERT_TRUE(slider.is_object());
  const Json& track = slider["frame"];
  const double middle = track["y"].get<double>() + track["h"].get<double>() / 2;
  const double from = std::stod(slider.value("value", "0"));
  const Json drag = agent.ask({{"cmd", "pointer"},
                               {"action", "drag"},
                               {"x", track["x"].get<double>() + track["w"].get<double>() / 2},
                               {"y", middle},
                               {"toX", track["x"].get<double>() + track["w"].get<double>() - 2},
                               {"toY", middle}});
  EXPECT_EQ(drag["result"]["done"], true) << drag.dump();
  EXPECT_TRUE(eventually([&] {
    return std::stod(atPath(treeOf(agent, app), slider["path"]).value("value", "0")) > from + 10;
  })) << atPath(treeOf(agent, app), slider["path"]).dump();

  // A region comes at its own size, placed where it was asked for.
  const Json region = agent.ask({{"cmd", "screenshot"},
                                 {"region", {{"x", frame["x"]}, {"y", frame["y"]}, {"w", 120}, {"h", 40}}}});
  const Json part = region["result"]["images"][0];
  EXPECT_EQ(part["w"], 120) << region.dump().substr(0, 300);
  EXPECT_EQ(part["h"], 40);
  EXPECT_EQ(part["scale"], 1.0);
  EXPECT_EQ(part["x"], frame["x"]);
}

TEST_F(DesktopToolbox, APointerClickOnAPixelOfAScreenshotFlipsACheckBoxAndADragMovesASlider) {
  pointAtWhatAPictureShows();
}

class SwayToolbox : public DesktopToolbox {
 protected:
  static void SetUpTestSuite() {
    DesktopOptions options;
    options.server = DisplayServer::sway;
    startSuite(options);
  }
};

TEST_F(SwayToolbox, APointerClickOnAPixelOfAScreenshotFlipsACheckBoxAndADragMovesASlider) {
  pointAtWhatAPictureShows();
}

TEST_F(DesktopToolbox, APointerClickOnAPaymentButtonIsRefusedAndTheDialogStays) {
  DesktopApp& zenity =
      desktop().startApplication(program({"zenity", "--question", "--text=주문을 확정할까요?", "--ok-label=결제하기"}));
  StopWhenDone stop{zenity};
  Conversation agent = talk();
  const Json elements = treeOf(agent, {{"pid", zenity.pid()}});
  const auto buttons = nodesWith(elements, "AXButton", "결제하기");
  ASSERT_EQ(buttons.size(), 1u);
  const Json& frame = (*buttons[0])["frame"];
  const double x = frame["x"].get<double>() + frame["w"].get<double>() / 2;
  const double y = frame["y"].get<double>() + frame["h"].get<double>() / 2;
  for (const char* action : {"click", "doubleclick", "down"}) {
    const Json reply = agent.ask({{"cmd", "pointer"}, {"action", action}, {"x", x}, {"y", y}});
    EXPECT_EQ(reply["error"], "blocked-by-safety") << action << " " << reply.dump();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(zenity.process->running());
}

TEST_F(DesktopToolbox, WaitSeesADialogComeAndGoAndSaysWhenNothingCame) {
  Conversation agent = talk();
  // Asked before the dialog exists; it comes while the helper waits.
  ASSERT_TRUE(agent.helper->sendLine(
      R"({"cmd":"wait","app":"zenity","locator":{"role":"AXButton","label":"Later"},"until":"present","timeout":20000})"));
  DesktopApp& zenity = desktop().startApplication(program({"zenity", "--info", "--title=Soon", "--ok-label=Later"}));
  StopWhenDone stop{zenity};
  const std::optional<Json> came = agent.helper->reply();
  ASSERT_TRUE(came.has_value());
  EXPECT_EQ((*came)["result"]["met"], true) << came->dump();
  EXPECT_EQ((*came)["result"]["element"]["label"], "Later") << came->dump();
  EXPECT_TRUE((*came)["result"]["element"].contains("ref"));

  zenity.process->terminate();
  const Json gone = agent.ask({{"cmd", "wait"}, {"window", "Soon"}, {"until", "absent"}});
  EXPECT_EQ(gone["result"]["met"], true) << gone.dump();

  const Json none = agent.ask({{"cmd", "wait"},
                               {"app", WIDGET_FACTORY},
                               {"locator", {{"label", "Nothing called this"}}},
                               {"timeout", 400}});
  EXPECT_EQ(none["ok"], true) << none.dump();
  EXPECT_EQ(none["result"]["met"], false);
  EXPECT_GE(none["result"]["waitedMs"], 400);
}

// The helper serves what it copied while the application pastes it, and
// reads back what the application copied.
TEST_F(DesktopToolbox, TheClipboardCarriesHangulAndAnEmojiBothWays) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  Conversation agent = talk();
  const std::string text = "한글 😀 붙여넣기";
  const Json set = agent.ask({{"cmd", "clipboard"}, {"text", text}});
  EXPECT_EQ(set["result"]["set"], true) << set.dump();
  EXPECT_EQ(agent.ask({{"cmd", "key"}, {"pid", mousepad.pid()}, {"key", "v"}, {"mods", {"ctrl"}}})["ok"], true);
  const Json pasted = agent.ask({{"cmd", "wait"},
                                 {"pid", mousepad.pid()},
                                 {"locator", {{"role", "AXTextArea"}, {"label", text}}},
                                 {"timeout", 5000}});
  EXPECT_EQ(pasted["result"]["met"], true) << pasted.dump();

  // A triple click selects the line, which a copy then takes.
  agent.ask({{"cmd", "typetext"}, {"pid", mousepad.pid()}, {"text", " 끝"}});
  const Json area = firstEnabled(treeOf(agent, {{"pid", mousepad.pid()}}), "AXTextArea");
  ASSERT_TRUE(area.is_object());
  const Json triple = agent.ask({{"cmd", "pointer"},
                                 {"action", "tripleclick"},
                                 {"x", area["frame"]["x"].get<double>() + 30},
                                 {"y", area["frame"]["y"].get<double>() + 10}});
  EXPECT_EQ(triple["result"]["done"], true) << triple.dump();
  agent.ask({{"cmd", "key"}, {"pid", mousepad.pid()}, {"key", "c"}, {"mods", {"ctrl"}}});
  EXPECT_TRUE(eventually([&] { return agent.ask({{"cmd", "clipboard"}})["result"]["text"] == text + " 끝"; }));

  const Json card = agent.ask({{"cmd", "clipboard"}, {"text", "4111 1111 1111 1111"}});
  EXPECT_EQ(card["error"], "blocked-by-safety") << card.dump();
  EXPECT_EQ(agent.ask({{"cmd", "clipboard"}})["result"]["text"], text + " 끝");
}

TEST_F(DesktopToolbox, SelectChoosesADropDownItemAndSetvalueASpinButtonNumber) {
  Conversation agent = talk();
  const Json app = {{"app", WIDGET_FACTORY}};
  const Json elements = treeOf(agent, app);
  const Json dropDown = firstEnabled(elements, "AXPopUpButton");
  const Json spin = firstEnabled(elements, "AXIncrementor");
  ASSERT_TRUE(dropDown.is_object() && spin.is_object());
  auto act = [&](const Json& node, const char* action, const char* text) {
    return agent.ask({{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", node["ref"]}, {"action", action}, {"text", text}});
  };

  const Json chosen = act(dropDown, "select", "Middle");
  EXPECT_EQ(chosen["ok"], true) << chosen.dump();
  EXPECT_EQ(atPath(treeOf(agent, app), dropDown["path"]).value("value", ""), "Middle");
  const Json missing = act(dropDown, "select", "Nowhere");
  EXPECT_EQ(missing["ok"], false);
  EXPECT_TRUE(contains(missing.value("error", ""), "Left")) << missing.dump();

  const Json set = act(spin, "setvalue", "73");
  EXPECT_EQ(set["ok"], true) << set.dump();
  EXPECT_EQ(atPath(treeOf(agent, app), spin["path"]).value("value", ""), "73");
  // Beyond the spin button's range it keeps its own number, and says so.
  const Json beyond = act(spin, "setvalue", "100000");
  EXPECT_EQ(beyond["ok"], false) << beyond.dump();
}

}  // namespace
}  // namespace kelp::test
