#include "commands/handle.h"

#include <array>
#include <string_view>

#include "commands/act.h"
#include "commands/info.h"
#include "commands/keys.h"
#include "commands/menu.h"
#include "commands/screenshot.h"
#include "commands/tree.h"
#include "commands/windows.h"
#include "service/messages.h"

namespace kelp {
namespace {

using CommandFn = void (*)(Context&, const Request&);

struct Command {
  std::string_view name;
  bool needsAccessibility;
  CommandFn run;
};

// Compared exactly and in this order; the first match runs. Commands whose
// Parts are not built yet get the unknown-command reply until they join.
constexpr std::array<Command, 15> COMMANDS = {{
    {"doctor", false, commands::doctor},
    {"prompt", false, commands::prompt},
    {"displays", false, commands::displays},
    {"apps", false, commands::apps},
    {"windowtitles", false, commands::windowTitles},
    {"window", true, commands::window},
    {"activate", false, commands::activate},
    {"tree", true, commands::treeOrFind},
    {"find", true, commands::treeOrFind},
    {"act", true, commands::act},
    {"key", true, commands::key},
    {"typetext", true, commands::typeText},
    {"screenshot", false, commands::screenshot},
    {"menu", true, commands::menu},
    {"ping", false, commands::ping},
}};

}  // namespace

Request readCommonFields(const Json& body) {
  Request request{nullptr, "", std::nullopt, std::nullopt, body};
  if (!body.is_object()) return request;
  if (auto it = body.find("id"); it != body.end()) request.id = *it;
  if (auto it = body.find("cmd"); it != body.end() && it->is_string()) request.cmd = it->get<std::string>();
  if (auto it = body.find("app"); it != body.end() && it->is_string()) request.app = it->get<std::string>();
  if (auto it = body.find("pid"); it != body.end()) request.pid = integerValue(*it);
  return request;
}

std::string stringField(const Json& body, const char* name, std::string fallback) {
  auto it = body.find(name);
  return it != body.end() && it->is_string() ? it->get<std::string>() : fallback;
}

std::vector<std::string> stringListField(const Json& body, const char* name) {
  std::vector<std::string> list;
  auto it = body.find(name);
  if (it == body.end() || !it->is_array()) return list;
  for (const Json& item : *it) {
    if (!item.is_string()) return {};
    list.push_back(item.get<std::string>());
  }
  return list;
}

std::optional<ax::AppPair> targetOrFail(Context& context, const Request& request) {
  std::optional<ax::AppPair> target = ax::appElement(context.os, request.app, request.pid);
  if (!target) context.replies.fail(request.id, messages::appNotFound);
  return target;
}

void succeed(Context& context, const Request& request, Json result) {
  Json reply;
  reply["id"] = request.id;
  reply["ok"] = true;
  reply["result"] = std::move(result);
  context.replies.out(reply);
}

void handle(Context& context, const Json& body) {
  const Request request = readCommonFields(body);
  for (const Command& command : COMMANDS) {
    if (command.name != request.cmd) continue;
    if (command.needsAccessibility && !context.os.accessibility().isTrusted()) {
      context.replies.fail(request.id, messages::noAccessibility);
      return;
    }
    command.run(context, request);
    return;
  }
  context.replies.fail(request.id, std::string(messages::unknownCommand) + request.cmd);
}

}  // namespace kelp
