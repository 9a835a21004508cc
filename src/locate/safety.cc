#include "locate/safety.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <vector>

#include "ax/attributes.h"
#include "text/text.h"

namespace kelp::locate {
namespace {

constexpr std::size_t CARD_DIGITS_MIN = 13;
constexpr std::size_t CARD_DIGITS_MAX = 19;

// Keys that press the focused control as a click would.
constexpr std::array<std::string_view, 4> PRESSING_KEYS = {"return", "enter", "keypadenter", "space"};

// The paste shortcuts: the editing modifier (control, or command on the
// Mac) with V, and shift with Insert.
bool isPaste(std::string_view key, std::uint64_t flags) {
  if (key == "v") return (flags & (platform::flags::control | platform::flags::command)) != 0;
  if (key == "insert") return (flags & platform::flags::shift) != 0;
  return false;
}

std::shared_ptr<const icu::RegexPattern> compile(std::u16string_view pattern) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError where;
  icu::UnicodeString source(pattern.data(), static_cast<int32_t>(pattern.size()));
  std::shared_ptr<const icu::RegexPattern> compiled(icu::RegexPattern::compile(source, UREGEX_CASE_INSENSITIVE, where, status));
  // The patterns are constants; a failure here would be a broken ICU, and
  // then the gate refuses rather than lets everything through.
  if (U_FAILURE(status)) return nullptr;
  return compiled;
}

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

bool refusedBy(const std::shared_ptr<const icu::RegexPattern>& pattern, const GateTarget& target) {
  return !pattern || matches(*pattern, target.label + " " + target.identifier);
}

bool passesLuhn(const std::vector<int>& digits) {
  int sum = 0;
  bool doubled = false;
  for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit) {
    const int value = doubled ? *digit * 2 : *digit;
    sum += value > 9 ? value - 9 : value;
    doubled = !doubled;
  }
  return sum % 10 == 0;
}

// Whether the digits of one run, in groups as the separators part them,
// hold a card number: the whole run, or any stretch of whole groups, so that
// a card number written beside other numbers is still seen.
bool runHoldsCardNumber(const std::vector<std::vector<int>>& groups) {
  for (std::size_t first = 0; first < groups.size(); ++first) {
    std::vector<int> digits;
    for (std::size_t last = first; last < groups.size(); ++last) {
      digits.insert(digits.end(), groups[last].begin(), groups[last].end());
      if (digits.size() > CARD_DIGITS_MAX) break;
      if (digits.size() >= CARD_DIGITS_MIN && passesLuhn(digits)) return true;
    }
  }
  return false;
}

}  // namespace

SafetyPatterns compileSafetyPatterns() {
  return {compile(HARD_FIELD_PATTERN), compile(HARD_ACTION_PATTERN), compile(DIGIT_RUN_PATTERN)};
}

bool matches(const icu::RegexPattern& expression, std::string_view text) {
  icu::UnicodeString subject = unicode(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(expression.matcher(subject, status));
  if (U_FAILURE(status) || !matcher) return false;
  bool found = matcher->find(0, status);
  return U_SUCCESS(status) && found;
}

GateTarget gateTarget(const ax::Node& node) { return {node.label, node.identifier}; }

GateTarget gateTarget(platform::Accessibility& ax, const platform::Element& element) {
  return {ax::label(ax, element), ax::str(ax, element, "AXIdentifier")};
}

bool hardBlocked(const SafetyPatterns& patterns, const GateTarget& target, std::string_view action) {
  if (action == "type") return refusedBy(patterns.hardField, target);
  // A double click presses a button just as a click does.
  if (action == "click" || action == "doubleclick") return refusedBy(patterns.hardAction, target);
  return false;
}

bool hardBlocked(const SafetyPatterns& patterns, const ax::Node& node, std::string_view action) {
  return hardBlocked(patterns, gateTarget(node), action);
}

bool holdsCardNumber(const SafetyPatterns& patterns, std::string_view text) {
  if (!patterns.digitRun) return true;
  icu::UnicodeString subject = unicode(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(patterns.digitRun->matcher(subject, status));
  if (U_FAILURE(status) || !matcher) return true;
  while (matcher->find(status) && U_SUCCESS(status)) {
    const icu::UnicodeString run = matcher->group(status);
    std::vector<std::vector<int>> groups(1);
    for (int32_t i = 0; i < run.length(); i = run.moveIndex32(i, 1)) {
      const int32_t value = u_charDigitValue(run.char32At(i));
      if (value < 0) {
        groups.emplace_back();
      } else {
        groups.back().push_back(value);
      }
    }
    if (runHoldsCardNumber(groups)) return true;
  }
  return false;
}

bool gateRefuses(const SafetyPatterns& patterns, const TargetReader& readTarget, const GateStep& step) {
  using Kind = GateStep::Kind;
  auto targetRefusedBy = [&](const std::shared_ptr<const icu::RegexPattern>& pattern) {
    const std::optional<GateTarget> target = readTarget();
    return target && refusedBy(pattern, *target);
  };
  switch (step.kind) {
    case Kind::elementAction: {
      if (step.action == "type" && holdsCardNumber(patterns, step.text)) return true;
      const std::optional<GateTarget> target = readTarget();
      if (!target) return false;
      if (hardBlocked(patterns, *target, step.action)) return true;
      // Typing into a payment button presses it: with a space or a line break.
      return step.action == "type" && refusedBy(patterns.hardAction, *target);
    }
    case Kind::typing:
      return holdsCardNumber(patterns, step.text) || targetRefusedBy(patterns.hardField) ||
             targetRefusedBy(patterns.hardAction);
    case Kind::keyPress: {
      const std::string key = text::toLower(step.key);
      // A paste types whatever the clipboard holds into the field.
      if (isPaste(key, step.flags)) return targetRefusedBy(patterns.hardField);
      const bool presses = std::find(PRESSING_KEYS.begin(), PRESSING_KEYS.end(), key) != PRESSING_KEYS.end();
      return presses && targetRefusedBy(patterns.hardAction);
    }
    case Kind::menuChoice:
      return targetRefusedBy(patterns.hardAction);
  }
  return true;
}

}  // namespace kelp::locate
