#include "commands/handle.h"

#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "commands/info.h"
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
constexpr std::array<Command, 5> COMMANDS = {{
    {"doctor", false, commands::doctor},
    {"prompt", false, commands::prompt},
    {"displays", false, commands::displays},
    {"apps", false, commands::apps},
    {"ping", false, commands::ping},
}};

// An integer, or a floating number without a fractional part that fits.
std::optional<std::int64_t> integerField(const Json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
      return std::nullopt;
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    double number = value.get<double>();
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9.0e15) {
      return static_cast<std::int64_t>(number);
    }
  }
  return std::nullopt;
}

}  // namespace

Request readCommonFields(const Json& body) {
  Request request{nullptr, "", std::nullopt, std::nullopt, body};
  if (!body.is_object()) return request;
  if (auto it = body.find("id"); it != body.end()) request.id = *it;
  if (auto it = body.find("cmd"); it != body.end() && it->is_string()) request.cmd = it->get<std::string>();
  if (auto it = body.find("app"); it != body.end() && it->is_string()) request.app = it->get<std::string>();
  if (auto it = body.find("pid"); it != body.end()) request.pid = integerField(*it);
  return request;
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
