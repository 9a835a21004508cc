// The self-test on the simulated desktop, which renders its window as
// elements of this process's own application.
#include <gtest/gtest.h>

#include "support/command_fixture.h"

namespace kelp {
namespace {

class SelfTestTest : public test::CommandFixture {
 protected:
  Json report() {
    const Json reply = run(R"({"cmd":"selftest","id":1})");
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply["result"];
  }
};

TEST_F(SelfTestTest, AWorkingDesktopPassesEveryCheck) {
  const std::int64_t start = sim.nowMicros();
  const Json result = report();
  EXPECT_EQ(result, Json::parse(R"({"windows":1,"elements":6,"sawButton":true,"sawField":true,
      "resolvedAndPressed":true,"typed":true,"readBack":"보고서.docx","typeRefusedHonestly":true,
      "lockedStayed":true,"payBlocked":true,"cardBlocked":true,"cardStayedEmpty":true,
      "menuTop":["selftest","파일"],"menuPressed":true})"));
  EXPECT_GE(sim.nowMicros() - start, 800000 + 500000) << "the window had time to appear and the menu to act";
  for (const auto& [name, value] : sim.writes) {
    const std::string* text = value.as<std::string>();
    EXPECT_TRUE(!text || *text != "4111111111111111") << "the card number was written as " << name;
  }

  // A second run shows a second window and passes as the first did, in its
  // own window: the text is typed into the field it reads back.
  const Json second = report();
  EXPECT_EQ(second["windows"], 2);
  EXPECT_EQ(second["elements"], 12);
  EXPECT_EQ(second["readBack"], "보고서.docx");
  EXPECT_EQ(second["typed"], true);
  EXPECT_EQ(second["menuPressed"], true);
  EXPECT_EQ(sim.testWindowsShown, 2);
}

TEST_F(SelfTestTest, MissingPartsFailOnlyTheirChecks) {
  sim.testWindowOmits = {"locked-field"};
  sim.testWindowHasMenuBar = false;
  const Json result = report();
  EXPECT_EQ(result["typeRefusedHonestly"], false);
  EXPECT_EQ(result["lockedStayed"], false);
  EXPECT_EQ(result["menuTop"], Json::array());
  EXPECT_EQ(result["menuPressed"], false);
  EXPECT_EQ(result["typed"], true);
  EXPECT_EQ(result["payBlocked"], true);
  EXPECT_EQ(result["cardStayedEmpty"], true);
}

TEST_F(SelfTestTest, WithoutADisplayTheReportSaysNothingCouldBeRead) {
  sim.testWindowShows = false;
  EXPECT_EQ(report(), Json::parse(R"({"windows":0,"elements":0,"sawButton":false,"sawField":false,
      "resolvedAndPressed":false,"typed":false,"readBack":"","typeRefusedHonestly":false,"lockedStayed":false,
      "payBlocked":false,"cardBlocked":false,"cardStayedEmpty":true,"menuTop":[],"menuPressed":false})"));
}

}  // namespace
}  // namespace kelp
