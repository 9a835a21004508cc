#include "common/replies.h"

namespace kelp {
namespace {

// Keys are added in the order the reply shapes list them.
Json envelope(const Json& id, bool ok) {
  Json reply;
  reply["id"] = id;
  reply["ok"] = ok;
  return reply;
}

}  // namespace

std::string serializeReply(const Json& reply) {
  // Compact, UTF-8 rather than \u escapes, and "/" left plain.
  return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void ReplyWriter::out(const Json& reply) { sink_(serializeReply(reply)); }

void ReplyWriter::succeed(const Json& id, Json result) { resultWithoutError(id, true, std::move(result)); }

void ReplyWriter::fail(const Json& id, std::string_view message) {
  Json reply = envelope(id, false);
  reply["error"] = message;
  out(reply);
}

void ReplyWriter::resultWithError(const Json& id, bool ok, Json result, std::optional<std::string_view> error) {
  Json reply = envelope(id, ok);
  reply["result"] = std::move(result);
  reply["error"] = error ? Json(*error) : Json(nullptr);
  out(reply);
}

void ReplyWriter::resultWithoutError(const Json& id, bool ok, Json result) {
  Json reply = envelope(id, ok);
  reply["result"] = std::move(result);
  out(reply);
}

}  // namespace kelp
