// The shapes of a reply, and the one writer of reply lines: every reply the
// helper gives goes through a ReplyWriter, as one JSON object on one line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/json.h"

namespace kelp {

class ReplyWriter {
 public:
  using LineSink = std::function<void(std::string_view line)>;
  explicit ReplyWriter(LineSink sink) : sink_(std::move(sink)) {}

  // {"id", "ok": true, "result"}
  void succeed(const Json& id, Json result);
  // {"id", "ok": false, "error"}
  void fail(const Json& id, std::string_view message);
  // {"id", "ok", "result", "error"}, "error" null when there is none: the
  // replies that carry a result whether or not they succeeded.
  void resultWithError(const Json& id, bool ok, Json result, std::optional<std::string_view> error);
  // {"id", "ok", "result"} with no "error", however it went.
  void resultWithoutError(const Json& id, bool ok, Json result);

  // Writes `reply` as one line. Text that is not valid UTF-8 is written with
  // U+FFFD in place of the bad bytes and a non-finite number as null, so
  // every reply reaches the parent.
  void out(const Json& reply);

 private:
  LineSink sink_;
};

// One reply serialised the way `out` writes it, without the line break.
std::string serializeReply(const Json& reply);

}  // namespace kelp
