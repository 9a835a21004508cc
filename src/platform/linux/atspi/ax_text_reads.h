// What an object says in words, as the AX attributes that carry text: its
// title, description, placeholder, help and value, each read the way its
// toolkit tells it.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/linux/atspi/ax_reads.h"

namespace kelp::platform::linux_desktop {

// Whitespace-only names count as none, as the core trims labels.
inline bool blank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

inline Value nonEmpty(const std::string& value) {
  if (value.empty()) return {};
  return value;
}

Value readTitle(ReadScope& scope, const ObjectRef& ref);
Value readDescription(ReadScope& scope, const ObjectRef& ref);
Value readPlaceholder(ReadScope& scope, const ObjectRef& ref);
Value readHelp(ReadScope& scope, const ObjectRef& ref);
Value readValue(ReadScope& scope, const ObjectRef& ref);

}  // namespace kelp::platform::linux_desktop
