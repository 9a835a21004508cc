// Talking to kelp-cua in server mode: request lines in, reply lines out.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace kelp::test {

using Json = nlohmann::json;

// A running `kelp-cua` without arguments.
class HelperSession {
 public:
  explicit HelperSession(const Environment& environment);

  // Writes `line` followed by "\n".
  bool sendLine(const std::string& line);
  // Writes bytes exactly as given.
  bool sendRaw(const std::string& bytes);
  // The next reply line as written, or none when there is none in time.
  std::optional<std::string> replyLine(Milliseconds timeout = Milliseconds(20000));
  // The next reply parsed; none when no line came or it is not JSON.
  std::optional<Json> reply(Milliseconds timeout = Milliseconds(20000));
  // One request and its reply.
  std::optional<Json> request(const Json& request, Milliseconds timeout = Milliseconds(20000));

  // Ends input and waits for the process to end; what it still wrote is
  // kept in `trailingOutput`.
  std::optional<ExitStatus> finish(Milliseconds timeout = Milliseconds(20000));
  const std::string& trailingOutput() const { return trailing_; }
  const std::string& stderrText() { return process_->stderrText(); }

  Process& process() { return *process_; }

 private:
  std::unique_ptr<Process> process_;
  std::string trailing_;
};

// Parses one reply line; none when it is not JSON.
std::optional<Json> parseReply(const std::string& line);

// An environment with neither display nor session bus, so that the helper
// answers the same on every machine: no X display, no Wayland, no D-Bus
// session, and an empty runtime directory `runtimeDir`.
Environment isolatedEnvironment(const std::string& runtimeDir);

}  // namespace kelp::test
