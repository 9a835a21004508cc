#include "commands/recording.h"

#include <set>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/messages.h"
#include "recorder/records.h"

namespace kelp::commands {
namespace {

constexpr std::size_t RECENT_LABELS = 8;

std::set<std::string> ignoreAppsField(const Request& request) {
  const std::vector<std::string> names = stringListField(request.body, "ignoreApps");
  return {names.begin(), names.end()};
}

}  // namespace

void recStart(Context& context, const Request& request) {
  const bool started = recorderOf(context).start(ignoreAppsField(request));
  context.replies.resultWithError(request.id, started, {{"recording", started}},
                                  started ? std::nullopt : std::optional(messages::noAccessibility));
}

void recIgnore(Context& context, const Request& request) {
  recorder::Recorder& recorder = recorderOf(context);
  const std::set<std::string> names = ignoreAppsField(request);
  const bool applied = recorder.setIgnore(names);
  const Json ignoring(std::vector<std::string>(names.begin(), names.end()));
  context.replies.resultWithError(request.id, applied, {{"recording", recorder.running()}, {"ignoring", ignoring}},
                                  applied ? std::nullopt : std::optional(messages::notRecording));
}

void recStop(Context& context, const Request& request) {
  recorder::Recorder& recorder = recorderOf(context);
  const std::vector<std::string> dropped = recorder.droppedKeys();
  const Json& events = recorder.stop();
  context.replies.succeed(request.id, {{"events", events}, {"droppedKeys", dropped}});
}

void recState(Context& context, const Request& request) {
  recorder::Recorder& recorder = recorderOf(context);
  const std::optional<platform::RunningApp> front = context.os.workspace().frontmostApplication();
  context.replies.succeed(request.id, {{"recording", recorder.running()},
                                       {"count", recorder.events().size()},
                                       {"recent", recorder::recentLabels(recorder.events(), RECENT_LABELS)},
                                       {"front", front ? front->name.value_or("") : ""}});
}

}  // namespace kelp::commands
