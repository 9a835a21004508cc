#include "locate/safety.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace kelp::locate {
namespace {

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

}  // namespace

SafetyPatterns compileSafetyPatterns() { return {compile(HARD_FIELD_PATTERN), compile(HARD_ACTION_PATTERN)}; }

bool matches(const icu::RegexPattern& expression, std::string_view text) {
  icu::UnicodeString subject =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(expression.matcher(subject, status));
  if (U_FAILURE(status) || !matcher) return false;
  bool found = matcher->find(0, status);
  return U_SUCCESS(status) && found;
}

bool hardBlocked(const SafetyPatterns& patterns, const ax::Node& node, std::string_view action) {
  const std::string subject = node.label + " " + node.identifier;
  auto refuses = [&](const std::shared_ptr<const icu::RegexPattern>& pattern) {
    return !pattern || matches(*pattern, subject);
  };
  if (action == "type") return refuses(patterns.hardField);
  // A double click presses a button just as a click does.
  if (action == "click" || action == "doubleclick") return refuses(patterns.hardAction);
  return false;
}

}  // namespace kelp::locate
