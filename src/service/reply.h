// The only writers of standard output: one JSON reply per line, flushed.
#pragma once

#include <functional>
#include <string_view>

#include "service/json.h"

namespace kelp {

class ReplyWriter {
 public:
  using LineSink = std::function<void(std::string_view line)>;
  explicit ReplyWriter(LineSink sink) : sink_(std::move(sink)) {}

  // Writes `reply` as one line. Text that is not valid UTF-8 is written with
  // U+FFFD in place of the bad bytes and a non-finite number as null, so
  // every reply reaches the parent.
  void out(const Json& reply);
  void fail(const Json& id, std::string_view message);

 private:
  LineSink sink_;
};

// One reply serialised the way `out` writes it, without the line break.
std::string serializeReply(const Json& reply);

// Writes each line and a "\n" to standard output and flushes.
ReplyWriter::LineSink standardOutputSink();

}  // namespace kelp
