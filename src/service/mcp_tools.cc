#include "service/mcp_tools.h"

#include <vector>

namespace kelp::mcp {
namespace {

Json text(std::string_view description) { return {{"type", "string"}, {"description", description}}; }

Json appField() {
  return text("The target application: its name as the desktop shows it, its bundle or desktop-entry id, or a "
              "part of its name; matched without regard to case. Absent: the frontmost application.");
}

Json pidField() {
  return {{"type", "integer"},
          {"description", "The target application's process id; wins over \"app\". Absent: \"app\" decides."}};
}

Json locatorSchema(std::string_view description) {
  return {{"type", "object"},
          {"description", description},
          {"properties",
           {{"role", text("The element's role, such as \"AXButton\", \"AXTextField\", \"AXCheckBox\".")},
            {"label", text("The element's label as \"tree\" shows it, exactly: a part of it is enough only "
                           "together with the role and path.")},
            {"identifier", text("The element's accessibility identifier, where it has one.")},
            {"path", text("The element's path as \"tree\" shows it.")},
            {"nth", {{"type", "integer"}, {"description", "Which of equally good matches, from 0."}}},
            {"window", text("Search only the window with this title (or a part of it).")}}}};
}

Json modsField(std::string_view description) {
  return {{"type", "array"},
          {"items", {{"type", "string"}, {"enum", {"cmd", "shift", "alt", "ctrl"}}}},
          {"default", Json::array()},
          {"description", description}};
}

Json ignoreAppsField() {
  return {{"type", "array"},
          {"items", {{"type", "string"}}},
          {"default", Json::array()},
          {"description", "Names of applications whose input is not recorded (their keys are only noted)."}};
}

// Tree, find and act look at the window in front, without closed menus,
// unless told otherwise: an agent's first look at an application with a
// dialog open is the dialog, and all three agree on refs.
constexpr Effects READS{.readOnly = true, .idempotent = true};
constexpr Effects SETS{.idempotent = true};
constexpr Effects OPERATES{.destructive = true, .openWorld = true};

Json scopeDefaults() { return {{"window", "front"}, {"menus", false}}; }

Json windowField() {
  return text("Which window to look at: \"front\" (the default) for the window in front, which is the dialog "
              "while one is open; a title, or a part of one, for that window; \"\" for the whole application. "
              "Give tree, find and act the same window so that refs agree.");
}

Json menusField() {
  return {{"type", "boolean"},
          {"default", false},
          {"description", "Also list the items of menus that are closed (the menu tool lists them too)."}};
}

constexpr std::string_view REFS =
    " Each element has a \"ref\", its position in the walk; a ref stays good as long as the application's "
    "interface does not change, and \"act\" takes it.";
constexpr std::string_view GATE =
    " A fixed safety gate refuses, with \"blocked-by-safety\", typing into card, security-code, account and "
    "identity number fields, typing any card number, and pressing buttons or menu items that pay, order or "
    "transfer money.";

std::vector<Tool> makeTools() {
  const std::string gate(GATE);
  const std::string refs(REFS);
  return {
      {"doctor",
       "Whether this helper may read and operate other applications (accessibility) and see their windows, "
       "its path and process id.",
       Json::object(), READS},
      {"prompt", "Turns the desktop's accessibility on so that applications publish their controls.",
       Json::object(), SETS},
      {"displays", "The displays: their size and position in screen points, and which is the main one.",
       Json::object(), READS},
      {"apps", "The running applications with windows: name, bundle id, process id, and which is in front.",
       Json::object(), READS},
      {"windowtitles", "The titled windows of other applications, front to back.", Json::object(), READS},
      {"window",
       "Moves and/or resizes the target application's focused window (or its first window) to a frame in "
       "screen points, origin at the top left of the main display.",
       {{"app", appField()},
        {"pid", pidField()},
        {"frame",
         {{"type", "object"},
          {"description", "x and y move the window, w and h resize it; give both of a pair."},
          {"properties",
           {{"x", {{"type", "number"}}}, {"y", {{"type", "number"}}}, {"w", {{"type", "number"}}},
            {"h", {{"type", "number"}}}}}}}},
       SETS},
      {"activate",
       "Brings an application to the front, or launches it by name when it is not running (with its "
       "accessibility on).",
       {{"app", appField()}, {"pid", pidField()}},
       {.idempotent = true, .openWorld = true}},
      {"tree",
       "Lists the controls of the target application's window in front (a dialog while one is open) as a flat "
       "list: role, label, value, enabled, path and frame." +
           refs,
       {{"app", appField()},
        {"pid", pidField()},
        {"max", {{"type", "integer"}, {"default", 300}, {"description", "The most elements to list."}}},
        {"window", windowField()},
        {"menus", menusField()}},
       READS,
       scopeDefaults()},
      {"find",
       "Lists the controls of the target application's window in front whose label or value contains a text, "
       "ignoring case." +
           refs,
       {{"app", appField()},
        {"pid", pidField()},
        {"q", text("The text to look for.")},
        {"max", {{"type", "integer"}, {"default", 300}, {"description", "The most elements to walk."}}},
        {"window", windowField()},
        {"menus", menusField()}},
       READS,
       scopeDefaults()},
      {"act",
       "Acts on one control of the target application's window in front, found by \"ref\" (from tree or find "
       "with the same window) or by a locator: clicks, double or right clicks, focuses, types text (and checks that "
       "it landed), chooses an item of a list, combo box or tab group by its label (\"select\"), sets a slider's or "
       "spin button's number (\"setvalue\"), scrolls at it or drags from it; a choice or a number is read back. "
       "Reports the controls that appeared afterwards." +
           gate,
       {{"app", appField()},
        {"pid", pidField()},
        {"ref", {{"type", "integer"}, {"description", "The element's ref; wins over the locator when valid."}}},
        {"locator", locatorSchema("Finds the element by what it is; also narrows the search to one window.")},
        {"action",
         {{"type", "string"},
          {"enum", {"click", "doubleclick", "rightclick", "type", "focus", "select", "setvalue", "scroll", "drag"}},
          {"default", "click"}}},
        {"text",
         {{"type", "string"},
          {"default", ""},
          {"description", "What \"type\" types, the label of the item \"select\" chooses, or the number "
                          "\"setvalue\" sets."}}},
        {"mods", modsField("Modifier keys held for a click or double click.")},
        {"dx", {{"type", "number"}, {"default", 0}, {"description", "Scroll pixels, or the drag's offset."}}},
        {"dy", {{"type", "number"}, {"default", 0}, {"description", "Scroll pixels, or the drag's offset."}}},
        {"toRef", {{"type", "integer"}, {"description", "For \"drag\": the element to drag to."}}},
        {"toLocator", locatorSchema("For \"drag\": the element to drag to.")},
        {"max",
         {{"type", "integer"},
          {"default", 400},
          {"description", "How far the walk goes; give the max of the tree or find whose ref is used."}}},
        {"window", windowField()},
        {"menus", menusField()}},
       OPERATES,
       scopeDefaults()},
      {"key",
       "Presses one key with modifiers (a shortcut) in the target application, or in the frontmost one. Keys "
       "are named as on a Mac keyboard: return, escape, tab, space, a, f5, pageup, keypad7, ... Return, enter "
       "and space are refused at a focused payment button, and a paste in a card or account number field.",
       {{"app", appField()},
        {"pid", pidField()},
        {"key", {{"type", "string"}, {"default", ""}}},
        {"mods", modsField("Modifier keys; cmd is the Super key on Linux.")}},
       OPERATES},
      {"typetext",
       "Types any Unicode text at the keyboard focus of the target application (or the frontmost one) and "
       "reports whether it landed in the focused field." +
           gate,
       {{"app", appField()},
        {"pid", pidField()},
        {"text", {{"type", "string"}, {"default", ""}}},
        {"replace",
         {{"type", "boolean"},
          {"default", false},
          {"description", "Select what the focused field holds first, so that it holds just the text."}}}},
       OPERATES},
      {"screenshot",
       "Takes JPEG pictures of the display under the target application's focused window, of all displays, of "
       "a region of the screen, or of the application's window. Each picture tells its size in pixels, where its "
       "top left lies on the screen (x, y, in points) and its scale (pixels per point). To click what a picture "
       "shows, give its pixel and its index in \"images\" to the pointer tool as \"image\"; the helper does "
       "the arithmetic.",
       {{"which", {{"type", "string"}, {"enum", {"focused", "all"}}, {"default", "focused"}}},
        {"app", appField()},
        {"pid", pidField()},
        {"region",
         {{"type", "object"},
          {"description", "A part of the screen in points: taken at its own size (up to 1568 pixels on its long "
                          "edge), so that small text stays readable."},
          {"properties",
           {{"x", {{"type", "number"}}}, {"y", {{"type", "number"}}}, {"w", {{"type", "number"}}},
            {"h", {{"type", "number"}}}}}}},
        {"window",
         {{"type", "string"},
          {"description", "\"front\" for the target application's window in front, or a title (or a part of "
                          "one) of one of its windows: a picture of just that window."}}},
        {"maxWidth",
         {{"type", "integer"},
          {"description", "The widest picture in pixels: 1024 by default for whole displays, at most 1568."}}}},
       READS},
      {"pointer",
       "The mouse at a point: moves, clicks (double, triple, right, middle), presses or releases a button, "
       "drags, or scrolls. The point is in screen points, or, with \"image\", a pixel of that picture of the "
       "last screenshot. Tells what lies under the point." +
           gate,
       {{"action",
         {{"type", "string"},
          {"enum", {"move", "click", "doubleclick", "tripleclick", "rightclick", "middleclick", "down", "up", "drag",
                    "scroll"}},
          {"default", "click"}}},
        {"x", {{"type", "number"}, {"description", "Where, across: screen points, or the picture's pixels."}}},
        {"y", {{"type", "number"}, {"description", "Where, down: screen points, or the picture's pixels."}}},
        {"image",
         {{"type", "integer"},
          {"description", "The index in \"images\" of the last screenshot whose pixels x and y (and toX, toY) "
                          "are."}}},
        {"toX", {{"type", "number"}, {"description", "For \"drag\": where it ends, across."}}},
        {"toY", {{"type", "number"}, {"description", "For \"drag\": where it ends, down."}}},
        {"dx", {{"type", "number"}, {"default", 0}, {"description", "For \"scroll\": pixels across."}}},
        {"dy", {{"type", "number"}, {"default", 0}, {"description", "For \"scroll\": pixels down."}}},
        {"button",
         {{"type", "string"},
          {"enum", {"left", "right", "middle"}},
          {"default", "left"},
          {"description", "For \"down\" and \"up\"."}}},
        {"mods", modsField("Modifier keys held for a click or a press.")}},
       OPERATES},
      {"wait",
       "Waits, instead of sleeping, until an element of the target application is present, absent, enabled, "
       "focused or shows a text (\"locator\"), until a window is present or absent (\"window\"), or for a "
       "plain pause (\"ms\"). Not meeting the condition in time is no error: \"met\" is false. A met element "
       "comes as find gives it, its ref counted in the walk of the whole application (or the locator's window).",
       {{"app", appField()},
        {"pid", pidField()},
        {"locator", locatorSchema("The element waited for.")},
        {"window", text("The title, or a part of it, of the window waited for.")},
        {"until",
         {{"type", "string"},
          {"enum", {"present", "absent", "enabled", "focused", "value"}},
          {"default", "present"}}},
        {"text", text("For \"value\": what the element's value must contain.")},
        {"timeout",
         {{"type", "integer"}, {"default", 5000}, {"description", "How long to wait at most, in ms (30000 at most)."}}},
        {"ms", {{"type", "integer"}, {"description", "A plain pause in ms, when nothing is waited for."}}}},
       READS},
      {"clipboard",
       "Reads the clipboard's text, or, with \"text\", puts that text on the clipboard; this helper keeps it "
       "there while it runs. A card number is refused with \"blocked-by-safety\".",
       {{"text", text("The text to put on the clipboard; absent: read it.")}},
       {.destructive = true, .idempotent = true}},
      {"menu",
       "Lists the target application's menu bar, or the items of the menu a path of titles opens, or "
       "chooses the item at the end of the path (titles match ignoring case, spacing and ellipses)." +
           gate,
       {{"app", appField()},
        {"pid", pidField()},
        {"path",
         {{"type", "array"},
          {"items", {{"type", "string"}}},
          {"default", Json::array()},
          {"description", "Titles from the menu bar down, such as [\"File\", \"Save As\"]."}}},
        {"list",
         {{"type", "boolean"},
          {"description", "List the items instead of choosing; the default is to list when the path is empty."}}}},
       OPERATES},
      {"rec-start",
       "Starts recording what a person does with mouse and keyboard in other applications, as records that "
       "tree locators and act, key and menu can replay.",
       {{"ignoreApps", ignoreAppsField()}},
       {}},
      {"rec-ignore", "Changes which applications the running recording ignores.",
       {{"ignoreApps", ignoreAppsField()}}, SETS},
      {"rec-state", "The recording's state: whether it runs, how many records, the latest labels.",
       Json::object(), READS},
      {"rec-stop", "Stops the recording and gives its records and the notes on keys that were left out.",
       Json::object(), {}},
      {"selftest",
       "Shows a window of this helper's own and operates it through accessibility, the safety gate included, "
       "reporting which checks passed.",
       Json::object(), {}},
  };
}

}  // namespace

std::span<const Tool> tools() {
  static const std::vector<Tool> table = makeTools();
  return table;
}

const Tool* findTool(std::string_view name) {
  for (const Tool& tool : tools()) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

Json toolJson(const Tool& tool) {
  const Effects& effects = tool.effects;
  return {{"name", tool.name},
          {"description", tool.description},
          {"inputSchema", {{"type", "object"}, {"properties", tool.properties}}},
          {"annotations",
           {{"readOnlyHint", effects.readOnly},
            {"destructiveHint", effects.destructive},
            {"idempotentHint", effects.idempotent},
            {"openWorldHint", effects.openWorld}}}};
}

}  // namespace kelp::mcp
