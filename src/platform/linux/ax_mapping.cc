#include "platform/linux/ax_mapping.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/rules.h"

namespace kelp::platform::linux_x11 {
namespace {

// ---- roles ---------------------------------------------------------------------

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

enum Trait : unsigned {
  // Without a name of its own it takes the name of the object labelling it
  // (a dialog's entry its label's text). Containers do not: their labelling
  // relations mean something else, and asking costs a call per object.
  LABELLED = 1u << 0,
  // It may show a placeholder ("placeholder-text" attribute).
  PLACEHOLDER = 1u << 1,
  // A walk records it and reads its identifier, frame and value. Only
  // fetching ahead uses this, so it can lag behind the core's list at the
  // cost of speed alone.
  RECORDED = 1u << 2,
};

struct RoleRow {
  AtspiRole role;
  std::string_view axRole;
  RoleRule rule = RoleRule::plain;
  ValueSource value = ValueSource::none;
  unsigned traits = 0;
};

using enum RoleRule;
using enum ValueSource;

constexpr unsigned CONTROL = LABELLED | RECORDED;
constexpr unsigned FIELD = LABELLED | PLACEHOLDER | RECORDED;

// AT-SPI role -> AX role. Roles missing here are AXGroup.
constexpr RoleRow ROLES[] = {
    // Applications and windows
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_FRAME, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow", topLevel},
    {ATSPI_ROLE_FILE_CHOOSER, "AXWindow", topLevel},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXWindow", topLevel},
    {ATSPI_ROLE_FONT_CHOOSER, "AXWindow", topLevel},
    // Buttons
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton", plain, none, CONTROL},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton", plain, none, CONTROL},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox", plain, checked, CONTROL},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox", plain, checked, CONTROL},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton", plain, checked, CONTROL},
    {ATSPI_ROLE_LINK, "AXLink", plain, none, CONTROL},
    // Text
    {ATSPI_ROLE_TEXT, "AXTextArea", textEntry, text, FIELD},
    {ATSPI_ROLE_ENTRY, "AXTextField", textEntry, text, FIELD},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXSecureTextField", plain, text, FIELD},
    {ATSPI_ROLE_EDITBAR, "AXTextField", plain, text, FIELD},
    {ATSPI_ROLE_TERMINAL, "AXTextArea", plain, text, CONTROL},
    {ATSPI_ROLE_LABEL, "AXStaticText", plain, text, RECORDED},
    {ATSPI_ROLE_STATIC, "AXStaticText", plain, text, RECORDED},
    {ATSPI_ROLE_CAPTION, "AXStaticText", plain, text, RECORDED},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText", plain, text, RECORDED},
    {ATSPI_ROLE_HEADING, "AXHeading", plain, text},
    // Choices and ranges
    {ATSPI_ROLE_COMBO_BOX, "AXPopUpButton", comboBox, entryText, CONTROL},
    {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor", plain, number, FIELD},
    {ATSPI_ROLE_SLIDER, "AXSlider", plain, number, CONTROL},
    {ATSPI_ROLE_DIAL, "AXSlider", plain, number, CONTROL},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar", plain, number},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator", plain, number, LABELLED},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator", plain, number, LABELLED},
    // Menus
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU, "AXMenu", menu, none, RECORDED},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem", menuItem, none, RECORDED},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem", menuItem, checked, RECORDED},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem", menuItem, checked, RECORDED},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem", menuItem, none, RECORDED},
    // Tabs
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup", plain, none, CONTROL},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton", plain, selected, RECORDED},
    // Tables, lists and trees
    {ATSPI_ROLE_TABLE, "AXTable", plain, none, LABELLED},
    {ATSPI_ROLE_TREE_TABLE, "AXTable", plain, none, LABELLED},
    {ATSPI_ROLE_TREE, "AXOutline", plain, none, LABELLED},
    {ATSPI_ROLE_LIST, "AXList", plain, none, LABELLED},
    {ATSPI_ROLE_LIST_BOX, "AXList", plain, none, LABELLED},
    {ATSPI_ROLE_TABLE_ROW, "AXRow", plain, none, RECORDED},
    {ATSPI_ROLE_LIST_ITEM, "AXRow", plain, none, RECORDED},
    {ATSPI_ROLE_TREE_ITEM, "AXRow", plain, none, RECORDED},
    {ATSPI_ROLE_TABLE_CELL, "AXCell", plain, none, RECORDED},
    // Column headers sort when pressed.
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXButton", plain, none, RECORDED},
    {ATSPI_ROLE_COLUMN_HEADER, "AXButton", plain, none, RECORDED},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell", plain, none, RECORDED},
    {ATSPI_ROLE_ROW_HEADER, "AXCell", plain, none, RECORDED},
    // Structure
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_DESKTOP_ICON, "AXImage"},
    {ATSPI_ROLE_ANIMATION, "AXImage"},
    {ATSPI_ROLE_TOOL_TIP, "AXHelpTag"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
};

constexpr RoleRow GROUP_ROW{ATSPI_ROLE_UNKNOWN, "AXGroup"};

const RoleRow& rowOf(AtspiRole role) {
  for (const RoleRow& row : ROLES) {
    if (row.role == role) return row;
  }
  return GROUP_ROW;
}

bool hasState(std::uint64_t states, AtspiStateType state) {
  return (states >> static_cast<unsigned>(state)) & 1u;
}

bool isTextRole(AtspiRole role) { return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY; }

// Whitespace-only names count as none, as the core trims labels.
bool blank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

bool mayBeRecorded(const RoleRow& row) { return (row.traits & RECORDED) != 0; }

bool isMenuRow(const RoleRow& row) { return row.rule == RoleRule::menu || row.rule == RoleRule::menuItem; }

std::string withoutTrailingSpace(std::string_view text) {
  while (!text.empty() && blank(text.substr(text.size() - 1))) text.remove_suffix(1);
  return std::string(text);
}

// ---- facts behind attributes ----------------------------------------------------

// A combo box's entry: its child to type in.
std::optional<ObjectRef> entryOf(FactStore& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, CHILDREN);
  for (const ObjectRef& child : facts.children) {
    const Facts& childFacts = store.need(child, ROLE | STATES);
    if (childFacts.has(ROLE) && isTextRole(childFacts.role) && childFacts.hasState(ATSPI_STATE_EDITABLE))
      return child;
  }
  return std::nullopt;
}

Value nonEmpty(const std::string& value) {
  if (value.empty()) return {};
  return value;
}

Value element(const std::optional<ObjectRef>& ref, Presentation as = Presentation::object) {
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

bool isApplication(FactStore& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE);
  return facts.has(ROLE) && facts.role == ATSPI_ROLE_APPLICATION;
}

// What decides the AX role of `ref` besides the role and states in
// `facts`; only what its role depends on is read.
RoleContext roleContextOf(FactStore& store, const ObjectRef& ref, const Facts& facts) {
  RoleContext context;
  context.states = facts.states;
  if (roleDependsOnParent(facts.role)) {
    if (const std::optional<ObjectRef> parent = store.need(ref, PARENT).parent) {
      const Facts& parentFacts = store.need(*parent, ROLE);
      if (parentFacts.has(ROLE)) context.parentRole = parentFacts.role;
    }
  }
  if (roleDependsOnAttributes(facts.role)) {
    context.searchSemantics = hasSearchSemantics(store.need(ref, ATTRIBUTES).attributes);
  }
  if (roleDependsOnChildren(facts.role) && !facts.hasState(ATSPI_STATE_EDITABLE)) {
    context.hasEditableTextChild = entryOf(store, ref).has_value();
  }
  return context;
}

// Asked of every object a walk passes and of every parent read, so the
// role alone rules out all but menus before anything else is fetched.
bool presentsSubmenu(FactStore& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE);
  if (!facts.has(ROLE) || rowOf(facts.role).rule != RoleRule::menu) return false;
  return holdsSubmenu(facts.role, roleContextOf(store, ref, store.need(ref, ROLE | STATES)));
}

std::optional<ObjectRef> activeWindowOf(FactStore& store, const ObjectRef& application) {
  for (const ObjectRef& window : applicationWindows(store, application)) {
    if (store.need(window, STATES).hasState(ATSPI_STATE_ACTIVE)) return window;
  }
  return std::nullopt;
}

// The application's windows, the active one first.
std::vector<ObjectRef> windowsActiveFirst(FactStore& store, const ObjectRef& application) {
  std::vector<ObjectRef> windows = applicationWindows(store, application);
  std::stable_partition(windows.begin(), windows.end(), [&](const ObjectRef& window) {
    return store.need(window, STATES).hasState(ATSPI_STATE_ACTIVE);
  });
  return windows;
}

// ---- attribute readers -----------------------------------------------------------

Value readRole(ReadScope& scope, const ObjectRef& ref) {
  const std::string_view role = axRoleOf(scope.facts, ref);
  if (role.empty()) return {};
  return std::string(role);
}

Value readTitle(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, ROLE | NAMING);
  if (!facts.has(NAMING)) return {};
  if (!blank(facts.name)) {
    // GTK pads the names of menu items that show a shortcut with the spaces
    // that separate the two on screen.
    if (facts.has(ROLE) && isMenuRow(rowOf(facts.role))) return withoutTrailingSpace(facts.name);
    return facts.name;
  }
  if (!facts.has(ROLE)) return {};
  if (rowOf(facts.role).axRole == "AXWindow" && axRoleOf(scope.facts, ref) == "AXWindow") {
    // GTK leaves the accessible name of a window without a title of its own
    // empty while the window manager shows the program's name.
    if (!scope.windowManagerTitle) return {};
    std::optional<std::string> title = scope.windowManagerTitle(ref);
    return title ? nonEmpty(*title) : Value{};
  }
  if (!(rowOf(facts.role).traits & LABELLED)) return {};
  for (const ObjectRef& label : scope.facts.need(ref, RELATIONS).labelledBy) {
    const Facts& labelFacts = scope.facts.need(label, NAMING);
    if (!blank(labelFacts.name)) return labelFacts.name;
  }
  return {};
}

Value readDescription(ReadScope& scope, const ObjectRef& ref) {
  return nonEmpty(scope.facts.need(ref, NAMING).description);
}

Value readPlaceholder(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, ROLE);
  if (!facts.has(ROLE) || !(rowOf(facts.role).traits & PLACEHOLDER)) return {};
  const auto& attributes = scope.facts.need(ref, ATTRIBUTES).attributes;
  auto found = attributes.find("placeholder-text");
  return found == attributes.end() ? Value{} : nonEmpty(found->second);
}

// AT-SPI has help text since 2.52 (HelpText); older bridges put a tooltip in
// the description, where labelFull finds it first anyway.
Value readHelp(ReadScope& scope, const ObjectRef& ref) {
  if (!scope.facts.need(ref, STATES).hasState(ATSPI_STATE_HAS_TOOLTIP)) return {};
  return nonEmpty(scope.facts.need(ref, HELP).helpText);
}

Value readValue(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, ROLE | STATES);
  if (!facts.has(ROLE)) return {};
  switch (rowOf(facts.role).value) {
    case ValueSource::none:
      return {};
    case ValueSource::checked:
      if (!facts.has(STATES)) return {};
      return checkValue(facts.states);
    case ValueSource::selected:
      if (!facts.has(STATES)) return {};
      return std::int64_t{facts.hasState(ATSPI_STATE_SELECTED) ? 1 : 0};
    case ValueSource::number: {
      const Facts& withValue = scope.facts.need(ref, VALUE);
      if (!withValue.has(VALUE)) return {};
      return withValue.value;
    }
    case ValueSource::text: {
      const Facts& withText = scope.facts.need(ref, TEXT);
      if (!withText.has(TEXT)) return {};
      return withText.text;
    }
    case ValueSource::entryText: {
      if (axRoleOf(scope.facts, ref) != "AXComboBox") return {};
      const std::optional<ObjectRef> entry = entryOf(scope.facts, ref);
      if (!entry) return {};
      const Facts& entryFacts = scope.facts.need(*entry, TEXT);
      if (!entryFacts.has(TEXT)) return {};
      return entryFacts.text;
    }
  }
  return {};
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
  return facts.hasState(ATSPI_STATE_ENABLED) && facts.hasState(ATSPI_STATE_SENSITIVE);
}

Value readFocused(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_FOCUSED);
}
Value readSelected(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_SELECTED);
}
Value readExpanded(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_EXPANDED);
}
Value readMinimized(ReadScope& scope, const ObjectRef& ref) {
  return stateFlag(scope, ref, ATSPI_STATE_ICONIFIED);
}

// Objects that are not showing have no place on screen to act at: toolkits
// report them nowhere (GTK) or where they would be if shown.
std::optional<ScreenFrame> frameOf(ReadScope& scope, const ObjectRef& ref) {
  if (!scope.facts.need(ref, STATES).hasState(ATSPI_STATE_SHOWING)) return std::nullopt;
  const Facts& facts = scope.facts.need(ref, EXTENTS);
  if (!facts.has(EXTENTS)) return std::nullopt;
  return frameFromExtents(facts.extents, scope.screenOrigin ? scope.screenOrigin() : Point{});
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

Value readWindows(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return elementList(applicationWindows(scope.facts, ref));
}

Value readFocusedWindow(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return element(activeWindowOf(scope.facts, ref));
}

Value readFrontmost(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return activeWindowOf(scope.facts, ref).has_value();
}

Value readMain(ReadScope& scope, const ObjectRef& ref) {
  if (axRoleOf(scope.facts, ref) != "AXWindow") return {};
  return stateFlag(scope, ref, ATSPI_STATE_ACTIVE);
}

// A menu bar sits a few levels below its window; deeper ones belong to
// embedded content, not to the application.
constexpr int MENU_BAR_DEPTH = 4;

Value readMenuBar(ReadScope& scope, const ObjectRef& ref) {
  std::vector<ObjectRef> windows;
  if (isApplication(scope.facts, ref)) {
    windows = windowsActiveFirst(scope.facts, ref);
  } else if (axRoleOf(scope.facts, ref) == "AXWindow") {
    windows.push_back(ref);
  }
  for (const ObjectRef& window : windows) {
    // Breadth first, so the shallowest menu bar wins.
    std::deque<std::pair<ObjectRef, int>> queue{{window, 0}};
    while (!queue.empty()) {
      auto [current, depth] = std::move(queue.front());
      queue.pop_front();
      const Facts& facts = scope.facts.need(current, ROLE);
      if (facts.has(ROLE) && facts.role == ATSPI_ROLE_MENU_BAR) return element(current);
      if (depth >= MENU_BAR_DEPTH) continue;
      for (const ObjectRef& child : scope.facts.need(current, CHILDREN).children)
        queue.emplace_back(child, depth + 1);
    }
  }
  return {};
}

// Collection.GetMatches for the first descendant of `root` (in tree order)
// that has `state`; none when the toolkit has no collections or there is no
// such descendant.
std::optional<ObjectRef> firstWithState(FactStore& store, const ObjectRef& root, AtspiStateType state) {
  CallBatch batch(store.channels(), store.silent());
  const std::size_t call = batch.add(root, COLLECTION_INTERFACE, "GetMatches");
  DBusMessage* request = batch.request(call);
  if (!request) return std::nullopt;
  const std::uint64_t states = std::uint64_t{1} << static_cast<unsigned>(state);
  DBusMessageIter args;
  DBusMessageIter rule;
  DBusMessageIter array;
  const dbus_int32_t matchAll = ATSPI_Collection_MATCH_ALL;
  const dbus_int32_t low = static_cast<dbus_int32_t>(states & 0xffffffffu);
  const dbus_int32_t high = static_cast<dbus_int32_t>(states >> 32);
  const dbus_int32_t noRoles = 0;
  dbus_message_iter_init_append(request, &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array);
  dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &low);
  dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &high);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &array);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array);
  for (int word = 0; word < 4; ++word) dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &noRoles);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &array);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  const dbus_bool_t invert = FALSE;
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert);
  dbus_message_iter_close_container(&args, &rule);
  appendUint32(request, ATSPI_Collection_SORT_ORDER_CANONICAL);
  appendInt32(request, 1);
  appendBoolean(request, true);
  batch.run();
  MessageReader reply(batch.reply(call));
  std::optional<std::vector<ObjectRef>> matches = reply.objectRefs();
  if (!matches || matches->empty()) return std::nullopt;
  return matches->front();
}

// How far a search for the focused object goes where the toolkit has no
// collections.
constexpr int FOCUS_SEARCH_OBJECTS = 2000;

std::optional<ObjectRef> searchFocused(FactStore& store, const ObjectRef& window) {
  std::deque<ObjectRef> queue{window};
  for (int examined = 0; !queue.empty() && examined < FOCUS_SEARCH_OBJECTS; ++examined) {
    ObjectRef current = std::move(queue.front());
    queue.pop_front();
    const Facts& facts = store.need(current, STATES);
    if (facts.hasState(ATSPI_STATE_FOCUSED)) return current;
    for (const ObjectRef& child : store.need(current, CHILDREN).children) queue.push_back(child);
  }
  return std::nullopt;
}

Value readFocusedElement(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  // Toolkits leave the focused state on the last focused object of every
  // window, so the active window is asked first.
  const std::vector<ObjectRef> windows = windowsActiveFirst(scope.facts, ref);
  for (const ObjectRef& window : windows) {
    if (std::optional<ObjectRef> found = firstWithState(scope.facts, window, ATSPI_STATE_FOCUSED)) {
      return element(found);
    }
  }
  for (const ObjectRef& window : windows) {
    if (std::optional<ObjectRef> found = searchFocused(scope.facts, window)) return element(found);
  }
  return {};
}

// Windows nest only a few levels deep below their application, but a broken
// application can make its parents a cycle.
constexpr int WINDOW_ANCESTOR_LIMIT = 64;

Value readWindow(ReadScope& scope, const ObjectRef& ref) {
  std::optional<ObjectRef> current = ref;
  for (int examined = 0; current && examined < WINDOW_ANCESTOR_LIMIT; ++examined) {
    if (isApplication(scope.facts, *current)) return {};
    if (axRoleOf(scope.facts, *current) == "AXWindow") return element(current);
    current = scope.facts.need(*current, PARENT).parent;
  }
  return {};
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

// ---- actions -----------------------------------------------------------------------

// AT-SPI action names that carry out an AX action, the preferred first.
// Toolkits spell them differently ("click", "Press", "ShowMenu", "show menu"),
// so names are compared lower-cased and without spaces, '_' and '-'.
constexpr std::string_view PRESS_ACTIONS[] = {"click", "press", "activate", "toggle"};
constexpr std::string_view MENU_ACTIONS[] = {"showmenu", "menu", "popup", "popupmenu", "contextmenu"};
constexpr std::string_view SELECT_ACTIONS[] = {"select"};

struct ActionRow {
  std::string_view axName;
  std::span<const std::string_view> names;
  bool isAction;  // false: the action behind an attribute write
};

constexpr ActionRow ACTION_NAMES[] = {
    {"AXPress", PRESS_ACTIONS, true},
    {"AXShowMenu", MENU_ACTIONS, true},
    {"AXSelected", SELECT_ACTIONS, false},
};

const ActionRow* actionRow(std::string_view axName) {
  for (const ActionRow& row : ACTION_NAMES) {
    if (row.axName == axName) return &row;
  }
  return nullptr;
}

std::string comparable(std::string_view name) {
  std::string folded;
  for (char c : name) {
    if (c == ' ' || c == '_' || c == '-') continue;
    folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return folded;
}

// Performs the offered action that carries out `axName`; false when there is
// none.
bool doActionFor(WriteScope& scope, const ObjectRef& ref, std::string_view axName) {
  const std::optional<std::size_t> index = actionFor(axName, offeredActions(scope.facts, ref));
  return index && doAction(scope.facts, ref, static_cast<std::int32_t>(*index));
}

// ---- attribute writers -------------------------------------------------------------

std::optional<bool> flagOf(const Value& value) {
  if (const bool* flag = value.as<bool>()) return *flag;
  if (const std::int64_t* number = value.as<std::int64_t>()) return *number != 0;
  return std::nullopt;
}

std::optional<double> numberOf(const Value& value) {
  if (const double* number = value.as<double>()) {
    return std::isfinite(*number) ? std::optional(*number) : std::nullopt;
  }
  if (const std::int64_t* number = value.as<std::int64_t>()) return static_cast<double>(*number);
  if (const std::string* text = value.as<std::string>()) {
    // Numbers arrive as text from people too; all of it must be the number.
    double number = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, number);
    if (error == std::errc() && stop == end && std::isfinite(number)) return number;
  }
  return std::nullopt;
}

bool isWindow(FactStore& store, const ObjectRef& ref) { return axRoleOf(store, ref) == "AXWindow"; }

bool writeFocused(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  // Focus can be given, not taken away.
  if (flagOf(value) != true || isApplication(scope.facts, ref)) return false;
  if (isWindow(scope.facts, ref)) return scope.activateWindow && scope.activateWindow(ref);
  return grabFocus(scope.facts, ref);
}

bool writeValue(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  const Facts& facts = scope.facts.need(ref, ROLE);
  if (!facts.has(ROLE)) return false;
  const std::string* text = value.as<std::string>();
  switch (rowOf(facts.role).value) {
    case ValueSource::text:
      return text && setTextContents(scope.facts, ref, *text);
    case ValueSource::entryText: {
      if (!text || axRoleOf(scope.facts, ref) != "AXComboBox") return false;
      const std::optional<ObjectRef> entry = entryOf(scope.facts, ref);
      return entry && setTextContents(scope.facts, *entry, *text);
    }
    case ValueSource::number: {
      const std::optional<double> number = numberOf(value);
      return number && setCurrentValue(scope.facts, ref, *number);
    }
    case ValueSource::none:
    case ValueSource::checked:
    case ValueSource::selected:
      return false;
  }
  return false;
}

// Through the parent's Selection interface, which is where toolkits keep
// what is selected.
bool selectInParent(WriteScope& scope, const ObjectRef& ref, bool select) {
  const std::optional<ObjectRef>& parent = scope.facts.need(ref, PARENT).parent;
  if (!parent) return false;
  const std::optional<std::int32_t> index = indexInParent(scope.facts, ref);
  if (!index) return false;
  return select ? selectChild(scope.facts, *parent, *index) : deselectChild(scope.facts, *parent, *index);
}

bool writeSelected(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  const std::optional<bool> select = flagOf(value);
  if (!select) return false;
  if (selectInParent(scope, ref, *select)) return true;
  return *select && doActionFor(scope, ref, "AXSelected");
}

bool writePosition(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  const Point* position = value.as<Point>();
  if (!position || !std::isfinite(position->x) || !std::isfinite(position->y)) return false;
  if (!isWindow(scope.facts, ref) || !scope.placeWindow) return false;
  const Point origin = scope.screenOrigin ? scope.screenOrigin() : Point{};
  return scope.placeWindow(ref, Point{position->x + origin.x, position->y + origin.y}, std::nullopt);
}

bool writeSize(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  const Size* size = value.as<Size>();
  if (!size || !std::isfinite(size->w) || !std::isfinite(size->h)) return false;
  if (size->w <= 0 || size->h <= 0) return false;
  if (!isWindow(scope.facts, ref) || !scope.placeWindow) return false;
  return scope.placeWindow(ref, std::nullopt, *size);
}

bool writeFrontmost(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  if (flagOf(value) != true || !isApplication(scope.facts, ref)) return false;
  return scope.activateApplication && scope.activateApplication(ref);
}

bool writeMain(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  if (flagOf(value) != true || !isWindow(scope.facts, ref)) return false;
  return scope.activateWindow && scope.activateWindow(ref);
}

struct WriteRow {
  std::string_view name;
  bool (*write)(WriteScope&, const ObjectRef&, const Value&);
};

// AX attribute -> how it is written. Attributes missing here are read-only.
constexpr WriteRow ATTRIBUTE_WRITES[] = {
    {"AXFocused", writeFocused},     {"AXValue", writeValue}, {"AXSelected", writeSelected},
    {"AXPosition", writePosition},   {"AXSize", writeSize},   {"AXFrontmost", writeFrontmost},
    {"AXMain", writeMain},
};

}  // namespace

// ---- plain decisions -------------------------------------------------------------

std::string_view axRoleFor(AtspiRole role, const RoleContext& context) {
  const RoleRow& row = rowOf(role);
  switch (row.rule) {
    case RoleRule::plain:
      return row.axRole;
    case RoleRule::textEntry:
      if (context.searchSemantics) return "AXSearchField";
      if (role == ATSPI_ROLE_ENTRY || hasState(context.states, ATSPI_STATE_SINGLE_LINE)) return "AXTextField";
      return "AXTextArea";
    case RoleRule::comboBox:
      if (hasState(context.states, ATSPI_STATE_EDITABLE) || context.hasEditableTextChild) return "AXComboBox";
      return "AXPopUpButton";
    case RoleRule::menu:
      if (context.parentRole == ATSPI_ROLE_MENU_BAR) return "AXMenuBarItem";
      if (context.parentRole == ATSPI_ROLE_MENU || context.parentRole == ATSPI_ROLE_POPUP_MENU)
        return "AXMenuItem";
      return "AXMenu";
    case RoleRule::menuItem:
      if (context.parentRole == ATSPI_ROLE_MENU_BAR) return "AXMenuBarItem";
      return "AXMenuItem";
    case RoleRule::topLevel:
      if (!context.parentRole || context.parentRole == ATSPI_ROLE_APPLICATION) return "AXWindow";
      return "AXGroup";
  }
  return row.axRole;
}

bool holdsSubmenu(AtspiRole role, const RoleContext& context) {
  return rowOf(role).rule == RoleRule::menu && axRoleFor(role, context) != "AXMenu";
}

bool roleDependsOnParent(AtspiRole role) {
  const RoleRule rule = rowOf(role).rule;
  return rule == RoleRule::menu || rule == RoleRule::menuItem || rule == RoleRule::topLevel;
}

bool roleDependsOnChildren(AtspiRole role) { return rowOf(role).rule == RoleRule::comboBox; }

bool roleDependsOnAttributes(AtspiRole role) { return rowOf(role).rule == RoleRule::textEntry; }

std::optional<ScreenFrame> frameFromExtents(const Extents& extents, Point origin) {
  constexpr std::int32_t NOWHERE = std::numeric_limits<std::int32_t>::min();
  if (extents.x == NOWHERE || extents.y == NOWHERE || extents.width < 0 || extents.height < 0)
    return std::nullopt;
  return ScreenFrame{{extents.x - origin.x, extents.y - origin.y},
                     {static_cast<double>(extents.width), static_cast<double>(extents.height)}};
}

std::int64_t checkValue(std::uint64_t states) {
  if (hasState(states, ATSPI_STATE_INDETERMINATE)) return 2;
  return hasState(states, ATSPI_STATE_CHECKED) || hasState(states, ATSPI_STATE_PRESSED) ? 1 : 0;
}

bool hasSearchSemantics(const std::map<std::string, std::string, std::less<>>& attributes) {
  auto found = attributes.find("xml-roles");
  if (found == attributes.end()) return false;
  // A space-separated list of ARIA roles, the preferred one first.
  std::string_view roles = found->second;
  while (!roles.empty()) {
    const std::size_t end = roles.find(' ');
    if (roles.substr(0, end) == "searchbox") return true;
    if (end == std::string_view::npos) break;
    roles.remove_prefix(end + 1);
  }
  return false;
}

// ---- reads -----------------------------------------------------------------------

std::string_view axRoleOf(FactStore& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE | STATES);
  if (!facts.has(ROLE)) return {};
  return axRoleFor(facts.role, roleContextOf(store, ref, facts));
}

std::vector<ObjectRef> applicationWindows(FactStore& store, const ObjectRef& application) {
  std::vector<ObjectRef> windows;
  for (const ObjectRef& child : store.need(application, CHILDREN).children) {
    if (axRoleOf(store, child) == "AXWindow") windows.push_back(child);
  }
  return windows;
}

Value readAxAttribute(ReadScope& scope, const ObjectRef& ref, Presentation as, std::string_view name) {
  for (const AttributeRow& row : ATTRIBUTE_SOURCES) {
    if (row.name != name) continue;
    if (as == Presentation::object) return row.read(scope, ref);
    return row.readSubmenu ? row.readSubmenu(scope, ref) : Value{};
  }
  return {};
}

bool writeAxAttribute(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view name,
                      const Value& value) {
  // A submenu takes no writes and no actions: whatever it could be asked
  // for is asked of its item.
  if (as != Presentation::object) return false;
  for (const WriteRow& row : ATTRIBUTE_WRITES) {
    if (row.name == name) return row.write(scope, ref, value);
  }
  return false;
}

bool performAxAction(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view action) {
  if (as != Presentation::object) return false;
  if (action == "AXRaise") {
    return isWindow(scope.facts, ref) && scope.activateWindow && scope.activateWindow(ref);
  }
  const ActionRow* row = actionRow(action);
  if (!row || !row->isAction) return false;
  const std::optional<std::size_t> index = actionFor(action, offeredActions(scope.facts, ref));
  if (index) return doAction(scope.facts, ref, static_cast<std::int32_t>(*index));
  // Tabs and list items often offer no action at all: pressing one selects
  // it, as a click would. Not so menu items: selecting one only highlights
  // it, and GTK takes the actions away from those that are greyed out.
  const Facts& facts = scope.facts.need(ref, ROLE | STATES);
  if (!facts.has(ROLE) || isMenuRow(rowOf(facts.role))) return false;
  return action == "AXPress" && facts.hasState(ATSPI_STATE_SELECTABLE) && selectInParent(scope, ref, true);
}

std::optional<std::size_t> actionFor(std::string_view axAction, const std::vector<OfferedAction>& offered) {
  const ActionRow* row = actionRow(axAction);
  if (!row) return std::nullopt;
  // An action without a programmatic name goes by the name people see.
  std::vector<std::string> names;
  for (const OfferedAction& action : offered) {
    names.push_back(comparable(action.name.empty() ? action.localizedName : action.name));
  }
  for (std::string_view wanted : row->names) {
    auto found = std::find(names.begin(), names.end(), wanted);
    if (found != names.end()) return static_cast<std::size_t>(found - names.begin());
  }
  return std::nullopt;
}

unsigned factsAWalkReads(const Facts& facts) {
  unsigned wanted = ROLE | STATES | NAMING;
  // A leaf is not asked for its children once its child count is known;
  // -1 is a count the toolkit would not tell.
  if ((facts.asked & NAMING) && facts.childCount != 0) wanted |= CHILDREN;
  if (!facts.has(ROLE) || !(facts.asked & NAMING)) return wanted;
  const RoleRow& row = rowOf(facts.role);
  if (roleDependsOnParent(facts.role)) wanted |= PARENT;
  if (roleDependsOnAttributes(facts.role)) wanted |= ATTRIBUTES;
  if (roleDependsOnChildren(facts.role)) wanted |= CHILDREN;

  // labelFull: title (the name, else the labelling object's), description,
  // placeholder, help, then the value.
  const bool nameless = blank(facts.name);
  if (nameless && (row.traits & LABELLED)) wanted |= RELATIONS;
  const bool unlabelled = nameless && blank(facts.description);
  if (unlabelled && (row.traits & PLACEHOLDER)) wanted |= ATTRIBUTES;
  if (unlabelled && facts.hasState(ATSPI_STATE_HAS_TOOLTIP)) wanted |= HELP;

  const bool recorded = mayBeRecorded(row);
  if (unlabelled || recorded) {
    if (row.value == ValueSource::number) wanted |= VALUE;
    if (row.value == ValueSource::text) wanted |= TEXT;
  }
  if (recorded) wanted |= IDENTIFIER;
  if (recorded && facts.hasState(ATSPI_STATE_SHOWING)) wanted |= EXTENTS;
  return wanted;
}

}  // namespace kelp::platform::linux_x11
