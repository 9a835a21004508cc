// What one "tree" of an application costs on the accessibility bus: the
// messages this process sends and the times it waits for answers. Runs the
// request in this process over the Linux backend, in the desktop of the
// environment, first cold (connections, toolkits and bulk listings are
// learnt) and then REPEATS times warm, as a helper in server mode answers
// an agent's later requests, and prints one JSON line:
//   {"cold":{"messages","waits","byMethod","records","ms"},"warm":{...}}
// with the warm figures of the last request (they are the same each time
// unless the application changes). What libatspi asks on its own (the
// desktop's list of applications, their processes) is not counted.
//
//   kelp_tree_traffic APP MAX [REPEATS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "commands/context.h"
#include "commands/handle.h"
#include "common/json.h"
#include "platform/linux/atspi/calls.h"
#include "service/server.h"

namespace {

using kelp::Json;
using kelp::platform::linux_desktop::busTraffic;

Json measure(kelp::Context& context, const Json& request, const std::string& reply) {
  const auto before = busTraffic();
  const auto start = std::chrono::steady_clock::now();
  kelp::handle(context, request);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const Json parsed = Json::parse(reply, nullptr, false);
  const Json* elements = parsed.is_object() && parsed.contains("result") && parsed["result"].is_object() &&
                                 parsed["result"].contains("elements")
                             ? &parsed["result"]["elements"]
                             : nullptr;
  Json byMethod = Json::object();
  for (const auto& [method, count] : busTraffic().byMethod) {
    auto earlier = before.byMethod.find(method);
    const std::uint64_t sent = count - (earlier == before.byMethod.end() ? 0 : earlier->second);
    if (sent) byMethod[method] = sent;
  }
  return {{"messages", busTraffic().messages - before.messages},
          {"waits", busTraffic().waits - before.waits},
          {"byMethod", byMethod},
          {"records", elements ? elements->size() : 0},
          {"ms", ms},
          {"ok", parsed.is_object() && parsed.value("ok", false)}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: kelp_tree_traffic APP|pid:N MAX [REPEATS]\n", stderr);
    return 2;
  }
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
  auto os = kelp::platform::makeDesktopPlatform();
  const kelp::Globals globals = kelp::startUp(*os, {argv[0]});
  kelp::Lasting lasting;
  std::string reply;
  kelp::ReplyWriter replies([&reply](std::string_view line) { reply.assign(line); });
  kelp::Context context{*os, replies, globals, lasting};
  // "pid:N" names the application by its process, where two share a name.
  const std::string_view app = argv[1];
  Json request = {{"cmd", "tree"}, {"max", std::atoll(argv[2])}};
  if (app.starts_with("pid:")) {
    request["pid"] = std::atoll(argv[1] + 4);
  } else {
    request["app"] = app;
  }

  Json result;
  result["cold"] = measure(context, request, reply);
  for (int i = 0; i < repeats; ++i) result["warm"] = measure(context, request, reply);
  std::printf("%s\n", result.dump().c_str());
  return 0;
}
