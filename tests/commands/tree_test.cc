#include <gtest/gtest.h>

#include "common/messages.h"
#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using platform::Value;

class TreeTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 300, .name = "Notes", .bundleId = "com.example.notes", .active = true});
    sim.addApp({.pid = 301, .name = std::nullopt, .bundleId = "com.example.anon"});
    Element window = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Memo"}});
    sim.addElement(window, "AXButton", {{"AXTitle", "New Note"}, {"AXIdentifier", "new"},
                             {"AXPosition", Point{10, 20}}, {"AXSize", Size{80, 24}}});
    sim.addElement(window, "AXTextArea", {{"AXDescription", "Body"}, {"AXValue", "Buy MILK today"}});
    sim.addElement(window, "AXStaticText", {{"AXValue", "3 notes"}});
    sim.addElement(window, "AXButton", {{"AXTitle", "Delete"}, {"AXEnabled", false}});
  }
  static std::vector<std::int64_t> refs(const Json& reply) {
    std::vector<std::int64_t> list;
    for (const Json& element : reply["result"]["elements"]) list.push_back(element["ref"].get<std::int64_t>());
    return list;
  }
};

TEST_F(TreeTest, TreeListsEveryNodeWithItsJsonForm) {
  Json reply = run(R"({"cmd":"tree","id":1,"app":"notes"})");
  EXPECT_EQ(reply, Json::parse(R"({"id":1,"ok":true,"result":{"app":"Notes","elements":[
    {"ref":0,"role":"AXButton","label":"New Note","enabled":true,"path":"/AXWindow[0]/AXButton[0]",
     "identifier":"new","frame":{"x":10.0,"y":20.0,"w":80.0,"h":24.0}},
    {"ref":1,"role":"AXTextArea","label":"Body","enabled":true,"path":"/AXWindow[0]/AXTextArea[1]",
     "value":"Buy MILK today"},
    {"ref":2,"role":"AXStaticText","label":"3 notes","enabled":true,"path":"/AXWindow[0]/AXStaticText[2]",
     "value":"3 notes"},
    {"ref":3,"role":"AXButton","label":"Delete","enabled":false,"path":"/AXWindow[0]/AXButton[3]"}]}})"));
}

TEST_F(TreeTest, EachWalkReadsOneSnapshotThatIsClosedAfterwards) {
  run(R"({"cmd":"tree"})");
  run(R"({"cmd":"find","q":"x"})");
  EXPECT_EQ(sim.snapshotsBegun, 2);
  EXPECT_EQ(sim.snapshotsOpen, 0);
}

TEST_F(TreeTest, ClippedValuesAndLabelsCarryLengthAndTail) {
  sim.addElement(sim.appRoot(300), "AXTextField", {{"AXTitle", std::string(121, 'L')}, {"AXValue", std::string(201, 'v')}});
  Json last = run(R"({"cmd":"tree"})")["result"]["elements"].back();
  EXPECT_EQ(last["valueLen"], 201);
  EXPECT_EQ(last["valueTail"], std::string(80, 'v'));
  EXPECT_EQ(last["labelLen"], 121);
  EXPECT_EQ(last["labelTail"], std::string(80, 'L'));
  EXPECT_EQ(last["label"].get<std::string>().size(), 120u);
}

TEST_F(TreeTest, FindKeepsLabelOrValueMatchesWithTheirOriginalRefs) {
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":"NOTE"})")), (std::vector<std::int64_t>{0, 2}));
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":"milk"})")), (std::vector<std::int64_t>{1})) << "value matches";
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":"new"})")), (std::vector<std::int64_t>{0})) << "identifier is not searched";
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":"AXButton"})")), (std::vector<std::int64_t>{}));
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":""})")), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":7})")), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(refs(run(R"({"cmd":"tree","q":"milk"})")), (std::vector<std::int64_t>{0, 1, 2, 3})) << "tree ignores q";
}

TEST_F(TreeTest, MaxBoundsTheWalk) {
  EXPECT_EQ(refs(run(R"({"cmd":"tree","max":2})")), (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(refs(run(R"({"cmd":"tree","max":0})")), (std::vector<std::int64_t>{}));
  EXPECT_EQ(refs(run(R"({"cmd":"tree","max":-1})")), (std::vector<std::int64_t>{}));
  EXPECT_EQ(refs(run(R"({"cmd":"tree","max":"2"})")).size(), 4u) << "a string max is the default";
  EXPECT_EQ(refs(run(R"({"cmd":"find","q":"note","max":1})")), (std::vector<std::int64_t>{0}));
}

TEST_F(TreeTest, FindAlsoSearchesTheTailOfALongValue) {
  Element window = ax::elementsOf(ax::attr(sim.accessibility(), sim.appRoot(300), "AXChildren")).at(0);
  sim.addElement(window, "AXTextArea", {{"AXTitle", "Terminal"}, {"AXValue", std::string(250, '$') + "\nkelp 42\n"}});
  const Json reply = run(R"({"cmd":"find","id":1,"app":"Notes","q":"kelp 42"})");
  ASSERT_EQ(reply["result"]["elements"].size(), 1u) << reply.dump();
  EXPECT_EQ(reply["result"]["elements"][0]["label"], "Terminal");
}

TEST_F(TreeTest, ABusyApplicationIsToldToWaitNotToStartAgain) {
  sim.busy.insert(300);
  Json reply = run(R"({"cmd":"find","id":1,"app":"Notes","q":"nothing like it"})");
  EXPECT_EQ(reply["result"]["hint"], messages::busyHint);
  EXPECT_EQ(reply["result"]["app"], "Notes");
  sim.busy.clear();
  EXPECT_FALSE(run(R"({"cmd":"find","id":2,"app":"Notes","q":"nothing like it"})")["result"].contains("hint"));
}

TEST_F(TreeTest, TargetSelectionAndFailures) {
  EXPECT_EQ(run(R"({"cmd":"tree"})")["result"]["app"], "Notes") << "the frontmost application";
  Json anon = run(R"({"cmd":"tree","pid":301})");
  EXPECT_EQ(anon["result"]["elements"], Json::array());
  EXPECT_EQ(anon["result"]["hint"], std::string(messages::noControlsHint)) << "it publishes nothing at all";
  EXPECT_FALSE(run(R"({"cmd":"tree","max":0})")["result"].contains("hint")) << "nothing asked, not nothing there";
  EXPECT_EQ(run(R"({"cmd":"find","id":4,"app":"Calendar"})"),
            Json::parse(R"({"id":4,"ok":false,"error":"그 프로그램을 찾지 못했어요"})"));
  EXPECT_EQ(run(R"({"cmd":"tree","pid":"300","app":"com.example.anon"})")["result"]["app"], "")
      << "a string pid is absent, so the name decides";
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"tree","id":5})"), Json::parse(R"({"id":5,"ok":false,"error":"no-accessibility"})"));
  EXPECT_EQ(run(R"({"cmd":"find","id":6,"app":"Calendar"})")["error"], "no-accessibility");
}

}  // namespace
}  // namespace kelp
