#include "commands/clipboard.h"

#include <optional>
#include <string>

#include "common/fields.h"
#include "common/messages.h"
#include "locate/safety.h"
#include "text/text.h"

namespace kelp::commands {

void clipboard(Context& context, const Request& request) {
  if (!context.os.capabilities().clipboard) {
    context.replies.fail(request.id, messages::clipboardUnavailable);
    return;
  }
  platform::Clipboard& board = context.os.clipboard();
  const std::optional<std::string> text = stringField(request.body, "text");
  if (!text) {
    const std::optional<std::string> held = board.text();
    context.replies.succeed(request.id, {{"text", held ? Json(*held) : Json(nullptr)}});
    return;
  }
  // What is pasted is typed, as far as the gate is concerned.
  if (locate::gateRefuses(context.globals.safety, [] { return std::nullopt; },
                          {.kind = locate::GateStep::Kind::typing, .text = *text})) {
    context.replies.resultWithError(request.id, false, {{"set", false}}, messages::blockedBySafety);
    return;
  }
  if (!board.setText(*text)) {
    context.replies.resultWithError(request.id, false, {{"set", false}}, messages::clipboardNotTaken);
    return;
  }
  // The helper serves the text itself: once it ends, the text goes with it.
  context.replies.succeed(request.id, {{"set", true},
                                       {"chars", text::graphemeCount(*text)},
                                       {"note", messages::clipboardLivesWithProcess}});
}

}  // namespace kelp::commands
