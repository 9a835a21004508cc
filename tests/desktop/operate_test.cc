// Operating real applications through the built kelp-cua: clicking, typing,
// shortcuts, moving windows, activating and launching, and the safety gate
// in front of a card-number field and a payment button.
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

using DesktopOperate = WidgetFactoryDesktop;

constexpr int WALK_LIMIT = 400;  // what "act" walks, so tree refs are act refs

Json treeRequest(const Json& app) { return {{"cmd", "tree"}, {"app", app}, {"max", WALK_LIMIT}}; }

// The node at `path` in a tree reply, or null.
Json nodeAt(const Json& tree, const std::string& path) {
  for (const Json& node : elementsOf(tree)) {
    if (node.value("path", "") == path) return node;
  }
  return Json();
}

// The first enabled node with this role whose value is `value`, or null.
// The factory shows disabled copies of its controls, which GTK lets a
// program "press" or focus without any effect.
Json firstWith(const Json& tree, const std::string& role, const std::string& value) {
  for (const Json& node : elementsOf(tree)) {
    if (node.value("role", "") == role && node.value("value", "") == value && node.value("enabled", false)) {
      return node;
    }
  }
  return Json();
}

// The first enabled plain text entry (not the entry of a combo box).
Json firstEntry(const Json& tree) {
  for (const Json& node : elementsOf(tree)) {
    if (node.value("role", "") == "AXTextField" && node.value("enabled", false) &&
        !contains(node.value("path", ""), "AXComboBox")) {
      return node;
    }
  }
  return Json();
}

TEST_F(DesktopOperate, ActClicksACheckBoxAndItsValueChanges) {
  Json tree = askOne(treeRequest(WIDGET_FACTORY));
  const Json box = firstWith(tree, "AXCheckBox", "0");
  ASSERT_TRUE(box.is_object()) << tree.dump();
  const std::string path = box["path"];

  std::vector<Json> replies =
      ask({{{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", box["ref"]}}, treeRequest(WIDGET_FACTORY)});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0]["ok"], true) << replies[0].dump();
  EXPECT_EQ(replies[0]["result"]["found"], true);
  EXPECT_EQ(replies[0]["result"]["label"], box["label"]);
  EXPECT_TRUE(replies[0]["error"].is_null());
  EXPECT_EQ(nodeAt(replies[1], path).value("value", ""), "1") << nodeAt(replies[1], path).dump();
}

TEST_F(DesktopOperate, ActTypesIntoATextEntry) {
  Json tree = askOne(treeRequest(WIDGET_FACTORY));
  const Json entry = firstEntry(tree);
  ASSERT_TRUE(entry.is_object()) << tree.dump();
  std::vector<Json> replies = ask({{{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", entry["ref"]},
                                    {"action", "type"}, {"text", "hello kelp"}},
                                   treeRequest(WIDGET_FACTORY)});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0]["ok"], true) << replies[0].dump();
  EXPECT_EQ(nodeAt(replies[1], entry["path"]).value("value", ""), "hello kelp");
}

TEST_F(DesktopOperate, TypetextLandsHangulAndAnEmojiInTheFocusedEntry) {
  Json tree = askOne(treeRequest(WIDGET_FACTORY));
  const Json entry = firstEntry(tree);
  ASSERT_TRUE(entry.is_object()) << tree.dump();
  const std::string typed = "안녕 😀";
  std::vector<Json> replies =
      ask({{{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", entry["ref"]}, {"action", "focus"}},
           {{"cmd", "typetext"}, {"app", WIDGET_FACTORY}, {"text", typed}},
           treeRequest(WIDGET_FACTORY)});
  ASSERT_EQ(replies.size(), 3u);
  // The text is in the entry that was focused, not in some other field.
  EXPECT_TRUE(contains(nodeAt(replies[2], entry["path"]).value("value", ""), typed))
      << nodeAt(replies[2], entry["path"]).dump();
  EXPECT_EQ(replies[0]["ok"], true) << replies[0].dump();
  const Json& result = replies[1]["result"];
  EXPECT_EQ(result["typed"], 4) << replies[1].dump();
  EXPECT_EQ(result["landed"], true) << replies[1].dump();
  const std::string tail = result.value("valueTail", "");
  EXPECT_TRUE(tail.size() >= typed.size() && tail.compare(tail.size() - typed.size(), typed.size(), typed) == 0)
      << replies[1].dump();
}

TEST_F(DesktopOperate, ShortcutThenTypetextReplacesTheTextInMousepad) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  std::vector<Json> replies = ask({
      {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", "first draft"}},
      {{"cmd", "key"}, {"app", "mousepad"}, {"key", "a"}, {"mods", {"ctrl"}}},
      {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", "second"}},
  });
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0]["result"]["valueTail"], "first draft") << replies[0].dump();
  EXPECT_EQ(replies[1], Json::parse(R"({"id":null,"ok":true,"result":{"pressed":true}})")) << replies[1].dump();
  EXPECT_EQ(replies[2]["result"]["landed"], true) << replies[2].dump();
  EXPECT_EQ(replies[2]["result"]["valueTail"], "second") << replies[2].dump();
  EXPECT_EQ(replies[2]["result"]["valueLen"], 6);
}

TEST_F(DesktopOperate, WindowMovesAndResizesMousepad) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  const Json frame = {{"x", 150}, {"y", 120}, {"w", 700}, {"h", 500}};
  const Json placed = askOne({{"cmd", "window"}, {"app", "mousepad"}, {"frame", frame}, {"id", 1}});
  EXPECT_EQ(placed["result"]["found"], true) << placed.dump();
  EXPECT_EQ(placed["result"]["frame"]["x"], 150) << placed.dump();
  std::optional<DesktopSession::WindowGeometry> geometry;
  const bool settled = eventually([&] {
    geometry = desktop().windowGeometry(mousepad.window);
    return geometry && geometry->width == 700 && geometry->height == 500 && geometry->x == 150 &&
           geometry->y == 120;
  });
  ASSERT_TRUE(geometry.has_value());
  EXPECT_TRUE(settled) << "window at " << geometry->x << "," << geometry->y << " size " << geometry->width << "x"
                       << geometry->height;
}

TEST_F(DesktopOperate, ActivateBringsABackgroundApplicationForward) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  auto frontPid = [&] {
    auto active = desktop().activeWindow();
    return active ? desktop().windowPid(*active) : std::nullopt;
  };
  ASSERT_EQ(frontPid(), mousepad.pid());
  Json reply = askOne({{"cmd", "activate"}, {"app", WIDGET_FACTORY}});
  EXPECT_EQ(reply["ok"], true) << reply.dump();
  EXPECT_FALSE(reply["result"].contains("launched"));
  EXPECT_TRUE(eventually([&] { return frontPid() == app().pid(); }));
}

TEST_F(DesktopOperate, ActivateLaunchesMousepadByName) {
  auto mousepadWindow = [&]() -> std::optional<unsigned long> {
    for (unsigned long window : desktop().clientWindows()) {
      if (contains(desktop().windowTitle(window), "Mousepad")) return window;
    }
    return std::nullopt;
  };
  ASSERT_FALSE(mousepadWindow());
  Json reply = askOne({{"cmd", "activate"}, {"app", "mousepad"}, {"id", 2}});
  EXPECT_EQ(reply, Json::parse(R"({"id":2,"ok":true,"result":{"name":"mousepad","launched":true}})"));
  std::optional<unsigned long> window;
  EXPECT_TRUE(eventually([&] { return (window = mousepadWindow()).has_value(); }));
  // Mousepad keeps one instance per session, so later tests can start their
  // own only once this one is gone.
  if (window) {
    if (auto pid = desktop().windowPid(*window)) ::kill(*pid, SIGTERM);
  }
  EXPECT_TRUE(eventually([&] { return !mousepadWindow(); }));
}

TEST_F(DesktopOperate, WindowTitlesListsBothApplicationsFrontToBack) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  Json reply = askOne({{"cmd", "windowtitles"}});
  ASSERT_EQ(reply["ok"], true) << reply.dump();
  const Json& windows = reply["result"]["windows"];
  std::vector<int> pids;
  for (const Json& window : windows) {
    EXPECT_FALSE(window.value("title", "").empty());
    EXPECT_NE(window.value("pid", 0), lastHelperPid_);
    pids.push_back(window.value("pid", 0));
  }
  ASSERT_EQ(pids.size(), 2u) << reply.dump();
  EXPECT_EQ(pids[0], mousepad.pid());
  EXPECT_EQ(pids[1], app().pid());
  EXPECT_EQ(windows[1]["title"], app().title);
}

TEST_F(DesktopOperate, TheGateKeepsTypingOutOfACardNumberField) {
  DesktopApp& zenity = desktop().startApplication(program({"zenity", "--entry", "--text=카드번호"}));
  StopWhenDone stop{zenity};
  const Json locator = {{"role", "AXTextField"}, {"label", "카드번호"}};
  const Json target = {{"pid", zenity.pid()}};
  auto request = [&](Json fields) {
    fields.update(target);
    return fields;
  };
  std::vector<Json> replies = ask({
      request({{"cmd", "act"}, {"locator", locator}, {"action", "type"}, {"text", "4111111111111111"}}),
      request({{"cmd", "act"}, {"locator", locator}, {"action", "focus"}}),
      request({{"cmd", "typetext"}, {"text", "4111111111111111"}}),
      // Nor is a card number pasted into it.
      request({{"cmd", "key"}, {"key", "v"}, {"mods", {"ctrl"}}}),
      request({{"cmd", "find"}, {"q", "카드번호"}}),
  });
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(replies[0], Json::parse(R"({"id":null,"ok":false,"result":{"found":true,"label":"blocked-by-safety"},
                                        "error":"blocked-by-safety"})"));
  EXPECT_EQ(replies[1]["ok"], true) << replies[1].dump();
  EXPECT_EQ(replies[2], failure(nullptr, "blocked-by-safety"));
  EXPECT_EQ(replies[3]["error"], "blocked-by-safety") << replies[3].dump();
  const Json found = elementsOf(replies[4]);
  auto fields = nodesWith(found, "AXTextField", "카드번호");
  ASSERT_EQ(fields.size(), 1u) << replies[4].dump();
  EXPECT_FALSE(fields[0]->contains("value")) << fields[0]->dump();
}

TEST_F(DesktopOperate, TheGateKeepsAPaymentButtonUnpressed) {
  DesktopApp& zenity =
      desktop().startApplication(program({"zenity", "--question", "--text=주문을 확정할까요?", "--ok-label=결제하기"}));
  StopWhenDone stop{zenity};
  const Json locator = {{"role", "AXButton"}, {"label", "결제하기"}};
  std::vector<Json> replies = ask({
      {{"cmd", "act"}, {"pid", zenity.pid()}, {"locator", locator}},
      {{"cmd", "act"}, {"pid", zenity.pid()}, {"locator", locator}, {"action", "doubleclick"}},
      // Focusing the button is allowed; pressing it through the keyboard is not.
      {{"cmd", "act"}, {"pid", zenity.pid()}, {"locator", locator}, {"action", "focus"}},
      {{"cmd", "key"}, {"key", "return"}},
      {{"cmd", "typetext"}, {"text", " "}},
  });
  ASSERT_EQ(replies.size(), 5u);
  for (std::size_t i : {0u, 1u}) {
    EXPECT_EQ(replies[i]["error"], "blocked-by-safety") << replies[i].dump();
    EXPECT_EQ(replies[i]["result"]["found"], true) << replies[i].dump();
  }
  EXPECT_EQ(replies[2]["ok"], true) << replies[2].dump();
  EXPECT_EQ(replies[3], Json::parse(R"({"id":null,"ok":false,"result":{"pressed":false},"error":"blocked-by-safety"})"));
  EXPECT_EQ(replies[4], failure(nullptr, "blocked-by-safety"));
  // Give a press that slipped through the time to close the dialog.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(zenity.process->running());
}

TEST_F(DesktopOperate, TheGateKeepsACardNumberOutOfAPlainEntry) {
  Json tree = askOne(treeRequest(WIDGET_FACTORY));
  const Json entry = firstEntry(tree);
  ASSERT_TRUE(entry.is_object()) << tree.dump();
  std::vector<Json> replies =
      ask({{{"cmd", "act"}, {"app", WIDGET_FACTORY}, {"ref", entry["ref"]}, {"action", "focus"}},
           {{"cmd", "typetext"}, {"app", WIDGET_FACTORY}, {"text", "4111111111111111"}},
           treeRequest(WIDGET_FACTORY)});
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[1], failure(nullptr, "blocked-by-safety"));
  EXPECT_EQ(nodeAt(replies[2], entry["path"]).value("value", ""), entry.value("value", ""))
      << nodeAt(replies[2], entry["path"]).dump();
}

}  // namespace
}  // namespace kelp::test
