// The process-wide tables, read-only once start-up is over. Fixed tables are
// compile-time constants; the ones that need the platform are built at start.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "locate/safety.h"
#include "platform/platform.h"

namespace kelp {

// Roles whose elements take typed text.
inline constexpr std::array<std::string_view, 5> TEXT_ROLES = {"AXTextField", "AXTextArea", "AXSecureTextField",
                                                               "AXSearchField", "AXComboBox"};
// Roles whose focus starts the watching of a field.
inline constexpr std::array<std::string_view, 4> FOCUS_ROLES = {"AXTextField", "AXSecureTextField", "AXSearchField",
                                                                "AXComboBox"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view item) {
  return std::find(table.begin(), table.end(), item) != table.end();
}

// What start-up builds from the platform, in this order.
struct Globals {
  platform::Element systemWide;
  locate::SafetyPatterns safety;
  // The process's arguments, element 0 being the program path.
  std::vector<std::string> args;
};

}  // namespace kelp
