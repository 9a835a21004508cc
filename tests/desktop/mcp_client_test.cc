// kelp-cua mcp driven by a real client: the official MCP TypeScript SDK,
// running tests/mcp_client/client.mjs in the private desktop.
#include <string>

#include "desktop/fixture.h"
#include "desktop/nodes.h"
#include "desktop/pictures.h"

namespace kelp::test {
namespace {

using DesktopMcp = WidgetFactoryDesktop;

TEST_F(DesktopMcp, TheSdksClientListsCallsActsSeesAndMeetsTheGate) {
  DesktopApp& zenity = desktop().startApplication(program({"zenity", "--entry", "--text=카드번호"}));
  StopWhenDone stop{zenity};
  const std::optional<std::string> node = findProgram("node", desktop().environment().get("PATH").value_or(""));
  ASSERT_TRUE(node) << "Node.js is missing: scripts/setup.sh installs it";
  ProcessOptions options;
  options.argv = {*node, std::string(KELP_SOURCE_DIR) + "/tests/mcp_client/client.mjs", helperPath(),
                  WIDGET_FACTORY, std::to_string(zenity.pid())};
  options.environment = desktop().environment();
  const RunResult run = runProgram(std::move(options), "", Milliseconds(60000));
  ASSERT_TRUE(run.status.success()) << run.status.describe() << "\n" << run.err;
  const std::optional<Json> transcript = parseReply(run.out);
  ASSERT_TRUE(transcript) << run.out;
  RecordProperty("transcript", transcript->dump());

  EXPECT_EQ((*transcript)["server"]["name"], "kelp-cua");
  EXPECT_EQ((*transcript)["tools"].size(), 22u);
  for (const Json& tool : (*transcript)["tools"]) EXPECT_EQ(tool["schemaValid"], true) << tool["name"];

  EXPECT_EQ((*transcript)["tree"]["isError"], false);
  ASSERT_TRUE((*transcript)["tree"]["box"].is_object()) << transcript->dump();
  EXPECT_EQ((*transcript)["act"]["isError"], false);
  EXPECT_EQ((*transcript)["act"]["valueAfter"], "1") << "the check box flipped";

  const Json& shot = (*transcript)["screenshot"];
  EXPECT_EQ(shot["isError"], false);
  ASSERT_EQ(shot["images"].size(), 1u);
  EXPECT_EQ(shot["images"][0]["mimeType"], "image/jpeg");
  const std::optional<Picture> picture = decodeJpeg(shot["images"][0]["data"]);
  ASSERT_TRUE(picture) << "the image block is a JPEG";
  EXPECT_EQ(picture->width, shot["described"][0]["w"]);
  EXPECT_EQ(picture->height, shot["described"][0]["h"]);
  EXPECT_GT(shot["described"][0].value("scale", 0.0), 0.0);

  EXPECT_EQ((*transcript)["card"]["isError"], true);
  EXPECT_EQ((*transcript)["card"]["text"], "blocked-by-safety");
}

}  // namespace
}  // namespace kelp::test
