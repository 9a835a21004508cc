#include "support/helper.h"

namespace kelp::test {

HelperSession::HelperSession(const Environment& environment) {
  ProcessOptions options;
  options.argv = {helperPath()};
  options.environment = environment;
  process_ = std::make_unique<Process>(std::move(options));
}

bool HelperSession::sendLine(const std::string& line) { return process_->write(line + "\n"); }

bool HelperSession::sendRaw(const std::string& bytes) { return process_->write(bytes); }

std::optional<std::string> HelperSession::replyLine(Milliseconds timeout) {
  return process_->readLine(timeout);
}

std::optional<Json> HelperSession::reply(Milliseconds timeout) {
  auto line = replyLine(timeout);
  if (!line) return std::nullopt;
  return parseReply(*line);
}

std::optional<Json> HelperSession::request(const Json& request, Milliseconds timeout) {
  if (!sendLine(request.dump())) return std::nullopt;
  return reply(timeout);
}

std::optional<ExitStatus> HelperSession::finish(Milliseconds timeout) {
  process_->closeStdin();
  trailing_ = process_->readAllStdout(timeout);
  return process_->waitForExit(timeout);
}

std::optional<Json> parseReply(const std::string& line) {
  Json parsed = Json::parse(line, nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

Environment isolatedEnvironment(const std::string& runtimeDir) {
  Environment environment = Environment::inherit();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                           "XAUTHORITY", "SESSION_MANAGER", "DESKTOP_STARTUP_ID"}) {
    environment.unset(name);
  }
  environment.set("XDG_RUNTIME_DIR", runtimeDir);
  return environment;
}

}  // namespace kelp::test
