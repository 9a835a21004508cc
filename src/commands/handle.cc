#include "commands/handle.h"

#include <array>
#include <string_view>

#include "commands/act.h"
#include "commands/clipboard.h"
#include "commands/info.h"
#include "commands/keys.h"
#include "commands/menu.h"
#include "commands/pointer.h"
#include "commands/recording.h"
#include "commands/screenshot.h"
#include "commands/tree.h"
#include "commands/wait.h"
#include "commands/windows.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp {
namespace {

using CommandFn = void (*)(Context&, const Request&);

struct Command {
  std::string_view name;
  bool needsAccessibility;
  CommandFn run;
};

// Compared exactly and in this order; the first match runs. A name missing
// here gets the unknown-command reply.
constexpr std::array<Command, 23> COMMANDS = {{
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
    {"pointer", false, commands::pointer},
    {"wait", false, commands::wait},
    {"clipboard", false, commands::clipboard},
    {"menu", true, commands::menu},
    {"rec-start", false, commands::recStart},
    {"rec-ignore", false, commands::recIgnore},
    {"rec-stop", false, commands::recStop},
    {"rec-state", false, commands::recState},
    {"selftest", false, commands::selftest},
    {"ping", false, commands::ping},
}};

}  // namespace

Request readCommonFields(const Json& body) {
  Request request{nullptr, "", std::nullopt, std::nullopt, body};
  if (!body.is_object()) return request;
  if (auto it = body.find("id"); it != body.end()) request.id = *it;
  request.cmd = stringField(body, "cmd", "");
  request.app = stringField(body, "app");
  request.pid = integerField(body, "pid");
  return request;
}

recorder::Recorder& recorderOf(Context& context) {
  std::unique_ptr<recorder::Recorder>& recorder = context.lasting.recorder;
  if (!recorder) {
    recorder = std::make_unique<recorder::Recorder>(context.os, context.globals.safety,
                                                    recorder::desktopView(context.os, context.globals.systemWide));
  }
  return *recorder;
}

std::optional<ax::AppPair> targetOrFail(Context& context, const Request& request) {
  std::optional<ax::AppPair> target = ax::appElement(context.os, request.app, request.pid);
  if (!target) context.replies.fail(request.id, messages::appNotFound);
  return target;
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
