// The executable: hands its arguments and streams to the server.
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "commands/context.h"
#include "platform/platform.h"
#include "service/mcp_server.h"
#include "service/server.h"

int main(int argc, char** argv) {
  // A parent that stops reading is seen as a failed write, the same with
  // or without the libraries that ignore the signal on their own.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<kelp::platform::Platform> os = kelp::platform::makeDesktopPlatform();
  kelp::ReplyWriter replies(kelp::standardOutputSink());
  const kelp::Globals globals = kelp::startUp(*os, std::move(args));
  kelp::Lasting lasting;
  kelp::Context context{*os, replies, globals, lasting};
  if (globals.args.size() == 2 && globals.args[1] == "mcp") {
    return kelp::mcp::serveMcp(context, kelp::standardInputReader());
  }
  if (globals.args.size() >= 2) return kelp::runOneShot(context);
  return kelp::serve(context, kelp::standardInputReader());
}
