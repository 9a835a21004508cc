#include "recorder/recorder.h"

#include <cmath>

#include "common/roles.h"
#include "input/keyboard.h"
#include "recorder/records.h"
#include "text/text.h"

namespace kelp::recorder {
namespace {

namespace type = platform::eventType;

// Command or control: what makes a key press a shortcut.
constexpr std::uint64_t SHORTCUT_FLAGS = platform::flags::command | platform::flags::control;

Json frameJson(const ax::Frame& frame) { return {{"x", frame.x}, {"y", frame.y}, {"w", frame.w}, {"h", frame.h}}; }

std::string stringAt(const Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

Recorder::Recorder(platform::Platform& os, const locate::SafetyPatterns& safety, std::unique_ptr<RecorderView> view)
    : os_(os), safety_(safety), view_(std::move(view)) {}

Recorder::~Recorder() {
  cancelScrollTimer();
  if (running_) os_.eventTap().stop();
}

// ---- lifecycle -----------------------------------------------------------------

bool Recorder::start(std::set<std::string> ignore) {
  if (!os_.accessibility().isTrusted()) return false;
  if (running_) return true;
  events_ = Json::array();
  lastField_.reset();
  lastFocusProbeMicros_.reset();
  lastApp_.clear();
  droppedKeys_.clear();
  ignoreApps_ = std::move(ignore);
  press_.reset();
  dragged_ = false;
  scrollSum_.reset();
  // The recorder lives as long as the process, so the tap may hold it.
  if (!os_.eventTap().start(TAP_MASK, [this](const platform::TappedEvent& event) { onEvent(event); })) {
    return false;
  }
  running_ = true;
  return true;
}

const Json& Recorder::stop() {
  if (running_) os_.eventTap().stop();
  running_ = false;
  flushScroll();
  flushField();
  return events_;
}

bool Recorder::setIgnore(std::set<std::string> ignore) {
  if (!running_) return false;
  ignoreApps_ = std::move(ignore);
  lastField_.reset();
  lastApp_.clear();
  return true;
}

// ---- shared steps --------------------------------------------------------------

void Recorder::append(const char* kind, Json record) {
  Json full;
  full["kind"] = kind;
  for (auto& [key, value] : record.items()) full[key] = std::move(value);
  full["at"] = os_.clock().wallMillis();
  events_.push_back(std::move(full));
}

void Recorder::noteAppSwitch(const std::string& app) {
  if (app.empty() || app == lastApp_) return;
  lastApp_ = app;
  append("app-activate", {{"app", app}, {"label", app}});
}

// Input in an ignored application is not recorded, and the next recorded
// action elsewhere names its application again.
void Recorder::forgetForIgnoredApp() {
  lastField_.reset();
  lastApp_.clear();
}

void Recorder::noteDropped(std::uint16_t code, const std::optional<std::string>& name,
                           const std::vector<std::string>& mods, std::string_view why) {
  if (droppedKeys_.size() >= DROPPED_KEYS_LIMIT) return;
  droppedKeys_.push_back(droppedKeyLine(code, name, mods, why));
}

// ---- typing into fields --------------------------------------------------------

void Recorder::trackFocusedField() {
  if (lastField_) return;
  const std::int64_t now = os_.clock().nowMicros();
  if (lastFocusProbeMicros_ && now - *lastFocusProbeMicros_ < FOCUS_PROBE_INTERVAL_MICROS) return;
  lastFocusProbeMicros_ = now;
  const std::optional<FrontApp> front = view_->frontmost();
  if (!front || front->own || ignored(front->name)) return;
  const std::optional<Described> focused = view_->focusedElement(*front);
  // A text area is watched only after a click into it.
  if (!focused || !contains(FOCUS_ROLES, focused->role)) return;
  lastField_ = Field{front->name, focused->locator, focused->element, view_->value(focused->element)};
}

void Recorder::flushField() {
  if (!lastField_) return;
  const Field field = std::move(*lastField_);
  lastField_.reset();
  const Naming now = view_->naming(field.element);
  if (now.role.empty()) return;
  if (now.label.empty() && now.identifier.empty()) return;
  const Json manual = {{"app", field.app}, {"label", now.label}, {"locator", field.locator}};
  const locate::GateTarget target{now.label, now.identifier};
  // Nothing typed into a sensitive field is read, so none of it is kept.
  if (now.role == "AXSecureTextField" || locate::hardBlocked(safety_, target, "type")) {
    append("manual", manual);
    return;
  }
  const std::string value = view_->value(field.element);
  if (value.empty() || value == field.before) return;
  // A card number is a secret wherever it was typed.
  if (locate::holdsCardNumber(safety_, value)) {
    append("manual", manual);
    return;
  }
  append("app-type", {{"app", field.app},
                      {"label", now.label},
                      {"value", text::firstGraphemes(value, TYPED_VALUE_CLIP)},
                      {"locator", field.locator}});
}

// ---- scrolling -----------------------------------------------------------------

void Recorder::cancelScrollTimer() {
  if (scrollTimer_) os_.runLoop().cancelTimer(*scrollTimer_);
  scrollTimer_.reset();
}

void Recorder::flushScroll() {
  cancelScrollTimer();
  if (!scrollSum_) return;
  const ScrollSum sum = std::move(*scrollSum_);
  scrollSum_.reset();
  if (std::fabs(sum.dx) < SCROLL_THRESHOLD && std::fabs(sum.dy) < SCROLL_THRESHOLD) return;
  append("app-scroll", {{"app", sum.app},
                        {"label", stringAt(sum.locator, "label")},
                        {"locator", sum.locator},
                        {"dx", sum.dx},
                        {"dy", sum.dy}});
}

void Recorder::scrollWheel(const platform::TappedEvent& event) {
  if (event.scrollDx == 0 && event.scrollDy == 0) return;
  const platform::Point pointer = os_.eventTap().pointerLocation().value_or(event.location);
  const std::optional<Described> under = view_->at(pointer);
  if (!under) return;
  if (ignored(under->app)) {
    forgetForIgnoredApp();
    return;
  }
  if (scrollSum_ && scrollSum_->app == under->app) {
    scrollSum_->dx += event.scrollDx;
    scrollSum_->dy += event.scrollDy;
  } else {
    flushScroll();
    scrollSum_ = ScrollSum{under->app, under->locator, event.scrollDx, event.scrollDy};
  }
  cancelScrollTimer();
  scrollTimer_ = os_.runLoop().addTimer(SCROLL_QUIET_MICROS, [this] {
    // The timer is spent once it fires.
    scrollTimer_.reset();
    flushScroll();
  });
}

// ---- events --------------------------------------------------------------------

void Recorder::onEvent(const platform::TappedEvent& event) {
  if (!running_) return;
  switch (event.type) {
    case type::leftMouseDown: return leftDown(event);
    case type::leftMouseDragged: dragged_ = dragged_ || press_.has_value(); return;
    case type::leftMouseUp: return leftUp(event);
    case type::rightMouseDown: return rightDown(event);
    case type::keyDown: return keyDown(event);
    case type::scrollWheel: return scrollWheel(event);
    default: return;
  }
}

void Recorder::leftDown(const platform::TappedEvent& event) {
  std::optional<Described> target = view_->at(event.location);
  if (!target) return;
  if (ignored(target->app)) {
    forgetForIgnoredApp();
    return;
  }
  press_ = Press{std::move(*target), event.location, input::modNames(event.flags)};
  dragged_ = false;
}

void Recorder::leftUp(const platform::TappedEvent& event) {
  if (!press_) return;
  const Press press = std::move(*press_);
  press_.reset();
  const Described& target = press.target;
  noteAppSwitch(target.app);

  if (dragged_) {
    dragged_ = false;
    flushField();
    if (target.role == "AXWindow" || target.role == "AXToolbar") {
      // Read after the drag: where the window ended up.
      if (const std::optional<ax::Frame> frame = view_->frame(target.element)) {
        append("app-window", {{"app", target.app}, {"label", target.label}, {"frame", frameJson(*frame)}});
        return;
      }
    }
    Json drag = {{"app", target.app}, {"label", target.label}, {"locator", target.locator}};
    if (const std::optional<Described> end = view_->at(event.location)) drag["toLocator"] = end->locator;
    drag["dx"] = event.location.x - press.point.x;
    drag["dy"] = event.location.y - press.point.y;
    append("app-drag", std::move(drag));
    return;
  }

  if (contains(TEXT_ROLES, target.role)) {
    // What is typed next shows in the field's value when watching ends.
    flushField();
    lastField_ = Field{target.app, target.locator, target.element, view_->value(target.element)};
    return;
  }

  flushField();
  if (target.label.empty() && target.identifier.empty()) return;
  const char* kind = "app-click";
  if (event.clickState >= 2 && !events_.empty()) {
    const Json& last = events_.back();
    if (stringAt(last, "kind") == "app-click" && last.contains("label") && last["label"] == target.label &&
        last.contains("app") && last["app"] == target.app) {
      events_.erase(events_.size() - 1);
      kind = "app-doubleclick";
    }
  }
  Json click = {{"app", target.app}, {"label", target.label}, {"locator", target.locator}};
  if (!press.mods.empty()) click["mods"] = press.mods;
  append(kind, std::move(click));
}

void Recorder::rightDown(const platform::TappedEvent& event) {
  const std::optional<Described> under = view_->at(event.location);
  if (!under) return;
  if (ignored(under->app)) {
    forgetForIgnoredApp();
    return;
  }
  flushField();
  noteAppSwitch(under->app);
  const std::string label = stringAt(under->locator, "label");
  if (label.empty() && stringAt(under->locator, "identifier").empty()) return;
  append("app-rightclick", {{"app", under->app}, {"label", label}, {"locator", under->locator}});
}

void Recorder::keyDown(const platform::TappedEvent& event) {
  const auto code = static_cast<std::uint16_t>(event.keyCode & 0xffff);
  const std::optional<std::string> name = keyNameForCode(code);
  const std::vector<std::string> mods = input::modNames(event.flags);
  const std::optional<FrontApp> front = view_->frontmost();
  const std::string frontName = front ? front->name : std::string();
  auto recordKey = [&] {
    flushField();
    noteAppSwitch(frontName);
    append("app-key", {{"key", *name}, {"mods", mods}, {"label", input::keyLabel(mods, *name)}});
  };

  if (ignored(frontName)) {
    forgetForIgnoredApp();
    noteDropped(code, name, mods, reason::ignoredApp);
    return;
  }
  if (event.flags & SHORTCUT_FLAGS) {
    if (name) {
      recordKey();
    } else {
      noteDropped(code, name, mods, reason::unknownKey);
    }
    return;
  }
  if (name && input::NAMED_KEYS().contains(*name)) {
    // Moving the caret inside a field is not recorded.
    if (lastField_ && isNavigationKey(*name)) {
      noteDropped(code, name, mods, reason::arrowInField);
      return;
    }
    recordKey();
    return;
  }
  // Characters are read from the field's value, not from key presses.
  noteDropped(code, name, mods, name ? reason::typing : reason::unknownKey);
  trackFocusedField();
}

}  // namespace kelp::recorder
