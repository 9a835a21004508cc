// The sets of roles that several subsystems decide by.
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

namespace kelp {

// The roles whose elements the tree walk records.
inline constexpr std::array<std::string_view, 18> INTERACTIVE = {
    "AXButton",      "AXLink",      "AXTextField", "AXTextArea",   "AXCheckBox", "AXRadioButton",
    "AXPopUpButton", "AXComboBox",  "AXMenuItem",  "AXMenuButton", "AXSlider",   "AXIncrementor",
    "AXTabGroup",    "AXRow",       "AXCell",      "AXDisclosureTriangle", "AXStaticText", "AXSearchField"};
// Roles whose elements a click presses, so that the gate weighs a click
// anywhere inside them as a press of them.
inline constexpr std::array<std::string_view, 5> PRESSABLE = {"AXButton", "AXLink", "AXMenuItem", "AXMenuButton",
                                                              "AXPopUpButton"};
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

}  // namespace kelp
