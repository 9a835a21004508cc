// Choosing the target application of "tree" and "find" on a real desktop:
// by name, desktop id, fragment or pid; an application that is not there or
// that quits between requests; and a desktop without accessibility.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

using DesktopLookup = WidgetFactoryDesktop;

// What "apps" says about the application with `pid`.
Json appEntry(const Json& appsReply, pid_t pid) {
  for (const Json& entry : appsReply["result"]["apps"]) {
    if (entry.value("pid", 0) == pid) return entry;
  }
  return Json();
}

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

TEST_F(DesktopLookup, TheFactoryIsFoundByNameDesktopIdFragmentOrPid) {
  std::vector<Json> first = ask({{{"cmd", "apps"}}, {{"cmd", "tree"}, {"app", WIDGET_FACTORY}}});
  ASSERT_EQ(first.size(), 2u);
  const Json factory = appEntry(first[0], app().pid());
  ASSERT_TRUE(factory.is_object()) << first[0].dump();
  const std::string name = factory["name"];
  const std::string bundleId = factory["bundleId"];
  ASSERT_FALSE(bundleId.empty()) << factory.dump();
  const Json expected = first[1];
  ASSERT_EQ(expected.value("ok", false), true) << expected.dump();
  EXPECT_EQ(expected["result"]["app"], name);
  ASSERT_FALSE(elementsOf(expected).empty());

  const std::vector<Json> targets = {
      {{"app", upper(name)}},
      {{"app", bundleId}},
      {{"app", upper(bundleId)}},
      {{"app", "widget"}},
      {{"app", "WIDGET-FAC"}},
      {{"pid", app().pid()}},
      // The pid decides; the name is not looked at.
      {{"pid", app().pid()}, {"app", "no such application"}},
      // A pid of the wrong type counts as absent.
      {{"pid", std::to_string(app().pid())}, {"app", WIDGET_FACTORY}},
  };
  std::vector<Json> requests;
  for (const Json& target : targets) {
    Json request = target;
    request["cmd"] = "tree";
    requests.push_back(request);
  }
  std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), requests.size());
  for (std::size_t k = 0; k < replies.size(); ++k) {
    SCOPED_TRACE(requests[k].dump());
    ASSERT_EQ(replies[k].value("ok", false), true) << replies[k].dump();
    EXPECT_EQ(replies[k]["result"]["app"], name);
    EXPECT_EQ(pathsOf(elementsOf(replies[k])), pathsOf(elementsOf(expected)));
  }
}

TEST_F(DesktopLookup, AnApplicationThatIsNotRunningIsNotFound) {
  const Json notFound = failure("x", APP_NOT_FOUND);
  const std::vector<Json> targets = {
      {{"app", "no such application"}},
      {{"app", "gtk3-widget-factoryy"}},
      {{"app", "widget factory"}},
      // This test's own process is running but shows no application; its
      // pid wins over a name that would match.
      {{"pid", ::getpid()}, {"app", WIDGET_FACTORY}},
      {{"pid", 0}},
      {{"pid", -1}},
      {{"pid", std::int64_t{1} << 40}},
  };
  std::vector<Json> requests;
  for (const Json& target : targets) {
    for (const char* cmd : {"tree", "find"}) {
      Json request = target;
      request["cmd"] = cmd;
      request["id"] = "x";
      request["q"] = "checkbutton";
      requests.push_back(request);
    }
  }
  std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), requests.size());
  for (std::size_t k = 0; k < replies.size(); ++k) {
    EXPECT_EQ(replies[k], notFound) << requests[k].dump();
  }
}

TEST_F(DesktopLookup, ASecondApplicationIsFoundByItsDesktopIdAndPid) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};

  Json apps = askOne({{"cmd", "apps"}});
  const Json entry = appEntry(apps, mousepad.pid());
  ASSERT_TRUE(entry.is_object()) << apps.dump();
  const std::string name = entry["name"];
  const std::string bundleId = entry["bundleId"];
  ASSERT_FALSE(name.empty());
  // The desktop id names the application otherwise than its name does, so
  // that a match by it is not a match by name.
  ASSERT_NE(lowerAscii(bundleId), lowerAscii(name)) << entry.dump();

  const std::vector<Json> requests = {
      {{"cmd", "tree"}, {"app", upper(bundleId)}, {"max", 3}},
      {{"cmd", "tree"}, {"app", bundleId}, {"max", 3}},
      {{"cmd", "tree"}, {"app", upper(name)}, {"max", 3}},
      {{"cmd", "tree"}, {"pid", mousepad.pid()}, {"app", WIDGET_FACTORY}, {"max", 3}},
      {{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 3}},
  };
  std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), requests.size());
  for (std::size_t k = 0; k + 1 < replies.size(); ++k) {
    SCOPED_TRACE(requests[k].dump());
    ASSERT_EQ(replies[k].value("ok", false), true) << replies[k].dump();
    EXPECT_EQ(replies[k]["result"]["app"], name);
    EXPECT_EQ(elementsOf(replies[k]).size(), 3u) << replies[k].dump();
    EXPECT_EQ(elementsOf(replies[k]), elementsOf(replies[0]));
  }
  // And the factory is still the factory.
  ASSERT_EQ(replies.back().value("ok", false), true) << replies.back().dump();
  EXPECT_EQ(replies.back()["result"]["app"], WIDGET_FACTORY);
  EXPECT_NE(elementsOf(replies.back()), elementsOf(replies[0]));
}

// After an application has gone, a request for it is answered at once:
// not found, or found with nothing left to walk.
void expectGone(const std::optional<Json>& reply, const Json& request) {
  ASSERT_TRUE(reply.has_value()) << "no reply to " << request.dump();
  if (reply->value("ok", true) == false) {
    EXPECT_EQ(reply->value("error", ""), APP_NOT_FOUND) << reply->dump();
  } else {
    EXPECT_EQ(elementsOf(*reply), Json::array()) << reply->dump();
  }
}

TEST_F(DesktopLookup, AnApplicationThatQuitsBetweenRequestsIsNotFound) {
  DesktopApp& dialog = desktop().startApplication(program({"zenity", "--info", "--text", "hi"}));
  StopWhenDone stop{dialog};
  const pid_t pid = dialog.pid();

  auto helper = desktop().startHelper();
  const Json byPid = {{"cmd", "tree"}, {"pid", pid}};
  auto alive = helper->request(byPid);
  ASSERT_TRUE(alive.has_value());
  ASSERT_EQ(alive->value("ok", false), true) << alive->dump();
  EXPECT_EQ(alive->at("result").at("app"), "zenity");
  // The dialog shows its text and its one button.
  const Json elements = elementsOf(*alive);
  bool text = false;
  bool button = false;
  for (const Json& node : elements) {
    text = text || (node["role"] == "AXStaticText" && node["label"] == "hi");
    button = button || node["role"] == "AXButton";
  }
  EXPECT_TRUE(text) << alive->dump();
  EXPECT_TRUE(button) << alive->dump();

  dialog.process->terminate();
  for (const Json& request :
       {byPid, Json{{"cmd", "find"}, {"pid", pid}, {"q", "hi"}}, Json{{"cmd", "tree"}, {"app", "zenity"}}}) {
    expectGone(helper->request(request, Milliseconds(15000)), request);
  }

  // One that is killed while its tree is being asked for.
  DesktopApp& second = desktop().startApplication(program({"zenity", "--info", "--text", "bye"}));
  StopWhenDone stopSecond{second};
  const Json walkSecond = {{"cmd", "tree"}, {"pid", second.pid()}, {"max", 100000}};
  ASSERT_TRUE(helper->sendLine(walkSecond.dump()));
  second.process->signalGroup(SIGKILL);
  auto during = helper->reply(Milliseconds(15000));
  ASSERT_TRUE(during.has_value()) << "no reply while the application quit";
  EXPECT_TRUE(during->value("ok", false) == true || during->value("error", "") == APP_NOT_FOUND)
      << during->dump();
  second.process->waitForExit(Milliseconds(5000));
  expectGone(helper->request(walkSecond, Milliseconds(15000)), walkSecond);

  // The helper goes on serving the rest of the desktop.
  auto factory = helper->request({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 5}});
  ASSERT_TRUE(factory.has_value());
  EXPECT_EQ(elementsOf(*factory).size(), 5u) << factory->dump();
  auto status = helper->finish();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->success()) << status->describe();
  EXPECT_EQ(helper->stderrText(), "");
}

TEST_F(DesktopLookup, WithoutAccessibilityTreeAndFindSayNoAccessibility) {
  {
    AccessibilitySwitchedOff switchedOff(desktop());
    std::vector<Json> replies = ask({{{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"id", 1}},
                                     {{"cmd", "find"}, {"app", WIDGET_FACTORY}, {"q", "entry"}, {"id", 2}},
                                     {{"cmd", "tree"}, {"app", "no such application"}, {"id", 3}},
                                     {{"cmd", "tree"}, {"id", 4}}});
    ASSERT_EQ(replies.size(), 4u);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(replies[k], failure(k + 1, "no-accessibility"));
  }
  // Switched on again, the factory is there as before.
  Json reply = askOne({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 5}});
  EXPECT_EQ(elementsOf(reply).size(), 5u) << reply.dump();
}

}  // namespace
}  // namespace kelp::test
