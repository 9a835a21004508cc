// Recording what a person does, with xdotool as the person, through the
// built kelp-cua's event tap on the X server, and replaying a record.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

class DesktopRecord : public WidgetFactoryDesktop {
 protected:
  // The enabled node of the factory with this role and label (or a label
  // that begins so).
  Json factoryNode(const std::string& role, const std::string& label, bool beginning = false) {
    const Json tree = askOne({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 400}});
    for (const Json& node : elementsOf(tree)) {
      const std::string shown = node.value("label", "");
      if (node.value("role", "") == role && (beginning ? shown.starts_with(label) : shown == label) &&
          node.value("enabled", false) &&
          node.contains("frame")) {
        return node;
      }
    }
    ADD_FAILURE() << "no " << role << " " << label << " in " << tree.dump();
    return Json();
  }
  static std::vector<std::string> centre(const Json& node) {
    const Json& frame = node["frame"];
    return {std::to_string(static_cast<int>(frame["x"].get<double>() + frame["w"].get<double>() / 2)),
            std::to_string(static_cast<int>(frame["y"].get<double>() + frame["h"].get<double>() / 2))};
  }
  void moveTo(const std::vector<std::string>& point) { desktop().xdotool({"mousemove", point[0], point[1]}); }
  void clickAt(const Json& node) {
    moveTo(centre(node));
    desktop().xdotool({"click", "1"});
  }

  // Starts a recording in one helper, lets `person` act, and gives the
  // "rec-stop" result.
  Json record(const Json& ignoreApps, const std::function<void()>& person) {
    auto helper = desktop().startHelper();
    const auto started = helper->request({{"cmd", "rec-start"}, {"ignoreApps", ignoreApps}});
    EXPECT_TRUE(started && (*started)["ok"] == true) << (started ? started->dump() : "no reply");
    person();
    const auto stopped = helper->request({{"cmd", "rec-stop"}});
    EXPECT_TRUE(helper->finish().has_value());
    EXPECT_EQ(helper->stderrText(), "");
    return stopped ? (*stopped)["result"] : Json();
  }
  static std::vector<std::string> kindsOf(const Json& result) {
    std::vector<std::string> kinds;
    for (const Json& event : result["events"]) kinds.push_back(event["kind"]);
    return kinds;
  }
  static Json lastOfKind(const Json& result, const std::string& kind) {
    Json found;
    for (const Json& event : result["events"]) {
      if (event["kind"] == kind) found = event;
    }
    return found;
  }
  static void pause(int millis) { std::this_thread::sleep_for(std::chrono::milliseconds(millis)); }
};

using Kinds = std::vector<std::string>;

TEST_F(DesktopRecord, ClicksAndTypingAreRecordedAndAClickReplaysOnTheSameButton) {
  const Json name = factoryNode("AXButton", "Name");
  const Json nick = factoryNode("AXButton", "Nick");
  const Json entry = factoryNode("AXTextField", "entry");
  const Json lorem = factoryNode("AXTextArea", "Lorem ipsum", true);
  const Json result = record(Json::array(), [&] {
    clickAt(name);
    pause(600);
    moveTo(centre(nick));
    desktop().xdotool({"click", "--repeat", "2", "--delay", "80", "1"});
    pause(600);
    clickAt(entry);
    desktop().xdotool({"type", "--delay", "30", "hello"});
    clickAt(name);
    pause(300);
    moveTo(centre(lorem));
    desktop().xdotool({"click", "--repeat", "2", "--delay", "60", "5"});
    pause(700);
  });
  ASSERT_EQ(kindsOf(result),
            (Kinds{"app-activate", "app-click", "app-doubleclick", "app-type", "app-click", "app-scroll"}))
      << result.dump();
  RecordProperty("recording", result.dump());
  const Json& events = result["events"];
  EXPECT_EQ(events[0]["app"], WIDGET_FACTORY);
  EXPECT_EQ(events[1]["label"], "Name");
  EXPECT_EQ(events[2]["label"], "Nick");
  EXPECT_TRUE(contains(events[3].value("value", ""), "hello")) << events[3].dump();
  EXPECT_EQ(events[3]["locator"]["role"], "AXTextField");
  EXPECT_EQ(result["droppedKeys"].size(), 5u) << "one line a typed letter";

  // The locator, handed unchanged to "act", finds that same button.
  const Json replay = askOne({{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"locator", events[1]["locator"]}});
  EXPECT_EQ(replay["ok"], true) << replay.dump();
  EXPECT_EQ(replay["result"]["label"], "Name");
}

TEST_F(DesktopRecord, TwentyQuickClicksGiveTwentyRecords) {
  const Json name = factoryNode("AXButton", "Name");
  const Json nick = factoryNode("AXButton", "Nick");
  const Json result = record(Json::array(), [&] {
    for (int i = 0; i < 20; ++i) {
      clickAt(i % 2 ? nick : name);
      pause(150);
    }
  });
  const Kinds kinds = kindsOf(result);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "app-click"), 20) << result.dump();
}

TEST_F(DesktopRecord, DraggingASliderRecordsItsOffsetAndWhereItEnded) {
  const Json slider = factoryNode("AXSlider", "50");
  const std::vector<std::string> from = centre(slider);
  const Json result = record(Json::array(), [&] {
    moveTo(from);
    desktop().xdotool({"mousedown", "1"});
    for (int step = 1; step <= 5; ++step) {
      desktop().xdotool({"mousemove", std::to_string(std::stoi(from[0]) + 10 * step), from[1]});
    }
    desktop().xdotool({"mouseup", "1"});
  });
  const Json drag = lastOfKind(result, "app-drag");
  ASSERT_TRUE(drag.is_object()) << result.dump();
  EXPECT_EQ(drag["dx"], 50.0);
  EXPECT_EQ(drag["dy"], 0.0);
  EXPECT_EQ(drag["locator"]["role"], "AXSlider");
  EXPECT_EQ(drag["toLocator"]["role"], "AXSlider") << drag.dump();
}

TEST_F(DesktopRecord, APasswordIsRecordedAsManualWithoutItsValue) {
  DesktopApp& zenity = desktop().startApplication(program({"zenity", "--password"}));
  StopWhenDone stop{zenity};
  const Json result = record(Json::array(), [&] {
    // The recorder looks for the focused field at most four times a second
    // while keys come, and a helper built with the sanitizers on a busy
    // machine takes a while to answer: typing at a person's pace gives it
    // several looks.
    pause(300);
    desktop().xdotool({"type", "--delay", "120", "sesame42"});
    pause(300);
    desktop().xdotool({"key", "Tab"});
  });
  EXPECT_EQ(lastOfKind(result, "manual")["locator"]["role"], "AXSecureTextField") << result.dump();
  EXPECT_FALSE(contains(result.dump(), "sesame42"));
}

TEST_F(DesktopRecord, ShortcutsScrollsAndWindowDragsInMousepad) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  const std::optional<DesktopSession::WindowGeometry> before = desktop().windowGeometry(mousepad.window);
  ASSERT_TRUE(before);
  const std::string titleX = std::to_string(before->x + before->width / 2);
  const std::string titleY = std::to_string(before->y + 8);
  const Json result = record(Json::array(), [&] {
    desktop().xdotool({"key", "ctrl+s"});
    pause(800);
    desktop().xdotool({"key", "Escape"});
    pause(400);
    desktop().xdotool({"mousemove", std::to_string(before->x + before->width / 2),
                       std::to_string(before->y + before->height / 2)});
    desktop().xdotool({"click", "--repeat", "3", "--delay", "60", "5"});
    pause(700);
    desktop().xdotool({"mousemove", titleX, titleY});
    desktop().xdotool({"mousedown", "1"});
    for (int step = 1; step <= 5; ++step) {
      desktop().xdotool({"mousemove", std::to_string(before->x + before->width / 2 + 20 * step),
                         std::to_string(before->y + 8 + 10 * step)});
    }
    desktop().xdotool({"mouseup", "1"});
    pause(400);
  });
  const Json events = result["events"];
  ASSERT_GE(events.size(), 1u) << result.dump();
  Json save;
  for (const Json& event : events) {
    if (event["kind"] == "app-key" && event["key"] == "s") save = event;
  }
  EXPECT_EQ(save, Json::parse(R"({"kind":"app-key","key":"s","mods":["ctrl"],"label":"⌃S","at":)" +
                              save.value("at", Json(0)).dump() + "}"))
      << result.dump();
  const Json scroll = lastOfKind(result, "app-scroll");
  EXPECT_EQ(scroll["dy"], -3.0) << result.dump();
  const Kinds kinds = kindsOf(result);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "app-scroll"), 1);
  const Json window = lastOfKind(result, "app-window");
  ASSERT_TRUE(window.is_object()) << result.dump();
  const std::optional<DesktopSession::WindowGeometry> after = desktop().windowGeometry(mousepad.window);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->x - before->x, 100) << "the drag moved the window";
  // The frame recorded is the window's after the drag, give or take the
  // window manager's decoration.
  EXPECT_NEAR(window["frame"]["x"].get<double>(), after->x, 30) << window.dump();
  EXPECT_NEAR(window["frame"]["y"].get<double>(), after->y, 40) << window.dump();
}

TEST_F(DesktopRecord, KeysInAnIgnoredApplicationOnlyLeaveNotes) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  const Json result = record(Json::array({"mousepad"}), [&] {
    desktop().xdotool({"type", "--delay", "30", "abc"});
    desktop().xdotool({"key", "ctrl+a"});
  });
  EXPECT_TRUE(result["events"].empty()) << result.dump();
  ASSERT_EQ(result["droppedKeys"].size(), 4u) << result.dump();
  for (const Json& line : result["droppedKeys"]) {
    EXPECT_TRUE(line.get<std::string>().ends_with(" \u2014 브라우저가 맡음")) << line;
  }
}

}  // namespace
}  // namespace kelp::test
