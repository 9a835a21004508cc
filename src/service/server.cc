#include "service/server.h"

#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "commands/handle.h"
#include "common/messages.h"
#include "service/scrub.h"

namespace kelp {
namespace {

// Deeper requests are refused as unreadable: echoing such an "id" would
// exhaust the stack of the JSON writer. No real request comes near it.
constexpr int MAX_REQUEST_NESTING = 512;

bool nestedTooDeeply(const std::string& line) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : line) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > MAX_REQUEST_NESTING) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

Globals startUp(platform::Platform& os, std::vector<std::string> args) {
  Globals globals;
  globals.systemWide = os.accessibility().systemWide();
  globals.safety = locate::compileSafetyPatterns();
  scrubSecretsFromOwnEnvironment(os.environment(), os.workspace());
  globals.args = std::move(args);
  return globals;
}

int runOneShot(Context& context) {
  const std::vector<std::string>& args = context.globals.args;
  Json request;
  request["id"] = 0;
  request["cmd"] = args.size() > 1 ? args[1] : std::string();
  if (args.size() > 2) request["app"] = args[2];
  handle(context, request);
  return 0;
}

Json parseLine(const std::string& line) {
  return nestedTooDeeply(line) ? Json(Json::value_t::discarded) : Json::parse(line, nullptr, false);
}

void dispatchLine(Context& context, const std::string& line, const std::function<void(const Json&)>& run) {
  if (line.empty()) return;
  Json request = parseLine(line);
  if (request.is_discarded() || !request.is_object()) {
    context.replies.fail(nullptr, messages::unreadableRequest);
    return;
  }
  run(request);
}

int serveLines(Context& context, LineReader readLine, const std::function<void(const std::string&)>& onLine) {
  platform::RunLoop& runLoop = context.os.runLoop();
  std::thread reader([&runLoop, &onLine, readLine = std::move(readLine)] {
    while (std::optional<std::string> line = readLine()) {
      // The reader waits for each line to be handled, so messages run one
      // at a time and in arrival order, and replies never interleave.
      runLoop.runSync([&] { onLine(*line); });
    }
    runLoop.stop();
  });
  runLoop.run();
  reader.join();
  return 0;
}

int serve(Context& context, LineReader readLine) {
  return serveLines(context, std::move(readLine), [&context](const std::string& line) {
    dispatchLine(context, line, [&](const Json& request) { handle(context, request); });
  });
}

LineReader standardInputReader() {
  return []() -> std::optional<std::string> {
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t length = ::getline(&buffer, &capacity, stdin);
    std::optional<std::string> line;
    if (length >= 0) {
      line.emplace(buffer, static_cast<std::size_t>(length));
      // A last line without a terminator still counts as a line.
      if (!line->empty() && line->back() == '\n') {
        line->pop_back();
        if (!line->empty() && line->back() == '\r') line->pop_back();
      }
    }
    std::free(buffer);
    return line;
  };
}

ReplyWriter::LineSink standardOutputSink() {
  return [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // Nobody reads the replies any more: the parent closed them or ended.
    // The work has no one to go to, so the helper ends, quietly.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::_Exit(0);
  };
}

}  // namespace kelp
