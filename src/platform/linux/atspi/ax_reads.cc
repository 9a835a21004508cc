// One reader per AX attribute, over the facts of an object.
#include "platform/linux/atspi/ax_reads.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "platform/linux/atspi/ax_roles.h"
#include "platform/linux/atspi/ax_text_reads.h"
#include "platform/linux/atspi/ax_window_reads.h"
#include "platform/linux/rules.h"
#include "platform/linux/shortcut_key.h"

namespace kelp::platform::linux_desktop {

Value element(const std::optional<ObjectRef>& ref, Presentation as) {
  if (!ref) return {};
  Element found = elementFor(*ref, as);
  if (!found) return {};
  return found;
}

Value elementList(const std::vector<ObjectRef>& refs) {
  ValueList list;
  for (const ObjectRef& ref : refs) {
    if (Element found = elementFor(ref)) list.emplace_back(std::move(found));
  }
  return list;
}

namespace {

// ---- attribute readers -----------------------------------------------------------

Value readRole(ReadScope& scope, const ObjectRef& ref) {
  const std::string_view role = axRoleOf(scope.facts, ref);
  if (role.empty()) return {};
  return std::string(role);
}


Value readIdentifier(ReadScope& scope, const ObjectRef& ref) {
  return nonEmpty(scope.facts.need(ref, IDENTIFIER).accessibleId);
}

Value stateFlag(ReadScope& scope, const ObjectRef& ref, AtspiStateType state) {
  const Facts& facts = scope.facts.need(ref, STATES);
  if (!facts.has(STATES)) return {};
  return facts.hasState(state);
}

Value readEnabled(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, STATES);
  if (!facts.has(STATES)) return {};
  // GTK 3, Qt and the browsers tell both or neither; GTK 4 tells
  // "sensitive" alone, LibreOffice's cells "enabled" alone.
  return facts.hasState(ATSPI_STATE_ENABLED) || facts.hasState(ATSPI_STATE_SENSITIVE);
}

Value readFocused(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_FOCUSED);
}
// Only what can be selected has a selected state to tell.
Value readSelected(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, STATES);
  if (!facts.hasState(ATSPI_STATE_SELECTABLE) && !facts.hasState(ATSPI_STATE_SELECTED)) return {};
  return stateFlag(scope, ref, ATSPI_STATE_SELECTED);
}
Value readExpanded(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_EXPANDED);
}
Value readMinimized(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_ICONIFIED);
}

// How far above an object its menu may be: an item's label, the item.
constexpr int MENU_SEARCH_DEPTH = 3;

// Where the popup that `ref` shows in has the corner the toolkit measures
// it from, when `ref` is in a menu that opened in a popup of its own. GTK
// places its menus on Wayland where it asked for them, measured from its
// window, but the compositor puts the popup where it fits: the showing
// items of the menu, taken together, fill the popup, and so tell which
// popup and how far the compositor moved it.
std::optional<Point> popupPlaceOf(ReadScope& scope, const ObjectRef& ref) {
  if (!scope.popupPlace) return std::nullopt;
  std::optional<ObjectRef> at = scope.facts.need(ref, PARENT).parent;
  for (int depth = 0; at && depth < MENU_SEARCH_DEPTH; ++depth) {
    const AtspiRole role = scope.facts.need(*at, ROLE).role;
    if (role == ATSPI_ROLE_MENU || role == ATSPI_ROLE_POPUP_MENU) {
      std::optional<RootRect> items;
      for (const ObjectRef& item : scope.facts.need(*at, CHILDREN).children) {
        if (!onScreen(scope.facts, item)) continue;
        const Facts& known = scope.facts.need(item, EXTENTS);
        if (!known.has(EXTENTS) || known.extents.width <= 0 || known.extents.height <= 0) continue;
        const RootRect rect{known.extents.x, known.extents.y, known.extents.width, known.extents.height};
        items = items ? unionOf(*items, rect) : rect;
      }
      if (!items) return std::nullopt;
      return scope.popupPlace(*at, *items);
    }
    if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG) return std::nullopt;
    at = scope.facts.need(*at, PARENT).parent;
  }
  return std::nullopt;
}

// Objects that are not showing have no place on screen to act at: toolkits
// report them nowhere (GTK) or where they would be if shown.
std::optional<ScreenFrame> frameOf(ReadScope& scope, const ObjectRef& ref) {
  if (!onScreen(scope.facts, ref)) return std::nullopt;
  const Facts& facts = scope.facts.need(ref, EXTENTS);
  if (!facts.has(EXTENTS)) return std::nullopt;
  Point origin = scope.screenOrigin ? scope.screenOrigin() : Point{};
  // Toolkits that measure from their window's top left leave it to the
  // window manager or compositor to say where that is.
  if (scope.facts.toolkitOf(ref.bus).windowRelative()) {
    std::optional<Point> place = popupPlaceOf(scope, ref);
    if (!place) {
      const std::optional<ObjectRef> window = windowOf(scope.facts, ref);
      place = window && scope.windowPlace ? scope.windowPlace(*window) : std::nullopt;
    }
    if (!place) return std::nullopt;
    origin = {origin.x - place->x, origin.y - place->y};
  }
  return frameFromExtents(facts.extents, origin);
}

Value readPosition(ReadScope& scope, const ObjectRef& ref) {
  std::optional<ScreenFrame> frame = frameOf(scope, ref);
  if (!frame) return {};
  return frame->position;
}

Value readSize(ReadScope& scope, const ObjectRef& ref) {
  std::optional<ScreenFrame> frame = frameOf(scope, ref);
  if (!frame) return {};
  return frame->size;
}

Value atspiChildren(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, CHILDREN);
  if (!facts.has(CHILDREN)) return {};
  return elementList(facts.children);
}

Value readChildren(ReadScope& scope, const ObjectRef& ref) {
  // Such an item's own children are its submenu's items; its one child is
  // the submenu.
  if (presentsSubmenu(scope.facts, ref)) return ValueList{element(ref, Presentation::submenu)};
  return atspiChildren(scope, ref);
}

Value readParent(ReadScope& scope, const ObjectRef& ref) {
  // The application is the top; above it is only the registry.
  if (isApplication(scope.facts, ref)) return {};
  const std::optional<ObjectRef> parent = scope.facts.need(ref, PARENT).parent;
  if (!parent || *parent == desktopRef()) return {};
  // The items of a submenu name the item that opens it.
  if (presentsSubmenu(scope.facts, *parent)) return element(parent, Presentation::submenu);
  return element(parent);
}

// The shortcut's key of a menu item (see shortcutKey). Menu bar items and
// other controls are left out: the bindings GTK gives them are mnemonics.
Value readCommandCharacter(ReadScope& scope, const ObjectRef& ref) {
  if (axRoleOf(scope.facts, ref) != "AXMenuItem") return {};
  const Facts& facts = scope.facts.need(ref, KEY_BINDING);
  if (!facts.has(KEY_BINDING)) return {};
  return nonEmpty(shortcutKey(facts.keyBinding));
}

Value readMain(ReadScope& scope, const ObjectRef& ref) {
  if (axRoleOf(scope.facts, ref) != "AXWindow") return {};
  return stateFlag(scope, ref, ATSPI_STATE_ACTIVE);
}


// ---- the submenu of an item (Presentation::submenu) ------------------------------

Value readSubmenuRole(ReadScope&, const ObjectRef&) { return "AXMenu"; }

Value readSubmenuParent(ReadScope&, const ObjectRef& ref) { return element(ref); }

using Reader = Value (*)(ReadScope&, const ObjectRef&);

struct AttributeRow {
  std::string_view name;
  Reader read;
  Reader readSubmenu = nullptr;  // none: a submenu has no such attribute
};

// AX attribute -> its AT-SPI source. Attributes missing here read as none.
constexpr AttributeRow ATTRIBUTE_SOURCES[] = {
    {"AXRole", readRole, readSubmenuRole},
    {"AXTitle", readTitle},
    {"AXDescription", readDescription},
    {"AXPlaceholderValue", readPlaceholder},
    {"AXHelp", readHelp},
    {"AXValue", readValue},
    {"AXIdentifier", readIdentifier},
    {"AXEnabled", readEnabled},
    {"AXFocused", readFocused},
    {"AXSelected", readSelected},
    {"AXExpanded", readExpanded},
    {"AXMinimized", readMinimized},
    {"AXPosition", readPosition},
    {"AXSize", readSize},
    {"AXChildren", readChildren, atspiChildren},
    {"AXParent", readParent, readSubmenuParent},
    {"AXWindows", readWindows},
    {"AXFocusedWindow", readFocusedWindow},
    {"AXMainWindow", readFocusedWindow},
    {"AXFrontmost", readFrontmost},
    {"AXMain", readMain},
    {"AXMenuBar", readMenuBar},
    {"AXFocusedUIElement", readFocusedElement},
    {"AXWindow", readWindow, readWindow},
    {"AXMenuItemCmdChar", readCommandCharacter},
};

const AttributeRow* attributeRow(std::string_view name) {
  for (const AttributeRow& row : ATTRIBUTE_SOURCES) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

bool givesText(const Value& value) {
  const std::string* text = value.as<std::string>();
  return text && !blank(*text);
}

}  // namespace

std::optional<ScreenFrame> frameFromExtents(const Extents& extents, Point origin) {
  constexpr std::int32_t NOWHERE = std::numeric_limits<std::int32_t>::min();
  if (extents.x == NOWHERE || extents.y == NOWHERE || extents.width < 0 || extents.height < 0)
    return std::nullopt;
  return ScreenFrame{{extents.x - origin.x, extents.y - origin.y},
                     {static_cast<double>(extents.width), static_cast<double>(extents.height)}};
}

Value readAxAttribute(ReadScope& scope, const ObjectRef& ref, Presentation as, std::string_view name) {
  const AttributeRow* row = attributeRow(name);
  if (!row) return {};
  if (as == Presentation::object) return row->read(scope, ref);
  return row->readSubmenu ? row->readSubmenu(scope, ref) : Value{};
}

std::vector<std::pair<ObjectRef, Presentation>> childrenOf(ReadScope& scope, const ObjectRef& ref, Presentation as) {
  std::vector<std::pair<ObjectRef, Presentation>> children;
  const Value value = readAxAttribute(scope, ref, as, "AXChildren");
  if (const ValueList* list = value.as<ValueList>()) {
    for (const Value& item : *list) {
      const Element* child = item.as<Element>();
      if (std::optional<ObjectRef> childRef = child ? refOf(*child) : std::nullopt) {
        children.emplace_back(std::move(*childRef), presentationOf(*child));
      }
    }
  }
  return children;
}

PlannedRead readAsPlanned(ReadScope& scope, const ReadPlan& plan, const ObjectRef& ref, Presentation as,
                          PlannedReads reads) {
  PlannedRead read;
  std::string role;
  for (const std::string& name : plan.ofEvery) {
    if (name == "AXChildren") {
      read.children = childrenOf(scope, ref, as);
      continue;
    }
    const Value value = readAxAttribute(scope, ref, as, name);
    if (const std::string* text = value.as<std::string>(); text && name == "AXRole") role = *text;
  }
  read.recorded = std::find(plan.recordedRoles.begin(), plan.recordedRoles.end(), role) != plan.recordedRoles.end();
  if (!read.recorded || reads == PlannedReads::wayOn) return read;
  for (std::size_t i = 0; i < plan.firstNonBlank.size(); ++i) {
    const std::uint64_t lackedBefore = scope.facts.lackedReads();
    if (givesText(readAxAttribute(scope, ref, as, plan.firstNonBlank[i]))) break;
    // Most elements are named by the first source: the others wait until
    // it is known to be blank, where each costs a call of its own.
    if (i == 0 && scope.facts.lackedReads() != lackedBefore) break;
  }
  for (const std::string& name : plan.ofRecorded) readAxAttribute(scope, ref, as, name);
  return read;
}

}  // namespace kelp::platform::linux_desktop
