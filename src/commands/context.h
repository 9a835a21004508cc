// What every command works with: the platform, the reply writer, the tables
// built at start and the state that outlives a request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ax/lookup.h"
#include "capture/capture.h"
#include "common/json.h"
#include "common/replies.h"
#include "locate/safety.h"
#include "platform/platform.h"
#include "recorder/recorder.h"
#include "selftest/selftest.h"

namespace kelp {

// What start-up builds from the platform, in this order; read-only afterwards.
struct Globals {
  platform::Element systemWide;
  locate::SafetyPatterns safety;
  // The process's arguments, element 0 being the program path.
  std::vector<std::string> args;
};

// State kept from one request to the next, for the life of the process, on
// the main thread only, each part created on first use.
struct Lasting {
  std::unique_ptr<recorder::Recorder> recorder;
  // The window it shows stays with the platform's test window.
  std::unique_ptr<selftest::SelfTest> selfTest;
  // Where the pictures of the last "screenshot" reply lie, in its order:
  // "pointer" turns their pixels into points.
  std::vector<capture::Placement> shownPictures;
};

struct Context {
  platform::Platform& os;
  ReplyWriter& replies;
  const Globals& globals;
  Lasting& lasting;
};

// The fields every command reads. A field of the wrong JSON type counts as
// absent; it is never an error.
struct Request {
  Json id;  // null when absent
  std::string cmd;
  std::optional<std::string> app;
  std::optional<std::int64_t> pid;
  const Json& body;
};

Request readCommonFields(const Json& body);

// The process's one recorder.
recorder::Recorder& recorderOf(Context& context);

// The request's target application; when there is none, replies with the
// not-found failure and gives nothing.
std::optional<ax::AppPair> targetOrFail(Context& context, const Request& request);

}  // namespace kelp
