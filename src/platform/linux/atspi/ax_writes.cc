// Carrying out AX writes and actions over AT-SPI and the window manager.
#include "platform/linux/atspi/ax_writes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "platform/linux/atspi/ax_roles.h"

namespace kelp::platform::linux_desktop {
namespace {

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

bool isTextField(FactStore& store, const ObjectRef& ref) {
  const Facts& facts = store.need(ref, ROLE);
  return facts.has(ROLE) && rowOf(facts.role).value == ValueSource::text && (rowOf(facts.role).traits & PLACEHOLDER);
}

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
      // The entry's text, or the combo box's own where it has no entry.
      const std::optional<ObjectRef> entry = entryOf(scope.facts, ref);
      return setTextContents(scope.facts, entry.value_or(ref), *text);
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

// The core counts in UTF-16 code units, AT-SPI in characters (code points):
// the two part only past the Basic Multilingual Plane.
std::int32_t characterOffset(const std::string& text, std::int64_t units) {
  std::int64_t seen = 0;
  std::int32_t characters = 0;
  for (std::size_t i = 0; i < text.size() && seen < units; ++characters) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    seen += length == 4 ? 2 : 1;
    i += length;
  }
  return characters;
}

bool writeSelectedTextRange(WriteScope& scope, const ObjectRef& ref, const Value& value) {
  const TextRange* range = value.as<TextRange>();
  if (!range || range->location < 0 || range->length < 0) return false;
  std::optional<ObjectRef> field = ref;
  // A combo box's text is its entry's, or its own where it has no entry.
  if (axRoleOf(scope.facts, ref) == "AXComboBox") field = entryOf(scope.facts, ref).value_or(ref);
  const Facts& facts = scope.facts.need(*field, ROLE | TEXT);
  const ValueSource source = facts.has(ROLE) ? rowOf(facts.role).value : ValueSource::none;
  if (!facts.has(TEXT) || (source != ValueSource::text && source != ValueSource::entryText)) return false;
  const std::int64_t last = range->location + std::min<std::int64_t>(range->length, INT32_MAX);
  return selectText(scope.facts, *field, characterOffset(facts.text, range->location),
                    characterOffset(facts.text, last));
}

// Through the parent's Selection interface, which is where toolkits keep
// what is selected.
bool selectInParent(WriteScope& scope, const ObjectRef& ref, bool select) {
  std::optional<ObjectRef> parent = scope.facts.need(ref, PARENT).parent;
  if (!parent) return false;
  const std::optional<std::int32_t> index = indexInParent(scope.facts, ref);
  if (!index) return false;
  // A combo box's items stand in its pop-up menu, whose selection only
  // highlights one; the combo box's own selection makes it the choice.
  if (select && axRoleOf(scope.facts, *parent) == "AXMenu") {
    const std::optional<ObjectRef> owner = scope.facts.need(*parent, PARENT).parent;
    const std::string_view ownerRole = owner ? axRoleOf(scope.facts, *owner) : std::string_view();
    if (ownerRole == "AXComboBox" || ownerRole == "AXPopUpButton") parent = owner;
  }
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
    {"AXMain", writeMain},           {"AXSelectedTextRange", writeSelectedTextRange},
};

}  // namespace

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
  // A text field's "activate" is its Return, which in a dialog presses the
  // default button; a click on a field only puts the cursor in it.
  if (action == "AXPress" && isTextField(scope.facts, ref)) {
    const std::vector<OfferedAction> offered = offeredActions(scope.facts, ref);
    for (std::size_t i = 0; i < offered.size(); ++i) {
      const std::string name = comparable(offered[i].name.empty() ? offered[i].localizedName : offered[i].name);
      if (name == "click" || name == "press") return doAction(scope.facts, ref, static_cast<std::int32_t>(i));
    }
    return grabFocus(scope.facts, ref);
  }
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

}  // namespace kelp::platform::linux_desktop
