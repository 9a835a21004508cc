#include "service/reply.h"

#include <cstdio>

namespace kelp {

std::string serializeReply(const Json& reply) {
  // Compact, UTF-8 rather than \u escapes, and "/" left plain.
  return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void ReplyWriter::out(const Json& reply) { sink_(serializeReply(reply)); }

void ReplyWriter::fail(const Json& id, std::string_view message) {
  Json reply;
  reply["id"] = id;
  reply["ok"] = false;
  reply["error"] = message;
  out(reply);
}

ReplyWriter::LineSink standardOutputSink() {
  return [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
}

}  // namespace kelp
