// What every command works with: the platform, the reply writer and the
// tables built at start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/lookup.h"
#include "platform/platform.h"
#include "service/json.h"
#include "service/reply.h"
#include "service/tables.h"

namespace kelp {

struct Context {
  platform::Platform& os;
  ReplyWriter& replies;
  const Globals& globals;
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

// Command fields read by name: one of another JSON type counts as absent,
// and a list holding anything but strings counts as absent as a whole.
std::string stringField(const Json& body, const char* name, std::string fallback);
std::vector<std::string> stringListField(const Json& body, const char* name);

// The request's target application; when there is none, replies with the
// not-found failure and gives nothing.
std::optional<ax::AppPair> targetOrFail(Context& context, const Request& request);

// Replies {"id", "ok": true, "result": result}.
void succeed(Context& context, const Request& request, Json result);

}  // namespace kelp
