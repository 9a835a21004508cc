// Which AT-SPI role is which AX role, and what else each role decides: where
// its value comes from and where its label may. Reads and writes both decide
// by this one table.
#pragma once

#include <atspi/atspi.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/atspi/facts.h"

namespace kelp::platform::linux_desktop {

// ---- the table ------------------------------------------------------------------

// How the AX role of a row is decided beyond the AT-SPI role.
enum class RoleRule {
  plain,      // always the row's AX role
  textEntry,  // AXSearchField with search semantics, else AXTextField when
              // single-line (ENTRY always is), else AXTextArea
  comboBox,   // AXComboBox with an entry to type in, else AXPopUpButton
  menu,       // AXMenuBarItem in a menu bar, AXMenuItem (opening a submenu)
              // in a menu, else AXMenu (a combo box's list)
  menuItem,   // AXMenuBarItem in a menu bar, else AXMenuItem
  topLevel,   // AXWindow as an application's child, else AXGroup (the same
              // roles also name parts of windows and web pages)
  appChild,   // AXWindow only with an application as its parent (Qt 6 makes
              // its top-level dialogs fillers), else AXGroup
  editable,   // AXTextArea when editable (LibreOffice's document is made of
              // editable paragraphs), else AXGroup
};

// Where AXValue comes from.
enum class ValueSource {
  none,
  checked,    // integer: 1 checked, 2 mixed, 0 otherwise
  selected,   // integer: 1 selected, else 0 (a tab, which is a radio button)
  number,     // Value.CurrentValue, a floating-point number
  text,       // the Text interface's whole text
  entryText,  // an editable combo box: the text of its entry
};

enum LabelTrait : unsigned {
  // Without a name of its own it takes the name of the object labelling it
  // (a dialog's entry its label's text). Containers do not: their labelling
  // relations mean something else, and asking costs a call per object.
  LABELLED = 1u << 0,
  // It may show a placeholder ("placeholder-text" attribute).
  PLACEHOLDER = 1u << 1,
};

struct RoleRow {
  AtspiRole role;
  std::string_view axRole;
  RoleRule rule = RoleRule::plain;
  ValueSource value = ValueSource::none;
  unsigned traits = 0;
};

// The row of an AT-SPI role; roles the table does not list are AXGroup.
const RoleRow& rowOf(AtspiRole role);

bool isMenuRow(const RoleRow& row);
bool isTextRole(AtspiRole role);

// ---- decisions on plain facts (no desktop needed) -------------------------------

// What decides the AX role of an object besides its AT-SPI role.
struct RoleContext {
  std::uint64_t states = 0;  // bit n stands for AtspiStateType n
  std::optional<AtspiRole> parentRole;
  bool hasEditableTextChild = false;  // a combo box with an entry
  bool searchSemantics = false;       // the toolkit says it is a search field
};

// The AX role of an object; every existing object has one ("AXGroup" when
// nothing more telling fits).
std::string_view axRoleFor(AtspiRole role, const RoleContext& context);

// Whether an object with AT-SPI role `role` is an item that also stands for
// the submenu it opens, and so is presented a second time as its own AXMenu
// child (see Presentation): GTK's menu items with a submenu, in a menu bar
// or in a menu.
bool holdsSubmenu(AtspiRole role, const RoleContext& context);

// The facts the AX role of an object with AT-SPI role `role` depends on,
// beyond role and states.
bool roleDependsOnParent(AtspiRole role);
bool roleDependsOnChildren(AtspiRole role);
bool roleDependsOnAttributes(AtspiRole role);

// A check box's value: 1 checked, 2 mixed, 0 otherwise.
std::int64_t checkValue(std::uint64_t states);

// Whether an object with these search hints in its attributes ("xml-roles",
// as web engines set it) is a search field.
bool hasSearchSemantics(const std::map<std::string, std::string, std::less<>>& attributes);

// ---- decisions on an object's facts ---------------------------------------------

// The AX role of `ref`; empty when its role cannot be read.
std::string_view axRoleOf(FactSource& facts, const ObjectRef& ref);
bool isApplication(FactSource& facts, const ObjectRef& ref);
// Whether `ref` is an item that also presents the submenu it opens.
bool presentsSubmenu(FactSource& facts, const ObjectRef& ref);
// A combo box's entry: its child to type in.
std::optional<ObjectRef> entryOf(FactSource& facts, const ObjectRef& ref);
// Whether the toolkit says the object is on screen.
bool onScreen(FactSource& facts, const ObjectRef& ref);
// The window `ref` belongs to (itself when it is one); none for an
// application and for objects outside any window.
std::optional<ObjectRef> windowOf(FactSource& facts, const ObjectRef& ref);

// An application's children that are windows, in its order.
std::vector<ObjectRef> applicationWindows(FactSource& facts, const ObjectRef& application);
std::optional<ObjectRef> activeWindowOf(FactSource& facts, const ObjectRef& application);
// The application's windows, the active one first.
std::vector<ObjectRef> windowsActiveFirst(FactSource& facts, const ObjectRef& application);

}  // namespace kelp::platform::linux_desktop
