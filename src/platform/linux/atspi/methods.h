// Method calls on single remote AT-SPI objects, besides the facts reads draw
// on: the requests that change an object or make it act, and the questions
// that are asked once rather than kept as facts. Each is bounded by the
// AT-SPI timeout like every read. A request is true only when the
// application answered that it did what was asked: an application that
// refuses, lacks the interface, or does not answer in time gets false.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi/facts.h"

namespace kelp::platform::linux_desktop {

// More actions than this on one object are not looked at.
inline constexpr std::int32_t MAX_ACTIONS = 64;

bool grabFocus(FactStore& facts, const ObjectRef& ref);
bool setTextContents(FactStore& facts, const ObjectRef& ref, const std::string& text);
bool setCurrentValue(FactStore& facts, const ObjectRef& ref, double value);
// Selects characters `start` to `end` (code points, end excluded) as the
// object's one selection.
bool selectText(FactStore& facts, const ObjectRef& ref, std::int32_t start, std::int32_t end);

std::optional<std::int32_t> indexInParent(FactStore& facts, const ObjectRef& ref);
// Through the Selection interface of `parent`, by the child's index there.
bool selectChild(FactStore& facts, const ObjectRef& parent, std::int32_t index);
bool deselectChild(FactStore& facts, const ObjectRef& parent, std::int32_t index);

// One action an object offers: its name as programs know it, and as the
// toolkit shows it to people.
struct OfferedAction {
  std::string name;
  std::string localizedName;
};

// The actions of an object in its order; empty when it offers none or does
// not answer.
std::vector<OfferedAction> offeredActions(FactStore& facts, const ObjectRef& ref);
// On a connection of the action's own (AtspiChannels::actionRouteFor).
bool doAction(FactStore& facts, const ObjectRef& ref, std::int32_t index);

// Chromium (and Electron) publish nothing below their windows until someone
// asks for an attribute (or the relations) of an object: asks, then waits
// until a web page's document has content or WAKE_LIMIT_MS passed. True
// when content came. A shown page comes within a quarter of a second. A
// page whose window is minimized or covered when accessibility comes on
// stays empty until the window shows again, whatever is asked, so waiting
// longer than one call's timeout would only delay the reply.
inline constexpr int WAKE_LIMIT_MS = ATSPI_CALL_TIMEOUT_MS;
bool wakeWebContent(FactStore& facts, const ObjectRef& application);

// Collection.GetMatches for the first descendant of `root` (in tree order)
// that has all of `states` (bit n for AtspiStateType n); none when the
// toolkit has no collections or there is no such descendant.
std::optional<ObjectRef> firstMatchWithStates(FactStore& facts, const ObjectRef& root, std::uint64_t states);

}  // namespace kelp::platform::linux_desktop
