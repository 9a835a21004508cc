// The MCP tools' own defaults: tree, find and act look at the window in
// front without closed menus unless the call says otherwise.
#include <gtest/gtest.h>

#include "service/mcp_server.h"
#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
using platform::ValueList;

class McpSessionTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 300, .name = "Writer", .active = true});
    Element main = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Untitled 1"}});
    Element menu = sim.addElement(sim.addElement(sim.addElement(main, "AXMenuBar"), "AXMenuBarItem"), "AXMenu");
    sim.addElement(menu, "AXMenuItem", {{"AXTitle", "New"}});
    Element dialog = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Options"}});
    sim.addElement(dialog, "AXButton", {{"AXTitle", "OK"}});
    sim.setAttr(sim.appRoot(300), "AXWindows", ValueList{main, dialog});
    session.handleLine(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25"}})");
  }
  std::vector<std::string> labels(const Json& arguments) {
    const Json call = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                       {"params", {{"name", "tree"}, {"arguments", arguments}}}};
    const std::optional<Json> reply = session.handleLine(call.dump());
    std::vector<std::string> list;
    if (!reply) return list;
    for (const Json& element : (*reply)["result"]["structuredContent"]["elements"]) list.push_back(element["label"]);
    return list;
  }
  mcp::McpSession session{context};
};

TEST_F(McpSessionTest, TreeLooksAtTheWindowInFrontUnlessTold) {
  using List = std::vector<std::string>;
  EXPECT_EQ(labels(Json::object()), (List{"OK"}));
  EXPECT_EQ(labels({{"window", ""}}), (List{"OK"})) << "the whole application, its closed menu left out";
  EXPECT_EQ(labels({{"window", ""}, {"menus", true}}), (List{"New", "OK"}));
}

}  // namespace
}  // namespace kelp
