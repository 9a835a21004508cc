// GoogleTest first: the AT-SPI headers bring X11's macros (None, Bool, ...).
#include <gtest/gtest.h>

#include "platform/linux/atspi/ax_roles.h"

namespace kelp::platform::linux_desktop {
namespace {

std::uint64_t bit(AtspiStateType state) { return std::uint64_t{1} << state; }

// The context of an object whose parent has `parent` for its role.
RoleContext under(AtspiRole parent) {
  RoleContext context;
  context.parentRole = parent;
  return context;
}

TEST(AxRoleTest, ControlsMapToTheirAxRoles) {
  const RoleContext plain;
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_PUSH_BUTTON, plain), "AXButton");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_TOGGLE_BUTTON, plain), "AXCheckBox");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_CHECK_BOX, plain), "AXCheckBox");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_RADIO_BUTTON, plain), "AXRadioButton");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_PASSWORD_TEXT, plain), "AXSecureTextField");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_SPIN_BUTTON, plain), "AXIncrementor");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_SLIDER, plain), "AXSlider");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_LINK, plain), "AXLink");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_PAGE_TAB_LIST, plain), "AXTabGroup");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_PAGE_TAB, plain), "AXRadioButton");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_TABLE_CELL, plain), "AXCell");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_LABEL, plain), "AXStaticText");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_FRAME, plain), "AXWindow");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_APPLICATION, plain), "AXApplication");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_MENU_BAR, plain), "AXMenuBar");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_CHECK_MENU_ITEM, plain), "AXMenuItem");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_FILLER, plain), "AXGroup");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_INVALID, plain), "AXGroup") << "an existing object always has a role";
  EXPECT_EQ(axRoleFor(static_cast<AtspiRole>(ATSPI_ROLE_LAST_DEFINED + 7), plain), "AXGroup")
      << "a role newer than our headers";
}

TEST(AxRoleTest, TextAndComboBoxesDependOnTheirContext) {
  RoleContext singleLine;
  singleLine.states = bit(ATSPI_STATE_SINGLE_LINE);
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_ENTRY, RoleContext{}), "AXTextField");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_TEXT, singleLine), "AXTextField");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_TEXT, RoleContext{}), "AXTextArea");
  RoleContext search;
  search.searchSemantics = true;
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_ENTRY, search), "AXSearchField");

  RoleContext editable;
  editable.states = bit(ATSPI_STATE_EDITABLE);
  RoleContext withEntry;
  withEntry.hasEditableTextChild = true;
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_COMBO_BOX, RoleContext{}), "AXPopUpButton");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_COMBO_BOX, editable), "AXComboBox");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_COMBO_BOX, withEntry), "AXComboBox");
  EXPECT_TRUE(roleDependsOnChildren(ATSPI_ROLE_COMBO_BOX));
  EXPECT_FALSE(roleDependsOnChildren(ATSPI_ROLE_PUSH_BUTTON));
}

TEST(AxRoleTest, MenusAreNamedByWhereTheyStand) {
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_MENU, under(ATSPI_ROLE_MENU_BAR)), "AXMenuBarItem");
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_MENU, under(ATSPI_ROLE_MENU)), "AXMenuItem")
      << "a submenu opens from an item";
  EXPECT_EQ(axRoleFor(ATSPI_ROLE_MENU_ITEM, under(ATSPI_ROLE_MENU)), "AXMenuItem");
  EXPECT_TRUE(roleDependsOnParent(ATSPI_ROLE_MENU));
}

TEST(AxRoleTest, OnlyGtkStyleItemsStandForTheirSubmenuToo) {
  EXPECT_TRUE(holdsSubmenu(ATSPI_ROLE_MENU, under(ATSPI_ROLE_MENU_BAR)));
  EXPECT_TRUE(holdsSubmenu(ATSPI_ROLE_MENU, under(ATSPI_ROLE_MENU)));
  EXPECT_TRUE(holdsSubmenu(ATSPI_ROLE_MENU, under(ATSPI_ROLE_POPUP_MENU)));
  EXPECT_FALSE(holdsSubmenu(ATSPI_ROLE_MENU, under(ATSPI_ROLE_COMBO_BOX)))
      << "a combo box's list is the AXMenu itself";
  EXPECT_FALSE(holdsSubmenu(ATSPI_ROLE_MENU, RoleContext{}));
  // Toolkits that give the submenu an object of its own need no second
  // presentation of the item.
  EXPECT_FALSE(holdsSubmenu(ATSPI_ROLE_MENU_ITEM, under(ATSPI_ROLE_MENU_BAR)));
  EXPECT_FALSE(holdsSubmenu(ATSPI_ROLE_MENU_ITEM, under(ATSPI_ROLE_MENU)));
  EXPECT_FALSE(holdsSubmenu(ATSPI_ROLE_POPUP_MENU, under(ATSPI_ROLE_MENU)));
}

TEST(CheckValueTest, CheckedPressedAndMixed) {
  EXPECT_EQ(checkValue(0), 0);
  EXPECT_EQ(checkValue(bit(ATSPI_STATE_CHECKED)), 1);
  EXPECT_EQ(checkValue(bit(ATSPI_STATE_PRESSED)), 1);
  EXPECT_EQ(checkValue(bit(ATSPI_STATE_INDETERMINATE) | bit(ATSPI_STATE_CHECKED)), 2);
}

TEST(SearchSemanticsTest, XmlRolesNameASearchBox) {
  EXPECT_TRUE(hasSearchSemantics({{"xml-roles", "searchbox"}}));
  EXPECT_TRUE(hasSearchSemantics({{"xml-roles", "combobox searchbox"}}));
  EXPECT_FALSE(hasSearchSemantics({{"xml-roles", "textbox"}}));
  EXPECT_FALSE(hasSearchSemantics({{"placeholder-text", "searchbox"}}));
  EXPECT_FALSE(hasSearchSemantics({}));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
