#include "service/mcp_server.h"

#include <cstdio>
#include <vector>

#include "commands/handle.h"
#include "service/mcp_tools.h"

namespace kelp::mcp {
namespace {

// The JSON-RPC 2.0 error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int INTERNAL_ERROR = -32603;

constexpr std::string_view SERVER_NAME = "kelp-cua";
constexpr std::string_view SERVER_VERSION = "0.1.0";
constexpr std::string_view INSTRUCTIONS =
    "Sees and operates the desktop applications of the person at this computer. Start with \"apps\" or "
    "\"tree\" to see an application's controls, then \"act\" on one by its ref or a locator; refs stay good "
    "until the application's interface changes. Messages meant for people are in Korean.";

Json response(const Json& id, Json result) {
  Json message;
  message["jsonrpc"] = "2.0";
  message["id"] = id;
  message["result"] = std::move(result);
  return message;
}

Json error(const Json& id, int code, std::string_view text) {
  Json message;
  message["jsonrpc"] = "2.0";
  message["id"] = id;
  message["error"] = {{"code", code}, {"message", text}};
  return message;
}

Json capabilities() { return {{"tools", {{"listChanged", false}}}}; }
Json serverInfo() { return {{"name", SERVER_NAME}, {"version", SERVER_VERSION}}; }

// The revision the client asked for when it is spoken here, else the newest.
std::string_view negotiate(const Json& params) {
  const auto asked = params.find("protocolVersion");
  if (asked != params.end() && asked->is_string()) {
    for (std::string_view version : PROTOCOL_VERSIONS) {
      if (asked->get<std::string>() == version) return version;
    }
  }
  return PROTOCOL_VERSIONS[0];
}

// Ids are strings or integers.
bool validId(const Json& id) { return id.is_string() || id.is_number_integer(); }

// The display's width in points from a picture's note ("display <id> <w>x<h>").
std::optional<double> displayWidth(const std::string& note) {
  unsigned id = 0;
  int width = 0;
  int height = 0;
  if (std::sscanf(note.c_str(), "display %u %dx%d", &id, &width, &height) != 3 || width <= 0) return std::nullopt;
  return width;
}

// Each picture as an image block, with its size, note and scale beside it;
// the structured result keeps everything but the pictures' data.
Json screenshotResult(Json result) {
  Json content = Json::array();
  Json images = Json::array();
  for (Json& image : result["images"]) {
    Json described = {{"w", image["w"]}, {"h", image["h"]}, {"note", image["note"]}};
    const std::optional<double> points = displayWidth(image.value("note", ""));
    if (points && image["w"].is_number()) described["scale"] = image["w"].get<double>() / *points;
    content.push_back({{"type", "image"}, {"data", image["jpegBase64"]}, {"mimeType", "image/jpeg"}});
    content.push_back({{"type", "text"}, {"text", described.dump()}});
    images.push_back(std::move(described));
  }
  result.erase("jpegBase64");
  result["images"] = std::move(images);
  return {{"content", std::move(content)}, {"structuredContent", std::move(result)}, {"isError", false}};
}

// A command's reply as a tool's result: its "result" as structured content
// and as text, or its error as an error result.
Json toolResult(std::string_view tool, const Json& reply) {
  const bool ok = reply.value("ok", false);
  if (ok && tool == "screenshot") return screenshotResult(reply["result"]);
  Json result;
  if (ok) {
    result["content"] = Json::array({{{"type", "text"}, {"text", reply["result"].dump()}}});
  } else {
    // The error as the command gave it; "key" tells its failure in its result alone.
    const auto message = reply.find("error");
    const std::string text = message != reply.end() && message->is_string() ? message->get<std::string>()
                                                                             : reply.value("result", Json()).dump();
    result["content"] = Json::array({{{"type", "text"}, {"text", text}}});
  }
  if (reply.contains("result") && reply["result"].is_object()) result["structuredContent"] = reply["result"];
  result["isError"] = !ok;
  return result;
}

}  // namespace

std::optional<Json> McpSession::handleLine(const std::string& line) {
  if (line.empty()) return std::nullopt;
  const Json message = parseLine(line);
  if (message.is_discarded()) return error(nullptr, PARSE_ERROR, "Parse error");
  // Batches are not part of the revisions spoken here.
  if (!message.is_object()) return error(nullptr, INVALID_REQUEST, "Invalid Request");
  const auto id = message.find("id");
  const auto method = message.find("method");
  if (method == message.end()) {
    // A client's response to a request of ours: none are sent.
    if (id != message.end() && (message.contains("result") || message.contains("error"))) return std::nullopt;
    return error(id != message.end() && validId(*id) ? *id : Json(nullptr), INVALID_REQUEST, "Invalid Request");
  }
  if (message.value("jsonrpc", "") != "2.0" || !method->is_string() || (id != message.end() && !validId(*id))) {
    return error(id != message.end() && validId(*id) ? *id : Json(nullptr), INVALID_REQUEST, "Invalid Request");
  }
  const std::string name = method->get<std::string>();
  const Json params = message.contains("params") ? message["params"] : Json::object();
  if (id == message.end()) {
    // Notifications get no reply: "notifications/initialized", and
    // "notifications/cancelled", which cannot stop a command that runs
    // before the next message is read.
    if (name == "notifications/initialized") initialized_ = true;
    return std::nullopt;
  }
  if (!params.is_object()) return error(*id, INVALID_PARAMS, "Invalid params: params must be an object");
  return answer(*id, name, params);
}

Json McpSession::answer(const Json& id, const std::string& method, const Json& params) {
  if (method == "initialize") {
    initialized_ = true;
    return response(id, {{"protocolVersion", negotiate(params)},
                         {"capabilities", capabilities()},
                         {"serverInfo", serverInfo()},
                         {"instructions", INSTRUCTIONS}});
  }
  if (method == "ping") return response(id, Json::object());
  if (method == "server/discover") {
    return response(id, {{"supportedVersions", PROTOCOL_VERSIONS},
                         {"capabilities", capabilities()},
                         {"serverInfo", serverInfo()},
                         {"instructions", INSTRUCTIONS}});
  }
  if (!initialized_) return error(id, INVALID_REQUEST, "Invalid Request: initialize first");
  if (method == "tools/list") {
    Json list = Json::array();
    for (const Tool& tool : tools()) list.push_back(toolJson(tool));
    return response(id, {{"tools", std::move(list)}});
  }
  if (method == "tools/call") return callTool(id, params);
  return error(id, METHOD_NOT_FOUND, "Method not found: " + method);
}

Json McpSession::callTool(const Json& id, const Json& params) {
  const auto name = params.find("name");
  const Tool* tool = name != params.end() && name->is_string() ? findTool(name->get<std::string>()) : nullptr;
  if (!tool) return error(id, INVALID_PARAMS, "Unknown tool: " + (name != params.end() ? name->dump() : "none"));
  const auto arguments = params.find("arguments");
  if (arguments != params.end() && !arguments->is_object()) {
    return error(id, INVALID_PARAMS, "Invalid params: arguments must be an object");
  }
  // The command's own request, as the JSON-lines protocol would carry it.
  Json request = arguments != params.end() ? *arguments : Json::object();
  for (const auto& [field, value] : tool->defaults.items()) {
    if (!request.contains(field)) request[field] = value;
  }
  request["cmd"] = tool->name;
  request["id"] = nullptr;
  std::vector<std::string> lines;
  ReplyWriter captured([&lines](std::string_view line) { lines.emplace_back(line); });
  Context inner{context_.os, captured, context_.globals, context_.lasting};
  handle(inner, request);
  const Json reply = lines.size() == 1 ? Json::parse(lines.front(), nullptr, false) : Json(Json::value_t::discarded);
  if (!reply.is_object()) return error(id, INTERNAL_ERROR, "Internal error: the command gave no reply");
  return response(id, toolResult(tool->name, reply));
}

int serveMcp(Context& context, LineReader readLine) {
  McpSession session(context);
  return serveLines(context, std::move(readLine), [&](const std::string& line) {
    if (std::optional<Json> reply = session.handleLine(line)) context.replies.out(*reply);
  });
}

}  // namespace kelp::mcp
