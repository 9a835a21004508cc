// The Model Context Protocol over standard input and output, for agents
// that load desktop tools as MCP servers: JSON-RPC 2.0, one message a line,
// each tool call run through `handle` as the JSON-lines protocol runs it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "commands/context.h"
#include "service/server.h"

namespace kelp::mcp {

// The protocol revisions spoken, the preferred first.
inline constexpr std::string_view PROTOCOL_VERSIONS[] = {"2025-11-25", "2025-06-18", "2025-03-26"};

// One client's conversation. Main thread only.
class McpSession {
 public:
  explicit McpSession(Context& context) : context_(context) {}

  // The reply to one line: none for notifications, responses and empty
  // lines; a JSON-RPC error for anything malformed.
  std::optional<Json> handleLine(const std::string& line);

 private:
  Json answer(const Json& id, const std::string& method, const Json& params);
  Json callTool(const Json& id, const Json& params);

  Context& context_;
  bool initialized_ = false;
};

// Serves one client until end of input; returns the exit status.
int serveMcp(Context& context, LineReader readLine);

}  // namespace kelp::mcp
