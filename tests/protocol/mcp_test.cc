// kelp-cua mcp through its standard streams: the JSON-RPC framing, the
// lifecycle, the tools and their results, and every kind of bad input.
#include <set>
#include <string>
#include <vector>

#include "protocol/fixture.h"

namespace kelp::test {
namespace {

using Mcp = HelperTest;

std::string line(const Json& message) { return message.dump() + "\n"; }

Json initialize(const Json& id, const std::string& version) {
  return {{"jsonrpc", "2.0"},
          {"id", id},
          {"method", "initialize"},
          {"params", {{"protocolVersion", version}, {"capabilities", Json::object()},
                      {"clientInfo", {{"name", "test"}, {"version", "1"}}}}}};
}
Json request(const Json& id, const std::string& method, const Json& params = Json::object()) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
}
Json call(const Json& id, const std::string& tool, const Json& arguments) {
  return request(id, "tools/call", {{"name", tool}, {"arguments", arguments}});
}
const std::string INITIALIZED = line({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}});

TEST_F(Mcp, InitializeNegotiatesTheRevision) {
  std::string input;
  int id = 0;
  for (const char* version : {"2025-11-25", "2025-06-18", "2025-03-26", "2024-01-01"}) {
    input += line(initialize(++id, version));
  }
  std::vector<std::string> agreed;
  for (const std::string& reply : run({"mcp"}, input).lines()) {
    const Json parsed = Json::parse(reply);
    EXPECT_EQ(parsed["jsonrpc"], "2.0");
    EXPECT_EQ(parsed["result"]["serverInfo"]["name"], "kelp-cua");
    EXPECT_TRUE(parsed["result"]["capabilities"].contains("tools"));
    agreed.push_back(parsed["result"]["protocolVersion"]);
  }
  EXPECT_EQ(agreed, (std::vector<std::string>{"2025-11-25", "2025-06-18", "2025-03-26", "2025-11-25"}))
      << "an unknown revision gets the newest one spoken";
}

TEST_F(Mcp, ToolsAreTheCommandsWithObjectSchemas) {
  const std::vector<std::string> replies =
      run({"mcp"}, line(initialize(1, "2025-11-25")) + INITIALIZED + line(request(2, "tools/list"))).lines();
  ASSERT_EQ(replies.size(), 2u);
  const Json tools = Json::parse(replies[1])["result"]["tools"];
  std::set<std::string> names;
  std::set<std::string> readOnly;
  const std::set<std::string> types = {"object", "array", "string", "integer", "number", "boolean"};
  for (const Json& tool : tools) {
    names.insert(tool["name"]);
    EXPECT_FALSE(tool.value("description", "").empty()) << tool["name"];
    const Json& schema = tool["inputSchema"];
    EXPECT_EQ(schema["type"], "object") << tool["name"];
    ASSERT_TRUE(schema["properties"].is_object()) << tool["name"];
    for (const auto& [field, property] : schema["properties"].items()) {
      EXPECT_TRUE(types.contains(property.value("type", ""))) << tool["name"] << "." << field;
    }
    const Json& hints = tool["annotations"];
    for (const char* hint : {"readOnlyHint", "destructiveHint", "idempotentHint", "openWorldHint"}) {
      EXPECT_TRUE(hints[hint].is_boolean()) << tool["name"] << "." << hint;
    }
    // What only reads destroys nothing; what drives other applications is
    // never called read-only.
    if (hints["readOnlyHint"] == true) {
      EXPECT_EQ(hints["destructiveHint"], false) << tool["name"];
    }
    if (hints["openWorldHint"] == true) {
      EXPECT_EQ(hints["readOnlyHint"], false) << tool["name"];
    }
    if (hints["readOnlyHint"] == true) readOnly.insert(tool["name"]);
  }
  EXPECT_EQ(names, (std::set<std::string>{"doctor", "prompt", "displays", "apps", "windowtitles", "window",
                                          "activate", "tree", "find", "act", "key", "typetext", "screenshot",
                                          "pointer", "wait", "clipboard", "menu", "rec-start", "rec-ignore",
                                          "rec-state", "rec-stop", "selftest"}));
  EXPECT_EQ(readOnly, (std::set<std::string>{"doctor", "displays", "apps", "windowtitles", "tree", "find",
                                             "screenshot", "wait", "rec-state"}));
}

TEST_F(Mcp, CallsRunTheCommandsAndFailuresAreErrorResults) {
  const std::vector<std::string> replies =
      run({"mcp"}, line(initialize(1, "2025-11-25")) + INITIALIZED + line(call(2, "displays", Json::object())) +
                       line(call(3, "key", {{"key", 5}, {"mods", "ctrl"}})) +
                       line(call(4, "tree", {{"max", "many"}})) + line(call("s", "rec-state", Json::object())))
          .lines();
  ASSERT_EQ(replies.size(), 5u);
  const Json displays = Json::parse(replies[1])["result"];
  EXPECT_EQ(displays["isError"], false);
  EXPECT_EQ(displays["structuredContent"], Json::parse(R"({"displays":[]})")) << "no display in this environment";
  EXPECT_EQ(Json::parse(displays["content"][0]["text"].get<std::string>()), displays["structuredContent"]);
  // Arguments of the wrong type take their defaults, as in the JSON-lines protocol.
  const Json key = Json::parse(replies[2])["result"];
  EXPECT_EQ(key["isError"], true);
  EXPECT_EQ(key["content"][0]["text"], "no-accessibility");
  const Json tree = Json::parse(replies[3])["result"];
  EXPECT_EQ(tree["isError"], true);
  EXPECT_EQ(tree["content"][0]["text"], "no-accessibility");
  const Json state = Json::parse(replies[4]);
  EXPECT_EQ(state["id"], "s");
  EXPECT_EQ(state["result"]["structuredContent"]["recording"], false);
}

TEST_F(Mcp, BadInputGetsTheJsonRpcErrorAndNothingElse) {
  const std::string input = line(request(1, "tools/list")) + "not json\n" + "[1,2]\n" +
                            line({{"jsonrpc", "1.0"}, {"id", 2}, {"method", "ping"}}) +
                            line({{"jsonrpc", "2.0"}, {"id", 3}}) + line(request(4, "ping")) +
                            line(initialize(5, "2025-11-25")) + INITIALIZED + line(request(6, "resources/list")) +
                            line(call(7, "nope", Json::object())) +
                            line(request(8, "tools/call", {{"name", "apps"}, {"arguments", "x"}})) +
                            line({{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"},
                                  {"params", {{"requestId", 7}}}}) +
                            line({{"jsonrpc", "2.0"}, {"id", 9}, {"result", Json::object()}}) +
                            line(request(10, "server/discover"));
  std::vector<Json> replies;
  for (const std::string& reply : run({"mcp"}, input).lines()) replies.push_back(Json::parse(reply));
  auto code = [](const Json& reply) { return reply["error"]["code"]; };
  ASSERT_EQ(replies.size(), 11u);
  EXPECT_EQ(code(replies[0]), -32600) << "before initialize";
  EXPECT_EQ(code(replies[1]), -32700);
  EXPECT_TRUE(replies[1]["id"].is_null());
  EXPECT_EQ(code(replies[2]), -32600) << "no batches";
  EXPECT_EQ(code(replies[3]), -32600);
  EXPECT_EQ(replies[3]["id"], 2);
  EXPECT_EQ(code(replies[4]), -32600) << "no method";
  EXPECT_EQ(replies[5]["result"], Json::object()) << "ping at any time";
  EXPECT_EQ(replies[6]["result"]["protocolVersion"], "2025-11-25");
  EXPECT_EQ(code(replies[7]), -32601);
  EXPECT_EQ(code(replies[8]), -32602);
  EXPECT_EQ(code(replies[9]), -32602) << "arguments that are no object";
  EXPECT_EQ(replies[10]["result"]["supportedVersions"][0], "2025-11-25") << "notifications and responses get nothing";
}

}  // namespace
}  // namespace kelp::test
