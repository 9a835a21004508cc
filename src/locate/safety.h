// The fixed local rule that refuses typing into card, account and identity
// number fields and pressing buttons that commit a payment, an order or a
// transfer. Not configurable and not bypassable by request fields.
#pragma once

#include <memory>
#include <string_view>

#include "ax/node.h"

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

// Both expressions, compiled once at start with only the case-insensitive flag.
struct SafetyPatterns {
  std::shared_ptr<const icu::RegexPattern> hardField;
  std::shared_ptr<const icu::RegexPattern> hardAction;
};

SafetyPatterns compileSafetyPatterns();

// True when `expression` matches anywhere in `text`.
bool matches(const icu::RegexPattern& expression, std::string_view text);

// True when `action` on `node` must be refused.
bool hardBlocked(const SafetyPatterns& patterns, const ax::Node& node, std::string_view action);

}  // namespace kelp::locate
