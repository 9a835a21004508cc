#include "commands/keys.h"

#include <optional>
#include <string>
#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "common/fields.h"
#include "common/messages.h"
#include "input/activation.h"
#include "input/keyboard.h"
#include "input/text_entry.h"
#include "locate/safety.h"
#include "text/text.h"

namespace kelp::commands {
namespace {

constexpr std::int64_t TYPETEXT_SETTLE_MICROS = 200000;

struct Failures {
  std::string_view notFound;
  std::string_view cannotActivate;
};

// Brings the named application to the front when the request names one.
// False after replying with the failure.
bool bringAppForward(Context& context, const Request& request, const Failures& failures) {
  // By "pid" too, where two applications share a name (two LibreOffices).
  const bool byName = request.app && !request.app->empty();
  if (!byName && !request.pid) return true;
  const std::string name = byName ? *request.app : std::to_string(*request.pid);
  std::optional<ax::AppPair> target =
      ax::appElement(context.os, byName ? request.app : std::nullopt, request.pid);
  if (!target) {
    context.replies.fail(request.id, name + std::string(failures.notFound));
    return false;
  }
  if (!input::activateFront(context.os, target->app)) {
    const std::string shown = target->app.name.value_or(name);
    context.replies.fail(request.id, shown + std::string(failures.cannotActivate));
    return false;
  }
  return true;
}

// What the gate reads of the element that has the keyboard focus.
std::optional<locate::GateTarget> focusedTarget(Context& context) {
  const std::optional<platform::Element> focused = ax::focusedElement(context.os);
  if (!focused) return std::nullopt;
  return locate::gateTarget(context.os.accessibility(), *focused);
}

}  // namespace

void key(Context& context, const Request& request) {
  if (!bringAppForward(context, request, {messages::keyAppNotFound, messages::keyCannotActivate})) return;
  const std::string key = stringField(request.body, "key", "");
  const std::vector<std::string> mods = stringListField(request.body, "mods");
  const locate::GateStep step{.kind = locate::GateStep::Kind::keyPress, .key = key, .flags = input::keyFlags(mods)};
  if (locate::gateRefuses(context.globals.safety, [&] { return focusedTarget(context); }, step)) {
    context.replies.resultWithError(request.id, false, {{"pressed", false}}, messages::blockedBySafety);
    return;
  }
  const bool pressed = input::pressKey(context.os, key, mods);
  context.replies.resultWithoutError(request.id, pressed, {{"pressed", pressed}});
}

void typeText(Context& context, const Request& request) {
  const std::string text = stringField(request.body, "text", "");
  if (!bringAppForward(context, request, {messages::typeAppNotFound, messages::typeAppCannotActivate})) return;
  platform::Accessibility& ax = context.os.accessibility();
  const std::optional<platform::Element> focusedBefore = ax::focusedElement(context.os);
  auto target = [&]() -> std::optional<locate::GateTarget> {
    if (!focusedBefore) return std::nullopt;
    return locate::gateTarget(ax, *focusedBefore);
  };
  if (locate::gateRefuses(context.globals.safety, target, {.kind = locate::GateStep::Kind::typing, .text = text})) {
    context.replies.fail(request.id, messages::blockedBySafety);
    return;
  }
  const std::string before = focusedBefore ? ax::str(ax, *focusedBefore, "AXValue") : std::string();
  // Asked to replace, the field's whole content is selected first, and the
  // text has landed only when the field then holds just it.
  const bool replace = booleanField(request.body, "replace").value_or(false);
  if (replace && focusedBefore) input::selectWholeText(context.os, *focusedBefore);

  input::typeUnicode(context.os, text);
  context.os.clock().sleepMicros(TYPETEXT_SETTLE_MICROS);

  Json result;
  result["typed"] = text::graphemeCount(text);
  if (std::optional<platform::Element> focused = ax::focusedElement(context.os)) {
    const bool secure = ax::str(ax, *focused, "AXRole") == "AXSecureTextField";
    // A field that grew by at least the text shows it arrived, reformatted
    // perhaps; one that grew by less lost some of it (characters a keymap
    // could not type). Growth says nothing where the focus moved to another
    // field meanwhile (a file chooser's location field that opens on the
    // first "/").
    const bool sameField = focusedBefore && *focusedBefore == *focused;
    const std::size_t typed = text::graphemeCount(text);
    const input::Landing landing = input::awaitLanding(context.os, *focused, [&](const std::string& after) {
      if (replace) return input::textLanded(after, text, secure);
      return (!text.empty() && text::canonicallyContains(after, text)) ||
             (sameField && typed > 0 && text::graphemeCount(after) >= text::graphemeCount(before) + typed);
    });
    // What has no text to read (a spreadsheet whose cell takes the text)
    // cannot show whether it arrived.
    if (ax.copyAttribute(*focused, "AXValue").isNone()) {
      result["landed"] = nullptr;
    } else {
      result["landed"] = landing.landed;
    }
    result["into"] = ax::label(ax, *focused);
    result["valueLen"] = text::utf16Length(landing.value);
    result["valueTail"] = text::lastGraphemes(landing.value, ax::TAIL_LENGTH);
  } else {
    result["landed"] = nullptr;
  }
  context.replies.succeed(request.id, std::move(result));
}

}  // namespace kelp::commands
