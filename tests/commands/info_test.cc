#include <gtest/gtest.h>

#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::ActivationPolicy;
using platform::sim::SimWindow;

using InfoTest = test::CommandFixture;

TEST_F(InfoTest, DoctorAlwaysCarriesAllFourKeysAndWhatTheDesktopOffers) {
  sim.trusted = false;
  sim.caps.eventTap = false;
  sim.caps.mouseEvents = false;
  Json reply = run(R"({"cmd":"doctor","id":"d"})");
  EXPECT_EQ(reply, Json::parse(R"({"id":"d","ok":true,"result":{"accessibility":false,"screen":false,
      "helperPath":"/opt/kelp/kelp-cua","pid":4242,"desktop":{"session":"simulated","input":false,
      "capture":true,"windows":true,"windowFrames":true,"recording":false}}})"));
}

TEST_F(InfoTest, DoctorFallsBackToTheFirstArgumentForItsPath) {
  sim.executablePath.reset();
  EXPECT_EQ(run(R"({"cmd":"doctor"})")["result"]["helperPath"], "/usr/local/bin/kelp-cua");
  globals.args.clear();
  EXPECT_EQ(run(R"({"cmd":"doctor"})")["result"]["helperPath"], "");
}

TEST_F(InfoTest, DoctorSeesTheScreenOnlyThroughAnotherProcesssTitledWindow) {
  auto screen = [&] { return run(R"({"cmd":"doctor"})")["result"]["screen"].get<bool>(); };
  sim.windows.reset();
  EXPECT_FALSE(screen()) << "no window list";
  sim.addWindow({.ownerName = "kelp", .ownerPid = sim.ownPid, .title = "own window"});
  EXPECT_FALSE(screen()) << "only our own windows";
  sim.addWindow({.ownerName = "Dock", .ownerPid = 77, .title = std::nullopt});
  EXPECT_FALSE(screen()) << "another process, but its title is withheld";
  sim.addWindow({.ownerName = "Odd", .ownerPid = 1LL << 40, .title = "x"});
  EXPECT_FALSE(screen()) << "an owner that is not a 32-bit pid";
  sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = ""});
  EXPECT_TRUE(screen()) << "an empty title is still a title entry";
}

TEST_F(InfoTest, DoctorReportsTrust) {
  sim.trusted = true;
  EXPECT_EQ(run(R"({"cmd":"doctor"})")["result"]["accessibility"], true);
}

TEST_F(InfoTest, PromptAsksAndReportsTheResultingTrust) {
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"prompt","id":2})"), Json::parse(R"({"id":2,"ok":true,"result":{"accessibility":false}})"));
  EXPECT_EQ(sim.promptCount, 1);
  sim.grantTrustOnPrompt = true;
  EXPECT_EQ(run(R"({"cmd":"prompt"})")["result"]["accessibility"], true);
  EXPECT_EQ(sim.promptCount, 2);
}

TEST_F(InfoTest, DisplaysListsScreensInOrderWithTruncatedGeometry) {
  EXPECT_EQ(run(R"({"cmd":"displays"})")["result"], Json::parse(R"({"displays":[]})"));
  sim.addScreen({.x = 0, .y = 0, .w = 1920, .h = 1080, .main = true});
  sim.addScreen({.x = -1280.7, .y = 200.9, .w = 1280.5, .h = 800.2, .main = false});
  EXPECT_EQ(run(R"({"cmd":"displays"})")["result"], Json::parse(R"({"displays":[
      {"index":0,"w":1920,"h":1080,"x":0,"y":0,"main":true},
      {"index":1,"w":1280,"h":800,"x":-1280,"y":200,"main":false}]})"));
}

TEST_F(InfoTest, AppsListsOnlyRegularApplicationsWithDefaultsForMissingNames) {
  sim.addApp({.pid = 10, .name = "Finder", .bundleId = "com.example.finder"});
  sim.addApp({.pid = 11, .name = "Helper", .bundleId = "com.example.helper", .policy = ActivationPolicy::accessory});
  sim.addApp({.pid = 12, .name = std::nullopt, .bundleId = std::nullopt, .active = true});
  sim.addApp({.pid = 13, .name = "daemon", .bundleId = std::nullopt, .policy = ActivationPolicy::prohibited});
  // A background process keeps out of the list even when it shows windows.
  sim.addWindow({.ownerName = "daemon", .ownerPid = 13, .title = "status"});
  EXPECT_EQ(run(R"({"cmd":"apps"})")["result"], Json::parse(R"({"apps":[
      {"name":"Finder","bundleId":"com.example.finder","pid":10,"front":false},
      {"name":"","bundleId":"","pid":12,"front":true}]})"));
}

TEST_F(InfoTest, RepliesStayOneLineAndKeepSlashesAndUnicodePlain) {
  sim.executablePath = "/Applications/한글 앱/kelp\ncua";
  run(R"({"cmd":"doctor"})");
  EXPECT_NE(lines.back().find(R"("helperPath":"/Applications/한글 앱/kelp\ncua")"), std::string::npos) << lines.back();
}

}  // namespace
}  // namespace kelp
