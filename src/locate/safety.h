// The fixed local rule that refuses typing into card, account and identity
// number fields, typing card numbers anywhere, and pressing buttons or
// choosing menu items that commit a payment, an order or a transfer. Not
// configurable and not bypassable by request fields: every path that can
// press, choose or type asks `gateRefuses` before anything reaches an
// element.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ax/node.h"
#include "platform/platform.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace kelp::locate {

inline constexpr std::u16string_view HARD_FIELD_PATTERN =
    u"(카드\\s*번호|카드번호|cvc|cvv|보안코드|주민(등록)?번호|계좌\\s*번호|계좌번호|card\\s*number|security\\s*code|"
    u"social\\s*security)";
inline constexpr std::u16string_view HARD_ACTION_PATTERN =
    u"(결제하기|결제\\s*진행|구매하기|주문하기|송금|이체하기|pay now|place order|confirm payment|buy now)";
// Digits with at most one space or hyphen between two of them: where a card
// number may stand in a text.
inline constexpr std::u16string_view DIGIT_RUN_PATTERN = u"\\d(?:[ \\-]?\\d)*";

// The expressions, compiled once at start with only the case-insensitive flag.
struct SafetyPatterns {
  std::shared_ptr<const icu::RegexPattern> hardField;
  std::shared_ptr<const icu::RegexPattern> hardAction;
  std::shared_ptr<const icu::RegexPattern> digitRun;
};

SafetyPatterns compileSafetyPatterns();

// True when `expression` matches anywhere in `text`.
bool matches(const icu::RegexPattern& expression, std::string_view text);

// What the gate reads of an element: its label, clipped as a walk clips it,
// and its identifier.
struct GateTarget {
  std::string label;
  std::string identifier;
};
GateTarget gateTarget(const ax::Node& node);
GateTarget gateTarget(platform::Accessibility& ax, const platform::Element& element);

// True when the element action `action` on `target` must be refused:
// typing meets the field rule, a click or double click the action rule.
bool hardBlocked(const SafetyPatterns& patterns, const GateTarget& target, std::string_view action);
bool hardBlocked(const SafetyPatterns& patterns, const ax::Node& node, std::string_view action);

// True when `text` holds a card number: 13 to 19 digits passing the Luhn
// check, written together or in groups parted by single spaces or hyphens.
bool holdsCardNumber(const SafetyPatterns& patterns, std::string_view text);

// What is about to reach an element.
struct GateStep {
  enum class Kind {
    elementAction,  // an "act" action on a resolved element
    typing,         // text typed at the keyboard focus
    keyPress,       // a key, with or without modifiers, at the keyboard focus
    menuChoice,     // pressing the menu item a path of titles reached
  } kind;
  std::string_view action{};  // elementAction: its name
  std::string_view text{};    // elementAction "type" and typing: what is typed
  std::string_view key{};     // keyPress: the key's name
  std::uint64_t flags = 0;    // keyPress: the modifiers held, as flag masks
};

// Reads the element a step reaches: the resolved element, the focused one
// (none when nothing has the focus), or the menu item. Read only when the
// verdict depends on it.
using TargetReader = std::function<std::optional<GateTarget>()>;

// The one gate: true when the step must be refused with "blocked-by-safety".
bool gateRefuses(const SafetyPatterns& patterns, const TargetReader& target, const GateStep& step);

}  // namespace kelp::locate
