#include <gtest/gtest.h>

#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;

class WindowsTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Notes", .active = true});
    sim.addApp({.pid = 200, .name = "Mail"});
    first = sim.addElement(sim.appRoot(200), "AXWindow", {{"AXTitle", "Inbox"}});
    second = sim.addElement(sim.appRoot(200), "AXWindow", {{"AXTitle", "Draft"}});
    sim.setAttr(sim.appRoot(200), "AXWindows", platform::ValueList{first, second});
  }
  std::vector<std::pair<std::string, platform::Value>> geometryWrites() {
    std::vector<std::pair<std::string, platform::Value>> found;
    for (const auto& write : sim.writes) {
      if (write.first == "AXPosition" || write.first == "AXSize") found.push_back(write);
    }
    return found;
  }
  Element first;
  Element second;
};

TEST_F(WindowsTest, WindowTitlesKeepsTitledOrdinaryWindowsOfOthers) {
  sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = "memo"});
  sim.addWindow({.ownerName = "kelp-cua", .ownerPid = 4242, .title = "own"});
  sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = ""});
  sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = std::nullopt});
  sim.addWindow({.ownerName = "Dock", .ownerPid = 50, .title = "menu extra", .layer = 25});
  sim.addWindow({.ownerName = std::nullopt, .ownerPid = 60, .title = "nameless owner"});
  sim.addWindow({.ownerName = "Huge", .ownerPid = 1LL << 40, .title = "bad pid"});
  sim.addWindow({.ownerName = "Mail", .ownerPid = 200, .title = "Inbox", .layer = std::nullopt});
  sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = "second"});
  EXPECT_EQ(run(R"({"cmd":"windowtitles","id":1})"), Json::parse(R"({"id":1,"ok":true,"result":{"windows":[
      {"app":"Notes","pid":100,"title":"memo"},{"app":"Mail","pid":200,"title":"Inbox"},
      {"app":"Notes","pid":100,"title":"second"}]}})"));
  sim.windows = std::nullopt;
  EXPECT_EQ(run(R"({"cmd":"windowtitles","id":2})")["result"], Json::parse(R"({"windows":[]})"));
}

TEST_F(WindowsTest, WindowMovesThenResizesTheFocusedOrFirstWindow) {
  Json reply = run(R"({"cmd":"window","id":1,"app":"Mail","frame":{"x":0,"y":0,"w":800,"h":600}})");
  // Where the window is then, as the window reports it.
  EXPECT_EQ(reply, Json::parse(R"({"id":1,"ok":true,"result":{"found":true,
                                   "frame":{"x":0.0,"y":0.0,"w":800.0,"h":600.0}}})"));
  EXPECT_TRUE(sim.apps[1].active);
  EXPECT_EQ(geometryWrites(), (std::vector<std::pair<std::string, platform::Value>>{
                                  {"AXPosition", Point{0, 0}}, {"AXSize", Size{800, 600}}}));
  EXPECT_TRUE(ax::attr(sim.accessibility(), first, "AXSize") == platform::Value(Size{800, 600}));

  sim.writes.clear();
  sim.setAttr(sim.appRoot(200), "AXFocusedWindow", second);
  sim.setAttr(second, "AXPosition", Point{1, 1});
  sim.setAttr(second, "AXSize", Size{300, 200});
  EXPECT_EQ(run(R"({"cmd":"window","id":2,"app":"Mail","frame":{"w":0,"h":500,"x":5.5,"y":7}})")["result"]["found"],
            true);
  EXPECT_EQ(geometryWrites(), (std::vector<std::pair<std::string, platform::Value>>{{"AXPosition", Point{5.5, 7}}}));
  EXPECT_TRUE(ax::attr(sim.accessibility(), second, "AXPosition") == platform::Value(Point{5.5, 7}));
}

TEST_F(WindowsTest, AFrameWithAnythingButNumbersChangesNothing) {
  sim.writes.clear();
  for (const char* request : {R"({"cmd":"window","id":1,"app":"Mail","frame":{"x":1,"y":2,"w":"wide"}})",
                              R"({"cmd":"window","id":1,"app":"Mail","frame":[1,2,3,4]})",
                              R"({"cmd":"window","id":1,"app":"Mail","frame":{"x":1}})",
                              R"({"cmd":"window","id":1,"app":"Mail"})"}) {
    EXPECT_EQ(run(request)["result"], Json::parse(R"({"found":true})")) << request;
  }
  EXPECT_TRUE(geometryWrites().empty());
  // A window that refuses, or takes the request and stays where it was, is
  // not reported as placed.
  sim.refuse(first, "AXPosition");
  EXPECT_EQ(run(R"({"cmd":"window","id":2,"app":"Mail","frame":{"x":1,"y":2}})"),
            Json::parse(R"({"id":2,"ok":false,"error":"창 관리자가 이 창을 옮기거나 크기를 바꾸게 하지 않아요"})"));
  Element tiled = sim.addElement(sim.appRoot(200), "AXWindow",
                                 {{"AXTitle", "Tiled"}, {"AXPosition", Point{0, 0}}, {"AXSize", Size{960, 1080}}});
  sim.setAttr(sim.appRoot(200), "AXFocusedWindow", tiled);
  sim.onWrite(tiled, [&](const std::string&) {
    sim.setAttr(tiled, "AXPosition", Point{0, 0});
    sim.setAttr(tiled, "AXSize", Size{960, 1080});
  });
  EXPECT_EQ(run(R"({"cmd":"window","id":3,"app":"Mail","frame":{"x":100,"y":100,"w":600,"h":400}})")["error"],
            "창이 요청한 자리나 크기로 바뀌지 않았어요");
  EXPECT_EQ(sim.nowMicros(), 1000000) << "a second for the window manager to move it";
}

TEST_F(WindowsTest, WindowFailures) {
  EXPECT_EQ(run(R"({"cmd":"window","id":1,"app":"Notes"})")["result"], Json::parse(R"({"found":false})"));
  EXPECT_EQ(run(R"({"cmd":"window","id":2,"app":"Ghost"})"),
            Json::parse(R"({"id":2,"ok":false,"error":"그 프로그램을 찾지 못했어요"})"));
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"window","id":3,"app":"Mail"})")["error"], "no-accessibility");
}

TEST_F(WindowsTest, ActivateBringsForwardOrLaunches) {
  sim.trusted = false;  // activation needs no trust
  EXPECT_EQ(run(R"({"cmd":"activate","id":1,"app":"mail"})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"name":"Mail"}})"));
  EXPECT_TRUE(sim.apps[1].active);
  // Not coming forward in time still answers with the name.
  sim.activationDelay[100] = std::nullopt;
  EXPECT_EQ(run(R"({"cmd":"activate","id":2,"pid":100})")["result"], Json::parse(R"({"name":"Notes"})"));

  sim.existingPaths.insert("/Applications/Calc.app");
  sim.launchOutcomes["/Applications/Calc.app"] = {true, 0};
  EXPECT_EQ(run(R"({"cmd":"activate","id":3,"app":"Calc"})"),
            Json::parse(R"({"id":3,"ok":true,"result":{"name":"Calc","launched":true}})"));
  sim.launchOutcomes["/Applications/Calc.app"] = {false, 0};
  EXPECT_EQ(run(R"({"cmd":"activate","id":4,"app":"Calc"})")["error"], "그 프로그램을 찾지 못했어요");

  // Only a pid of a process that is not there: nothing to launch.
  sim.opened.clear();
  EXPECT_EQ(run(R"({"cmd":"activate","id":5,"pid":999})")["error"], "그 프로그램을 찾지 못했어요");
  EXPECT_EQ(run(R"({"cmd":"activate","id":6,"pid":999,"app":""})")["error"], "그 프로그램을 찾지 못했어요");
  EXPECT_TRUE(sim.opened.empty());
}

}  // namespace
}  // namespace kelp
