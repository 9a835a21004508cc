// Reading what an object says in words.
#include "platform/linux/atspi/ax_text_reads.h"

#include "platform/linux/atspi/ax_roles.h"
#include "platform/linux/rules.h"

namespace kelp::platform::linux_desktop {
namespace {

std::string withoutTrailingSpace(std::string_view text) {
  while (!text.empty() && blank(text.substr(text.size() - 1))) text.remove_suffix(1);
  return std::string(text);
}

// GTK 4 names a control that its own label labels with that label twice
// ("7 7"), the first time with its mnemonic's underscore where it has one
// ("_Retry Retry"): the name once, when the labelling object has just that
// name.
std::optional<std::string> doubledName(ReadScope& scope, const ObjectRef& ref, const std::string& name) {
  for (std::size_t space = name.find(' '); space != std::string::npos; space = name.find(' ', space + 1)) {
    const std::string second = name.substr(space + 1);
    std::string first = name.substr(0, space);
    std::erase(first, '_');
    if (first != second) continue;
    if (!scope.facts.toolkitOf(ref.bus).isGtk4()) return std::nullopt;
    for (const ObjectRef& label : scope.facts.need(ref, RELATIONS).labelledBy) {
      if (scope.facts.need(label, NAMING).name == second) return second;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// GTK 4 names a widget that has no name of its own by its type ("GtkButton",
// "AdwGizmo", an application's "EditorSourceView"), which no person sees: a
// name of GTK's or Adwaita's prefix and one more word, or of three words or
// more, written together in capitals. Two words alone ("LibreOffice") may
// well be a real name.
bool className(ReadScope& scope, const ObjectRef& ref, std::string_view name) {
  if (name.size() < 4 || !(name[0] >= 'A' && name[0] <= 'Z')) return false;
  if (!std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
    return false;
  const auto words = std::count_if(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  const bool prefixed = (name.starts_with("Gtk") || name.starts_with("Adw")) && name[3] >= 'A' && name[3] <= 'Z';
  if (!prefixed && words < 3) return false;
  return scope.facts.toolkitOf(ref.bus).isGtk4();
}

// Whether a text holds nothing but the marks (U+FFFC) that stand for
// embedded objects.
bool onlyObjectMarks(std::string_view text) {
  constexpr std::string_view MARK = "\xEF\xBF\xBC";
  while (text.starts_with(MARK)) text.remove_prefix(MARK.size());
  return text.empty();
}

// How many items of a drop-down are looked at for the one chosen.
constexpr std::size_t CHOICES_LOOKED_AT = 200;

// The name of the item a drop-down has chosen: its selected child, or the
// selected item of its list or menu.
Value chosenItemName(FactSource& store, const ObjectRef& dropDown) {
  std::size_t looked = 0;
  for (const ObjectRef& child : store.need(dropDown, CHILDREN).children) {
    const Facts& facts = store.need(child, STATES | NAMING);
    if (facts.hasState(ATSPI_STATE_SELECTED)) return nonEmpty(facts.name);
    for (const ObjectRef& item : store.need(child, CHILDREN).children) {
      if (++looked > CHOICES_LOOKED_AT) return {};
      const Facts& itemFacts = store.need(item, STATES | NAMING);
      if (itemFacts.hasState(ATSPI_STATE_SELECTED)) return nonEmpty(itemFacts.name);
    }
  }
  return {};
}

}  // namespace

Value readTitle(ReadScope& scope, const ObjectRef& ref) {
  const Facts& facts = scope.facts.need(ref, ROLE | NAMING);
  if (!facts.has(NAMING)) return {};
  if (!blank(facts.name) && !className(scope, ref, facts.name)) {
    // GTK pads the names of menu items that show a shortcut with the spaces
    // that separate the two on screen.
    if (facts.has(ROLE) && isMenuRow(rowOf(facts.role))) return withoutTrailingSpace(facts.name);
    if (const std::optional<std::string> once = doubledName(scope, ref, facts.name)) return *once;
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
    if (!blank(labelFacts.name) && !className(scope, label, labelFacts.name)) return labelFacts.name;
  }
  return {};
}

Value readDescription(ReadScope& scope, const ObjectRef& ref) {
  return nonEmpty(scope.facts.need(ref, DESCRIPTION).description);
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
      // An editable combo box's text is its entry's, or its own where it
      // has no entry (Firefox's address bar); a drop-down shows the item
      // chosen (Chromium's select).
      if (const std::optional<ObjectRef> entry = entryOf(scope.facts, ref)) {
        const Facts& entryFacts = scope.facts.need(*entry, TEXT);
        return entryFacts.has(TEXT) ? Value(entryFacts.text) : Value{};
      }
      // A browser's drop-down has text too: the embedded object's mark alone.
      const Facts& own = scope.facts.need(ref, TEXT);
      if (own.has(TEXT) && !onlyObjectMarks(own.text)) return own.text;
      if (axRoleOf(scope.facts, ref) == "AXComboBox") return {};
      Value chosen = chosenItemName(scope.facts, ref);
      // GTK 3 marks a drop-down's chosen item nowhere but in its selection.
      if (chosen.isNone()) {
        if (const std::optional<ObjectRef>& item = scope.facts.need(ref, SELECTED).selectedChild) {
          chosen = nonEmpty(scope.facts.need(*item, NAMING).name);
        }
      }
      return chosen;
    }
  }
  return {};
}

}  // namespace kelp::platform::linux_desktop
