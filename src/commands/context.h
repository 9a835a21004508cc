// What every command works with: the platform, the reply writer and the
// tables built at start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// Replies {"id", "ok": true, "result": result}.
void succeed(Context& context, const Request& request, Json result);

}  // namespace kelp
