// GoogleTest first: the AT-SPI headers bring X11's macros (None, Bool, ...).
#include <gtest/gtest.h>

#include "platform/linux/atspi/ax_writes.h"

namespace kelp::platform::linux_desktop {
namespace {

std::vector<OfferedAction> offering(std::initializer_list<std::pair<const char*, const char*>> actions) {
  std::vector<OfferedAction> offered;
  for (const auto& [name, localized] : actions) offered.push_back({name, localized});
  return offered;
}

TEST(ActionChoiceTest, PressPrefersClickOverLaterNamesWhereverItStands) {
  EXPECT_EQ(actionFor("AXPress", offering({{"activate", "Activate"}, {"click", "Click"}})), 1u);
  EXPECT_EQ(actionFor("AXPress", offering({{"toggle", ""}, {"press", "Press"}})), 1u);
  // GTK's table cells list descriptions where names belong, after a real one.
  EXPECT_EQ(actionFor("AXPress", offering({{"toggle", "Toggle"},
                                           {"Expands or contracts the row", "Expands or contracts the row"},
                                           {"Activates the cell", "Activates the cell"}})),
            0u);
  EXPECT_EQ(actionFor("AXPress", offering({{"expand or contract", ""}, {"edit", "Edit"}})), std::nullopt);
  EXPECT_EQ(actionFor("AXPress", {}), std::nullopt);
}

TEST(ActionChoiceTest, NamesMatchHoweverToolkitsSpellThem) {
  EXPECT_EQ(actionFor("AXPress", offering({{"Press", "Drücken"}})), 0u);
  EXPECT_EQ(actionFor("AXShowMenu", offering({{"Press", ""}, {"ShowMenu", ""}})), 1u);
  EXPECT_EQ(actionFor("AXShowMenu", offering({{"show_menu", ""}})), 0u);
  EXPECT_EQ(actionFor("AXShowMenu", offering({{"popup-menu", ""}})), 0u);
  EXPECT_EQ(actionFor("AXShowMenu", offering({{"click", "Click"}})), std::nullopt);
  // Without a name for programs, the name people see is all there is; with
  // one, a localized name never decides.
  EXPECT_EQ(actionFor("AXPress", offering({{"", "Click"}})), 0u);
  EXPECT_EQ(actionFor("AXPress", offering({{"klicken", "Click"}})), std::nullopt);
  EXPECT_EQ(actionFor("AXSelected", offering({{"activate", ""}, {"Select", ""}})), 1u);
}

TEST(ActionChoiceTest, OnlyKnownAxActionsHaveNames) {
  const std::vector<OfferedAction> everything =
      offering({{"click", ""}, {"menu", ""}, {"select", ""}, {"cancel", ""}, {"raise", ""}});
  EXPECT_EQ(actionFor("AXCancel", everything), std::nullopt);
  EXPECT_EQ(actionFor("AXRaise", everything), std::nullopt) << "windows are raised by the window manager";
  EXPECT_EQ(actionFor("click", everything), std::nullopt) << "AT-SPI names are not AX names";
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
