// The role table: AT-SPI roles as AX roles, with what each decides.
#include "platform/linux/atspi/ax_roles.h"

#include <algorithm>
#include <array>

namespace kelp::platform::linux_desktop {
namespace {

using enum RoleRule;
using enum ValueSource;

constexpr unsigned CONTROL = LABELLED;
constexpr unsigned FIELD = LABELLED | PLACEHOLDER;

// AT-SPI role -> AX role. Roles missing here are AXGroup.
constexpr RoleRow ROLES[] = {
    // Applications and windows
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    // Qt names a QFrame inside a window a frame too.
    {ATSPI_ROLE_FRAME, "AXWindow", topLevel},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow", topLevel},
    {ATSPI_ROLE_FILE_CHOOSER, "AXWindow", topLevel},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXWindow", topLevel},
    {ATSPI_ROLE_FONT_CHOOSER, "AXWindow", topLevel},
    {ATSPI_ROLE_FILLER, "AXGroup", appChild},
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
    {ATSPI_ROLE_LABEL, "AXStaticText", plain, text},
    {ATSPI_ROLE_STATIC, "AXStaticText", plain, text},
    {ATSPI_ROLE_CAPTION, "AXStaticText", plain, text},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText", plain, text},
    {ATSPI_ROLE_HEADING, "AXHeading", plain, text},
    {ATSPI_ROLE_PARAGRAPH, "AXGroup", editable, text, FIELD},
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
    {ATSPI_ROLE_MENU, "AXMenu", menu, none},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem", menuItem, none},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem", menuItem, checked},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem", menuItem, checked},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem", menuItem, none},
    // Tabs
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup", plain, none, CONTROL},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton", plain, selected},
    // Tables, lists and trees
    {ATSPI_ROLE_TABLE, "AXTable", plain, none, LABELLED},
    {ATSPI_ROLE_TREE_TABLE, "AXTable", plain, none, LABELLED},
    {ATSPI_ROLE_TREE, "AXOutline", plain, none, LABELLED},
    {ATSPI_ROLE_LIST, "AXList", plain, none, LABELLED},
    {ATSPI_ROLE_LIST_BOX, "AXList", plain, none, LABELLED},
    {ATSPI_ROLE_TABLE_ROW, "AXRow"},
    {ATSPI_ROLE_LIST_ITEM, "AXRow"},
    {ATSPI_ROLE_TREE_ITEM, "AXRow"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell", plain, text},
    // Column headers sort when pressed.
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXButton"},
    {ATSPI_ROLE_COLUMN_HEADER, "AXButton"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_ROW_HEADER, "AXCell"},
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

bool hasState(std::uint64_t states, AtspiStateType state) {
  return (states >> static_cast<unsigned>(state)) & 1u;
}

bool isMenuContainer(AtspiRole role) {
  return role == ATSPI_ROLE_MENU || role == ATSPI_ROLE_POPUP_MENU || role == ATSPI_ROLE_MENU_BAR;
}

std::optional<AtspiRole> parentRoleOf(FactSource& store, const ObjectRef& ref, const Facts& facts) {
  // An item a menu lists is that menu's own in every toolkit, which spares
  // asking the parent of each item of each closed menu. Anything else that
  // lists a menu's items may not be their parent: LibreOffice's sidebar
  // button lists the items of the menu it opens.
  const RoleRule rule = rowOf(facts.role).rule;
  if (rule != RoleRule::topLevel && rule != RoleRule::appChild && facts.listedBy) {
    const Facts& lister = store.need(*facts.listedBy, ROLE);
    if (lister.has(ROLE) && isMenuContainer(lister.role)) return lister.role;
  }
  if (const std::optional<ObjectRef> parent = store.need(ref, PARENT).parent) {
    const Facts& parentFacts = store.need(*parent, ROLE);
    if (parentFacts.has(ROLE)) return parentFacts.role;
  }
  return std::nullopt;
}

// What decides the AX role of `ref` besides the role and states in
// `facts`; only what its role depends on is read.
RoleContext roleContextOf(FactSource& store, const ObjectRef& ref, const Facts& facts) {
  RoleContext context;
  context.states = facts.states;
  if (roleDependsOnParent(facts.role)) context.parentRole = parentRoleOf(store, ref, facts);
  if (roleDependsOnAttributes(facts.role)) {
    context.searchSemantics = hasSearchSemantics(store.need(ref, ATTRIBUTES).attributes);
  }
  if (roleDependsOnChildren(facts.role) && !facts.hasState(ATSPI_STATE_EDITABLE)) {
    context.hasEditableTextChild = entryOf(store, ref).has_value();
  }
  return context;
}

}  // namespace

const RoleRow& rowOf(AtspiRole role) {
  // Asked several times for every record: indexed by role once, the first
  // row of a role winning as in the table.
  static const std::array<const RoleRow*, ATSPI_ROLE_LAST_DEFINED + 1> byRole = [] {
    std::array<const RoleRow*, ATSPI_ROLE_LAST_DEFINED + 1> rows{};
    for (const RoleRow& row : ROLES) {
      const auto index = static_cast<std::size_t>(row.role);
      if (index < rows.size() && !rows[index]) rows[index] = &row;
    }
    return rows;
  }();
  const auto index = static_cast<std::size_t>(role);
  return index < byRole.size() && byRole[index] ? *byRole[index] : GROUP_ROW;
}

bool isMenuRow(const RoleRow& row) { return row.rule == RoleRule::menu || row.rule == RoleRule::menuItem; }

bool isTextRole(AtspiRole role) { return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY; }

std::string_view axRoleFor(AtspiRole role, const RoleContext& context) {
  const RoleRow& row = rowOf(role);
  switch (row.rule) {
    case RoleRule::plain:
      return row.axRole;
    case RoleRule::textEntry:
      if (context.searchSemantics) return "AXSearchField";
      // Web engines make a text area an entry that is multi-line.
      if (hasState(context.states, ATSPI_STATE_MULTI_LINE)) return "AXTextArea";
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
    case RoleRule::appChild:
      return context.parentRole == ATSPI_ROLE_APPLICATION ? "AXWindow" : "AXGroup";
    case RoleRule::editable:
      return hasState(context.states, ATSPI_STATE_EDITABLE) ? "AXTextArea" : "AXGroup";
  }
  return row.axRole;
}

bool holdsSubmenu(AtspiRole role, const RoleContext& context) {
  return rowOf(role).rule == RoleRule::menu && axRoleFor(role, context) != "AXMenu";
}

bool roleDependsOnParent(AtspiRole role) {
  const RoleRule rule = rowOf(role).rule;
  return rule == RoleRule::menu || rule == RoleRule::menuItem || rule == RoleRule::topLevel ||
         rule == RoleRule::appChild;
}

bool roleDependsOnChildren(AtspiRole role) { return rowOf(role).rule == RoleRule::comboBox; }

bool roleDependsOnAttributes(AtspiRole role) { return rowOf(role).rule == RoleRule::textEntry; }

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

std::string_view axRoleOf(FactSource& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE | STATES);
  if (!facts.has(ROLE)) return {};
  return axRoleFor(facts.role, roleContextOf(store, ref, facts));
}

bool isApplication(FactSource& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE);
  return facts.has(ROLE) && facts.role == ATSPI_ROLE_APPLICATION;
}

// Asked of every object a walk passes and of every parent read, so the
// role alone rules out all but menus before anything else is fetched.
bool presentsSubmenu(FactSource& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE);
  if (!facts.has(ROLE) || rowOf(facts.role).rule != RoleRule::menu) return false;
  return holdsSubmenu(facts.role, roleContextOf(store, ref, store.need(ref, ROLE | STATES)));
}

namespace {

bool editableText(FactSource& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE | STATES);
  return facts.has(ROLE) && isTextRole(facts.role) && facts.hasState(ATSPI_STATE_EDITABLE);
}

}  // namespace

std::optional<ObjectRef> entryOf(FactSource& store, const ObjectRef& ref) {
  // The entry on screen, where a combo box keeps a hidden one too.
  std::optional<ObjectRef> hidden;
  for (const ObjectRef& child : store.need(ref, CHILDREN).children) {
    if (!editableText(store, child)) continue;
    if (onScreen(store, child)) return child;
    if (!hidden) hidden = child;
  }
  // LibreOffice's GTK dialogs hide the combo box itself and show its entry
  // as the sibling right before it (Find and Replace's "Find:").
  if (!onScreen(store, ref)) {
    if (const std::optional<ObjectRef>& parent = store.need(ref, PARENT).parent) {
      const std::vector<ObjectRef>& siblings = store.need(*parent, CHILDREN).children;
      const auto self = std::find(siblings.begin(), siblings.end(), ref);
      if (self != siblings.begin() && self != siblings.end()) {
        const ObjectRef& before = *(self - 1);
        if (editableText(store, before) && onScreen(store, before)) return before;
      }
    }
  }
  return hidden;
}

bool onScreen(FactSource& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, STATES);
  if (facts.hasState(ATSPI_STATE_SHOWING)) return true;
  return facts.hasState(ATSPI_STATE_VISIBLE) && store.toolkitOf(ref.bus).isGtk4();
}

// Windows nest only a few levels deep below their application, but a broken
// application can make its parents a cycle.
constexpr int WINDOW_ANCESTOR_LIMIT = 64;

std::optional<ObjectRef> windowOf(FactSource& store, const ObjectRef& ref) {
  std::optional<ObjectRef> current = ref;
  for (int examined = 0; current && examined < WINDOW_ANCESTOR_LIMIT; ++examined) {
    if (isApplication(store, *current)) return std::nullopt;
    if (axRoleOf(store, *current) == "AXWindow") return current;
    current = store.need(*current, PARENT).parent;
  }
  return std::nullopt;
}

std::vector<ObjectRef> applicationWindows(FactSource& store, const ObjectRef& application) {
  std::vector<ObjectRef> windows;
  for (const ObjectRef& child : store.need(application, CHILDREN).children) {
    if (axRoleOf(store, child) == "AXWindow") windows.push_back(child);
  }
  return windows;
}

std::optional<ObjectRef> activeWindowOf(FactSource& store, const ObjectRef& application) {
  for (const ObjectRef& window : applicationWindows(store, application)) {
    if (store.need(window, STATES).hasState(ATSPI_STATE_ACTIVE)) return window;
  }
  return std::nullopt;
}

std::vector<ObjectRef> windowsActiveFirst(FactSource& store, const ObjectRef& application) {
  std::vector<ObjectRef> windows = applicationWindows(store, application);
  std::stable_partition(windows.begin(), windows.end(), [&](const ObjectRef& window) {
    return store.need(window, STATES).hasState(ATSPI_STATE_ACTIVE);
  });
  return windows;
}

}  // namespace kelp::platform::linux_desktop
