#include <gtest/gtest.h>

#include "support/command_fixture.h"
#include "support/event_trace.h"

namespace kelp {
namespace {

using platform::Element;
using test::trace;

class KeysTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Front", .active = true});
    sim.addApp({.pid = 200, .name = "Editor"});
    field = sim.addElement(sim.appRoot(100), "AXTextField", {{"AXTitle", "Search"}});
    sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", field);
  }
  Element field;
};

TEST_F(KeysTest, KeyPressesInTheFrontmostApplication) {
  EXPECT_EQ(run(R"({"cmd":"key","id":1,"key":"return"})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"pressed":true}})"));
  EXPECT_EQ(trace(sim), "keydown 36 | +20 keyup 36");
  sim.posted.clear();
  EXPECT_EQ(run(R"({"cmd":"key","id":2,"key":"f13"})"),
            Json::parse(R"({"id":2,"ok":false,"result":{"pressed":false}})"));
  EXPECT_EQ(run(R"({"cmd":"key","id":3})"), Json::parse(R"({"id":3,"ok":false,"result":{"pressed":false}})"));
  EXPECT_TRUE(sim.posted.empty());
  run(R"({"cmd":"key","id":4,"key":"a","mods":["ctrl","Shift"],"app":""})");
  EXPECT_EQ(trace(sim), "keydown 0+shift+ctrl | +20 keyup 0+shift+ctrl");
  EXPECT_EQ(sim.activationRequests, 0);
}

TEST_F(KeysTest, TheNamedApplicationComesForwardFirst) {
  // Even a key that is no key name brings the application forward.
  run(R"({"cmd":"key","id":1,"key":"f13","app":"editor"})");
  EXPECT_TRUE(sim.apps[1].active);

  EXPECT_EQ(run(R"({"cmd":"key","id":2,"key":"a","app":"Ghost"})"),
            Json::parse(R"({"id":2,"ok":false,"error":"Ghost 을(를) 찾지 못해서 단축키를 보내지 않았어요"})"));
  EXPECT_EQ(run(R"({"cmd":"typetext","id":3,"text":"a","app":"Ghost"})"),
            Json::parse(R"({"id":3,"ok":false,"error":"Ghost 을(를) 찾지 못해서 글자를 넣지 못했어요"})"));

  sim.activationDelay[100] = std::nullopt;
  sim.apps.push_back({.pid = 300, .name = std::nullopt, .bundleId = "com.example.anon"});
  sim.activationDelay[300] = std::nullopt;
  EXPECT_EQ(run(R"({"cmd":"key","id":4,"key":"a","app":"Front"})")["error"],
            "Front 을(를) 앞으로 부를 수 없어서 단축키를 보내지 않았어요");
  EXPECT_EQ(run(R"({"cmd":"typetext","id":5,"text":"a","app":"com.example.anon"})")["error"],
            "com.example.anon 을(를) 앞으로 부를 수 없어서 글자를 넣지 못했어요");
  EXPECT_TRUE(sim.posted.empty());
}

TEST_F(KeysTest, TypetextReportsWhereTheTextLanded) {
  sim.setAttr(field, "AXValue", "x");
  const std::int64_t start = sim.nowMicros();
  Json reply = run(R"({"cmd":"typetext","id":1,"text":"안녕😀"})");
  EXPECT_EQ(reply, Json::parse(R"({"id":1,"ok":true,"result":{"typed":3,"landed":true,"into":"Search",
                                   "valueLen":5,"valueTail":"x안녕😀"}})"));
  EXPECT_EQ(sim.nowMicros() - start, 12000 + 200000);

  // A field that keeps its old value: read again for a second, in case the
  // text was late, and no longer.
  sim.onTyping(field, [](const std::string& value, const std::string&) { return value; });
  const std::int64_t unlanded = sim.nowMicros();
  EXPECT_FALSE(run(R"({"cmd":"typetext","id":2,"text":"abc"})")["result"]["landed"]);
  EXPECT_EQ(sim.nowMicros() - unlanded, 12000 + 200000 + 1000000);
  // A field that reformats what it gets still grew.
  sim.onTyping(field, [](const std::string& value, const std::string& typed) { return value + "-" + typed + "-"; });
  EXPECT_TRUE(run(R"({"cmd":"typetext","id":3,"text":"abc"})")["result"]["landed"]);
  // One that took only what a keymap could type lost the rest.
  sim.onTyping(field, [](const std::string& value, const std::string& typed) {
    return value + typed.substr(typed.find(' '));
  });
  EXPECT_FALSE(run(R"({"cmd":"typetext","id":5,"text":"안녕 ab"})")["result"]["landed"]);
  sim.onTyping(field, [](const std::string&, const std::string&) { return std::string(100, 'z') + "😀"; });
  Json tail = run(R"({"cmd":"typetext","id":4,"text":"q"})")["result"];
  EXPECT_EQ(tail["valueLen"], 102);
  EXPECT_EQ(tail["valueTail"], std::string(79, 'z') + "😀");
}

// A file chooser opens its location field on the first "/" and the rest
// goes there, some of it lost: the new field's growth is no landing.
TEST_F(KeysTest, TextThatWentPartlyIntoAnotherFieldDidNotLand) {
  Element location = sim.addElement(sim.appRoot(100), "AXTextField", {{"AXTitle", "Location"}});
  sim.onTyping(field, [&](const std::string& value, const std::string&) {
    sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", location);
    sim.setAttr(location, "AXValue", "/txt");
    return value;
  });
  const Json result = run(R"({"cmd":"typetext","id":1,"text":"/tmp/notes/kelp.txt"})")["result"];
  EXPECT_EQ(result["landed"], false) << result.dump();
  EXPECT_EQ(result["into"], "Location");
  // With "replace" the field's whole text is selected first and must then
  // hold just the text.
  sim.onTyping(location, nullptr);
  sim.setAttr(location, "AXValue", "/old/name.txt");
  const Json replaced = run(R"({"cmd":"typetext","id":2,"text":"/tmp/new.txt","replace":true})")["result"];
  EXPECT_EQ(replaced["landed"], true) << replaced.dump();
  EXPECT_EQ(replaced["valueTail"], "/tmp/new.txt");
}

TEST_F(KeysTest, ByPidWhereTwoApplicationsShareAName) {
  sim.addApp({.pid = 300, .name = "Editor"});
  run(R"({"cmd":"key","id":1,"key":"s","mods":["ctrl"],"pid":300})");
  EXPECT_TRUE(sim.apps[2].active);
  EXPECT_FALSE(sim.apps[1].active);
  EXPECT_EQ(run(R"({"cmd":"typetext","id":2,"text":"x","pid":999})")["error"],
            "999 을(를) 찾지 못해서 글자를 넣지 못했어요");
}

// A spreadsheet whose cell takes the text shows no text of its own.
TEST_F(KeysTest, FocusWithoutTextCannotTellWhetherItLanded) {
  Element sheet = sim.addElement(sim.appRoot(100), "AXTable", {{"AXTitle", "Sheet sales"}});
  sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", sheet);
  const Json result = run(R"j({"cmd":"typetext","id":1,"text":"=SUM(B2:B7)"})j")["result"];
  EXPECT_TRUE(result["landed"].is_null()) << result.dump();
  EXPECT_EQ(result["into"], "Sheet sales");
}

TEST_F(KeysTest, TypetextWithoutAFocusReportsNull) {
  sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", platform::Value{});
  EXPECT_EQ(run(R"({"cmd":"typetext","id":1,"text":"hi"})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"typed":2,"landed":null}})"));
  EXPECT_EQ(sim.posted.size(), 2u);
}

TEST_F(KeysTest, TypetextRefusesAFocusedCardNumberField) {
  Element card = sim.addElement(sim.appRoot(100), "AXTextField", {{"AXTitle", "카드번호"}});
  sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", card);
  EXPECT_EQ(run(R"({"cmd":"typetext","id":1,"text":"4111"})"),
            Json::parse(R"({"id":1,"ok":false,"error":"blocked-by-safety"})"));
  Element cvc = sim.addElement(sim.appRoot(100), "AXTextField", {{"AXIdentifier", "cc-CVC"}});
  sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", cvc);
  EXPECT_EQ(run(R"({"cmd":"typetext","id":2,"text":"123"})")["error"], "blocked-by-safety");
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_TRUE(ax::attr(sim.accessibility(), card, "AXValue").isNone());
}

}  // namespace
}  // namespace kelp
